#include <unordered_map>

#include <lmxmaps/host/StringTable.h>

namespace {

// English texts of the user-facing messages, by string id.
const std::unordered_map<StringId, const char16_t*>& Table() {
    static const std::unordered_map<StringId, const char16_t*> table = {
        {1072972447u, u"State"},
        {3840415781u, u"County"},
        {2926090300u, u"Zip Code"},
        {890575794u, u"Block Group"},
        {3037148607u, u"\u00A9 OpenStreetMap contributors"},
        {2160945986u, u"https://www.openstreetmap.org/copyright"},
        {1670990866u, u"The tile server source names no server: set \u201cserver\u201d or "
                      u"\u201caddl-servers\u201d."},
        {1700363849u, u"The map server returned an empty reply or one that is not an image."},
        {0x4C4D5401u, u"The map tile file %1 does not exist."},
        {4154514272u, u"Connecting to the map service\u2026"},
        {2171915933u, u"Connecting to the map service was cancelled."},
        {3103715253u, u"A map image could not be fetched."},
        {0x4C4D5301u, u"Light"},
        {0x4C4D5302u, u"Normal"},
        {0x4C4D5303u, u"Dark"},
        {0x4C4D5304u, u"Streets"},
        {0x4C4D5305u, u"Outdoors"},
        {0x4C4D5306u, u"Satellite"},
        {3701153844u, u"Access to the map service %1 was denied."},
        {635519938u, u"The map view has no usable size, so its map scale cannot be computed."},
        {1128053594u, u"The map source class \u201c%1\u201d is not supported."},
        {3421197950u, u"The map source class \u201c%1\u201d is not supported. Choose another map "
                      u"source or update the application."},
        {0x4C4D5501u,
         u"The map source \u201c%1\u201d uses a kind of map that cannot be opened here."},
        {0x4C4D5502u,
         u"The map source \u201c%1\u201d uses a kind of map that this application does not "
         u"support. Choose another map source or update the application."},
        {0x4C4D5701u, u"The WMS server speaks version %1, which is not supported; versions "
                      u"1.0.0, 1.1.0 and 1.1.1 are."},
        {0x4C4D5702u, u"The WMS server did not answer with a capabilities document."},
        {0x4C4D5703u, u"The WMS server offers no supported image format (PNG, JPEG or GIF)."},
        {0x4C4D5704u, u"The WMS server offers no layer that can be drawn."},
        {0x4C4D5705u, u"The WMS server offers no layer in a supported projection."},
        {0x4C4D5706u, u"The WMS server answered with HTTP status %1: %2"},
        {0x4C4D5707u, u"Could not connect to the WMS server."},
        {0x4C4D5708u, u"The WMS server returned an empty reply or one that is not an image."},
        {0x4C4D5709u, u"The WMS server's capabilities name no address for map requests (GetMap)."},
        {3056974465u, u"The WMS server returned a tile of one blank colour."},
        {0x83d114c3u, u"A line in the geometry has fewer than two points."},
        {0xd238b0dau, u"A polygon ring in the geometry has fewer than four points."},
        {0x2caaf0bbu, u"The value does not hold a geometry that can be drawn on a map."},
        {0x4C4D4210u, u"Could not connect to the Mapbox service."},
        {0x4C4D4211u, u"The Mapbox service could not provide the map."},
        {0x4C4D4212u, u"The Mapbox account settings of this map were refused; they will be "
                      u"fetched again."},
        {0x4C4D4213u, u"The Mapbox style of this map was not found."},
        {0x4C4D4214u, u"The Mapbox tileset of this data layer was not found."},
        {0x4C4D4215u, u"A problem with the map service"},
        {0x4C4D4216u, u"Tract"},
        {0x4C4D4220u, u"\u00A9 Mapbox"},
        {0x4C4D4221u, u"Mapbox"},
        {0x4C4D4222u, u"https://www.mapbox.com/about/maps/"},
        {0x4C4D4223u, u"\u00A9 OpenStreetMap contributors"},
        {0x4C4D4224u, u"\u00A9 OSM"},
        {0x4C4D4230u, u"%1 \u2013 %2"},
        {0x4C4D4231u, u"Mapbox %1"},
        {0x4C4D4240u, u"Streets"},
        {0x4C4D4241u, u"Basic"},
        {0x4C4D4242u, u"Comic"},
        {0x4C4D4243u, u"Dark"},
        {0x4C4D4244u, u"Emerald"},
        {0x4C4D4245u, u"Pencil"},
        {0x4C4D4246u, u"Pirates"},
        {0x4C4D4247u, u"High Contrast"},
        {0x4C4D4248u, u"Run, Bike and Hike"},
        {0x4C4D4249u, u"Outdoors"},
        {0x4C4D424Au, u"Wheatpaste"},
        {0x4C4D424Bu, u"Streets and Satellite"},
        {0x4C4D424Cu, u"Satellite"},
        {0x4C4D424Du, u"Light"},
    };
    return table;
}

} // namespace

TString LookupTStr(StringId id) {
    const auto& table = Table();
    const auto found = table.find(id);
    if (found == table.end()) {
        return QStringLiteral("[missing string %1]").arg(id);
    }
    return TString::fromUtf16(found->second);
}

bool HasTStr(StringId id) {
    return Table().count(id) != 0;
}
