#include <QPainter>
#include <cmath>

#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapTileServer.h>
#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/host/AppConfig.h>
#include <lmxmaps/host/TMath.h>

namespace {

constexpr double kEarthRadius = 6378137.0;
// Significant digits of the level in a tile's index string.
constexpr int kIndexLevelDigits = 6;
// Tile edges are meant to fall on whole indices; this absorbs rounding just below them.
constexpr double kIndexSnap = 0.1;
constexpr QImage::Format kCanvasFormat = QImage::Format_ARGB32_Premultiplied;
constexpr const char16_t* kProjectorName = u"EPSG:3857";
constexpr const char16_t* kImplicitLayerName = u"implicit";
constexpr const char16_t* kLevelPlaceholder = u"{L}";

struct AreaLevel {
    const char16_t* objectName;
    const char16_t* requestString;
    StringId displayName;
};

constexpr AreaLevel kAreaLevels[] = {
    {u"State", u"us_census00.state_geom", 1072972447u},
    {u"County", u"us_census00.county_geom", 3840415781u},
    {u"Zip Code", u"us_census00.zcta_geom", 2926090300u},
    {u"Block Group", u"us_census00.blkgrp_geom", 890575794u},
};

struct Bounds {
    double minX, maxX, minY, maxY;

    double Width() const { return maxX - minX; }
    double Height() const { return maxY - minY; }
};

Bounds ToBounds(const DataValueRect& rect) {
    return {rect.MinX().GetReal(), rect.MaxX().GetReal(), rect.MinY().GetReal(),
            rect.MaxY().GetReal()};
}

DataValueRect ToRect(const Bounds& b) {
    return DataValueRect(DataValue::Real(b.minX), DataValue::Real(b.maxX), DataValue::Real(b.minY),
                         DataValue::Real(b.maxY));
}

MapQueryPtr TileQueryLike(const MapQuery& model, const Bounds& bounds, unsigned int width,
                          unsigned int height, const MapScaleLevel& level) {
    return MakeRefCnt<MapQuery>(model.GetLayers(), model.GetCRS(), ToRect(bounds), width, height,
                                model.GetLayerGroup(), model.GetStyleName(), model.IsHighDPI(),
                                false, level);
}

bool IsWhole(double level) {
    return level == std::floor(level);
}

TString IndexString(double level, int column, int row, int tileSize) {
    return MapTileIndex{level, row, column, tileSize}.ToString();
}

// The cached image for the key, or null.
std::shared_ptr<QtImageObject> CachedImage(const AttributeMap& key,
                                           MappedImageInstancePtr* instance = nullptr) {
    MappedImageCacheDataPtr data;
    if (!MappedImageCache::Singleton().Get(key, data) || !data->GetMappedImage()) {
        return nullptr;
    }
    if (instance != nullptr) {
        *instance = data->GetMappedImage();
    }
    return data->GetMappedImage()->GetImageObject();
}

// Where part lies inside whole, in the pixels of a canvas of size showing whole.
QRectF PixelRect(const Bounds& part, const Bounds& whole, QSizeF size) {
    const double sx = size.width() / whole.Width();
    const double sy = size.height() / whole.Height();
    return QRectF((part.minX - whole.minX) * sx, (whole.maxY - part.maxY) * sy, part.Width() * sx,
                  part.Height() * sy);
}

} // namespace

TString MapTileIndex::ToString() const {
    return QStringLiteral("%1/%2/%3/%4")
        .arg(TString::number(level, 'g', kIndexLevelDigits))
        .arg(column)
        .arg(row)
        .arg(tileSize);
}

MapTileServerProvider::MapTileServerProvider(AttributeMap attributes)
    : RasterMapProvider(std::move(attributes)) {
    for (const AreaLevel& area : kAreaLevels) {
        AddArea(MapArea(TStr(area.objectName), TStr(area.requestString), area.displayName));
    }
    SetAttribution({LookupTStr(kAttributionText), TString(), LookupTStr(kAttributionLink)});
}

