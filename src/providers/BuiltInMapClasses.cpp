#include "BuiltInMapClasses.h"

#include <lmxmaps/LocalMapProviders.h>
#include <lmxmaps/MapConnectionAttributes.h>

namespace BuiltInMapClasses {

namespace {

template <class Provider, class Connection>
void RegisterClass(const char16_t* className) {
    const TString name = TStr(className);
    MapProvider::Register(name, [](const AttributeMap& attributes) {
        return std::make_shared<Provider>(attributes);
    });
    MapConnection::Register(name, [](const AttributeMap& attributes) {
        return MapConnectionPtr(new Connection(attributes));
    });
    MapConnectionAttributes::RegisterRequiredAttributeFilter(name,
                                                             &Connection::FilterRequiredAttributes);
    MapConnectionAttributes::RegisterSecureAttributeFilter(name,
                                                           &Connection::FilterSecureAttributes);
}

} // namespace

void Register() {
    RegisterClass<MapTileServerProvider, MapTileServerConnection>(
        MapTileServerProvider::valueClassAttr);
    RegisterClass<BlankMapProvider, BlankMapConnection>(BlankMapProvider::valueClassAttr);
    RegisterClass<LocalMapProvider, LocalMapConnection>(LocalMapProvider::valueClassAttr);
}

} // namespace BuiltInMapClasses
