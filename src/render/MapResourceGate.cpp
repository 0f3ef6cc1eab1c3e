#include "render/MapResourceGate.h"

#include <QCoreApplication>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <vector>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/TNetworkRules.h>

#include "render/QMapboxGLDeclaration.h"

namespace {

using Clock = std::chrono::steady_clock;

// A map asks for many tiles from few hosts; a name is looked up again after this long.
constexpr Clock::duration kHostMemory = std::chrono::minutes(1);
constexpr std::size_t kMaxRememberedHosts = 256;
constexpr std::uint32_t kRefusedSite = 0x4C4D4210;
constexpr std::uint32_t kNoApplicationId = 0x4C4D4211;
constexpr std::uint32_t kOnKeeperThreadAssertId = 0x4C4D4212;

// The addresses of recently looked-up hosts; the rules are applied afresh at every question,
// so a change of the options counts at once.
class HostAddresses {
public:
    bool IsAllowed(const TString& host) {
        const Clock::time_point now = Clock::now();
        {
            std::lock_guard lock(m_mutex);
            const auto found = m_hosts.find(host);
            if (found != m_hosts.end() && now - found->second.resolvedAt < kHostMemory) {
                return PassesRules(found->second.addresses);
            }
        }
        std::vector<TIpAddress> addresses = TNetworkRules::ResolveHost(host);
        const bool allowed = PassesRules(addresses);
        if (!allowed) {
            TLog::LogMessage(
                TLog::Severity::Warn,
                TError::LogSite(QStringLiteral("MapResourceGate"), kRefusedSite).logSite,
                QStringLiteral("The vector map may not fetch from %1: %2")
                    .arg(host, addresses.empty() ? QStringLiteral("the name does not resolve")
                                                 : QStringLiteral("the network rules deny it")));
        }
        std::lock_guard lock(m_mutex);
        if (m_hosts.size() >= kMaxRememberedHosts) {
            m_hosts.clear();
        }
        m_hosts[host] = Entry{std::move(addresses), now};
        return allowed;
    }

private:
    struct Entry {
        std::vector<TIpAddress> addresses;
        Clock::time_point resolvedAt;
    };

    static bool PassesRules(const std::vector<TIpAddress>& addresses) {
        return !addresses.empty() &&
               std::all_of(addresses.begin(), addresses.end(), &TNetworkRules::IsAllowedByOptions);
    }

    std::mutex m_mutex;
    std::map<TString, Entry> m_hosts;
};

HostAddresses& RememberedHosts() {
    static HostAddresses* const hosts = new HostAddresses();
    return *hosts;
}

// The idle maps that hold the transform, one per tile cache path, made and deleted on a thread
// that does nothing else. The thread stops when the application goes.
class TransformKeepers {
public:
    static TransformKeepers& Instance() {
        // Never destroyed: maps of ours may still go away while statics are destroyed.
        static TransformKeepers* const keepers = new TransformKeepers();
        return *keepers;
    }

    void Acquire(const QMapboxGLSettings& settings) {
        const QString path = settings.cacheDatabasePath();
        std::lock_guard lock(m_mutex);
        QObject* context = ContextLocked();
        LMX_LOGIC_ASSERT_ID(QThread::currentThread() != context->thread(), kOnKeeperThreadAssertId);
        Keeper& keeper = m_keepers[path];
        if (keeper.users++ > 0) {
            return;
        }
        QMapboxGLSettings keeperSettings = settings;
        keeperSettings.setResourceTransform(
            [](const std::string&& url) { return MapResourceGate::Filter(url); });
        QMetaObject::invokeMethod(
            context,
            [&keeper, &keeperSettings] {
                keeper.map = new QMapboxGL(nullptr, keeperSettings, QSize(1, 1), 1.0);
            },
            Qt::BlockingQueuedConnection);
    }

    // Deletes the keeper once its last map is gone, and waits for that: while the application
    // runs, rather than during its destruction, when QMapboxGL's threads no longer stop.
    void Release(const QString& path) {
        std::lock_guard lock(m_mutex);
        const auto found = m_keepers.find(path);
        if (found == m_keepers.end() || --found->second.users > 0) {
            return;
        }
        QMapboxGL* map = found->second.map;
        m_keepers.erase(found);
        QMetaObject::invokeMethod(
            m_context, [map] { delete map; }, Qt::BlockingQueuedConnection);
    }

private:
    struct Keeper {
        QMapboxGL* map = nullptr;
        int users = 0;
    };

    TransformKeepers() = default;

    // Expects m_mutex held.
    QObject* ContextLocked() {
        if (m_context) {
            return m_context;
        }
        QCoreApplication* application = QCoreApplication::instance();
        if (!application) {
            throw LumivexException(
                QStringLiteral("The vector map needs a Qt application to check what it fetches."),
                TError::AutoGen(QStringLiteral("LumivexException"), kNoApplicationId));
        }
        m_thread = new QThread();
        m_thread->setObjectName(QStringLiteral("lmx-map-resource-gate"));
        m_context = new QObject();
        m_context->moveToThread(m_thread);
        m_thread->start();
        QObject::connect(application, &QObject::destroyed, [this] { Stop(); });
        return m_context;
    }

    // Ends the thread. A keeper whose maps are still alive stays behind with its map.
    void Stop() {
        std::lock_guard lock(m_mutex);
        if (!m_thread) {
            return;
        }
        m_thread->quit();
        m_thread->wait();
        delete m_context;
        delete m_thread;
        m_context = nullptr;
        m_thread = nullptr;
        m_keepers.clear();
    }

    std::mutex m_mutex;
    QThread* m_thread = nullptr;
    QObject* m_context = nullptr;
    std::map<QString, Keeper> m_keepers;
};

} // namespace

namespace MapResourceGate {

std::string Filter(const std::string& url) {
    // Read as the map's HTTP client reads it, so the host judged is the host it would reach.
    const QUrl parsed(QUrl::fromPercentEncoding(QByteArray::fromStdString(url)));
    const TString scheme = parsed.scheme().toLower();
    const TString host = parsed.host(QUrl::FullyEncoded);
    const bool web = scheme == u"http" || scheme == u"https";
    if (web && !host.isEmpty() && RememberedHosts().IsAllowed(host)) {
        return url;
    }
    return kRefusedUrl;
}

void Guard(QMapboxGL& map, const QMapboxGLSettings& settings) {
    TransformKeepers::Instance().Acquire(settings);
    QObject::connect(&map, &QObject::destroyed, [path = settings.cacheDatabasePath()] {
        TransformKeepers::Instance().Release(path);
    });
}

} // namespace MapResourceGate