MapTileIndex MapTileServerProvider::ComputeTileIndex(const MapQuery& tile) {
    constexpr int kLevelBits = 32;
    const MapScaleLevel level = tile.GetScaleLevel();
    const auto z = static_cast<long long>(std::floor(level.level));
    const double half = kEarthRadius * TMath::PI;
    const double span = 2.0 * half / std::ldexp(1.0, static_cast<int>(z % kLevelBits));
    const Bounds bounds = ToBounds(tile.GetBBox());
    MapTileIndex index;
    index.level = level.level;
    index.row = static_cast<int>(std::floor((half - bounds.maxY) / span + kIndexSnap));
    index.column = static_cast<int>(std::floor((half + bounds.minX) / span + kIndexSnap));
    index.tileSize = level.tileSize;
    return index;
}

SpatialProjectorPtr MapTileServerProvider::CreateSpatialProjector(const FieldName& uField,
                                                                  const FieldName& vField) const {
    return SpatialProjector::WebMercatorFactory(uField, vField, TStr(kProjectorName));
}

RefCntPtr<MapLayers> MapTileServerProvider::GetFeatureLayers(const TString& name) {
    const RefCntPtr<MapLayers> stored = GetStoredLayers();
    LMX_LOGIC_ASSERT(stored);
    auto layers = MakeRefCnt<MapLayers>();
    if (HasAttribute(attrImplicitBaseLayer)) {
        MapLayer implicit;
        implicit.SetAttribute(MapLayer::attrType, TStr(MapLayer::valueFeatures));
        implicit.SetAttribute(MapLayer::attrName, TStr(kImplicitLayerName));
        implicit.SetAttribute(MapLayer::attrShowUI, TStr(MapLayer::valueFalse));
        implicit.SetEnabled(true);
        layers->GetLayers().push_back(implicit);
    }
    const StoredLayerData* data = GetStoredLayerData(name);
    for (const MapLayer& layer : stored->GetLayers()) {
        const TString type = layer.GetAttribute(MapLayer::attrType);
        if (!type.isEmpty() && type != TStr(MapLayer::valueFeatures)) {
            continue;
        }
        MapLayer copy = layer;
        if (data != nullptr) {
            if (const auto entry = data->find(layer.GetName()); entry != data->end()) {
                copy.SetAttribute(MapLayer::attrRequestString, entry->second);
            }
        }
        layers->GetLayers().push_back(copy);
    }
    return layers;
}

RefCntPtr<MapLayers> MapTileServerProvider::GetDataLayers(const TString&) {
    auto layers = MakeRefCnt<MapLayers>();
    if (const RefCntPtr<MapLayers> stored = GetStoredLayers()) {
        for (const MapLayer& layer : stored->GetLayers()) {
            if (layer.GetAttribute(MapLayer::attrType) == TStr(MapLayer::valueData)) {
                layers->GetLayers().push_back(layer);
            }
        }
    }
    return layers;
}

RefCntPtr<ILegendItems> MapTileServerProvider::CreateLegendItems(const MapLayer&,
                                                                 const LanguageCode&,
                                                                 const ColorPaletteLookup&) {
    return MakeRefCnt<SimpleLegendItems>(TString());
}

void MapTileServerProvider::PrepareFeatureLayer(MapLayer& layer, const LanguageCode& language) {
    TString suffix;
    if (layer.GetAttribute(MapLayer::attrLocalizeRequest) == TStr(MapLayer::valueTrue)) {
        const std::set<TString>& supported = GetSupportedLanguages();
        if (supported.count(language.GetISOString()) != 0) {
            suffix = language.GetISOString();
        } else if (supported.count(language.GetShortLanguageCode()) != 0) {
            suffix = language.GetShortLanguageCode();
        }
    }
    TString request = layer.GetAttribute(MapLayer::attrRequestString);
    if (request.contains(TStr(kLevelPlaceholder))) {
        request.replace(TStr(kLevelPlaceholder), suffix);
    } else {
        request += suffix;
    }
    layer.SetAttribute(MapLayer::attrRequestString, request);
}

void MapTileServerProvider::PrepareDataLayer(MapLayer&, const LanguageCode&,
                                             const ColorPaletteLookup&) {}

TString MapTileServerProvider::GetServerKey() {
    if (GetAttribute(attrClass) != TStr(valueClassAttr)) {
        return GetAttribute(attrUsername);
    }
    TString application = AppConfig::ApplicationBaseName();
    application.replace(u' ', u'_');
    return QStringLiteral("%1-%2-%3")
        .arg(GetAttribute(attrUsername), application, AppConfig::BuildVersion());
}

