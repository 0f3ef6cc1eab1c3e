#include <atomic>

#include <lmxmaps/host/HostClock.h>

namespace HostClock {

namespace {
std::atomic<qint64> g_offsetSeconds{0};
}

QDateTime Now() {
    return QDateTime::currentDateTime().addSecs(g_offsetSeconds.load(std::memory_order_relaxed));
}

QDateTime NowUtc() {
    return QDateTime::currentDateTimeUtc().addSecs(g_offsetSeconds.load(std::memory_order_relaxed));
}

ScopedShift::ScopedShift(qint64 seconds) : m_seconds(seconds) {
    g_offsetSeconds.fetch_add(seconds, std::memory_order_relaxed);
}

ScopedShift::~ScopedShift() {
    g_offsetSeconds.fetch_sub(m_seconds, std::memory_order_relaxed);
}

} // namespace HostClock
