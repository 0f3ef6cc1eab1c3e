#include <cmath>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/Wms.h>

namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr double kDegreesAroundTheWorld = 360.0;

struct Box {
    double minX, maxX, minY, maxY;
};

Box ToBox(const DataValueRect& rect) {
    return {rect.MinX().GetReal(), rect.MaxX().GetReal(), rect.MinY().GetReal(),
            rect.MaxY().GetReal()};
}

DataValueRect ToRect(const Box& box) {
    return DataValueRect(DataValue::Real(box.minX), DataValue::Real(box.maxX),
                         DataValue::Real(box.minY), DataValue::Real(box.maxY));
}

bool IsWebMercatorCode(const TString& crs) {
    return crs.compare(QLatin1String("EPSG:3857"), Qt::CaseInsensitive) == 0 ||
           crs.compare(QLatin1String("EPSG:102100"), Qt::CaseInsensitive) == 0;
}

unsigned int PixelsFor(double extent, double pixelsPerUnit) {
    return static_cast<unsigned int>(std::floor(extent * pixelsPerUnit + 0.5));
}

} // namespace

WmsProvider::WmsProvider(AttributeMap attributes) : RasterMapProvider(std::move(attributes)) {}

void WmsProvider::TakeTitle(const MapConnectionPtr& connection) {
    if (const auto* wms = dynamic_cast<const WmsConnection*>(connection.get())) {
        std::lock_guard lock(m_stateMutex);
        m_title = wms->FetchTitle();
    }
}

MapConnectionPtr WmsProvider::Connect() {
    try {
        MapConnectionPtr connection = RasterMapProvider::Connect();
        TakeTitle(connection);
        return connection;
    } catch (MapProviderException& e) {
        if (e.GetMessage().isEmpty()) {
            MapProviderException withMessage(
                e.GetType(), LookupTStr(WmsConnection::kConnectionFailedText), e.GetErrorInfo(),
                e.GetMapSourceName(), e.GetShouldCloseConnection());
            throw withMessage;
        }
        throw;
    }
}

MapConnectionPtr WmsProvider::ConnectNoThrow() {
    MapConnectionPtr connection = RasterMapProvider::ConnectNoThrow();
    TakeTitle(connection);
    return connection;
}

SpatialProjectorPtr WmsProvider::CreateSpatialProjector(const FieldName& uField,
                                                        const FieldName& vField) const {
    std::unique_lock lock(m_stateMutex);
    if (m_crs.isEmpty()) {
        lock.unlock();
        // Connecting may take long; the layers come from the shared connection.
        const RefCntPtr<MapLayers> layers = const_cast<WmsProvider*>(this)->GetFeatureLayers({});
        TString crs;
        for (const MapLayer& layer : layers->GetLayers()) {
            crs = layer.GetAttribute(MapLayer::attrCRS);
            if (!crs.isEmpty()) {
                break;
            }
        }
        lock.lock();
        if (m_crs.isEmpty()) {
            m_crs = crs;
        }
    }
    if (IsWebMercatorCode(m_crs)) {
        return SpatialProjector::WebMercatorFactory(uField, vField, m_crs);
    }
    m_pixelFactor = kGeographicPixelFactor;
    return SpatialProjector::PlateCarreeFactory(uField, vField);
}

RefCntPtr<MapLayers> WmsProvider::GetFeatureLayers(const TString&) {
    const MapConnectionPtr connection = IsOffline() ? ConnectNoThrow() : Connect();
    if (const auto* wms = dynamic_cast<const WmsConnection*>(connection.get())) {
        return wms->FetchMapLayers();
    }
    return MakeRefCnt<MapLayers>();
}

RefCntPtr<MapLayers> WmsProvider::GetDataLayers(const TString&) {
    return MakeRefCnt<MapLayers>();
}

RefCntPtr<ILegendItems> WmsProvider::CreateLegendItems(const MapLayer&, const LanguageCode&,
                                                       const ColorPaletteLookup&) {
    return nullptr;
}

void WmsProvider::PrepareFeatureLayer(MapLayer&, const LanguageCode&) {}

void WmsProvider::PrepareDataLayer(MapLayer& layer, const LanguageCode&,
                                   const ColorPaletteLookup&) {
    layer.ClearAttributes();
}

TString WmsProvider::GetDisplayTitle() const {
    std::lock_guard lock(m_stateMutex);
    return m_title;
}

TString WmsProvider::GetDisplayDescription() {
    const TString description = GetAttribute(attrDescription);
    return description.isEmpty() ? GetDisplayUrl() : description;
}

