#include <lmxmaps/MapboxProviders.h>

MapboxProvider::MapboxProvider(AttributeMap attributes)
    : MapTileServerProvider(std::move(attributes)) {
    SetAttribution({LookupTStr(MapboxVectorProvider::kAttributionText), TString(),
                    LookupTStr(MapboxVectorProvider::kAttributionUrl)});
}

bool MapboxProvider::IsMapboxGL() const {
    return !GetAttribute(attrUsername).isEmpty();
}
