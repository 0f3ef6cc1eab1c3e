#pragma once
// Answers the host's visualization model: is a visual specification a map, and with which
// projector is it drawn. It is a map when it names a map source, its panes show latitude and
// longitude fields, and the document's namespace knows the source; the projector is the source
// provider's, with longitude as the U field and latitude as the V field.

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
