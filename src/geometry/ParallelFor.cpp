#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include <lmxmaps/ParallelFor.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/TLog.h>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace {

// oneTBB hands the chunks to its workers and joins them inside libtbb, which ThreadSanitizer
// does not see; these mark both hand-offs so that what the caller wrote before the loop counts
// as visible in the tasks, and what the tasks wrote as visible after it.
void MarkRelease([[maybe_unused]] void* address) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(address);
#endif
}

void MarkAcquire([[maybe_unused]] void* address) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(address);
#endif
}

thread_local bool t_serialExecution = false;

// The arena every parallel loop runs in: as many slots as the machine (or tbb::global_control)
// allows. Made once, thread-safely, and never destroyed, so that no loop at exit finds it gone.
tbb::task_arena& Arena() {
    static tbb::task_arena* const arena = [] {
        auto* made = new tbb::task_arena();
        made->initialize();
        return made;
    }();
    return *arena;
}

constexpr std::uint32_t kConfusedCancellationSite = 0x50464331;

} // namespace

SerialExecutionScope::SerialExecutionScope() : m_previous(t_serialExecution) {
    t_serialExecution = true;
}

SerialExecutionScope::~SerialExecutionScope() {
    t_serialExecution = m_previous;
}

bool IsParallelExecutionAllowed() {
    return !t_serialExecution;
}

void ParallelFor(std::size_t begin, std::size_t end, std::size_t step,
                 const std::function<void(std::size_t)>& functor, bool parallel) {
    if (step == 0) {
        throw std::invalid_argument("ParallelFor needs a step of at least 1");
    }
    if (end <= begin) {
        return;
    }
    const std::size_t count = (end - begin - 1) / step + 1;
    const auto index = [begin, step](std::size_t k) {
        return begin + k * step;
    };
    if (!parallel || count < 2 || !IsParallelExecutionAllowed()) {
        for (std::size_t k = 0; k < count; ++k) {
            functor(index(k));
        }
        return;
    }

    // One flag per index, set once its functor returned; read after the arena joined.
    const std::unique_ptr<std::atomic<bool>[]> done(new std::atomic<bool>[count]());
    std::mutex exceptionMutex;
    std::exception_ptr firstException;
    // Bound to the calling context: a loop nested in a cancelled parallel algorithm stops too.
    tbb::task_group_context context;
    char handOut = 0;
    char handBack = 0;
    struct HandBack {
        char* address;
        ~HandBack() { MarkRelease(address); }
    };
    const auto loop = [&] {
        // A full arena runs this on one of its own threads while the caller waits.
        MarkAcquire(&handOut);
        const HandBack executedOnExit{&handBack};
        tbb::parallel_for(
            tbb::blocked_range<std::size_t>(0, count),
            [&](const tbb::blocked_range<std::size_t>& range) {
                MarkAcquire(&handOut);
                const HandBack handBackOnExit{&handBack};
                for (std::size_t k = range.begin(); k != range.end(); ++k) {
                    if (context.is_group_execution_cancelled()) {
                        return;
                    }
                    try {
                        functor(index(k));
                    } catch (...) {
                        {
                            std::lock_guard lock(exceptionMutex);
                            if (!firstException) {
                                firstException = std::current_exception();
                            }
                        }
                        context.cancel_group_execution();
                        return;
                    }
                    done[k].store(true, std::memory_order_release);
                }
            },
            tbb::auto_partitioner(), context);
    };
    MarkRelease(&handOut);
    Arena().execute(loop);
    MarkAcquire(&handBack);

    if (!context.is_group_execution_cancelled()) {
        bool confused = false;
        for (std::size_t k = 0; k < count && !confused; ++k) {
            confused = !done[k].load(std::memory_order_acquire);
        }
        if (confused) {
            TLog::LogMessage(
                TLog::Severity::Warn,
                TError::LogSite(QStringLiteral("ParallelFor"), kConfusedCancellationSite).logSite,
                QStringLiteral("Cancellation is confused in ParallelFor"));
            for (std::size_t k = 0; k < count; ++k) {
                if (!done[k].load(std::memory_order_acquire)) {
                    functor(index(k));
                }
            }
        }
    }
    // Every task has finished here (the arena returned): hand the first failure to the caller.
    // Its type is kept, so AsyncTask::CancelException reaches the caller as itself.
    if (firstException) {
        std::rethrow_exception(firstException);
    }
}
