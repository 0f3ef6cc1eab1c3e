#include "CurlEasyPool.h"

#include <lmxmaps/host/LumivexException.h>

namespace {

// Idle handles kept for reuse: as many as transfers may run at once by default.
constexpr std::size_t kMaxIdleHandles = 64;

constexpr std::uint32_t kCurlInitFailedId = 0x48545031;
constexpr std::uint32_t kCurlHandleFailedId = 0x48545032;

[[noreturn]] void ThrowCurlFailure(const char* what, std::uint32_t id) {
    throw LumivexException(QStringLiteral("libcurl failed: %1").arg(QLatin1String(what)),
                           TError::AutoGen(QStringLiteral("LumivexException"), id));
}

} // namespace

void CurlEasyPool::EasyReturner::operator()(CURL* easy) const {
    Instance().Return(easy);
}

CurlEasyPool& CurlEasyPool::Instance() {
    static CurlEasyPool* const pool = new CurlEasyPool();
    return *pool;
}

CurlEasyPool::CurlEasyPool() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        ThrowCurlFailure("curl_global_init", kCurlInitFailedId);
    }
    m_share = curl_share_init();
    if (!m_share) {
        ThrowCurlFailure("curl_share_init", kCurlInitFailedId);
    }
    curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &CurlEasyPool::Lock);
    curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &CurlEasyPool::Unlock);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

void CurlEasyPool::Lock(CURL*, curl_lock_data data, curl_lock_access, void* pool) {
    static_cast<CurlEasyPool*>(pool)->m_shareLocks[data].lock();
}

void CurlEasyPool::Unlock(CURL*, curl_lock_data data, void* pool) {
    static_cast<CurlEasyPool*>(pool)->m_shareLocks[data].unlock();
}

CurlEasyPool::EasyPtr CurlEasyPool::Acquire() {
    CURL* easy = nullptr;
    {
        std::lock_guard lock(m_idleMutex);
        if (!m_idle.empty()) {
            easy = m_idle.back();
            m_idle.pop_back();
        }
    }
    if (!easy) {
        easy = curl_easy_init();
        if (!easy) {
            ThrowCurlFailure("curl_easy_init", kCurlHandleFailedId);
        }
        // A reset keeps the share, so a handle joins it once.
        curl_easy_setopt(easy, CURLOPT_SHARE, m_share);
    }
    return EasyPtr(easy);
}

void CurlEasyPool::Return(CURL* easy) {
    // Back to libcurl's defaults, so that an idle handle points at nothing of the last request
    // (its headers, buffers and callbacks).
    curl_easy_reset(easy);
    {
        std::lock_guard lock(m_idleMutex);
        if (m_idle.size() < kMaxIdleHandles) {
            m_idle.push_back(easy);
            return;
        }
    }
    curl_easy_cleanup(easy);
}
