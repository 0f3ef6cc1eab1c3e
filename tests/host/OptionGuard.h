#pragma once
// Options are process-wide: a test that sets one puts it back when it ends.

#include <cstdlib>

#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>

// Restores an option and its environment variable, and the log settings read from them.
class OptionGuard {
public:
    explicit OptionGuard(const char* name) : m_name(QString::fromLatin1(name)) {}
    ~OptionGuard() {
        Options::Set(m_name, std::nullopt);
        ::unsetenv(Options::EnvironmentName(m_name).toLatin1().constData());
        TLog::ReloadOptions();
    }
    OptionGuard(const OptionGuard&) = delete;
    OptionGuard& operator=(const OptionGuard&) = delete;

private:
    TString m_name;
};
