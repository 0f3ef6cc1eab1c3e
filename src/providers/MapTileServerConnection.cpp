#include <mutex>
#include <set>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapTileServer.h>

namespace {

constexpr std::uint32_t kNoServerSite = 0x1F991322;
constexpr const char16_t* kDefaultPathTemplate = u"/{L}/{Z}/{X}/{Y}.png?apikey={K}";
constexpr const char16_t* kDefaultLayerSeparator = u"/";
constexpr const char16_t* kHighDPISuffix = u"@2x";
// Significant digits of the level in a tile URL.
constexpr int kUrlLevelDigits = 2;

// Template placeholders and the format-string placeholders they become.
constexpr std::pair<const char16_t*, const char16_t*> kPlaceholders[] = {
    {u"{X}", u"%1"}, {u"{Y}", u"%2"}, {u"{Z}", u"%3"}, {u"{L}", u"%4"},
    {u"{K}", u"%5"}, {u"{P}", u"%6"}, {u"{S}", u"%6"},
};
constexpr const char16_t* kDensityPlaceholder = u"{D}";
constexpr const char16_t* kDensityFormat = u"%7";

const std::set<TString>& RequiredKeys() {
    static const std::set<TString> keys = {
        TStr(MapProvider::attrClass),
        TStr(MapProvider::attrServer),
        TStr(MapProvider::attrPort),
        TStr(MapProvider::attrURL),
        TStr(MapProvider::attrUsername),
        TStr(MapProvider::attrAddlServers),
        TStr(MapProvider::attrIndicatorServer),
        TStr(MapTileServerProvider::attrDataKey),
        TStr(MapProvider::attrUrlFormat),
        TStr(MapProvider::attrLayerSeparator),
        TStr(MapTileServerProvider::attrApiVersion),
    };
    return keys;
}

} // namespace

MapTileServerConnection::MapTileServerConnection(AttributeMap attributes)
    : MapConnection(std::move(attributes)) {
    const TString server = GetAttribute(MapProvider::attrServer);
    if (!server.isEmpty()) {
        m_servers.push_back(server);
    }
    for (const TString& more :
         GetAttribute(MapProvider::attrAddlServers).split(u' ', Qt::SkipEmptyParts)) {
        m_servers.push_back(more);
    }
    if (m_servers.empty()) {
        throw MapProviderException(MapProviderException::eServiceError, LookupTStr(kNoServerText),
                                   MapProviderException::Site(kNoServerSite));
    }

    TString format = GetAttribute(MapProvider::attrUrlFormat);
    if (format.isEmpty()) {
        format = GetAttribute(MapProvider::attrURL) + TStr(kDefaultPathTemplate);
    }
    format.replace(u'%', QStringLiteral("%%"));
    for (const auto& [placeholder, replacement] : kPlaceholders) {
        format.replace(TStr(placeholder), TStr(replacement));
    }
    if (format.contains(TStr(kDensityPlaceholder))) {
        m_supportsHighDPI = true;
        format.replace(TStr(kDensityPlaceholder), TStr(kDensityFormat));
    }
    m_urlFormat = format;
}

MapRequestorPtr MapTileServerConnection::CreateMapRequestor(SpatialProjectorPtr,
                                                            MapQueryPtr query) {
    TString separator = GetAttribute(MapProvider::attrLayerSeparator);
    if (separator.isEmpty()) {
        separator = TStr(kDefaultLayerSeparator);
    }
    const MapTileIndex index = MapTileServerProvider::ComputeTileIndex(*query);
    const RefCntPtr<MapLayers> layers = query->GetLayers();
    const TString path = FormatPlaceholders(
        m_urlFormat,
        {TString::number(index.column), TString::number(index.row),
         TString::number(index.level, 'g', kUrlLevelDigits),
         layers ? layers->AsString(separator) : TString(), GetAttribute(MapProvider::attrUsername),
         TString::number(index.tileSize), query->IsHighDPI() ? TStr(kHighDPISuffix) : TString()});

    const int turn = m_serverCounter.fetch_add(1) + 1;
    const auto count = static_cast<int>(m_servers.size());
    const TString& server = m_servers[static_cast<std::size_t>(((turn % count) + count) % count)];
    const unsigned int port = GetAttribute(MapProvider::attrPort).toUInt();
    return MapRequestorPtr(new MapTileServerRequestor(RefCntPtr<MapTileServerConnection>(this),
                                                      server, port, path, std::move(query)));
}

AttributeMap MapTileServerConnection::ExtractKeychainAttributes(AttributeMap&) {
    return {};
}

void MapTileServerConnection::FilterSecureAttributes(AttributeMap&) {}

void MapTileServerConnection::FilterRequiredAttributes(AttributeMap& attributes) {
    const std::set<TString>& keep = RequiredKeys();
    std::erase_if(attributes, [&](const auto& entry) { return keep.count(entry.first) == 0; });
}

bool ConnectMapTileServerDummy::AuthenticateProperties(AttributeMap&) {
    return false;
}

std::shared_ptr<MapSource> ConnectMapTileServerDummy::Reconnect(const MapNamespace&,
                                                                std::shared_ptr<MapSource> source) {
    return source;
}

std::shared_ptr<MapSource>
ConnectMapTileServerDummy::ValidateConnectionImpl(const MapNamespace&, AttributeMap&,
                                                  std::shared_ptr<MapSource> source) {
    return source;
}
