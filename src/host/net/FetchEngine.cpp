#include "FetchEngine.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sys/eventfd.h>
#include <unistd.h>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>

#include "CurlEasyPool.h"

namespace {

// Longest poll when nothing is due: the loop has nothing to look at in between.
constexpr int kIdlePollMs = 1000;
constexpr std::uint32_t kEngineStartFailedId = 0x48545046;

int PositiveOption(const char* name, int fallback) {
    const long long value = Options::GetInt(QLatin1String(name));
    return value > 0 ? static_cast<int>(std::min<long long>(value, 1 << 20)) : fallback;
}

} // namespace

bool FetchEngine::QueueOrder::operator()(const TransferPtr& a, const TransferPtr& b) const {
    if (a->priority != b->priority) {
        return a->priority < b->priority;
    }
    return a->sequence < b->sequence;
}

FetchEngine& FetchEngine::Instance() {
    static FetchEngine* const engine = [] {
        auto* created = new FetchEngine();
        // Exit handlers registered now run before the statics made earlier (the options) go.
        std::atexit([] { Instance().Stop(); });
        return created;
    }();
    return *engine;
}

FetchEngine::FetchEngine() {
    CurlEasyPool::Instance();
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_multi = curl_multi_init();
    if (m_wakeFd < 0 || !m_multi) {
        throw LumivexException(
            QStringLiteral("The HTTP fetch engine could not start."),
            TError::AutoGen(QStringLiteral("LumivexException"), kEngineStartFailedId));
    }
    m_thread = std::thread([this] { Run(); });
}

void FetchEngine::Stop() {
    {
        std::lock_guard lock(m_inboxMutex);
        m_inbox.stopping = true;
    }
    Wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void FetchEngine::Submit(TransferPtr transfer) {
    {
        std::lock_guard lock(m_inboxMutex);
        if (!m_inbox.stopping) {
            m_inbox.submitted.push_back(std::move(transfer));
            transfer = nullptr;
        }
    }
    if (transfer) {
        Complete(transfer, {Ending::Cancelled, CURLE_OK, {}});
        return;
    }
    Wake();
}

void FetchEngine::Cancel(TransferPtr transfer) {
    {
        std::lock_guard lock(m_inboxMutex);
        m_inbox.cancelled.push_back(std::move(transfer));
    }
    Wake();
}

void FetchEngine::CloseIdleConnections() {
    std::unique_lock lock(m_inboxMutex);
    if (m_inbox.stopping) {
        return;
    }
    m_inbox.closeIdleRequested = true;
    const std::uint64_t ticket = ++m_inbox.closeIdleRequests;
    lock.unlock();
    Wake();
    lock.lock();
    m_closeIdleDone.wait(lock, [&] { return m_inbox.closeIdleDone >= ticket; });
}

void FetchEngine::Wake() {
    const std::uint64_t one = 1;
    // A full counter still wakes the poll; nothing else can go wrong with an eventfd.
    [[maybe_unused]] const ssize_t written = write(m_wakeFd, &one, sizeof one);
}

void FetchEngine::RecordHostOutcome(const std::string& host, bool serverFailed) {
    HostState& state = m_hosts[host];
    if (!serverFailed) {
        state.failuresInRow = 0;
        state.probing = false;
        return;
    }
    ++state.failuresInRow;
    // A failed probe pauses again at once; transfers that were running when the pause began
    // only add to the count.
    if (IsPaused(state) || (!state.probing && state.failuresInRow < kFailuresBeforePause)) {
        return;
    }
    const int pauseSeconds = PositiveOption("HttpHostPauseSeconds", 1);
    state.pausedUntil = Clock::now() + std::chrono::seconds(pauseSeconds);
    state.probing = true;
    TLog::LogMessage(TLog::Severity::Warn,
                     QStringLiteral("Pausing requests to %1 for %2 s after %3 failures in a row.")
                         .arg(QString::fromStdString(host))
                         .arg(pauseSeconds)
                         .arg(state.failuresInRow));
    EndPausedHostQueue(host);
}

bool FetchEngine::IsPaused(const HostState& host) const {
    return host.probing && Clock::now() < host.pausedUntil;
}

void FetchEngine::Run() {
    for (;;) {
        if (TakeInbox()) {
            EndEverything();
            return;
        }
        RecreateMultiIfRequested();
        StartEligible();
        int running = 0;
        curl_multi_perform(m_multi, &running);
        if (CollectFinished() > 0) {
            // Freed slots go to waiting transfers before the loop sleeps.
            continue;
        }
        curl_waitfd wake{m_wakeFd, CURL_WAIT_POLLIN, 0};
        curl_multi_poll(m_multi, &wake, 1, PollTimeoutMs(), nullptr);
        if (wake.revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &count, sizeof count);
        }
    }
}

