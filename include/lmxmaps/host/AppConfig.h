#pragma once
// How the application runs, from the option "AppMode": "desktop" (the default), "server" (no
// user to ask anything), "reader" (documents are only viewed) or "test" (fixed version strings
// for reproducible output).

#include <lmxmaps/host/TString.h>

namespace AppConfig {

bool IsServer();
bool IsReader();
bool IsTestMode();

// The application's name as the user sees it ("lmxmaps" unless the host set another).
TString ApplicationBaseName();
// The build version, "0.0000.0000" in test mode so output does not change between builds.
TString BuildVersion();

} // namespace AppConfig