TString WmsProvider::GetDisplayUrl() {
    const TString fullUrl = GetAttribute(attrFullURL);
    if (!fullUrl.isEmpty()) {
        return fullUrl;
    }
    // "service" holds the scheme of the service; anything else reads as plain http.
    const TString service = GetAttribute(attrService);
    const TString scheme = service == u"https" ? service : QStringLiteral("http");
    const TString port = GetAttribute(attrPort);
    TString url = scheme + QStringLiteral("://") + GetAttribute(attrServer);
    const bool ownPort = (scheme == u"http" && port == QString::number(kHttpPort)) ||
                         (scheme == u"https" && port == QString::number(kHttpsPort));
    if (!port.isEmpty() && !ownPort) {
        url += u':' + port;
    }
    const TString path = GetAttribute(attrURL);
    if (!path.startsWith(u'/')) {
        url += u'/';
    }
    return url + path;
}

bool WmsProvider::ShouldUserBeWarnedAboutInsecureConnection() {
    if (!m_warnAboutInsecureConnection.load() || !IsConnected()) {
        return false;
    }
    if (GetAttribute(attrService) == u"http") {
        return true;
    }
    m_warnAboutInsecureConnection.store(false);
    return false;
}

void WmsProvider::DisallowFurtherWarningsAboutInsecureConnection() {
    m_warnAboutInsecureConnection.store(false);
}

MapScaleLevel WmsProvider::ComputeScaleLevel(double scale) const {
    return MapUtil::ComputeScaleLevel(scale, GetPixelsPerCRSUnitAtZoomLevel1() * GetPixelFactor(),
                                      GetIntermediateLevels(), GetTileSize(), GetMaxScaleLevel(),
                                      IsTileSizeAdjustable(), GetMinShrink());
}

double WmsProvider::GetPixelsPerCRSUnitAtZoomLevel1() const {
    return GetDefaultSpatialProjector()->UVPerProjectionUnits() * GetTileSize() /
           kDegreesAroundTheWorld;
}

double WmsProvider::GetScaleDenominatorConversionFactor() const {
    return GetDefaultSpatialProjector()->UVPerProjectionUnits() * sNominalPixelsPerMeter *
           sMetersPerDegreeAtEquator;
}

TString WmsProvider::GetCRS() const {
    GetDefaultSpatialProjector();
    std::lock_guard lock(m_stateMutex);
    return m_crs;
}

double WmsProvider::GetPixelFactor() const {
    // The factor is settled when the projector is made.
    GetDefaultSpatialProjector();
    std::lock_guard lock(m_stateMutex);
    return m_pixelFactor;
}

MapQueryPtr WmsProvider::ComputeTiles(const MapScaleLevel& level, MapQueryPtr query,
                                      std::vector<MapQueryPtr>& tiles) {
    if (GetAttribute(attrUseTiledMaps) == u"false") {
        query->SetRequestMargin(false);
        tiles.push_back(query);
        return query;
    }
    const double pixelsPerUnit = level.pixelsPerCRSUnit;
    const double span = sTileSize / pixelsPerUnit;
    const Box world = ToBox(GetDefaultSpatialProjector()->GetWorldBounds());
    const Box view = ToBox(query->GetBBox());
    const Box area{std::max(world.minX, view.minX), std::min(world.maxX, view.maxX),
                   std::max(world.minY, view.minY), std::min(world.maxY, view.maxY)};

    const auto firstColumn = static_cast<long long>(std::floor((area.minX - world.minX) / span));
    const auto endColumn = static_cast<long long>(std::ceil((area.maxX - world.minX) / span));
    const auto firstRow = static_cast<long long>(std::floor((area.minY - world.minY) / span));
    const auto endRow = static_cast<long long>(std::ceil((area.maxY - world.minY) / span));
    Box united{HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL};
    for (long long column = firstColumn; column < endColumn; ++column) {
        for (long long row = firstRow; row < endRow; ++row) {
            const Box tile{world.minX + static_cast<double>(column) * span,
                           world.minX + static_cast<double>(column + 1) * span,
                           world.minY + static_cast<double>(row) * span,
                           world.minY + static_cast<double>(row + 1) * span};
            tiles.push_back(MakeRefCnt<MapQuery>(
                query->GetLayers(), query->GetCRS(), ToRect(tile), sTileSize, sTileSize,
                query->GetLayerGroup(), query->GetStyleName(), query->IsHighDPI(), true, level));
            united = {std::min(united.minX, tile.minX), std::max(united.maxX, tile.maxX),
                      std::min(united.minY, tile.minY), std::max(united.maxY, tile.maxY)};
        }
    }
    if (tiles.empty()) {
        return MakeRefCnt<MapQuery>(query->GetLayers(), query->GetCRS(), query->GetBBox(), 0, 0,
                                    query->GetLayerGroup(), query->GetStyleName(),
                                    query->IsHighDPI(), false, level);
    }
    return MakeRefCnt<MapQuery>(query->GetLayers(), query->GetCRS(), ToRect(united),
                                PixelsFor(united.maxX - united.minX, pixelsPerUnit),
                                PixelsFor(united.maxY - united.minY, pixelsPerUnit),
                                query->GetLayerGroup(), query->GetStyleName(), query->IsHighDPI(),
                                true, level);
}
