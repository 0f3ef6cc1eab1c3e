#pragma once
// Reading Mapbox style and tileset documents into map layers and settings.

#include <rapidjson/document.h>
#include <vector>

#include <lmxmaps/MapboxCaching.h>

namespace MapboxDocuments {

// Parses a style into document; false when it is not JSON or lacks what a style needs ("name",
// "layers", and "lumivex:languages" beside "lumivex:layers"), after a Warn line naming the
// missing key.
bool ReadStyle(const TString& text, rapidjson::Document& document);
// The same for a tileset, which needs "propertyStash".
bool ReadTileset(const TString& text, rapidjson::Document& document);

// The style's feature layers. A user's own style carries no minimum zooms (its author decides
// what shows when).
std::vector<MapLayer> StyleLayers(const rapidjson::Document& style, const TString& styleName,
                                  bool isUserStyle);
// Fills languages and the demographic settings of entry from the style's metadata.
void ReadStyleSettings(const rapidjson::Document& style, MapboxCaching::StyleEntry& entry);
// The lowest zoom at which the layer can show anything: its "minzoom", raised to the first zoom
// of any size or opacity that grows from 0 by zoom.
double MinimumZoom(const rapidjson::Value& layer);

// One data layer per property set of the tileset's "propertyStash", requested by the
// tileset's mapbox:// URL.
std::vector<MapLayer> TilesetLayers(const rapidjson::Document& tileset, const TString& tilesetUrl);

} // namespace MapboxDocuments
