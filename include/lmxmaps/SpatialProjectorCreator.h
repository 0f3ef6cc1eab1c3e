#pragma once
// For the host's visual model: does a visual specification draw a map, and which projector
// goes with it. A map needs a map source that the document's namespace knows and panes that
// show longitude and latitude fields; the projector comes from that source's provider, reading
// U from the longitude field and V from the latitude field.

#include <utility>
#include <vector>

#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/host/VisualModel.h>

class MapNamespace;

namespace SpatialProjectorCreator {

bool IsMap(const INamespace& dataNamespace, const VisualSpecification& specification,
           const std::vector<PaneDescriptor>& panes, const MapNamespace& mapNamespace);

// With the panes of ScnqlUtils::ComputePaneDescriptors.
std::pair<bool, SpatialProjectorPtr>
IsMapAndCreateIfPossible(const INamespace& dataNamespace, const VisualSpecification& specification,
                         const MapNamespace& mapNamespace);

// (false, null) when not a map; (true, null) for a map whose source has no provider.
std::pair<bool, SpatialProjectorPtr> IsMapAndCreateIfPossibleWithPaneDescriptor(
    const INamespace& dataNamespace, const VisualSpecification& specification,
    const std::vector<PaneDescriptor>& panes, const MapNamespace& mapNamespace);

} // namespace SpatialProjectorCreator
