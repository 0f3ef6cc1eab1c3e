#pragma once
// The network rules (TNetworkRules) over what the vector map fetches itself: style sources,
// tiles, glyphs and sprites.
//
// QMapboxGL passes the URL of each such request through the resource transform of its
// settings. Maps with the same tile cache path share one file source, and that file source
// keeps only the transform of the map made last, run on that map's thread: once that map is
// gone, requests of the others would wait for a transform that never answers. So no map of ours
// installs the transform itself. For each tile cache path in use, a small idle map made on a
// thread of its own, which always runs its event loop, installs Filter, and lives as long as
// any map of that path.
//
// Filter resolves the host as the map is about to fetch from it; the map's HTTP client
// resolves the name again when it connects and does not follow redirects.

#include <string>

class QMapboxGL;
class QMapboxGLSettings;

namespace MapResourceGate {

// Where a refused request goes instead: a loopback port nothing listens on.
inline constexpr const char* kRefusedUrl = "http://127.0.0.1:1/refused-by-network-rules";

// The URL itself when it is http or https and every address its host resolves to passes the
// network rules as the options hold them now; otherwise kRefusedUrl (a name that does not
// resolve is refused). Host look-ups are kept for a minute. Thread-safe.
std::string Filter(const std::string& url);

// Makes Filter the transform of every map with settings' tile cache path for as long as map
// lives. Call on the map's thread right after making it, before it fetches anything. Throws
// LumivexException when there is no Qt application to run the transform's event loop.
void Guard(QMapboxGL& map, const QMapboxGLSettings& settings);

} // namespace MapResourceGate
