#pragma once
// Entries by URL in memory, until their expiry, under a reader-writer lock. No bound and no
// eviction: a source has a handful of styles and tilesets.

#include <QDateTime>
#include <functional>
#include <shared_mutex>
#include <unordered_map>

#include <lmxmaps/MapboxCaching.h>
#include <lmxmaps/host/HostClock.h>

namespace MapboxCaching {

template <class Entry>
class MemCache {
public:
    explicit MemCache(Clock now) : m_now(std::move(now)) {}

    bool TryUse(const TString& url, const std::function<void(const Entry&)>& use) const {
        std::shared_lock lock(m_mutex);
        const auto found = m_entries.find(url);
        if (found == m_entries.end() || found->second.expires < Now()) {
            return false;
        }
        use(found->second);
        return true;
    }

    void Put(const TString& url, const Entry& entry) {
        std::unique_lock lock(m_mutex);
        m_entries.insert_or_assign(url, entry);
    }

private:
    QDateTime Now() const { return m_now ? m_now() : HostClock::NowUtc(); }

    mutable std::shared_mutex m_mutex;
    std::unordered_map<TString, Entry> m_entries;
    Clock m_now;
};

} // namespace MapboxCaching
