#include <QDir>
#include <algorithm>
#include <exception>

#include <lmxmaps/host/HostPaths.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/storage/ExternalCache.h>

#include "SqliteStore.h"

namespace {

constexpr const char* kDirectoryOption = "ExternalCacheDirectory";
constexpr const char* kFileSuffix = ".sqlite";
// Leaves room for the suffixes of the database's side files within a file name's 255 bytes.
constexpr int kMaxNameLength = 200;
constexpr const char* kDisplayName = "External cache";
// Raise when the form of keys or values changes; a database of another form is remade.
constexpr int kFormatVersion = 1;
constexpr SqliteStore::CounterNames kCounters = {"ExternalCacheHits", "ExternalCacheMisses",
                                                 "ExternalCacheStores", "ExternalCacheEvictions",
                                                 "ExternalCacheRebuilds"};

bool IsValidName(const TString& name) {
    return !name.isEmpty() && name.size() <= kMaxNameLength &&
           std::all_of(name.begin(), name.end(), [](QChar c) {
               const char16_t unit = c.unicode();
               return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ||
                      (unit >= u'0' && unit <= u'9') || unit == u'-' || unit == u'_';
           });
}

void Warn(const QString& message) {
    TLog::LogMessage(TLog::Severity::Warn, message);
}

// One named store; the caller sees misses and refusals, never an exception.
class SqliteExternalCache final : public IExternalCache {
public:
    explicit SqliteExternalCache(SqliteStore::Settings settings) : m_store(std::move(settings)) {}

    std::optional<QByteArray> Get(const TString& key) override {
        return Guarded("look-up", std::optional<QByteArray>(), [&] {
            std::optional<QByteArray> found;
            const bool hit = m_store.Get(key.toUtf8(), [&found](const QByteArray& value) {
                found = value;
                return true;
            });
            return hit ? found : std::nullopt;
        });
    }

    bool Put(const TString& key, const QByteArray& value) override {
        return Guarded("insertion", false, [&] {
            SqliteStore::Entry entry;
            entry.key = key.toUtf8();
            entry.value = value;
            entry.size = entry.key.size() + value.size();
            return m_store.Put(entry);
        });
    }

    void Clear() override {
        Guarded("clearing", false, [this] {
            m_store.Clear();
            return true;
        });
    }

private:
    // The store answers database failures itself; this catches what is left (memory).
    template <class Result, class Operation>
    Result Guarded(const char* what, Result fallback, Operation&& operation) {
        try {
            return operation();
        } catch (const std::exception& e) {
            Warn(QStringLiteral("%1 '%2': %3 failed: %4")
                     .arg(QLatin1String(kDisplayName), m_store.GetSettings().databasePath,
                          QLatin1String(what), QString::fromLocal8Bit(e.what())));
            return fallback;
        }
    }

    SqliteStore m_store;
};

} // namespace

namespace ExternalCaches {

TString Directory() {
    return HostPaths::ConfiguredDirectory(kDirectoryOption);
}

std::shared_ptr<IExternalCache> MakeCache(const TString& name, std::int64_t maxBytes,
                                          std::int64_t maxEntries) {
    if (!IsValidName(name)) {
        Warn(QStringLiteral("External cache name '%1' is not valid: use up to %2 letters, "
                            "digits, '-' and '_'.")
                 .arg(name, QString::number(kMaxNameLength)));
        return nullptr;
    }
    if (maxBytes <= 0 || maxEntries <= 0) {
        Warn(QStringLiteral("External cache '%1' is off: its bounds must be positive.").arg(name));
        return nullptr;
    }
    const QString directory = Directory();
    if (directory.isEmpty()) {
        TLog::LogMessage(TLog::Severity::Info,
                         QStringLiteral("External cache '%1' is off.").arg(name));
        return nullptr;
    }
    if (!QDir().mkpath(directory)) {
        Warn(QStringLiteral("External cache '%1' is off: cannot make directory '%2'.")
                 .arg(name, directory));
        return nullptr;
    }
    SqliteStore::Settings settings;
    settings.databasePath = QDir(directory).filePath(name + QLatin1String(kFileSuffix));
    settings.displayName = QLatin1String(kDisplayName);
    settings.formatVersion = kFormatVersion;
    settings.maxBytes = maxBytes;
    settings.maxEntries = maxEntries;
    settings.counters = kCounters;
    return std::make_shared<SqliteExternalCache>(std::move(settings));
}

} // namespace ExternalCaches
