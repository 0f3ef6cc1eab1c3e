#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include <lmxmaps/LocalMapProviders.h>
#include <lmxmaps/host/HostPaths.h>

namespace {

constexpr std::uint32_t kBlankMissingSite = 0xF5931475;
constexpr std::uint32_t kLocalMissingSite = 0x30F9CA67;
constexpr std::uint32_t kUnreadableTileSite = 0x4C4D5402;

// The attributes that identify a blank or local map, and all that may be stored of one.
void KeepClassAndTileSet(AttributeMap& attributes) {
    static const TString keep[] = {TStr(MapProvider::attrClass), TStr(MapProvider::attrTileSet)};
    std::erase_if(attributes, [](const auto& entry) {
        return std::find(std::begin(keep), std::end(keep), entry.first) == std::end(keep);
    });
}

TString InTilesDirectory(const TString& relative) {
    return QDir::toNativeSeparators(QDir(HostPaths::MapTilesDirectory()).filePath(relative));
}

} // namespace

BlankMapProvider::~BlankMapProvider() = default;

RefCntPtr<ILegendItems> BlankMapProvider::CreateLegendItems(const MapLayer& layer,
                                                            const LanguageCode& language,
                                                            const ColorPaletteLookup&) {
    return MakeRefCnt<SimpleLegendItems>(layer.GetLongDisplayName(language));
}

void BlankMapProvider::PrepareDataLayer(MapLayer&, const LanguageCode&, const ColorPaletteLookup&) {
}

void BlankMapProvider::FetchTileFromCache(MappedImageInstancePtr, MapQueryPtr, const ColorObject&) {
}

LocalMapProvider::~LocalMapProvider() = default;

void LocalMapProvider::FetchTileFromCache(MappedImageInstancePtr, MapQueryPtr, const ColorObject&) {
}

MapRequestorPtr BlankMapConnection::CreateMapRequestor(SpatialProjectorPtr, MapQueryPtr query) {
    return MapRequestorPtr(
        new BlankMapRequestor(RefCntPtr<BlankMapConnection>(this), std::move(query)));
}

void BlankMapConnection::FilterRequiredAttributes(AttributeMap& attributes) {
    KeepClassAndTileSet(attributes);
}

void BlankMapConnection::FilterSecureAttributes(AttributeMap& attributes) {
    KeepClassAndTileSet(attributes);
}

AttributeMap BlankMapConnection::ExtractKeychainAttributes(AttributeMap&) {
    return {};
}

MapRequestorPtr LocalMapConnection::CreateMapRequestor(SpatialProjectorPtr, MapQueryPtr query) {
    return MapRequestorPtr(
        new LocalMapRequestor(RefCntPtr<LocalMapConnection>(this), std::move(query)));
}

void LocalMapConnection::FilterRequiredAttributes(AttributeMap& attributes) {
    KeepClassAndTileSet(attributes);
}

void LocalMapConnection::FilterSecureAttributes(AttributeMap& attributes) {
    KeepClassAndTileSet(attributes);
}

AttributeMap LocalMapConnection::ExtractKeychainAttributes(AttributeMap&) {
    return {};
}

MapTileFileRequestor::MapTileFileRequestor(MapQueryPtr query, TString path,
                                           MapProviderException::Type missingType,
                                           std::uint32_t missingSite)
    : MapRequestor(query), m_path(std::move(path)), m_missingType(missingType),
      m_missingSite(missingSite) {}

void MapTileFileRequestor::ExecuteImpl() {
    QFile file(m_path);
    if (!QFileInfo(m_path).isFile() || !file.open(QIODevice::ReadOnly)) {
        throw MapProviderException(m_missingType, LookupTFmtStr(kMissingFileText, m_path),
                                   MapProviderException::Site(m_missingSite));
    }
    std::unique_ptr<QtImageObject> image = QtImageObject::FromEncoded(file.readAll());
    if (!image || !image->IsValid()) {
        SetError(true);
        throw MapProviderException(MapProviderException::eInvalidImage,
                                   LookupTStr(MapTileServerRequestor::kInvalidImageText) +
                                       QStringLiteral(" (") + m_path + u')',
                                   MapProviderException::Site(kUnreadableTileSite));
    }
    SetResult(std::move(image));
}

BlankMapRequestor::BlankMapRequestor(RefCntPtr<BlankMapConnection> connection, MapQueryPtr query)
    : MapTileFileRequestor(std::move(query), InTilesDirectory(TStr(kBlankTileFile)),
                           MapProviderException::eBlankImageMissing, kBlankMissingSite),
      m_connection(std::move(connection)) {}

RefCntPtr<MapRequestor> BlankMapRequestor::Clone() const {
    return RefCntPtr<MapRequestor>(new BlankMapRequestor(m_connection, GetQuery()));
}

LocalMapRequestor::LocalMapRequestor(RefCntPtr<LocalMapConnection> connection, MapQueryPtr query)
    : MapTileFileRequestor(query,
                           InTilesDirectory(RelativeTilePath(
                               connection->GetAttribute(MapProvider::attrTileSet), *query)),
                           MapProviderException::eLocalImageMissing, kLocalMissingSite),
      m_connection(std::move(connection)) {}

RefCntPtr<MapRequestor> LocalMapRequestor::Clone() const {
    return RefCntPtr<MapRequestor>(new LocalMapRequestor(m_connection, GetQuery()));
}

TString LocalMapRequestor::RelativeTilePath(const TString& tileSet, const MapQuery& query) {
    const MapTileIndex index = MapTileServerProvider::ComputeTileIndex(query);
    TString path = QStringLiteral("%1/%2/%3.png")
                       .arg(TString::number(index.level, 'f', 0))
                       .arg(index.column)
                       .arg(index.row);
    if (!tileSet.isEmpty()) {
        path.prepend(tileSet + u'/');
    }
    return path;
}
