#pragma once
// Directories the module reads and writes.

#include <lmxmaps/host/TString.h>

namespace HostPaths {

// The per-user directory of lmxmaps' caches and data ($XDG_CACHE_HOME/lmxmaps, usually
// ~/.cache/lmxmaps); empty when the system has no cache location.
TString UserCacheDirectory();

// The directory a directory option names: its value, or for "auto" the per-user directory
// (with subdirectory appended when given); empty when the option is empty or, for "auto",
// the system has no cache location.
TString ConfiguredDirectory(const char* option, const char* subdirectory = nullptr);

// The directory of local map tiles (option "MapTilesDirectory"; "auto" is "maptiles" in the
// per-user directory).
TString MapTilesDirectory();

} // namespace HostPaths
