#pragma once
// Helpers for the dialog in which a user adds a Mapbox map: validating account, token and
// style/tileset ids with the service, assembling the new source's attributes, layers and
// styles, taking a pasted style URL apart, and forming mapbox:// style URLs.
//
// The Mapbox web API these talk to is the option "MapboxApiUrl".

#include <memory>
#include <unordered_map>
#include <vector>

#include <lmxmaps/MapLayers.h>
#include <lmxmaps/host/StringTable.h>
#include <lmxmaps/host/TString.h>

class MapSource;

namespace MapboxUtils {

// What the service said about each id (its flattened JSON answer), and under "error-msg" what
// it said about the first one it refused.
using ServerInfo = std::unordered_map<TString, std::unordered_map<TString, TString>>;

inline constexpr const char16_t* kErrorMessageKey = u"error-msg";
// Longest accepted token, user name and id, plus one.
inline constexpr int kMaxInputLength = 500;
inline constexpr const char16_t* kWaitTileColor = u"#dddddd";
inline constexpr StringId kMapboxStyleNameFormat = 0x4C4D4231u;

// Style-model entries SetMapboxMapSourceDefaults writes.
inline constexpr const char16_t* kSelectedStyleEntry = u"map-style";
inline constexpr const char16_t* kSelectedLayerEntryPrefix = u"map-layer:";
inline constexpr const char16_t* kWashoutEntry = u"map-washout";

// "mapbox://styles/<account>/<style id>".
TString CreateMapboxVectorStyleUrl(const TString& account, const TString& styleId);

// Splits a style URL of the Mapbox web API (/styles/<version>/<user>/<style>.<ext>, with its
// access_token); outputs stay untouched unless the host is the API's and the path has at least
// four segments. styleId is set only when the fourth segment is not empty.
void GetMapboxParametersFromURL(const TString& url, TString& apiVersion, TString& username,
                                TString& accessToken, TString& styleId);

// Checks the form of the token, the user name (may be empty: then the ids are tilesets) and
// the ids, then asks the service for each id and files its answer in info (a refusal under
// "error-msg"). False at the first failure. Throws std::runtime_error only for an answer that
// is JSON but not an object.
bool ValidateMapboxServerInfo(const TString& username, const TString& accessToken,
                              const std::vector<TString>& ids, ServerInfo& info);

// The members of a JSON object's text whose values are strings or numbers (numbers as text,
// reals with 6 significant digits), added to values; nothing for text that is not JSON.
// Throws std::runtime_error for JSON that is not an object.
void FlattenJsonObject(const TString& text, std::unordered_map<TString, TString>& values);

// One feature layer per id, from the id's info (an empty entry is added for an id info lacks).
RefCntPtr<MapLayers> CreateMapboxServerLayers(const std::vector<TString>& ids, ServerInfo& info);

// Gives the source's provider a map style, plus the stored layer data of each id. With a single
// entry in info the style is named by that id's mapbox:// URL.
void CreateMapboxStyles(const std::shared_ptr<MapSource>& source, const std::vector<TString>& ids,
                        const TString& styleName, const ServerInfo& info);

// A new source of class "CustomMapbox" for a user's account and key. Throws what the map-source
// factory throws.
std::shared_ptr<MapSource> CreateNewMapboxMapSource(const TString& username, const TString& name,
                                                    const TString& apiKey, const ServerInfo& info,
                                                    const TString& fullUrl);

// Writes a new source's default choices into its style set: the first map style of a
// "CustomMapbox" source (a LogicException when it has none), or the default layers of other
// sources, then a washout of 0. scope prefixes the entries ("<scope>.map-style"); empty: none.
void SetMapboxMapSourceDefaults(const std::shared_ptr<MapSource>& source, const TString& scope);

// The display name of a classic raster style id ("mapbox.streets"); empty for other ids.
TString ClassicStyleDisplayName(const TString& styleId);

} // namespace MapboxUtils
