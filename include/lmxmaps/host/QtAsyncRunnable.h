#pragma once
// Runs a task on Qt's global thread pool. The result state is a shared future: ready when the
// task finished, holding the exception the task let out (ComputeTasks keep theirs, so that is
// rare). A zero-time wait tells whether the task is still running.

#include <QRunnable>
#include <QString>
#include <functional>
#include <future>

#include <lmxmaps/host/AsyncTask.h>

using AsyncResult = std::shared_future<void>;

class QtAsyncRunnable : public QRunnable {
public:
    QtAsyncRunnable(RefCntPtr<IAsyncTask> task, QString label);

    AsyncResult GetResult() const { return m_result; }
    const QString& GetLabel() const { return m_label; }

    void run() override;

    // Starts task on QThreadPool::globalInstance() at once with the given priority and returns
    // its result state. The pool owns the runnable; the runnable holds the task.
    static AsyncResult Start(RefCntPtr<IAsyncTask> task, const QString& label, int priority = 0);
    // Runs work on the same pool (higher priorities first); once the pool is gone (the
    // application is ending), on this thread. work must not throw.
    static void Post(std::function<void()> work, int priority = 0);

private:
    RefCntPtr<IAsyncTask> m_task;
    QString m_label;
    std::promise<void> m_promise;
    AsyncResult m_result;
};

// Whether the task behind a result state has finished (a zero-time wait).
inline bool IsFinished(const AsyncResult& result) {
    return result.valid() && result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}
