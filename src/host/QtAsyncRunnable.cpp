#include <QThreadPool>

#include <lmxmaps/host/QtAsyncRunnable.h>

QtAsyncRunnable::QtAsyncRunnable(RefCntPtr<IAsyncTask> task, QString label)
    : m_task(std::move(task)), m_label(std::move(label)), m_result(m_promise.get_future().share()) {
    setAutoDelete(true);
}

void QtAsyncRunnable::run() {
    try {
        m_task->Execute();
        m_promise.set_value();
    } catch (...) {
        m_promise.set_exception(std::current_exception());
    }
}

AsyncResult QtAsyncRunnable::Start(RefCntPtr<IAsyncTask> task, const QString& label, int priority) {
    auto* runnable = new QtAsyncRunnable(std::move(task), label);
    AsyncResult result = runnable->GetResult();
    QThreadPool::globalInstance()->start(runnable, priority);
    return result;
}
