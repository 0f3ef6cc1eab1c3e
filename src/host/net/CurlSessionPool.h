#pragma once
// The process-wide libcurl state behind HTTPRequestor: curl_global_init, one share handle for
// DNS answers and TLS sessions, and a pool of idle sessions whose open connections later
// requests reuse, from whichever thread they run on.
//
// Connections are not put into the share handle: libcurl does not support a shared
// connection cache used by concurrent threads (a known bug of the libcurl versions we ship
// with). A session instead owns its connections, and one request at a time borrows it.

#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <vector>

class CurlSessionPool {
public:
    // One multi handle with its connection cache, and the easy handle that runs on it.
    struct Session {
        CURLM* multi = nullptr;
        CURL* easy = nullptr;
    };

    struct SessionReturner {
        void operator()(Session* session) const;
    };
    using SessionPtr = std::unique_ptr<Session, SessionReturner>;

    // Initialises libcurl on first use. The pool is never destroyed: requests on pool threads
    // may still be running while the process's statics go away.
    static CurlSessionPool& Instance();

    // A session whose easy handle has libcurl's defaults and is attached to the share.
    SessionPtr Acquire();
    // Closes the connections of every idle session.
    void CloseIdle();

private:
    CurlSessionPool();
    CurlSessionPool(const CurlSessionPool&) = delete;
    CurlSessionPool& operator=(const CurlSessionPool&) = delete;

    void Return(Session* session);
    static void Destroy(Session* session);
    static void Lock(CURL* handle, curl_lock_data data, curl_lock_access access, void* pool);
    static void Unlock(CURL* handle, curl_lock_data data, void* pool);

    CURLSH* m_share = nullptr;
    // One mutex per kind of shared data, as libcurl asks.
    std::mutex m_shareLocks[CURL_LOCK_DATA_LAST];

    std::mutex m_idleMutex;
    std::vector<Session*> m_idle;
};
