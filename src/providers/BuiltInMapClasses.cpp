#include "BuiltInMapClasses.h"

#include <lmxmaps/LocalMapProviders.h>
#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/ValidatingConnector.h>

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
    // Tile sources need nothing checked when a stored document opens them again.
    ValidatingConnector::sMapSourceValidators.Register(
        name, [](const MapNamespace& mapNamespace, AttributeMap& attributes,
                 std::shared_ptr<MapSource> source, IAuthenticator*) {
            return ConnectMapTileServerDummy::ValidateConnectionImpl(mapNamespace, attributes,
                                                                     std::move(source));
        });
}

} // namespace

void Register() {
    RegisterClass<MapTileServerProvider, MapTileServerConnection>(
        MapTileServerProvider::valueClassAttr);
    RegisterClass<BlankMapProvider, BlankMapConnection>(BlankMapProvider::valueClassAttr);
    RegisterClass<LocalMapProvider, LocalMapConnection>(LocalMapProvider::valueClassAttr);
}

} // namespace BuiltInMapClasses
