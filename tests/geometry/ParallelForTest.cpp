// ParallelFor: every index once, the first exception rethrown once after every task finished
// (its type kept), the serial scope, and the sequential fallbacks.

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include <lmxmaps/ParallelFor.h>
#include <lmxmaps/host/AsyncTask.h>

namespace {

std::vector<int> RunCounts(std::size_t begin, std::size_t end, std::size_t step, bool parallel) {
    std::vector<std::atomic<int>> counts(end + step + 1);
    ParallelFor(
        begin, end, step, [&](std::size_t i) { counts.at(i).fetch_add(1); }, parallel);
    std::vector<int> out;
    for (const auto& count : counts) {
        out.push_back(count.load());
    }
    return out;
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
            const std::vector<int> counts = RunCounts(r.begin, r.end, r.step, parallel);
            for (std::size_t i = 0; i < counts.size(); ++i) {
                const bool expected = i >= r.begin && i < r.end && (i - r.begin) % r.step == 0;
                ASSERT_EQ(counts[i], expected ? 1 : 0)
                    << "index " << i << " of [" << r.begin << ", " << r.end << ") step " << r.step
                    << (parallel ? " parallel" : " serial");
            }
        }
    }
}

TEST(ParallelFor, AStepOfZeroIsRefused) {
    EXPECT_THROW(ParallelFor(0, 10, 0, [](std::size_t) {}), std::invalid_argument);
}

TEST(ParallelFor, TheFirstExceptionIsRethrownOnceAfterEveryTaskFinished) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> running{0};
        std::atomic<int> finished{0};
        int caught = 0;
        try {
            ParallelFor(0, 1000, 1, [&](std::size_t i) {
                running.fetch_add(1);
                if (i % 97 == 5) {
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
        EXPECT_EQ(caught, 1);
        // The loop stopped early: not every index ran.
        EXPECT_LT(finished.load(), 1000);
    }
}

TEST(ParallelFor, AllTasksThrowingStillGiveOneException) {
    std::atomic<int> calls{0};
    int caught = 0;
    try {
        ParallelFor(0, 64, 1, [&](std::size_t) {
            calls.fetch_add(1);
            throw std::logic_error("every task");
        });
    } catch (const std::logic_error&) {
        ++caught;
    }
    EXPECT_EQ(caught, 1);
    EXPECT_GE(calls.load(), 1);
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

TEST(ParallelFor, SerialScopeRunsOnTheCallingThread) {
    EXPECT_TRUE(IsParallelExecutionAllowed());
    {
        SerialExecutionScope scope;
        EXPECT_FALSE(IsParallelExecutionAllowed());
        {
            SerialExecutionScope nested;
            EXPECT_FALSE(IsParallelExecutionAllowed());
        }
        EXPECT_FALSE(IsParallelExecutionAllowed());
        // Other threads are not affected.
        bool allowedElsewhere = false;
        std::thread([&] { allowedElsewhere = IsParallelExecutionAllowed(); }).join();
        EXPECT_TRUE(allowedElsewhere);

        const std::thread::id caller = std::this_thread::get_id();
        std::vector<std::size_t> order;
        bool sameThread = true;
        ParallelFor(0, 1000, 1, [&](std::size_t i) {
            sameThread = sameThread && std::this_thread::get_id() == caller;
            order.push_back(i); // unsynchronized on purpose: serial means one thread, in order
        });
        EXPECT_TRUE(sameThread);
        ASSERT_EQ(order.size(), 1000u);
        for (std::size_t i = 0; i < order.size(); ++i) {
            EXPECT_EQ(order[i], i);
        }
    }
    EXPECT_TRUE(IsParallelExecutionAllowed());
}

TEST(ParallelFor, NotAskingForParallelRunsInOrderOnTheCallingThread) {
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<std::size_t> order;
    bool sameThread = true;
    ParallelFor(
        3, 30, 3,
        [&](std::size_t i) {
            sameThread = sameThread && std::this_thread::get_id() == caller;
            order.push_back(i);
        },
        false);
    EXPECT_TRUE(sameThread);
    EXPECT_EQ(order, (std::vector<std::size_t>{3, 6, 9, 12, 15, 18, 21, 24, 27}));
}

TEST(ParallelFor, NestedLoopsAndLoopsFromManyThreads) {
    std::atomic<long> sum{0};
    ParallelFor(0, 50, 1, [&](std::size_t i) {
        ParallelFor(0, 200, 1, [&](std::size_t j) { sum.fetch_add(static_cast<long>(i * j)); });
    });
    EXPECT_EQ(sum.load(), 1225L * 19900L);

    std::atomic<long> total{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int k = 0; k < 20; ++k) {
                ParallelFor(0, 1000, 1, [&](std::size_t) { total.fetch_add(1); });
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(total.load(), 4L * 20L * 1000L);
}
