#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include <lmxmaps/host/RefCnt.h>

namespace {

class Tracked : public RefCntObject {
public:
    explicit Tracked(std::atomic<int>& destroyed) : m_destroyed(destroyed) {}
    ~Tracked() override { ++m_destroyed; }

private:
    std::atomic<int>& m_destroyed;
};

class Derived : public Tracked {
public:
    using Tracked::Tracked;
};

} // namespace

TEST(RefCntPtr, OwnershipFollowsTheLastReferenceCastsShareTheCountAndCountingIsThreadSafe) {
    std::atomic<int> destroyed{0};
    RefCntPtr<Tracked> a = MakeRefCnt<Tracked>(destroyed);
    EXPECT_EQ(a->GetRefCount(), 1);
    {
        RefCntPtr<Tracked> b = a;
        RefCntPtr<const Tracked> c = b;
        EXPECT_EQ(a->GetRefCount(), 3);
        EXPECT_TRUE(c == a);
    }
    EXPECT_EQ(a->GetRefCount(), 1);
    RefCntPtr<Tracked> moved = std::move(a);
    EXPECT_FALSE(a);
    EXPECT_EQ(moved->GetRefCount(), 1);
    moved = moved;
    EXPECT_EQ(destroyed, 0);
    moved.reset();
    EXPECT_EQ(destroyed, 1);

    RefCntPtr<Tracked> base = MakeRefCnt<Derived>(destroyed);
    RefCntPtr<Derived> derived = RefCntDynamicCast<Derived>(base);
    ASSERT_TRUE(derived);
    EXPECT_EQ(base->GetRefCount(), 2);
    RefCntPtr<Tracked> other = MakeRefCnt<Tracked>(destroyed);
    EXPECT_FALSE(RefCntDynamicCast<Derived>(other));
    base.reset();
    derived.reset();
    EXPECT_EQ(destroyed, 2);

    std::atomic<int> sharedDestroyed{0};
    RefCntPtr<Tracked> shared = MakeRefCnt<Tracked>(sharedDestroyed);
    constexpr int kThreads = 4;
    constexpr int kCopies = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&shared] {
            for (int i = 0; i < kCopies; ++i) {
                RefCntPtr<Tracked> copy = shared;
                RefCntPtr<const Tracked> another = copy;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(shared->GetRefCount(), 1);
    EXPECT_EQ(sharedDestroyed, 0);
    shared.reset();
    EXPECT_EQ(sharedDestroyed, 1);
}
