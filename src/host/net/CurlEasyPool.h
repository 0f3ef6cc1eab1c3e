#pragma once
// The process-wide libcurl state behind HTTPRequestor: curl_global_init, one share handle for
// DNS answers and TLS sessions, and a pool of idle easy handles. Connections belong to the
// fetch engine's multi handle, not to the easy handles, so an easy handle carries nothing of
// its last request once it is reset.

#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <vector>

class CurlEasyPool {
public:
    struct EasyReturner {
        void operator()(CURL* easy) const;
    };
    using EasyPtr = std::unique_ptr<CURL, EasyReturner>;

    // Initialises libcurl on first use. The pool is never destroyed: transfers may still be
    // running while the process's statics go away.
    static CurlEasyPool& Instance();

    // An easy handle with libcurl's defaults, attached to the share.
    EasyPtr Acquire();

private:
    CurlEasyPool();
    CurlEasyPool(const CurlEasyPool&) = delete;
    CurlEasyPool& operator=(const CurlEasyPool&) = delete;

    void Return(CURL* easy);
    static void Lock(CURL* handle, curl_lock_data data, curl_lock_access access, void* pool);
    static void Unlock(CURL* handle, curl_lock_data data, void* pool);

    CURLSH* m_share = nullptr;
    // One mutex per kind of shared data, as libcurl asks.
    std::mutex m_shareLocks[CURL_LOCK_DATA_LAST];

    std::mutex m_idleMutex;
    std::vector<CURL*> m_idle;
};
