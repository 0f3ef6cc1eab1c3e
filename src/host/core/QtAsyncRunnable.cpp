#include <QThreadPool>

#include <lmxmaps/host/QtAsyncRunnable.h>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace {

// QThreadPool hands a runnable to its worker inside libQt5Core, which ThreadSanitizer does not
// see; these mark the hand-off so that what Start wrote counts as visible in run().
void MarkHandedOver([[maybe_unused]] QRunnable* runnable) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(runnable);
#endif
}

void MarkTakenOver([[maybe_unused]] QRunnable* runnable) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(runnable);
#endif
}

// A function on the pool, with the same hand-over marks as a task.
class FunctionRunnable : public QRunnable {
public:
    explicit FunctionRunnable(std::function<void()> work) : m_work(std::move(work)) {
        setAutoDelete(true);
    }

    void run() override {
        MarkTakenOver(this);
        m_work();
    }

private:
    std::function<void()> m_work;
};

} // namespace

QtAsyncRunnable::QtAsyncRunnable(RefCntPtr<IAsyncTask> task, QString label)
    : m_task(std::move(task)), m_label(std::move(label)), m_result(m_promise.get_future().share()) {
    setAutoDelete(true);
}

void QtAsyncRunnable::run() {
    MarkTakenOver(this);
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
    MarkHandedOver(runnable);
    QThreadPool::globalInstance()->start(runnable, priority);
    return result;
}

void QtAsyncRunnable::Post(std::function<void()> work, int priority) {
    QThreadPool* pool = QThreadPool::globalInstance();
    if (pool == nullptr) {
        work();
        return;
    }
    auto* runnable = new FunctionRunnable(std::move(work));
    MarkHandedOver(runnable);
    pool->start(runnable, priority);
}
