#pragma once
// A named timing scope of the geometry operations: logs its wall time at Debug when it ends
// (also when it ends by an exception).

#include <chrono>

#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/TString.h>

namespace geom::detail {

class TimingScope {
public:
    explicit TimingScope(const char* name)
        : m_name(name), m_start(std::chrono::steady_clock::now()) {}
    ~TimingScope() {
        const double milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start)
                .count();
        try {
            TLog::LogMessage(TLog::Severity::Debug, QStringLiteral("%1: %2 ms")
                                                        .arg(QString::fromLatin1(m_name))
                                                        .arg(milliseconds, 0, 'f', 3));
        } catch (...) {
            // A failed log line must not end a scope that may be unwinding.
        }
    }
    TimingScope(const TimingScope&) = delete;
    TimingScope& operator=(const TimingScope&) = delete;

    const char* GetName() const { return m_name; }

private:
    const char* m_name;
    std::chrono::steady_clock::time_point m_start;
};

} // namespace geom::detail
