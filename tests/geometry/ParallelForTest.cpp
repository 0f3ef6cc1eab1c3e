// ParallelFor: every index once, the first exception rethrown once after every task finished
// (its type kept), the serial scope, and the sequential fallbacks.

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <lmxmaps/ParallelFor.h>
#include <lmxmaps/host/AsyncTask.h>

namespace {

// The indices a loop visits, in order, after checking that it ran them all on this thread.
std::vector<std::size_t> IndicesRunOnTheCallingThread(
    const std::function<void(const std::function<void(std::size_t)>&)>& loop) {
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<std::size_t> order;
    bool sameThread = true;
    loop([&](std::size_t i) {
        sameThread = sameThread && std::this_thread::get_id() == caller;
        order.push_back(i); // unsynchronized on purpose: serial means one thread, in order
    });
    EXPECT_TRUE(sameThread);
    return order;
}

} // namespace

TEST(ParallelFor, RunsEveryIndexExactlyOnce) {
    struct Range {
        std::size_t begin, end, step;
    };
    const Range ranges[] = {{0, 0, 1},   {5, 5, 1},    {7, 3, 1},       {0, 1, 1},
                            {0, 2, 1},   {3, 1000, 1}, {0, 100000, 1},  {1, 1000, 3},
                            {10, 11, 7}, {0, 999, 10}, {2, 50000, 999}, {0, 65537, 2}};
    for (bool parallel : {true, false}) {
        for (const Range& r : ranges) {
            std::vector<std::atomic<int>> counts(r.end + r.step + 1);
            ParallelFor(
                r.begin, r.end, r.step, [&](std::size_t i) { counts.at(i).fetch_add(1); },
                parallel);
            for (std::size_t i = 0; i < counts.size(); ++i) {
                const bool expected = i >= r.begin && i < r.end && (i - r.begin) % r.step == 0;
                ASSERT_EQ(counts[i].load(), expected ? 1 : 0)
                    << "index " << i << " of [" << r.begin << ", " << r.end << ") step " << r.step
                    << (parallel ? " parallel" : " serial");
            }
        }
    }
    EXPECT_THROW(ParallelFor(0, 10, 0, [](std::size_t) {}), std::invalid_argument);
}

TEST(ParallelFor, TheFirstExceptionIsRethrownOnceAfterEveryTaskFinished) {
    constexpr int kRounds = 20;
    constexpr std::size_t kCount = 1000;
    for (int round = 0; round < kRounds; ++round) {
        // Odd rounds: every task throws.
        const std::size_t throwEvery = round % 2 == 0 ? 97 : 1;
        std::atomic<int> running{0};
        std::atomic<int> finished{0};
        int caught = 0;
        try {
            ParallelFor(0, kCount, 1, [&](std::size_t i) {
                running.fetch_add(1);
                if (i % throwEvery == 0) {
                    running.fetch_sub(1);
                    throw std::runtime_error("index " + std::to_string(i));
                }
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                finished.fetch_add(1);
                running.fetch_sub(1);
            });
        } catch (const std::runtime_error& error) {
            ++caught;
            // Nothing still runs when the exception reaches the caller.
            EXPECT_EQ(running.load(), 0);
            EXPECT_EQ(std::string(error.what()).rfind("index ", 0), 0u);
        }
        EXPECT_EQ(caught, 1) << "round " << round;
        // The loop stopped early: not every index that does not throw ran.
        const int notThrowing = static_cast<int>(kCount - (kCount + throwEvery - 1) / throwEvery);
        if (notThrowing > 0) {
            EXPECT_LT(finished.load(), notThrowing);
        }
    }
}

TEST(ParallelFor, CancelExceptionReachesTheCallerAsItself) {
    for (bool parallel : {true, false}) {
        try {
            ParallelFor(
                0, 100, 1,
                [](std::size_t i) {
                    if (i == 42) {
                        throw AsyncTask::CancelException(
                            QStringLiteral("cancelled"),
                            TError::AutoGen(QStringLiteral("Test"), 1));
                    }
                },
                parallel);
            FAIL() << "no exception";
        } catch (const AsyncTask::CancelException& error) {
            EXPECT_EQ(error.GetMessage(), QStringLiteral("cancelled"));
        }
    }
}

TEST(ParallelFor, SerialScopeOrNotAskingRunsInOrderOnTheCallingThread) {
    EXPECT_EQ(
        IndicesRunOnTheCallingThread([](const auto& task) { ParallelFor(3, 12, 3, task, false); }),
        (std::vector<std::size_t>{3, 6, 9}));
    EXPECT_TRUE(IsParallelExecutionAllowed());
    {
        SerialExecutionScope scope;
        { SerialExecutionScope nested; }
        // Ending a nested scope keeps the outer one in force.
        EXPECT_FALSE(IsParallelExecutionAllowed());
        // Other threads are not affected.
        bool allowedElsewhere = false;
        std::thread([&] { allowedElsewhere = IsParallelExecutionAllowed(); }).join();
        EXPECT_TRUE(allowedElsewhere);

        constexpr std::size_t kCount = 1000;
        const std::vector<std::size_t> order =
            IndicesRunOnTheCallingThread([](const auto& task) { ParallelFor(0, kCount, 1, task); });
        ASSERT_EQ(order.size(), kCount);
        for (std::size_t i = 0; i < kCount; ++i) {
            EXPECT_EQ(order[i], i);
        }
    }
    EXPECT_TRUE(IsParallelExecutionAllowed());
}

TEST(ParallelFor, NestedLoopsAndLoopsFromManyThreads) {
    std::atomic<long> sum{0};
    ParallelFor(0, 50, 1, [&](std::size_t i) {
        ParallelFor(0, 200, 1, [&](std::size_t j) { sum.fetch_add(static_cast<long>(i * j)); });
    });
    // (0 + ... + 49) * (0 + ... + 199)
    EXPECT_EQ(sum.load(), 1225L * 19900L);

    constexpr int kThreads = 4;
    constexpr int kLoops = 20;
    constexpr long kCount = 1000;
    std::atomic<long> total{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int k = 0; k < kLoops; ++k) {
                ParallelFor(0, kCount, 1, [&](std::size_t) { total.fetch_add(1); });
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(total.load(), kThreads * kLoops * kCount);
}