bool FetchEngine::TakeInbox() {
    Inbox taken;
    {
        std::lock_guard lock(m_inboxMutex);
        taken.stopping = m_inbox.stopping;
        taken.submitted.swap(m_inbox.submitted);
        taken.cancelled.swap(m_inbox.cancelled);
        m_closeIdlePending = m_closeIdlePending || std::exchange(m_inbox.closeIdleRequested, false);
    }
    for (const TransferPtr& transfer : taken.submitted) {
        Enqueue(transfer);
    }
    for (const TransferPtr& transfer : taken.cancelled) {
        if (transfer->state == Transfer::State::New) {
            transfer->cancelledEarly = true;
        } else if (transfer->state != Transfer::State::Done) {
            Remove(transfer);
            Complete(transfer, {Ending::Cancelled, CURLE_OK, {}});
        }
    }
    return taken.stopping;
}

void FetchEngine::EndEverything() {
    std::vector<TransferPtr> ending(m_queue.begin(), m_queue.end());
    for (const auto& [easy, transfer] : m_running) {
        ending.push_back(transfer);
    }
    for (const TransferPtr& transfer : ending) {
        Remove(transfer);
        Complete(transfer, {Ending::Cancelled, CURLE_OK, {}});
    }
    {
        std::lock_guard lock(m_inboxMutex);
        m_inbox.closeIdleDone = m_inbox.closeIdleRequests;
    }
    m_closeIdleDone.notify_all();
}

void FetchEngine::Enqueue(const TransferPtr& transfer) {
    if (transfer->cancelledEarly) {
        Complete(transfer, {Ending::Cancelled, CURLE_OK, {}});
        return;
    }
    HostState& host = m_hosts[transfer->host];
    if (IsPaused(host)) {
        const auto left = std::chrono::ceil<std::chrono::seconds>(host.pausedUntil - Clock::now());
        Complete(transfer, {Ending::HostPaused, CURLE_OK, left});
        return;
    }
    transfer->sequence = m_nextSequence++;
    transfer->state = Transfer::State::Queued;
    m_queue.insert(transfer);
}

void FetchEngine::Remove(const TransferPtr& transfer) {
    if (transfer->state == Transfer::State::Queued) {
        m_queue.erase(transfer);
        return;
    }
    // Removing an unfinished transfer closes its connection; nothing else is lost.
    curl_multi_remove_handle(m_multi, transfer->easy);
    m_running.erase(transfer->easy);
    --m_hosts[transfer->host].running;
}

