#pragma once
// A generic in-memory cache of reference-counted objects with a logical clock and a pluggable
// eviction policy.
//
// Each entry has an id that is never reused within one cache, and a stamp: the clock reading
// when it was last added or used (higher means more recent). AddEntry and
// UseEntry stamp the entry with the current clock; IncrementClock advances the clock and then
// lets the policy choose which entries stay. Entries are visited in the order they were added.
//
// Cache is not thread-safe: its users hold their own lock around every call (including the
// policy, which runs inside IncrementClock). Entries that leave the cache are released only
// after the cache is consistent again, so a payload's destructor may call back into the cache
// under a recursive lock.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <lmxmaps/host/RefCnt.h>

class Cache;

namespace CacheHelpers {

using EntryId = std::uint64_t;
using ClockValue = std::uint64_t;

class Entry {
public:
    Entry(EntryId id, ClockValue clock, RefCntPtr<RefCntObject> data)
        : m_id(id), m_clock(clock), m_data(std::move(data)) {}

    EntryId GetId() const { return m_id; }
    // The cache clock at the entry's last addition or use.
    ClockValue GetClock() const { return m_clock; }
    const RefCntPtr<RefCntObject>& GetData() const { return m_data; }

private:
    friend class ::Cache;

    EntryId m_id;
    ClockValue m_clock;
    RefCntPtr<RefCntObject> m_data;
};

// Selects entries for UseEntry, HasEntry and DeleteEntries. Not const, so that a predicate
// may collect what it visits.
class EntryPredicate {
public:
    virtual ~EntryPredicate() = default;
    virtual bool Matches(const Entry& entry) = 0;
};

class IPolicy {
public:
    virtual ~IPolicy() = default;
    // Given every entry of the cache in the order they were added, leaves in `entries` those
    // that stay (in any order); the cache drops the others. Must not add entries.
    virtual void SelectEntriesToKeep(std::vector<Entry>& entries) = 0;

    virtual void OnEntryAdded(const Entry& /*entry*/) {}
    virtual void OnEntryUsed(const Entry& /*entry*/) {}
    // An entry left the cache: deleted, or dropped by the policy's selection.
    virtual void OnEntryRemoved(const Entry& /*entry*/) {}
};

} // namespace CacheHelpers

class Cache {
public:
    explicit Cache(std::unique_ptr<CacheHelpers::IPolicy> policy);
    ~Cache();
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    // Adds data stamped with the current clock and returns the new id. If an equal payload is
    // cached already, that one is kept.
    CacheHelpers::EntryId AddEntry(RefCntPtr<RefCntObject> data);

    // The first entry (in order of addition) the predicate accepts, its clock refreshed to the
    // current clock; nothing when none does.
    std::optional<CacheHelpers::Entry> UseEntry(CacheHelpers::EntryPredicate& predicate);
    // The entry with this id, its clock refreshed; nothing when it left the cache.
    std::optional<CacheHelpers::Entry> UseEntry(CacheHelpers::EntryId id);

    // Visits entries in order of addition until the predicate accepts one; clocks stay.
    bool HasEntry(CacheHelpers::EntryPredicate& predicate) const;

    // Removes every entry, or every entry the predicate accepts; returns how many went.
    std::size_t DeleteEntries();
    std::size_t DeleteEntries(CacheHelpers::EntryPredicate& predicate);

    // Advances the clock, then applies the policy's selection and drops what it left out.
    void IncrementClock();

    std::size_t GetSize() const { return m_entries.size(); }
    CacheHelpers::ClockValue GetClock() const { return m_clock; }
    // A copy of every entry in order of addition (for diagnostics and tests).
    std::vector<CacheHelpers::Entry> GetEntries() const;

private:
    // Ids grow with every addition, so ordering by id is ordering by addition.
    std::map<CacheHelpers::EntryId, CacheHelpers::Entry> m_entries;
    std::unique_ptr<CacheHelpers::IPolicy> m_policy;
    CacheHelpers::ClockValue m_clock = 0;
    CacheHelpers::EntryId m_nextId = 1;
};
