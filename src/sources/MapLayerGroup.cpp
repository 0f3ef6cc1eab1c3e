#include <algorithm>
#include <unordered_map>

#include <lmxmaps/MapLayers.h>
#include <lmxmaps/MapSourceAttributes.h>
#include <lmxmaps/host/LumivexException.h>

namespace {

// Only an absent attribute leaves the group unordered: text that spells no integer is order 0.
std::int32_t ReadPresentationOrder(const MapLayer& layer) {
    if (!layer.HasAttribute(MapLayer::attrPresentationOrder)) {
        return MapLayerGroup::kUnorderedPresentationOrder;
    }
    return MapSourceAttributeRules::ReadHostInteger(
        layer.GetAttribute(MapLayer::attrPresentationOrder));
}

} // namespace

MapLayerGroup::MapLayerGroup(TString name, RefCntPtr<MapLayers> layers, std::int32_t order)
    : m_name(std::move(name)), m_layers(std::move(layers)), m_order(order) {
    LMX_LOGIC_ASSERT(m_layers);
    m_enabled = m_layers->HasAnyEnabledLayers();
}

void MapLayerGroup::SetEnabled(bool enabled) {
    for (MapLayer& layer : m_layers->GetLayers()) {
        layer.SetEnabled(enabled);
    }
    m_enabled = enabled;
}

bool MapLayerGroup::IsAnyLayerVisible(const MapLayerGroup& group, double zoom,
                                      double scaleDenominator) {
    return std::ranges::any_of(group.GetLayers()->GetLayers(), [&](const MapLayer& layer) {
        return layer.IsVisible(zoom, scaleDenominator);
    });
}

TString MapLayerGroup::GetLayerGroupName(const MapLayer& layer, const LanguageCode& language) {
    const TString groupName = layer.GetLocalizedAttr(MapLayer::attrGroup, language);
    return groupName.isEmpty() ? layer.GetDisplayName(language) : groupName;
}

std::vector<MapLayerGroup>
MapLayerGroup::MakeLayerGroupsByLanguage(const std::vector<MapLayer>& layers,
                                         const LanguageCode& language) {
    struct PendingGroup {
        TString name;
        RefCntPtr<MapLayers> layers;
        std::int32_t order;
    };
    std::vector<PendingGroup> pendingGroups;
    std::unordered_map<TString, std::size_t> indexByName;

    for (const MapLayer& layer : layers) {
        TString name = GetLayerGroupName(layer, language);
        auto [found, isNew] = indexByName.try_emplace(name, pendingGroups.size());
        if (isNew) {
            pendingGroups.push_back(
                {std::move(name), MakeRefCnt<MapLayers>(), ReadPresentationOrder(layer)});
        }
        pendingGroups[found->second].layers->GetLayers().push_back(layer);
    }

    std::vector<MapLayerGroup> groups;
    groups.reserve(pendingGroups.size());
    for (PendingGroup& pending : pendingGroups) {
        groups.emplace_back(std::move(pending.name), std::move(pending.layers), pending.order);
    }
    std::ranges::stable_sort(groups, {}, &MapLayerGroup::GetOrder);
    return groups;
}

RefCntPtr<MapLayers> MapLayerGroup::MergeGroups(const std::vector<MapLayerGroup>& groups) {
    RefCntPtr<MapLayers> merged = MakeRefCnt<MapLayers>();
    for (const MapLayerGroup& group : groups) {
        const std::vector<MapLayer>& groupLayers = group.GetLayers()->GetLayers();
        merged->GetLayers().insert(merged->GetLayers().end(), groupLayers.begin(),
                                   groupLayers.end());
    }
    return merged;
}
