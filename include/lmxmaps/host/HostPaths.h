#pragma once
// Directories the module reads and writes.

#include <lmxmaps/host/TString.h>

namespace HostPaths {

// The per-user directory of lmxmaps' caches and data ($XDG_CACHE_HOME/lmxmaps, usually
// ~/.cache/lmxmaps); empty when the system has no cache location.
TString UserCacheDirectory();

// The directory of local map tiles (option "MapTilesDirectory"; "auto" is "maptiles" in the
// per-user directory).
TString MapTilesDirectory();

} // namespace HostPaths
