#include <lmxmaps/MapNamespace.h>
#include <lmxmaps/SpatialProjectorCreator.h>

namespace SpatialProjectorCreator {

bool IsMap(const INamespace& dataNamespace, const VisualSpecification& specification,
           const std::vector<PaneDescriptor>& panes, const MapNamespace& mapNamespace) {
    const TString sourceName = specification.GetMapSourceForRendering();
    if (!specification.HasMapSource()) {
        return false;
    }
    FieldName latitude;
    FieldName longitude;
    if (!SpatialProjectorInterpreter::GetLatLongFieldNames(dataNamespace, panes, latitude,
                                                           longitude)) {
        return false;
    }
    return mapNamespace.HasMapSource(sourceName);
}

std::pair<bool, SpatialProjectorPtr>
IsMapAndCreateIfPossible(const INamespace& dataNamespace, const VisualSpecification& specification,
                         const MapNamespace& mapNamespace) {
    return IsMapAndCreateIfPossibleWithPaneDescriptor(
        dataNamespace, specification,
        ScnqlUtils::ComputePaneDescriptors(dataNamespace, specification), mapNamespace);
}

std::pair<bool, SpatialProjectorPtr> IsMapAndCreateIfPossibleWithPaneDescriptor(
    const INamespace& dataNamespace, const VisualSpecification& specification,
    const std::vector<PaneDescriptor>& panes, const MapNamespace& mapNamespace) {
    if (!IsMap(dataNamespace, specification, panes, mapNamespace)) {
        return {false, nullptr};
    }
    const std::shared_ptr<MapSource> source =
        mapNamespace.GetMapSource(specification.GetMapSourceForRendering());
    FieldName latitude;
    FieldName longitude;
    SpatialProjectorInterpreter::GetLatLongFieldNames(dataNamespace, panes, latitude, longitude);
    const std::shared_ptr<MapProvider> provider = source ? source->GetMapProvider() : nullptr;
    if (!provider) {
        return {true, nullptr};
    }
    return {true, provider->CreateSpatialProjector(longitude, latitude)};
}

} // namespace SpatialProjectorCreator
