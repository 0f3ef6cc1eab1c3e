#include "CurlSessionPool.h"

#include <lmxmaps/host/LumivexException.h>

namespace {

// Idle sessions kept for reuse; more than the pool threads that fetch at once is waste.
constexpr std::size_t kMaxIdleSessions = 32;
// Open connections one session keeps (to different servers, or left over from redirects).
constexpr long kConnectionsPerSession = 4;

constexpr std::uint32_t kCurlInitFailedId = 0x48545031;
constexpr std::uint32_t kCurlHandleFailedId = 0x48545032;

[[noreturn]] void ThrowCurlFailure(const char* what, std::uint32_t id) {
    throw LumivexException(QStringLiteral("libcurl failed: %1").arg(QLatin1String(what)),
                           TError::AutoGen(QStringLiteral("LumivexException"), id));
}

} // namespace

void CurlSessionPool::SessionReturner::operator()(Session* session) const {
    Instance().Return(session);
}

CurlSessionPool& CurlSessionPool::Instance() {
    static CurlSessionPool* const pool = new CurlSessionPool();
    return *pool;
}

CurlSessionPool::CurlSessionPool() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        ThrowCurlFailure("curl_global_init", kCurlInitFailedId);
    }
    m_share = curl_share_init();
    if (!m_share) {
        ThrowCurlFailure("curl_share_init", kCurlInitFailedId);
    }
    curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &CurlSessionPool::Lock);
    curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &CurlSessionPool::Unlock);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

void CurlSessionPool::Lock(CURL*, curl_lock_data data, curl_lock_access, void* pool) {
    static_cast<CurlSessionPool*>(pool)->m_shareLocks[data].lock();
}

void CurlSessionPool::Unlock(CURL*, curl_lock_data data, void* pool) {
    static_cast<CurlSessionPool*>(pool)->m_shareLocks[data].unlock();
}

CurlSessionPool::SessionPtr CurlSessionPool::Acquire() {
    Session* session = nullptr;
    {
        std::lock_guard lock(m_idleMutex);
        if (!m_idle.empty()) {
            // The most recently used session is the likeliest to hold a live connection.
            session = m_idle.back();
            m_idle.pop_back();
        }
    }
    if (!session) {
        auto fresh = std::make_unique<Session>();
        fresh->multi = curl_multi_init();
        fresh->easy = curl_easy_init();
        if (!fresh->multi || !fresh->easy) {
            Destroy(fresh.release());
            ThrowCurlFailure("curl_easy_init", kCurlHandleFailedId);
        }
        curl_multi_setopt(fresh->multi, CURLMOPT_MAXCONNECTS, kConnectionsPerSession);
        // A reset keeps the share, so a session joins it once.
        curl_easy_setopt(fresh->easy, CURLOPT_SHARE, m_share);
        session = fresh.release();
    }
    return SessionPtr(session);
}

void CurlSessionPool::Return(Session* session) {
    // Back to libcurl's defaults, so that an idle handle points at nothing of the last
    // request (its headers, buffers and callbacks); the connections stay open.
    curl_easy_reset(session->easy);
    {
        std::lock_guard lock(m_idleMutex);
        if (m_idle.size() < kMaxIdleSessions) {
            m_idle.push_back(session);
            return;
        }
    }
    Destroy(session);
}

void CurlSessionPool::CloseIdle() {
    std::vector<Session*> idle;
    {
        std::lock_guard lock(m_idleMutex);
        idle.swap(m_idle);
    }
    for (Session* session : idle) {
        Destroy(session);
    }
}

void CurlSessionPool::Destroy(Session* session) {
    if (session->easy) {
        curl_easy_cleanup(session->easy);
    }
    if (session->multi) {
        curl_multi_cleanup(session->multi);
    }
    delete session;
}
