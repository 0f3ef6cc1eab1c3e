#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

#include <lmxmaps/host/Cache.h>
#include <lmxmaps/host/LumivexException.h>

using CacheHelpers::Entry;
using CacheHelpers::EntryId;

namespace {

class Payload : public RefCntObject {
public:
    explicit Payload(int value, std::vector<int>* destroyed = nullptr)
        : m_value(value), m_destroyed(destroyed) {}
    ~Payload() override {
        if (m_destroyed) {
            m_destroyed->push_back(m_value);
        }
    }
    int GetValue() const { return m_value; }

private:
    int m_value;
    std::vector<int>* m_destroyed;
};

RefCntPtr<RefCntObject> MakePayload(int value, std::vector<int>* destroyed = nullptr) {
    return RefCntPtr<RefCntObject>(new Payload(value, destroyed));
}

int ValueOf(const Entry& entry) {
    return static_cast<const Payload&>(*entry.GetData()).GetValue();
}

class ValueIs : public CacheHelpers::EntryPredicate {
public:
    explicit ValueIs(int value) : m_value(value) {}
    bool Matches(const Entry& entry) override {
        ++visits;
        return ValueOf(entry) == m_value;
    }
    int visits = 0;

private:
    int m_value;
};

// Keeps the `limit` entries with the largest clocks and records what it is told.
class KeepMostRecent : public CacheHelpers::IPolicy {
public:
    explicit KeepMostRecent(std::size_t limit) : m_limit(limit) {}

    void SelectEntriesToKeep(std::vector<Entry>& entries) override {
        ++selections;
        if (entries.size() <= m_limit) {
            return;
        }
        std::nth_element(
            entries.begin(), entries.begin() + static_cast<long>(m_limit) - 1, entries.end(),
            [](const Entry& a, const Entry& b) { return a.GetClock() > b.GetClock(); });
        entries.erase(entries.begin() + static_cast<long>(m_limit), entries.end());
    }
    void OnEntryAdded(const Entry& entry) override { added.push_back(ValueOf(entry)); }
    void OnEntryUsed(const Entry& entry) override { used.push_back(ValueOf(entry)); }
    void OnEntryRemoved(const Entry& entry) override { removed.push_back(ValueOf(entry)); }

    int selections = 0;
    std::vector<int> added;
    std::vector<int> used;
    std::vector<int> removed;

private:
    std::size_t m_limit;
};

std::vector<int> Values(const Cache& cache) {
    std::vector<int> values;
    for (const Entry& entry : cache.GetEntries()) {
        values.push_back(ValueOf(entry));
    }
    return values;
}

} // namespace

TEST(Cache, EntriesGetFreshIdsAndClocksAndUseTakesTheFirstMatchButHasEntryNot) {
    Cache cache(std::make_unique<KeepMostRecent>(10));
    EXPECT_EQ(cache.GetClock(), 0u);
    const EntryId first = cache.AddEntry(MakePayload(1));
    cache.IncrementClock();
    const EntryId second = cache.AddEntry(MakePayload(2));
    cache.IncrementClock();
    EXPECT_NE(first, second);
    EXPECT_EQ(cache.GetSize(), 2u);
    EXPECT_EQ(cache.GetClock(), 2u);

    const std::vector<Entry> entries = cache.GetEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].GetId(), first);
    EXPECT_EQ(entries[0].GetClock(), 0u);
    EXPECT_EQ(entries[1].GetId(), second);
    EXPECT_EQ(entries[1].GetClock(), 1u);

    const std::optional<Entry> used = cache.UseEntry(first);
    ASSERT_TRUE(used);
    EXPECT_EQ(ValueOf(*used), 1);
    EXPECT_EQ(used->GetClock(), 2u);
    EXPECT_EQ(cache.GetEntries()[0].GetClock(), 2u);

    // Ids are never reused, so a stale id finds nothing rather than a newcomer.
    ASSERT_EQ(cache.DeleteEntries(), 2u);
    const EntryId third = cache.AddEntry(MakePayload(3));
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
    EXPECT_FALSE(cache.UseEntry(first));
    EXPECT_FALSE(cache.UseEntry(EntryId{9999}));

    // Use takes the first match; a look for one leaves the clocks alone.
    Cache matching(std::make_unique<KeepMostRecent>(10));
    const EntryId firstSeven = matching.AddEntry(MakePayload(7));
    matching.AddEntry(MakePayload(8));
    matching.AddEntry(MakePayload(7));
    matching.IncrementClock();

    ValueIs seven(7);
    const std::optional<Entry> usedSeven = matching.UseEntry(seven);
    ASSERT_TRUE(usedSeven);
    EXPECT_EQ(usedSeven->GetId(), firstSeven);
    EXPECT_EQ(seven.visits, 1);
    EXPECT_EQ(matching.GetEntries()[0].GetClock(), 1u);

    ValueIs nine(9);
    EXPECT_FALSE(matching.UseEntry(nine));
    EXPECT_EQ(nine.visits, 3);

    matching.IncrementClock();
    ValueIs eight(8);
    EXPECT_TRUE(matching.HasEntry(eight));
    EXPECT_EQ(eight.visits, 2);
    EXPECT_EQ(matching.GetEntries()[1].GetClock(), 0u);
    EXPECT_FALSE(matching.HasEntry(nine));
    EXPECT_EQ(nine.visits, 6);
}

