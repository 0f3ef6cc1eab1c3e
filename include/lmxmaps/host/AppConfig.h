#pragma once
// How the application runs, from the option "AppMode": "desktop" (the default), "server" (no
// user to ask anything), "reader" (documents are only viewed) or "test" (fixed version strings
// for reproducible output).

namespace AppConfig {

bool IsServer();
bool IsReader();
bool IsTestMode();

} // namespace AppConfig
