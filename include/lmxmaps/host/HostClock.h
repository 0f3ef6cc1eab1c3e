#pragma once
// The wall clock that cache ages are measured with. Tests can move it to check time-based rules
// without waiting.

#include <QDateTime>

namespace HostClock {

// The local time now, shifted by the current test offset.
QDateTime Now();
// The same in UTC; much cheaper, as no time zone is consulted.
QDateTime NowUtc();

// Shifts Now() by an offset while it lives (offsets of nested shifts add up).
class ScopedShift {
public:
    explicit ScopedShift(qint64 seconds);
    ~ScopedShift();
    ScopedShift(const ScopedShift&) = delete;
    ScopedShift& operator=(const ScopedShift&) = delete;

private:
    qint64 m_seconds;
};

} // namespace HostClock
