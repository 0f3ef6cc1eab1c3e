#pragma once
// Logging front over spdlog.
//
// Lines go to stderr at or above the level of the option "LogLevel" (debug, info, warn,
// error, off). Detailed logging of one area (for instance per-tile lines) is switched on by
// numeric detail tags, listed in the option "LogDetailTags" ("30,31").

#include <vector>

#include <lmxmaps/host/TString.h>

namespace TLog {

enum class Severity { Debug, Info, Warn, Error };

void LogMessage(Severity severity, const TString& message);
// A line from a named log site ("LogSite_<name>_0x<id>").
void LogMessage(Severity severity, const TString& logSite, const TString& message);

bool IsDetailTagOn(int tag);

// Re-reads "LogLevel" and "LogDetailTags" after the options changed.
void ReloadOptions();

struct Record {
    Severity severity;
    TString logSite;
    TString message;
};

// Collects every line logged on any thread while it lives (for tests and diagnostics); the
// lines still go to stderr too. Captures do not nest.
class ScopedCapture {
public:
    ScopedCapture();
    ~ScopedCapture();
    ScopedCapture(const ScopedCapture&) = delete;
    ScopedCapture& operator=(const ScopedCapture&) = delete;

    std::vector<Record> Records() const;
};

} // namespace TLog
