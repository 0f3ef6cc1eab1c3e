#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include <lmxmaps/host/Counters.h>

namespace {
constexpr int kThreads = 8;
constexpr int kIncrementsPerThread = 20000;
} // namespace

TEST(HostCounters, OneNameIsOneCounterUnknownOnesReadZeroAndParallelIncrementsAllCount) {
    HostCounters::Counter& first = HostCounters::Find("CountersTest.Identity");
    HostCounters::Counter& again = HostCounters::Find(std::string("CountersTest.Identity"));
    EXPECT_EQ(&first, &again);
    EXPECT_EQ(first.GetName(), "CountersTest.Identity");
    const std::int64_t before = first.Get();
    first.Increment(5);
    HostCounters::Increment("CountersTest.Identity", -2);
    EXPECT_EQ(again.Get() - before, 3);

    EXPECT_EQ(HostCounters::Get("CountersTest.NeverUsed"), 0);
    const auto snapshot = HostCounters::Snapshot();
    EXPECT_TRUE(std::is_sorted(snapshot.begin(), snapshot.end()));
    const auto named = [&](const std::string& name) {
        return std::find_if(snapshot.begin(), snapshot.end(),
                            [&](const auto& entry) { return entry.first == name; });
    };
    EXPECT_EQ(named("CountersTest.NeverUsed"), snapshot.end());
    ASSERT_NE(named("CountersTest.Identity"), snapshot.end());
    EXPECT_EQ(named("CountersTest.Identity")->second, again.Get());

    const std::string shared = "CountersTest.Shared";
    const auto own = [](int thread) {
        return "CountersTest.Thread" + std::to_string(thread);
    };
    const auto burst = [](int thread, int i) {
        return "CountersTest.Burst" + std::to_string(thread) + "." + std::to_string(i);
    };
    // Counters outlive a test, so a repeated run counts on from where the last one stopped.
    const std::int64_t sharedBefore = HostCounters::Get(shared);
    const std::int64_t ownBefore = HostCounters::Get(own(0));
    const std::int64_t burstBefore = HostCounters::Get(burst(0, 19000));
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            HostCounters::Counter& counter = HostCounters::Find(own(thread));
            for (int i = 0; i < kIncrementsPerThread; ++i) {
                HostCounters::Increment(shared);
                counter.Increment(2);
                // New names while others count: the name table is replaced under them.
                if (i % 1000 == 0) {
                    HostCounters::Increment(burst(thread, i));
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(HostCounters::Get(shared) - sharedBefore, kThreads * kIncrementsPerThread);
    for (int thread = 0; thread < kThreads; ++thread) {
        EXPECT_EQ(HostCounters::Get(own(thread)) - ownBefore, 2 * kIncrementsPerThread);
        EXPECT_EQ(HostCounters::Get(burst(thread, 19000)) - burstBefore, 1);
    }
}
