#include <lmxmaps/host/AsyncTask.h>

namespace AsyncTask {

CancelException::CancelException(TString message, TError::ErrorInfo errorInfo)
    : LumivexException(std::move(message), std::move(errorInfo)) {}

std::unique_ptr<LumivexException> CancelException::Clone() const {
    return std::make_unique<CancelException>(*this);
}

void CancelException::Throw() const {
    throw CancelException(*this);
}

} // namespace AsyncTask

namespace {
constexpr std::uint32_t kCancelledTaskSite = 0x43414E31;
}

void ComputeTask::Execute() {
    RunPart([this] {
        ThrowIfCancelled();
        ExecuteImpl();
    });
    MarkFinished();
}

bool ComputeTask::RunPart(const std::function<void()>& part) {
    try {
        part();
        return true;
    } catch (...) {
        m_exception = std::current_exception();
        return false;
    }
}

void ComputeTask::MarkFinished() {
    m_finished.store(true, std::memory_order_release);
}

int ComputeTask::Cancel() {
    m_cancelled.store(true, std::memory_order_release);
    return 1;
}

void ComputeTask::CheckExceptions(bool clear) {
    if (!m_exception) {
        return;
    }
    std::exception_ptr stored = m_exception;
    if (clear) {
        m_exception = nullptr;
    }
    std::rethrow_exception(stored);
}

bool ComputeTask::HasException() const {
    return static_cast<bool>(m_exception);
}

void ComputeTask::ClearExceptions() {
    m_exception = nullptr;
}

void ComputeTask::ThrowIfCancelled() const {
    if (WasCancelled()) {
        throw AsyncTask::CancelException(
            QStringLiteral("The operation was cancelled."),
            TError::AutoGen(QStringLiteral("LumivexCancelException"), kCancelledTaskSite));
    }
}
