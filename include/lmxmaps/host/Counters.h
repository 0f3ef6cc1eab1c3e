#pragma once
// Process-wide named 64-bit counters ("MappedImageCacheHits", ...) for diagnostics.
//
// A counter is created at zero the first time its name is used and lives until the process
// ends. Finding a registered counter by name takes no lock (the name table is copied on the
// rare registration and published atomically); counting is one relaxed atomic add. Hot callers
// may keep the Counter reference that Find returns and skip the name look-up altogether.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace HostCounters {

class Counter {
public:
    explicit Counter(std::string name) : m_name(std::move(name)) {}
    Counter(const Counter&) = delete;
    Counter& operator=(const Counter&) = delete;

    void Increment(std::int64_t by = 1) noexcept {
        m_value.fetch_add(by, std::memory_order_relaxed);
    }
    std::int64_t Get() const noexcept { return m_value.load(std::memory_order_relaxed); }
    const std::string& GetName() const { return m_name; }

private:
    std::string m_name;
    std::atomic<std::int64_t> m_value{0};
};

// The counter with this name, registered at zero on first use. The reference stays valid
// until the process ends.
Counter& Find(std::string_view name);

void Increment(std::string_view name, std::int64_t by = 1);
// The counter's value; 0 for a name never used (without registering it).
std::int64_t Get(std::string_view name);

// Every registered counter and its value, ordered by name.
std::vector<std::pair<std::string, std::int64_t>> Snapshot();

} // namespace HostCounters
