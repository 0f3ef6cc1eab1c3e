#pragma once
// Runs a slow task (a connect, a download) on the thread pool while the calling thread waits and
// shows progress. A process-wide progress observer, when one is set, hears about the wait and
// may cancel it.

#include <chrono>
#include <memory>

#include <lmxmaps/host/AsyncTask.h>
#include <lmxmaps/host/TString.h>

class IProgressObserver {
public:
    virtual ~IProgressObserver() = default;
    // Called on the waiting thread about every kProgressInterval while the task runs; returning
    // false cancels the task.
    virtual bool OnProgress(const TString& text, std::chrono::milliseconds elapsed) = 0;
    // Called once when the wait ends, cancelled or not.
    virtual void OnFinished(const TString& text) = 0;
};

namespace DeprecatedAsyncTaskSvc {

inline constexpr std::chrono::milliseconds kProgressInterval{100};

// The observer for every later wait in this process; null removes it.
void SetProgressObserver(std::shared_ptr<IProgressObserver> observer);

// Runs task on the global thread pool and waits for it. When the observer cancels, the task is
// told to cancel; a task that may be orphaned on cancel is then left to finish alone, any other
// is waited for. Exceptions stay in the task (CheckExceptions). The execution policy is
// reserved and must be 0.
void ExecuteTaskWithProgress(const RefCntPtr<IAsyncTask>& task, const TString& progressText,
                             int executionPolicy);

} // namespace DeprecatedAsyncTaskSvc
