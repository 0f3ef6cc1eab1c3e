#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/host/DeprecatedAsyncTaskSvc.h>
#include <lmxmaps/host/QtAsyncRunnable.h>

namespace {

using namespace std::chrono_literals;

// Runs until cancelled or let finish, recording where it ran.
class WaitingTask : public ComputeTask {
public:
    explicit WaitingTask(bool orphanOnCancel = false) : m_orphanOnCancel(orphanOnCancel) {}

    bool ShouldOrphanOnCancel() const override { return m_orphanOnCancel; }
    void LetFinish() { m_released = true; }
    bool BodyRan() const { return m_bodyRan; }
    std::thread::id RanOn() const { return m_thread; }

protected:
    void ExecuteImpl() override {
        m_bodyRan = true;
        m_thread = std::this_thread::get_id();
        // Bounded: a test that forgets to release or cancel still ends.
        for (int i = 0; i < 2000 && !m_released; ++i) {
            if (!m_orphanOnCancel) {
                ThrowIfCancelled();
            }
            std::this_thread::sleep_for(5ms);
        }
    }

private:
    bool m_orphanOnCancel;
    std::atomic<bool> m_released{false};
    std::atomic<bool> m_bodyRan{false};
    std::thread::id m_thread;
};

class FailingTask : public ComputeTask {
protected:
    void ExecuteImpl() override {
        throw MapProviderException(MapProviderException::eAccessDenied, QStringLiteral("denied"),
                                   MapProviderException::Site(7));
    }
};

class CancellingObserver : public IProgressObserver {
public:
    explicit CancellingObserver(int callsBeforeCancel) : m_callsBeforeCancel(callsBeforeCancel) {}
    bool OnProgress(const TString& text, std::chrono::milliseconds) override {
        m_text = text;
        return ++m_calls < m_callsBeforeCancel;
    }
    void OnFinished(const TString&) override { ++m_finished; }

    int m_callsBeforeCancel;
    std::atomic<int> m_calls{0};
    std::atomic<int> m_finished{0};
    TString m_text;
};

// Clears the process-wide observer after a test.
struct ObserverReset {
    ~ObserverReset() { DeprecatedAsyncTaskSvc::SetProgressObserver(nullptr); }
};

} // namespace

TEST(ComputeTask, KeepsTheExceptionWithItsTypeUntilClearedAndACancelledOneNeverRuns) {
    RefCntPtr<FailingTask> task = MakeRefCnt<FailingTask>();
    EXPECT_NO_THROW(task->Execute());
    EXPECT_TRUE(task->HasFinished());
    EXPECT_TRUE(task->HasException());
    EXPECT_THROW(task->CheckExceptions(), MapProviderException);
    EXPECT_THROW(task->CheckExceptions(true), MapProviderException);
    EXPECT_NO_THROW(task->CheckExceptions());
    EXPECT_FALSE(task->HasException());

    // Cancelled before it starts, the body never runs.
    RefCntPtr<WaitingTask> waiting = MakeRefCnt<WaitingTask>();
    EXPECT_EQ(waiting->Cancel(), 1);
    EXPECT_TRUE(waiting->WasCancelled());
    waiting->Execute();
    EXPECT_FALSE(waiting->BodyRan());
    EXPECT_THROW(waiting->CheckExceptions(), AsyncTask::CancelException);
}

TEST(QtAsyncRunnable, RunsOnAPoolThreadReportsCompletionAndEndsWhenCancelled) {
    RefCntPtr<WaitingTask> task = MakeRefCnt<WaitingTask>();
    const AsyncResult result = QtAsyncRunnable::Start(task, QStringLiteral("test"));
    EXPECT_TRUE(result.valid());
    task->LetFinish();
    result.wait();
    EXPECT_TRUE(IsFinished(result));
    EXPECT_TRUE(task->BodyRan());
    EXPECT_NE(task->RanOn(), std::this_thread::get_id());
    EXPECT_FALSE(IsFinished(AsyncResult()));

    RefCntPtr<WaitingTask> cancelled = MakeRefCnt<WaitingTask>();
    const AsyncResult cancelledResult = QtAsyncRunnable::Start(cancelled, QStringLiteral("test"));
    cancelled->Cancel();
    cancelledResult.wait();
    EXPECT_THROW(cancelled->CheckExceptions(), AsyncTask::CancelException);
}

TEST(DeprecatedAsyncTaskSvc, ObserverSeesProgressAndMayCancelOrphansOrWithoutOneItWaits) {
    const ObserverReset reset;
    auto observer = std::make_shared<CancellingObserver>(3);
    DeprecatedAsyncTaskSvc::SetProgressObserver(observer);
    RefCntPtr<WaitingTask> task = MakeRefCnt<WaitingTask>();
    DeprecatedAsyncTaskSvc::ExecuteTaskWithProgress(task, QStringLiteral("Connecting"), 0);
    EXPECT_EQ(observer->m_calls, 3);
    EXPECT_EQ(observer->m_finished, 1);
    EXPECT_EQ(observer->m_text, QStringLiteral("Connecting"));
    EXPECT_TRUE(task->WasCancelled());
    // Not an orphan: the wait lasted until the task stopped.
    EXPECT_TRUE(task->HasFinished());
    EXPECT_THROW(task->CheckExceptions(), AsyncTask::CancelException);

    DeprecatedAsyncTaskSvc::SetProgressObserver(std::make_shared<CancellingObserver>(1));
    RefCntPtr<WaitingTask> orphan = MakeRefCnt<WaitingTask>(true);
    DeprecatedAsyncTaskSvc::ExecuteTaskWithProgress(orphan, QStringLiteral("Connecting"), 0);
    EXPECT_TRUE(orphan->WasCancelled());
    EXPECT_FALSE(orphan->HasFinished());
    orphan->LetFinish();

    DeprecatedAsyncTaskSvc::SetProgressObserver(nullptr);
    RefCntPtr<FailingTask> failing = MakeRefCnt<FailingTask>();
    DeprecatedAsyncTaskSvc::ExecuteTaskWithProgress(failing, QStringLiteral("Connecting"), 0);
    EXPECT_TRUE(failing->HasFinished());
    EXPECT_THROW(failing->CheckExceptions(), MapProviderException);
}
