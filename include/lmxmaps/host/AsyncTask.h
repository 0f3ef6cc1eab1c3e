#pragma once
// Tasks that run once, usually on a pool thread, can be cancelled from any thread, and keep the
// exception their body threw for the thread that collects the result.

#include <atomic>
#include <exception>
#include <functional>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/RefCnt.h>

namespace AsyncTask {

// Raised when work stops because it was cancelled.
class CancelException : public LumivexException {
public:
    CancelException(TString message, TError::ErrorInfo errorInfo);

    std::unique_ptr<LumivexException> Clone() const override;
    [[noreturn]] void Throw() const override;
};

} // namespace AsyncTask

class IAsyncTask : public RefCntObject {
public:
    // Runs the task's body on the calling thread; never throws (the body's exception is kept).
    virtual void Execute() = 0;
    // Asks the task to stop; safe from any thread. Returns 1 when the request was taken.
    virtual int Cancel() = 0;
    // Whether a waiter may walk away from a cancelled task and leave it to finish alone.
    virtual bool ShouldOrphanOnCancel() const = 0;
    // Rethrows the exception the body threw, if any; with clear, it is forgotten afterwards.
    virtual void CheckExceptions(bool clear) = 0;
    virtual void CheckExceptions() = 0;
};

// The usual task: a body (ExecuteImpl), a cancel flag the body polls, and the stored exception.
class ComputeTask : public IAsyncTask {
public:
    void Execute() override;
    int Cancel() override;
    bool ShouldOrphanOnCancel() const override { return false; }
    void CheckExceptions(bool clear) override;
    void CheckExceptions() override { CheckExceptions(false); }

    bool WasCancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    bool HasFinished() const { return m_finished.load(std::memory_order_acquire); }
    bool HasException() const;
    // Forgets a stored exception (for a task that is run again).
    void ClearExceptions();

protected:
    ComputeTask() = default;
    ComputeTask(const ComputeTask&) = delete;
    ComputeTask& operator=(const ComputeTask&) = delete;

    virtual void ExecuteImpl() = 0;
    // Throws AsyncTask::CancelException when the task was cancelled.
    void ThrowIfCancelled() const;
    // For a body that goes on elsewhere after a wait (a network answer, say): runs one part of
    // it, keeping what it throws as Execute() would; false when it threw. The part that ends
    // the body calls MarkFinished() afterwards.
    bool RunPart(const std::function<void()>& part);
    void MarkFinished();

private:
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_finished{false};
    std::exception_ptr m_exception;
};