bool MapTileServerProvider::SupportsHighDPI() const {
    if (IsOffline()) {
        return false;
    }
    const MapConnectionPtr connection = const_cast<MapTileServerProvider*>(this)->ConnectNoThrow();
    const auto* tileServer = dynamic_cast<const MapTileServerConnection*>(connection.get());
    return tileServer != nullptr && tileServer->SupportsHighDPI();
}

double MapTileServerProvider::GetPixelsPerCRSUnitAtZoomLevel1() const {
    return GetTileSize() / (2.0 * TMath::PI * kEarthRadius);
}

MapQueryPtr MapTileServerProvider::ComputeTiles(const MapScaleLevel& level, MapQueryPtr query,
                                                std::vector<MapQueryPtr>& tiles) {
    const Bounds world = ToBounds(GetDefaultSpatialProjector()->GetWorldBounds());
    const auto tileSize = static_cast<unsigned int>(GetTileSize());
    if (level.level == 0.0) {
        MapQueryPtr whole = TileQueryLike(*query, world, tileSize, tileSize, level);
        tiles.push_back(whole);
        return whole;
    }

    const double p = level.pixelsPerCRSUnit;
    const double onePixel = 1.0 / p;
    const Bounds view = ToBounds(query->GetBBox());
    const Bounds area{
        std::max(world.minX + onePixel, view.minX), std::min(world.maxX - onePixel, view.maxX),
        std::max(world.minY + onePixel, view.minY), std::min(world.maxY - onePixel, view.maxY)};
    if (!(area.minX < area.maxX && area.minY < area.maxY)) {
        return TileQueryLike(*query, view, 0, 0, level);
    }

    const double span = level.tileSize / p;
    const auto firstColumn = static_cast<long long>(std::floor(area.minX / span));
    const auto endColumn = static_cast<long long>(std::ceil(area.maxX / span));
    const auto firstRow = static_cast<long long>(std::floor(area.minY / span));
    const auto endRow = static_cast<long long>(std::ceil(area.maxY / span));
    const auto size = static_cast<unsigned int>(level.tileSize);
    Bounds united{HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL};
    for (long long x = firstColumn; x < endColumn; ++x) {
        for (long long y = firstRow; y < endRow; ++y) {
            const Bounds tile{static_cast<double>(x) * span, static_cast<double>(x + 1) * span,
                              static_cast<double>(y) * span, static_cast<double>(y + 1) * span};
            tiles.push_back(TileQueryLike(*query, tile, size, size, level));
            united = {std::min(united.minX, tile.minX), std::max(united.maxX, tile.maxX),
                      std::min(united.minY, tile.minY), std::max(united.maxY, tile.maxY)};
        }
    }
    return TileQueryLike(*query, united,
                         static_cast<unsigned int>(std::floor(united.Width() * p + 0.5)),
                         static_cast<unsigned int>(std::floor(united.Height() * p + 0.5)), level);
}

void MapTileServerProvider::GenerateIndexProperty(AttributeMap& key, MapQueryPtr tile) {
    key[TStr(sIndexProperty)] = ComputeTileIndex(*tile).ToString();
}

int MapTileServerProvider::TileSizeForLevel(double level) const {
    const double fraction = level - std::floor(level);
    if (fraction == 0.0) {
        return GetTileSize();
    }
    return static_cast<int>(std::floor(std::exp2(fraction) * GetTileSize() + 0.5));
}

AttributeMap MapTileServerProvider::TileCacheBaseKey(const MapQuery& tile) const {
    AttributeMap key = GetAttributes();
    MapConnectionAttributes::FilterRequiredAttributes(key);
    MapConnectionAttributes::FilterSecureAttributes(key);
    const AttributeMap& properties = tile.GetProperties();
    for (const char16_t* name : {MapQuery::sLayers, MapQuery::sStyles}) {
        if (const auto found = properties.find(TStr(name)); found != properties.end()) {
            key[found->first] = found->second;
        }
    }
    return key;
}

