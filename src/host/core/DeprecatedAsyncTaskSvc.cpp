#include <mutex>

#include <lmxmaps/host/DeprecatedAsyncTaskSvc.h>
#include <lmxmaps/host/QtAsyncRunnable.h>

namespace DeprecatedAsyncTaskSvc {

namespace {

struct ObserverSlot {
    std::mutex mutex;
    std::shared_ptr<IProgressObserver> observer;
};

ObserverSlot& Slot() {
    static ObserverSlot slot;
    return slot;
}

std::shared_ptr<IProgressObserver> CurrentObserver() {
    ObserverSlot& slot = Slot();
    std::lock_guard lock(slot.mutex);
    return slot.observer;
}

} // namespace

void SetProgressObserver(std::shared_ptr<IProgressObserver> observer) {
    ObserverSlot& slot = Slot();
    std::lock_guard lock(slot.mutex);
    slot.observer = std::move(observer);
}

void ExecuteTaskWithProgress(const RefCntPtr<IAsyncTask>& task, const TString& progressText,
                             int executionPolicy) {
    LMX_LOGIC_ASSERT(executionPolicy == 0);
    const AsyncResult result = QtAsyncRunnable::Start(task, QStringLiteral("async-task-svc"));
    const std::shared_ptr<IProgressObserver> observer = CurrentObserver();
    const auto started = std::chrono::steady_clock::now();
    bool cancelled = false;
    while (!cancelled && result.wait_for(kProgressInterval) != std::future_status::ready) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        if (observer && !observer->OnProgress(progressText, elapsed)) {
            task->Cancel();
            cancelled = true;
        }
    }
    if (!cancelled || !task->ShouldOrphanOnCancel()) {
        result.wait();
    }
    if (observer) {
        observer->OnFinished(progressText);
    }
}

} // namespace DeprecatedAsyncTaskSvc
