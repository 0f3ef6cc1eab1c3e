#include <cmath>

#include <lmxmaps/MapLayersModel.h>
#include <lmxmaps/MapProvider.h>

namespace {

constexpr float kDefaultDisplayNumber = 1.0f;

// A copy of the list in which the layers hidden at this zoom and scale are switched off.
RefCntPtr<MapLayers> CopySwitchingOffHidden(const MapLayers& layers, double zoom,
                                            double scaleDenominator) {
    auto copy = MakeRefCnt<MapLayers>(layers.GetLayers());
    for (MapLayer& layer : copy->GetLayers()) {
        if (!layer.IsVisible(zoom, scaleDenominator)) {
            layer.SetEnabled(false);
        }
    }
    return copy;
}

} // namespace

struct MapLayersModel::State {
    LayersMap layers;
    std::unique_ptr<MapLayer> enabledDataLayer;
    RefCntPtr<ILegendItems> legendItems;
    RefCntPtr<MapQuery> mapQuery;
    Warnings errors;
    float displayScale = kDefaultDisplayNumber;
    float coverage = kDefaultDisplayNumber;
    float actualZoomLevel = kDefaultDisplayNumber;
};

MapLayersModel::MapLayersModel(LayersMap layers, std::unique_ptr<MapLayer> enabledDataLayer,
                               RefCntPtr<ILegendItems> legendItems, const Warnings& errors)
    : m_state(std::make_unique<State>()) {
    m_state->layers = std::move(layers);
    m_state->enabledDataLayer = std::move(enabledDataLayer);
    m_state->legendItems = std::move(legendItems);
    m_state->errors = errors;
}

MapLayersModel::~MapLayersModel() = default;

MapLayersModel::LayersMap MapLayersModel::GetLayers() const {
    return m_state->layers;
}

MapLayersModel::LayersMap
MapLayersModel::GetLayersVisibleAtCurrentZoom(const MapProvider& provider) const {
    if (!m_state->mapQuery || !provider.IsRaster()) {
        return m_state->layers;
    }
    const RasterMapProvider& raster = provider.AsRaster();
    const MapScaleLevel level = raster.ComputeScaleLevel(*m_state->mapQuery);
    const double scaleDenominator = raster.GetScaleDenominator(level);
    const double zoom = std::floor(level.level);
    LayersMap visible;
    for (const auto& [name, layers] : m_state->layers) {
        visible.emplace(name,
                        layers ? CopySwitchingOffHidden(*layers, zoom, scaleDenominator) : nullptr);
    }
    return visible;
}

bool MapLayersModel::HasAnyEnabledLayers() const {
    for (const auto& [name, layers] : m_state->layers) {
        if (layers && layers->HasAnyEnabledLayers()) {
            return true;
        }
    }
    return false;
}

bool MapLayersModel::HasEnabledDataLayer() const {
    return m_state->enabledDataLayer != nullptr;
}

const MapLayer& MapLayersModel::GetEnabledDataLayer() const {
    return *m_state->enabledDataLayer;
}

RefCntPtr<ILegendItems> MapLayersModel::GetLegendItems() const {
    return m_state->legendItems;
}

RefCntPtr<MapQuery> MapLayersModel::GetMapQuery() const {
    return m_state->mapQuery;
}

void MapLayersModel::SetMapQuery(RefCntPtr<MapQuery> query) {
    m_state->mapQuery = std::move(query);
}

void MapLayersModel::GetErrors(Warnings& errors, bool& hasErrors) const {
    errors.insert(errors.end(), m_state->errors.begin(), m_state->errors.end());
    hasErrors = !m_state->errors.empty();
}

void MapLayersModel::ClearErrors() {
    m_state->errors.clear();
}

float MapLayersModel::GetDisplayScale() const {
    return m_state->displayScale;
}

void MapLayersModel::SetDisplayScale(float displayScale) {
    m_state->displayScale = displayScale;
}

float MapLayersModel::GetCoverage() const {
    return m_state->coverage;
}

void MapLayersModel::SetCoverage(float coverage) {
    m_state->coverage = coverage;
}

float MapLayersModel::GetActualZoomLevel() const {
    return m_state->actualZoomLevel;
}

void MapLayersModel::SetActualZoomLevel(float zoomLevel) {
    m_state->actualZoomLevel = zoomLevel;
}

double MapLayersModel::ClampMapZoomFactorForValidZoomLevel(double zoomLevel, double factor) {
    const double targetLevel = zoomLevel + std::log2(factor);
    if (factor > 1.0 && targetLevel > kMaxZoomLevel) {
        return std::exp2(kMaxZoomLevel - zoomLevel);
    }
    if (factor <= 1.0 && targetLevel < kMinZoomLevel) {
        return std::exp2(kMinZoomLevel - zoomLevel);
    }
    return factor;
}
