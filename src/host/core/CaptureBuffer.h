#pragma once
// What a test capture of log lines, spans or telemetry events collects: records offered from
// any thread are kept while a capture is open. Offering costs one atomic load when none is.

#include <atomic>
#include <mutex>
#include <vector>

template <class Record>
class CaptureBuffer {
public:
    // Starts a capture, dropping what an earlier one left.
    void Open() {
        std::lock_guard lock(m_mutex);
        m_records.clear();
        m_open.store(true, std::memory_order_release);
    }

    void Close() {
        std::lock_guard lock(m_mutex);
        m_open.store(false, std::memory_order_release);
        m_records.clear();
    }

    void Offer(const Record& record) {
        if (m_open.load(std::memory_order_acquire)) {
            std::lock_guard lock(m_mutex);
            m_records.push_back(record);
        }
    }

    std::vector<Record> Records() const {
        std::lock_guard lock(m_mutex);
        return m_records;
    }

private:
    mutable std::mutex m_mutex;
    std::atomic<bool> m_open{false};
    std::vector<Record> m_records;
};
