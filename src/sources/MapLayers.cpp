#include <algorithm>

#include <lmxmaps/MapLayers.h>

MapLayers::MapLayers(std::vector<MapLayer> layers) : m_layers(std::move(layers)) {}

MapLayers::~MapLayers() = default;

RefCntPtr<MapLayers> MapLayers::Clone() const {
    return MakeRefCnt<MapLayers>(m_layers);
}

bool MapLayers::HasAnyEnabledLayers() const {
    return std::ranges::any_of(m_layers, &MapLayer::IsEnabled);
}

TString MapLayers::AsString(const TString& separator) const {
    TString joined;
    bool first = true;
    for (const MapLayer& layer : m_layers) {
        if (!layer.IsEnabled()) {
            continue;
        }
        if (!first) {
            joined += separator;
        }
        joined += layer.GetRequestString();
        first = false;
    }
    return joined;
}
