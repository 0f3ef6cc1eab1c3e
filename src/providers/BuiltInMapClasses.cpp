#include "BuiltInMapClasses.h"

#include <lmxmaps/LocalMapProviders.h>
#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapboxProviders.h>
#include <lmxmaps/MapboxVectorConnection.h>
#include <lmxmaps/ValidatingConnector.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/net/Secrets.h>

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
    RegisterClass<MapboxVectorProvider, MapboxVectorConnection, ConnectMapTileServerDummy>(
        MapboxVectorProvider::valueClassAttr);
    RegisterClass<CustomMapboxProvider, MapboxVectorConnection, ConnectMapTileServerDummy>(
        CustomMapboxProvider::valueClassAttr);
    RegisterClass<MapboxProvider, MapTileServerConnection, ConnectMapTileServerDummy>(
        MapboxProvider::valueClassAttr);
    // Its URL template carries the access token.
    MapConnectionAttributes::RegisterSecureAttributeFilter(
        TStr(MapboxProvider::valueClassAttr),
        [](AttributeMap& attributes) { attributes = Secrets::RedactAttributes(attributes); });
}

} // namespace BuiltInMapClasses
