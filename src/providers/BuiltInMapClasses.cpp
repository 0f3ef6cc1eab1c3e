#include "BuiltInMapClasses.h"

#include <lmxmaps/LocalMapProviders.h>
#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/ValidatingConnector.h>
#include <lmxmaps/Wms.h>

namespace BuiltInMapClasses {

namespace {

template <class Provider, class Connection, class ConnectHooks>
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
    ValidatingConnector::sMapSourceValidators.Register(name, [](const MapNamespace& mapNamespace,
                                                                AttributeMap& attributes,
                                                                std::shared_ptr<MapSource> source,
                                                                IAuthenticator*) {
        return ConnectHooks::ValidateConnectionImpl(mapNamespace, attributes, std::move(source));
    });
}

} // namespace

void Register() {
    // Tile sources need nothing checked when a stored document opens them again; a WMS
    // source is connected, so that a server that went away is noticed.
    RegisterClass<MapTileServerProvider, MapTileServerConnection, ConnectMapTileServerDummy>(
        MapTileServerProvider::valueClassAttr);
    RegisterClass<BlankMapProvider, BlankMapConnection, ConnectMapTileServerDummy>(
        BlankMapProvider::valueClassAttr);
    RegisterClass<LocalMapProvider, LocalMapConnection, ConnectMapTileServerDummy>(
        LocalMapProvider::valueClassAttr);
    RegisterClass<WmsProvider, WmsConnection, ConnectWmsDummy>(WmsProvider::valueClassAttr);
}

} // namespace BuiltInMapClasses