void MapTileServerProvider::FetchTileFromCache(MappedImageInstancePtr instance, MapQueryPtr tile,
                                               const ColorObject& waitColor) {
    const MapTileIndex index = ComputeTileIndex(*tile);
    const AttributeMap baseKey = TileCacheBaseKey(*tile);
    std::unique_ptr<QtImageObject> image = FindLowerResolutionImage(*tile, index, baseKey);
    if (!image) {
        image = FindHigherResolutionImage(*tile, index, baseKey, waitColor);
    }
    if (image) {
        instance->SetImageObject(std::move(image));
    }
}

std::unique_ptr<QtImageObject>
MapTileServerProvider::FindLowerResolutionImage(const MapQuery& tile, const MapTileIndex& index,
                                                const AttributeMap& baseKey) const {
    const int n = GetIntermediateLevels();
    const double searchStart =
        std::floor(index.level) +
        std::floor(std::log2(static_cast<double>(index.tileSize) / GetTileSize()) * n + 0.5) / n;
    double level = searchStart;
    int column = index.column;
    int row = index.row;
    bool halved = false;
    for (int step = 0; n >= 1 && step < 2 * n; ++step) {
        if (IsWhole(level)) {
            column /= 2;
            row /= 2;
            halved = true;
        }
        level -= 1.0 / n;
        AttributeMap key = baseKey;
        key[TStr(sIndexProperty)] =
            IndexString(std::floor(level), column, row, TileSizeForLevel(level));
        MappedImageInstancePtr ancestor;
        const std::shared_ptr<QtImageObject> found = CachedImage(key, &ancestor);
        if (!found) {
            continue;
        }
        if (!halved) {
            return found->Clone();
        }
        const QImage pixels = found->GetImage();
        const QRectF part = PixelRect(ToBounds(tile.GetBBox()), ToBounds(ancestor->GetBounds()),
                                      QSizeF(pixels.size()));
        // Nearest, not outward: rounding noise must not add a row or column of the neighbour.
        return std::make_unique<QtImageObject>(pixels.copy(part.toRect()));
    }
    return nullptr;
}

std::unique_ptr<QtImageObject>
MapTileServerProvider::FindHigherResolutionImage(const MapQuery& tile, const MapTileIndex& index,
                                                 const AttributeMap& baseKey,
                                                 const ColorObject& waitColor) const {
    const int n = GetIntermediateLevels();
    const double searchStart =
        std::floor(index.level) +
        std::floor(std::log2(static_cast<double>(index.tileSize) / GetTileSize()) * n + 0.5) / n;
    const Bounds tileBounds = ToBounds(tile.GetBBox());
    double level = searchStart;
    for (int step = 0; n >= 1 && step < n; ++step) {
        level += 1.0 / n;
        const int size = TileSizeForLevel(level);
        const bool children = IsWhole(level);
        const int column = children ? 2 * index.column : index.column;
        const int row = children ? 2 * index.row : index.row;
        const auto keyFor = [&](int c, int r) {
            AttributeMap key = baseKey;
            key[TStr(sIndexProperty)] = IndexString(level, c, r, size);
            return key;
        };
        MappedImageInstancePtr first;
        const std::shared_ptr<QtImageObject> firstImage = CachedImage(keyFor(column, row), &first);
        if (!firstImage) {
            continue;
        }
        auto canvas = QtImageObject::CreateCanvas(QSize(size, size), kCanvasFormat, 1.0, waitColor);
        const QSizeF canvasSize(size, size);
        canvas->Paint([&](QPainter& painter) {
            if (!children) {
                firstImage->Draw(painter, QRectF(QPointF(0, 0), canvasSize),
                                 QtImageObject::BitmapOptions());
                return;
            }
            for (int dc = 0; dc < 2; ++dc) {
                for (int dr = 0; dr < 2; ++dr) {
                    MappedImageInstancePtr child = first;
                    std::shared_ptr<QtImageObject> childImage = firstImage;
                    if (dc != 0 || dr != 0) {
                        childImage = CachedImage(keyFor(column + dc, row + dr), &child);
                    }
                    if (childImage) {
                        childImage->Draw(
                            painter,
                            PixelRect(ToBounds(child->GetBounds()), tileBounds, canvasSize),
                            QtImageObject::BitmapOptions());
                    }
                }
            }
        });
        return canvas;
    }
    return nullptr;
}