TEST(Cache, PolicyDropsTheLeastRecentlyUsedAfterTheSelectionAndMayNotInventOrRepeatEntries) {
    std::vector<int> destroyed;
    auto policy = std::make_unique<KeepMostRecent>(3);
    KeepMostRecent& policyView = *policy;
    Cache cache(std::move(policy));

    // Payloads that check, while they are destroyed, that the cache no longer holds them.
    class Checked : public Payload {
    public:
        Checked(int value, std::vector<int>* destroyed, const Cache& cache)
            : Payload(value, destroyed), m_cache(cache) {}
        ~Checked() override {
            for (const Entry& entry : m_cache.GetEntries()) {
                EXPECT_NE(entry.GetData().get(), this);
            }
        }

    private:
        const Cache& m_cache;
    };

    for (int value = 1; value <= 3; ++value) {
        cache.AddEntry(RefCntPtr<RefCntObject>(new Checked(value, &destroyed, cache)));
        cache.IncrementClock();
    }
    EXPECT_TRUE(destroyed.empty());

    // A use makes the oldest entry the most recent, so the second one goes instead.
    ValueIs one(1);
    ASSERT_TRUE(cache.UseEntry(one));
    cache.AddEntry(RefCntPtr<RefCntObject>(new Checked(4, &destroyed, cache)));
    cache.IncrementClock();
    EXPECT_EQ(Values(cache), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(destroyed, (std::vector<int>{2}));

    cache.AddEntry(RefCntPtr<RefCntObject>(new Checked(5, &destroyed, cache)));
    cache.IncrementClock();
    EXPECT_EQ(Values(cache), (std::vector<int>{1, 4, 5}));
    EXPECT_EQ(destroyed, (std::vector<int>{2, 3}));

    EXPECT_EQ(policyView.selections, 5);
    EXPECT_EQ(policyView.added, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(policyView.used, (std::vector<int>{1}));
    EXPECT_EQ(policyView.removed, (std::vector<int>{2, 3}));

    // A policy that invents or repeats entries is a logic error.
    class Inventing : public CacheHelpers::IPolicy {
    public:
        void SelectEntriesToKeep(std::vector<Entry>& entries) override {
            entries.emplace_back(EntryId{12345}, 0, MakePayload(0));
        }
    };
    class Repeating : public CacheHelpers::IPolicy {
    public:
        void SelectEntriesToKeep(std::vector<Entry>& entries) override {
            entries.push_back(entries.front());
        }
    };
    Cache inventing(std::make_unique<Inventing>());
    inventing.AddEntry(MakePayload(1));
    EXPECT_THROW(inventing.IncrementClock(), LogicException);
    Cache repeating(std::make_unique<Repeating>());
    repeating.AddEntry(MakePayload(1));
    EXPECT_THROW(repeating.IncrementClock(), LogicException);
    EXPECT_THROW(Cache(nullptr), LogicException);
}

TEST(Cache, AnEntryHeldOutsideOutlivesItsEvictionAndDeleteEntriesCountsTheMatches) {
    std::vector<int> destroyed;
    Cache cache(std::make_unique<KeepMostRecent>(1));
    cache.AddEntry(MakePayload(1, &destroyed));
    cache.IncrementClock();
    ValueIs one(1);
    const std::optional<Entry> held = cache.UseEntry(one);
    ASSERT_TRUE(held);
    cache.IncrementClock();
    cache.AddEntry(MakePayload(2, &destroyed));
    cache.IncrementClock();
    EXPECT_EQ(Values(cache), (std::vector<int>{2}));
    EXPECT_TRUE(destroyed.empty());
    EXPECT_EQ(ValueOf(*held), 1);

    std::vector<int> deleted;
    auto policy = std::make_unique<KeepMostRecent>(10);
    KeepMostRecent& policyView = *policy;
    Cache deleting(std::move(policy));
    for (int value : {1, 2, 1, 3, 1}) {
        deleting.AddEntry(MakePayload(value, &deleted));
    }
    ValueIs ones(1);
    EXPECT_EQ(deleting.DeleteEntries(ones), 3u);
    EXPECT_EQ(Values(deleting), (std::vector<int>{2, 3}));
    EXPECT_EQ(deleted, (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(deleting.DeleteEntries(ones), 0u);

    EXPECT_EQ(deleting.DeleteEntries(), 2u);
    EXPECT_EQ(deleting.GetSize(), 0u);
    EXPECT_EQ(deleted.size(), 5u);
    EXPECT_EQ(policyView.removed, (std::vector<int>{1, 1, 1, 2, 3}));
    EXPECT_EQ(deleting.DeleteEntries(), 0u);
}
