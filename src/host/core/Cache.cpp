#include <unordered_set>

#include <lmxmaps/host/Cache.h>
#include <lmxmaps/host/LumivexException.h>

using CacheHelpers::Entry;
using CacheHelpers::EntryId;

namespace {
constexpr std::uint32_t kPolicyInventedEntryAssert = 0x43414331;
constexpr std::uint32_t kPolicyDuplicatedEntryAssert = 0x43414332;
constexpr std::uint32_t kMissingPolicyAssert = 0x43414333;
} // namespace

Cache::Cache(std::unique_ptr<CacheHelpers::IPolicy> policy) : m_policy(std::move(policy)) {
    LMX_LOGIC_ASSERT_ID(m_policy != nullptr, kMissingPolicyAssert);
}

Cache::~Cache() {
    // Detached first, so that a payload's destructor finds a consistent (empty) cache.
    std::map<EntryId, Entry> entries;
    entries.swap(m_entries);
}

EntryId Cache::AddEntry(RefCntPtr<RefCntObject> data) {
    const EntryId id = m_nextId++;
    const auto [inserted, _] = m_entries.emplace(id, Entry(id, m_clock, std::move(data)));
    m_policy->OnEntryAdded(inserted->second);
    return id;
}

std::optional<Entry> Cache::UseEntry(CacheHelpers::EntryPredicate& predicate) {
    for (auto& [id, entry] : m_entries) {
        if (predicate.Matches(entry)) {
            entry.m_clock = m_clock;
            m_policy->OnEntryUsed(entry);
            return entry;
        }
    }
    return std::nullopt;
}

std::optional<Entry> Cache::UseEntry(EntryId id) {
    const auto found = m_entries.find(id);
    if (found == m_entries.end()) {
        return std::nullopt;
    }
    found->second.m_clock = m_clock;
    m_policy->OnEntryUsed(found->second);
    return found->second;
}

bool Cache::HasEntry(CacheHelpers::EntryPredicate& predicate) const {
    for (const auto& [id, entry] : m_entries) {
        if (predicate.Matches(entry)) {
            return true;
        }
    }
    return false;
}

std::size_t Cache::DeleteEntries() {
    std::map<EntryId, Entry> removed;
    removed.swap(m_entries);
    for (const auto& [id, entry] : removed) {
        m_policy->OnEntryRemoved(entry);
    }
    return removed.size();
}

std::size_t Cache::DeleteEntries(CacheHelpers::EntryPredicate& predicate) {
    std::vector<Entry> removed;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (predicate.Matches(it->second)) {
            removed.push_back(std::move(it->second));
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
    for (const Entry& entry : removed) {
        m_policy->OnEntryRemoved(entry);
    }
    return removed.size();
}

void Cache::IncrementClock() {
    ++m_clock;
    std::unordered_set<EntryId> keptIds;
    {
        // The policy's copies go before anything is dropped, so that dropping really releases.
        std::vector<Entry> kept = GetEntries();
        m_policy->SelectEntriesToKeep(kept);
        keptIds.reserve(kept.size());
        for (const Entry& entry : kept) {
            LMX_LOGIC_ASSERT_ID(m_entries.contains(entry.GetId()), kPolicyInventedEntryAssert);
            const bool firstTime = keptIds.insert(entry.GetId()).second;
            LMX_LOGIC_ASSERT_ID(firstTime, kPolicyDuplicatedEntryAssert);
        }
    }
    if (keptIds.size() == m_entries.size()) {
        return;
    }
    std::vector<Entry> dropped;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (keptIds.contains(it->first)) {
            ++it;
        } else {
            dropped.push_back(std::move(it->second));
            it = m_entries.erase(it);
        }
    }
    for (const Entry& entry : dropped) {
        m_policy->OnEntryRemoved(entry);
    }
}

std::vector<Entry> Cache::GetEntries() const {
    std::vector<Entry> entries;
    entries.reserve(m_entries.size());
    for (const auto& [id, entry] : m_entries) {
        entries.push_back(entry);
    }
    return entries;
}
