#pragma once
// OpenGL through Qt needs an X display even for off-screen work on Linux. A server has none:
// EnsureDisplay starts a private X server (Xvfb) on a free display number, points DISPLAY at it
// and selects Qt's offscreen platform, so that a QGuiApplication made afterwards can render.
// The X server stops when the process exits.

#include <lmxmaps/host/TString.h>

namespace HeadlessDisplay {

// Does nothing when DISPLAY is set. Otherwise starts Xvfb and sets DISPLAY and, unless it is
// set, QT_QPA_PLATFORM=offscreen. Call before making the QGuiApplication. False with a message
// in error when no X server could be started (Xvfb missing or failing).
bool EnsureDisplay(TString& error);

} // namespace HeadlessDisplay