void FetchEngine::StartEligible() {
    if (m_closeIdlePending) {
        return;
    }
    const int perHost = PositiveOption("HttpMaxConnectionsPerHost", 1);
    const int total = PositiveOption("HttpMaxConnections", 1);
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(perHost));
    curl_multi_setopt(m_multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(total));
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, static_cast<long>(total));
    const Clock::time_point now = Clock::now();
    for (auto it = m_queue.begin();
         it != m_queue.end() && static_cast<int>(m_running.size()) < total;) {
        const TransferPtr transfer = *it;
        HostState& host = m_hosts[transfer->host];
        const int hostLimit = host.probing ? 1 : perHost;
        if (transfer->notBefore > now || host.running >= hostLimit) {
            ++it;
            continue;
        }
        it = m_queue.erase(it);
        if (curl_multi_add_handle(m_multi, transfer->easy) != CURLM_OK) {
            Complete(transfer, {Ending::Finished, CURLE_FAILED_INIT, {}});
            continue;
        }
        transfer->state = Transfer::State::Running;
        m_running.emplace(transfer->easy, transfer);
        ++host.running;
    }
}

int FetchEngine::CollectFinished() {
    int finished = 0;
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        const auto found = m_running.find(message->easy_handle);
        if (found == m_running.end()) {
            continue;
        }
        const TransferPtr transfer = found->second;
        const CURLcode code = message->data.result;
        // The message points into the handle; nothing of it is read after the removal.
        Remove(transfer);
        Complete(transfer, {Ending::Finished, code, {}});
        ++finished;
    }
    return finished;
}

void FetchEngine::Complete(const TransferPtr& transfer, const Outcome& outcome) {
    transfer->state = Transfer::State::Done;
    // The owner may submit this transfer's successor from the completion.
    const auto completion = std::exchange(transfer->completion, nullptr);
    if (!completion) {
        return;
    }
    try {
        completion(outcome);
    } catch (const std::exception& e) {
        // The I/O thread must survive whatever an owner lets out.
        TLog::LogMessage(
            TLog::Severity::Error,
            QStringLiteral("HTTP transfer completion failed: %1").arg(QString::fromUtf8(e.what())));
    } catch (...) {
        TLog::LogMessage(TLog::Severity::Error, QStringLiteral("HTTP transfer completion failed."));
    }
}

void FetchEngine::EndPausedHostQueue(const std::string& host) {
    const HostState& state = m_hosts[host];
    const auto left = std::chrono::ceil<std::chrono::seconds>(state.pausedUntil - Clock::now());
    std::vector<TransferPtr> ended;
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if ((*it)->host == host) {
            ended.push_back(*it);
            it = m_queue.erase(it);
        } else {
            ++it;
        }
    }
    for (const TransferPtr& transfer : ended) {
        Complete(transfer, {Ending::HostPaused, CURLE_OK, left});
    }
}

int FetchEngine::PollTimeoutMs() const {
    long curlTimeout = -1;
    curl_multi_timeout(m_multi, &curlTimeout);
    int timeout =
        curlTimeout >= 0 ? static_cast<int>(std::min<long>(curlTimeout, kIdlePollMs)) : kIdlePollMs;
    const Clock::time_point now = Clock::now();
    for (const TransferPtr& transfer : m_queue) {
        if (transfer->notBefore > now) {
            const auto wait =
                std::chrono::ceil<std::chrono::milliseconds>(transfer->notBefore - now);
            timeout = std::min(timeout, static_cast<int>(wait.count()));
        }
    }
    for (const auto& [name, host] : m_hosts) {
        if (host.probing && host.pausedUntil > now) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(host.pausedUntil - now);
            timeout = std::min(timeout, static_cast<int>(wait.count()));
        }
    }
    return timeout;
}

void FetchEngine::RecreateMultiIfRequested() {
    if (!m_closeIdlePending || !m_running.empty()) {
        return;
    }
    // Cleaning up a multi handle closes every connection it keeps; without a fresh one the
    // old one stays, connections and all.
    if (CURLM* fresh = curl_multi_init()) {
        curl_multi_cleanup(std::exchange(m_multi, fresh));
    }
    m_closeIdlePending = false;
    {
        std::lock_guard lock(m_inboxMutex);
        m_inbox.closeIdleDone = m_inbox.closeIdleRequests;
    }
    m_closeIdleDone.notify_all();
}
