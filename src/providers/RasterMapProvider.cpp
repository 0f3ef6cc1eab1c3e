#include <optional>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/host/MapScaleLevel.h>

namespace {

std::optional<TString> OptionalAttribute(const MapProvider& provider, const char16_t* key) {
    return provider.HasAttribute(key) ? std::optional<TString>(provider.GetAttribute(key))
                                      : std::nullopt;
}

} // namespace

MapScaleLevel RasterMapProvider::ComputeScaleLevel(const MapQuery& query) const {
    return ComputeScaleLevel(query.GetScale());
}

MapScaleLevel RasterMapProvider::ComputeScaleLevel(double scale) const {
    return MapUtil::ComputeScaleLevel(scale, GetPixelsPerCRSUnitAtZoomLevel1(),
                                      GetIntermediateLevels(), GetTileSize(), GetMaxScaleLevel(),
                                      IsTileSizeAdjustable(), GetMinShrink());
}

double RasterMapProvider::GetMaxScaleLevel() const {
    return MapSourceAttributeRules::ReadMaxScaleLevel(OptionalAttribute(*this, attrMaxScaleLevel),
                                                      GetDefaultMaxScaleLevel());
}

double RasterMapProvider::GetMaxStretch() const {
    return MapSourceAttributeRules::ReadMaxStretch(OptionalAttribute(*this, attrMaxStretch));
}

double RasterMapProvider::GetMinShrink() const {
    return MapSourceAttributeRules::ReadMinShrink(OptionalAttribute(*this, attrMinShrink));
}

int RasterMapProvider::GetIntermediateLevels() const {
    return MapSourceAttributeRules::ReadIntermediateLevels(
        OptionalAttribute(*this, attrIntermediateLevels));
}

bool RasterMapProvider::HasBackgroundColor(ColorObject&) const {
    return false;
}

double RasterMapProvider::GetScaleDenominator(const MapScaleLevel& level) const {
    return GetScaleDenominatorConversionFactor() * (1.0 / level.pixelsPerCRSUnit);
}

double RasterMapProvider::GetMapTileAdjustedSize(double factor) const {
    return static_cast<double>(GetTileSize()) * factor;
}

void RasterMapProvider::GenerateIndexProperty(AttributeMap&, MapQueryPtr) {}

void RasterMapProvider::FetchTileFromCache(MappedImageInstancePtr, MapQueryPtr,
                                           const ColorObject&) {}

MapScaleLevel VectorMapProvider::ComputeScaleLevel(const MapQuery& query) const {
    constexpr int kVectorIntermediateLevels = 4;
    constexpr double kVectorMinShrink = 1.0;
    return MapUtil::ComputeScaleLevel(query.GetScale(), GetPixelsPerCRSUnitAtZoomLevel1(),
                                      kVectorIntermediateLevels, sPseudoTileSize,
                                      GetMaxScaleLevel(), false, kVectorMinShrink);
}

double VectorMapProvider::GetMaxScaleLevel() const {
    return MapSourceAttributeRules::ReadMaxScaleLevel(OptionalAttribute(*this, attrMaxScaleLevel),
                                                      GetDefaultMaxScaleLevel());
}
