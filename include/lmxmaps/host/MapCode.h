#pragma once
// The tile set a view is drawn from. Each code has a directory name under which its tiles are
// kept, locally and in caches.

#include <lmxmaps/host/LanguageCode.h>
#include <lmxmaps/host/TString.h>

enum class MapCode : int {
    // The world background map.
    Default = 0,
};

// The code's directory name ("default").
TString MapCodeString(MapCode code);

// The map a user of that language is shown: the world map for every language so far.
MapCode LanguageMapCode(const LanguageCode& language);
