#pragma once
// Every HTTP transfer of the process runs on one I/O thread over libcurl's multi interface:
// waiting for a server holds no pool thread, and all requests share one set of connections
// (HTTP/2 streams where a server offers them).
//
// Submitted transfers wait in one queue and start lowest priority value first while their
// host runs fewer than "HttpMaxConnectionsPerHost" and the process fewer than
// "HttpMaxConnections" transfers; a transfer may be held back until a time (a retry's
// back-off). Owners report how each transfer went (RecordHostOutcome); after
// kFailuresBeforePause unanswered transfers in a row a host is paused for "HttpHostPauseSeconds":
// its queued transfers and any submitted meanwhile end at once as HostPaused, and afterwards
// one transfer at a time probes it until one succeeds.
//
// The owner configures the easy handle before Submit and leaves it alone until the completion
// ran. Completions run on the I/O thread, one at a time: they must be short and must not wait
// for other transfers.

#include <chrono>
#include <condition_variable>
#include <curl/curl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class FetchEngine {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kFailuresBeforePause = 5;

    enum class Ending { Finished, Cancelled, HostPaused };

    struct Outcome {
        Ending ending = Ending::Finished;
        // libcurl's result when Finished.
        CURLcode code = CURLE_OK;
        // When HostPaused: how long the pause still lasts.
        std::chrono::seconds pauseLeft{0};
    };

    struct Transfer {
        CURL* easy = nullptr;
        // "scheme://host:port": the unit of the connection limit and of pausing.
        std::string host;
        // Lower values start first.
        double priority = 0.0;
        // Not started before this time.
        Clock::time_point notBefore{};
        std::function<void(const Outcome&)> completion;

    private:
        friend class FetchEngine;
        enum class State { New, Queued, Running, Done };
        State state = State::New;
        // Cancelled before its submission reached the I/O thread.
        bool cancelledEarly = false;
        std::uint64_t sequence = 0;
    };
    using TransferPtr = std::shared_ptr<Transfer>;

    // Starts the I/O thread on first use. The thread stops when the process exits, before the
    // statics it reads go: what is still queued or running then ends as Cancelled. The engine
    // itself is never destroyed.
    static FetchEngine& Instance();

    // Thread-safe. The transfer is queued; its completion runs exactly once (on the caller's
    // thread, as Cancelled, once the process is exiting).
    void Submit(TransferPtr transfer);
    // Thread-safe. A queued transfer leaves the queue at once, a running one is stopped; either
    // ends as Cancelled. Cancelling a finished transfer does nothing.
    void Cancel(TransferPtr transfer);
    // From a completion only: whether the server failed this transfer without answering (no
    // connection, a reset or time-out) or answered at all.
    void RecordHostOutcome(const std::string& host, bool serverFailed);
    // Closes the connections no transfer uses; returns once they are closed (waits for the
    // running transfers to end when there are any).
    void CloseIdleConnections();

private:
    FetchEngine();

    struct QueueOrder {
        bool operator()(const TransferPtr& a, const TransferPtr& b) const;
    };
    struct HostState {
        int running = 0;
        int failuresInRow = 0;
        // Paused until then; a time in the past with a pause behind it means probing.
        Clock::time_point pausedUntil{};
        bool probing = false;
    };
    struct Inbox {
        std::vector<TransferPtr> submitted;
        std::vector<TransferPtr> cancelled;
        bool closeIdleRequested = false;
        bool stopping = false;
        std::uint64_t closeIdleRequests = 0;
        std::uint64_t closeIdleDone = 0;
    };

    void Run();
    void Stop();
    void EndEverything();
    // Whether the engine is to stop.
    bool TakeInbox();
    void Enqueue(const TransferPtr& transfer);
    void Remove(const TransferPtr& transfer);
    void StartEligible();
    // Completes the transfers libcurl finished; how many.
    int CollectFinished();
    void Complete(const TransferPtr& transfer, const Outcome& outcome);
    void EndPausedHostQueue(const std::string& host);
    bool IsPaused(const HostState& host) const;
    int PollTimeoutMs() const;
    void RecreateMultiIfRequested();
    void Wake();

    // Guarded by m_inboxMutex.
    std::mutex m_inboxMutex;
    std::condition_variable m_closeIdleDone;
    Inbox m_inbox;
    // An eventfd the I/O thread polls next to libcurl's sockets; a write wakes it.
    int m_wakeFd = -1;

    // I/O thread only.
    CURLM* m_multi = nullptr;
    std::set<TransferPtr, QueueOrder> m_queue;
    std::map<CURL*, TransferPtr> m_running;
    std::map<std::string, HostState> m_hosts;
    std::uint64_t m_nextSequence = 0;
    bool m_closeIdlePending = false;

    std::thread m_thread;
};
