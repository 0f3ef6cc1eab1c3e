#include <QFile>
#include <QtGlobal>
#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <sqlite3.h>
#include <string>
#include <vector>

#include <lmxmaps/host/Counters.h>
#include <lmxmaps/host/SqliteImageCache.h>
#include <lmxmaps/host/TLog.h>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace {

// Raise when the table layout changes; a database of another layout is emptied and remade.
constexpr int kSchemaVersion = 1;
constexpr int kEvictionBatch = 64;
constexpr std::size_t kMaxIdleConnections = 8;
// One more try after a rebuild or after following a file another process replaced.
constexpr int kMaxAttempts = 2;
constexpr const char* kCorruptSuffix = ".corrupt";
constexpr const char* kWalSuffix = "-wal";
constexpr const char* kSharedMemorySuffix = "-shm";

constexpr const char* kDropSchema = R"sql(
DROP TABLE IF EXISTS images;
DROP TABLE IF EXISTS totals;
)sql";

// Small columns first, so that reading them never touches the image's overflow pages.
constexpr const char* kCreateSchema = R"sql(
CREATE TABLE images(
  id INTEGER PRIMARY KEY,
  key BLOB NOT NULL UNIQUE,
  expires INTEGER NOT NULL,
  last_used INTEGER NOT NULL,
  size INTEGER NOT NULL,
  extra BLOB NOT NULL,
  image BLOB NOT NULL);
CREATE INDEX images_by_use ON images(last_used);
CREATE INDEX images_by_expiry ON images(expires);
CREATE TABLE totals(name TEXT PRIMARY KEY NOT NULL, value INTEGER NOT NULL);
INSERT INTO totals VALUES('stored_bytes', 0);
CREATE TRIGGER images_added AFTER INSERT ON images BEGIN
  UPDATE totals SET value = value + new.size WHERE name = 'stored_bytes';
END;
CREATE TRIGGER images_removed AFTER DELETE ON images BEGIN
  UPDATE totals SET value = value - old.size WHERE name = 'stored_bytes';
END;
CREATE TRIGGER images_resized AFTER UPDATE OF size ON images BEGIN
  UPDATE totals SET value = value - old.size + new.size WHERE name = 'stored_bytes';
END;
)sql";

// An SQLite call failed; code is the extended result code.
struct SqliteFailure {
    int code;
    std::string message;
};

bool IsCorruption(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || code == SQLITE_IOERR_SHORT_READ;
}

bool IsContention(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED || primary == SQLITE_READONLY;
}

[[noreturn]] void Fail(sqlite3* db, int code) {
    throw SqliteFailure{code, db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code)};
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : m_db(db) {
        const int rc =
            sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr);
        if (rc != SQLITE_OK) {
            Fail(db, rc);
        }
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3* Database() const { return m_db; }
    sqlite3_stmt* Get() const { return m_statement; }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
};

// One run of a prepared statement: bind, step, read columns; reset when it goes.
class Execution {
public:
    explicit Execution(Statement& statement)
        : m_db(statement.Database()), m_statement(statement.Get()) {}
    ~Execution() {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    Execution(const Execution&) = delete;
    Execution& operator=(const Execution&) = delete;

    Execution& Bind(int index, const QByteArray& blob) {
        Check(sqlite3_bind_blob64(m_statement, index, blob.constData(),
                                  static_cast<sqlite3_uint64>(blob.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Execution& Bind(int index, std::int64_t value) {
        Check(sqlite3_bind_int64(m_statement, index, value));
        return *this;
    }

    // True while there is a row.
    bool Step() {
        const int rc = sqlite3_step(m_statement);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc != SQLITE_DONE) {
            Fail(m_db, rc);
        }
        return false;
    }

    std::int64_t Int64(int column) const { return sqlite3_column_int64(m_statement, column); }
    QByteArray Blob(int column) const {
        const void* data = sqlite3_column_blob(m_statement, column);
        const int size = sqlite3_column_bytes(m_statement, column);
        return QByteArray(static_cast<const char*>(data), size);
    }

private:
    void Check(int rc) const {
        if (rc != SQLITE_OK) {
            Fail(m_db, rc);
        }
    }

    sqlite3* m_db;
    sqlite3_stmt* m_statement;
};

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

std::optional<std::pair<std::uint64_t, std::uint64_t>> FileIdentity(const QString& path) {
#if defined(Q_OS_UNIX)
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return std::pair<std::uint64_t, std::uint64_t>(info.st_dev, info.st_ino);
#else
    // Without inode numbers a replaced file goes unnoticed until it fails.
    if (!QFile::exists(path)) {
        return std::nullopt;
    }
    return std::pair<std::uint64_t, std::uint64_t>(0, 0);
#endif
}

bool ReadKeyItem(const QByteArray& encoded, qsizetype& position, TString& item) {
    const qsizetype colon = encoded.indexOf(':', position);
    if (colon <= position) {
        return false;
    }
    const QByteArray digits = encoded.mid(position, colon - position);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    bool ok = false;
    const qlonglong length = digits.toLongLong(&ok);
    if (!ok || length > encoded.size() - colon - 1) {
        return false;
    }
    item = QString::fromUtf8(encoded.constData() + colon + 1, static_cast<int>(length));
    position = colon + 1 + length;
    return true;
}

void WriteKeyItem(QByteArray& encoded, const TString& item) {
    const QByteArray utf8 = item.toUtf8();
    encoded += QByteArray::number(utf8.size());
    encoded += ':';
    encoded += utf8;
}

} // namespace

class SqliteImageCache::Impl {
public:
    class Connection {
        // First member, so that it closes after every statement below is finalized.
        std::unique_ptr<sqlite3, DatabaseCloser> m_db;

    public:
        Connection(const QString& path, std::chrono::milliseconds busyTimeout) {
            sqlite3* db = nullptr;
            const int rc = sqlite3_open_v2(
                QFile::encodeName(path).constData(), &db,
                SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
            m_db.reset(db);
            if (rc != SQLITE_OK) {
                Fail(db, rc);
            }
            sqlite3_extended_result_codes(db, 1);
            sqlite3_busy_timeout(db, static_cast<int>(busyTimeout.count()));
            Exec("PRAGMA journal_mode=WAL");
            Exec("PRAGMA synchronous=NORMAL");
            EnsureSchema();
            select.emplace(db, "SELECT expires, extra, image FROM images WHERE key = ?1");
            touch.emplace(db, "UPDATE images SET last_used = (SELECT max(last_used) FROM images) "
                              "+ 1 WHERE key = ?1");
            deleteExpiredKey.emplace(db, "DELETE FROM images WHERE key = ?1 AND expires <= ?2");
            deleteKey.emplace(db, "DELETE FROM images WHERE key = ?1");
            purgeExpired.emplace(db, "DELETE FROM images WHERE expires <= ?1");
            upsert.emplace(db,
                           "INSERT INTO images(key, expires, last_used, size, extra, image) "
                           "VALUES(?1, ?2, (SELECT coalesce(max(last_used), 0) + 1 FROM images), "
                           "?3, ?4, ?5) ON CONFLICT(key) DO UPDATE SET expires = excluded.expires, "
                           "last_used = excluded.last_used, size = excluded.size, "
                           "extra = excluded.extra, image = excluded.image");
            oldest.emplace(db, "SELECT key, size FROM images WHERE key <> ?1 "
                               "ORDER BY last_used LIMIT ?2");
            storedBytes.emplace(db, "SELECT value FROM totals WHERE name = 'stored_bytes'");
            count.emplace(db, "SELECT count(*) FROM images");
            clear.emplace(db, "DELETE FROM images");
        }
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;

        void Exec(const char* sql) {
            const int rc = sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr);
            if (rc != SQLITE_OK) {
                Fail(m_db.get(), rc);
            }
        }

        // Ends a transaction the operation could not finish; failures here change nothing.
        void RollBackQuietly() {
            if (sqlite3_get_autocommit(m_db.get()) == 0) {
                sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
            }
        }

        std::int64_t QueryInt(Statement& statement) {
            Execution run(statement);
            return run.Step() ? run.Int64(0) : 0;
        }

        // Prepared once per connection.
        std::optional<Statement> select;
        std::optional<Statement> touch;
        std::optional<Statement> deleteExpiredKey;
        std::optional<Statement> deleteKey;
        std::optional<Statement> purgeExpired;
        std::optional<Statement> upsert;
        std::optional<Statement> oldest;
        std::optional<Statement> storedBytes;
        std::optional<Statement> count;
        std::optional<Statement> clear;

    private:
        int UserVersion() {
            Statement version(m_db.get(), "PRAGMA user_version");
            Execution run(version);
            return run.Step() ? static_cast<int>(run.Int64(0)) : 0;
        }

        void EnsureSchema() {
            if (UserVersion() == kSchemaVersion) {
                return;
            }
            // Another process may be making the schema right now: decide under the write lock.
            Exec("BEGIN IMMEDIATE");
            try {
                if (UserVersion() != kSchemaVersion) {
                    Exec(kDropSchema);
                    Exec(kCreateSchema);
                    Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
                }
                Exec("COMMIT");
            } catch (const SqliteFailure&) {
                RollBackQuietly();
                throw;
            }
        }
    };

    // Holds the write lock from BEGIN IMMEDIATE until Commit; rolls back when left early.
    class WriteTransaction {
    public:
        explicit WriteTransaction(Connection& connection) : m_connection(connection) {
            m_connection.Exec("BEGIN IMMEDIATE");
        }
        ~WriteTransaction() {
            if (!m_committed) {
                m_connection.RollBackQuietly();
            }
        }
        WriteTransaction(const WriteTransaction&) = delete;
        WriteTransaction& operator=(const WriteTransaction&) = delete;

        void Commit() {
            m_connection.Exec("COMMIT");
            m_committed = true;
        }

    private:
        Connection& m_connection;
        bool m_committed = false;
    };

    explicit Impl(Settings settings) : m_settings(std::move(settings)) {}

    const Settings& GetSettings() const { return m_settings; }

    std::int64_t NowSeconds() const {
        const auto now = m_settings.now ? m_settings.now() : std::chrono::system_clock::now();
        return std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    }

    void SetKeyFilter(KeyFilter filter) {
        auto shared = filter ? std::make_shared<const KeyFilter>(std::move(filter)) : nullptr;
        std::lock_guard lock(m_filterMutex);
        m_keyFilter = std::move(shared);
    }

    AttributeMap FilteredKey(const AttributeMap& key) const {
        std::shared_ptr<const KeyFilter> filter;
        {
            std::lock_guard lock(m_filterMutex);
            filter = m_keyFilter;
        }
        AttributeMap filtered = key;
        if (filter) {
            (*filter)(filtered);
        }
        return filtered;
    }

    // Runs operation on a pooled connection and answers its result, or fallback when the
    // database failed; a corrupt database is rebuilt first (and the operation tried once more
    // when retry is set).
    template <class Result, class Operation>
    Result Run(const char* what, Result fallback, bool retry, Operation&& operation) {
        for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
            std::uint64_t generation = 0;
            bool replaced = false;
            std::optional<SqliteFailure> failure;
            {
                std::shared_lock lock(m_generationLock);
                generation = m_generation;
                replaced = FileWasReplaced();
                if (!replaced) {
                    try {
                        std::unique_ptr<Connection> connection = Acquire();
                        Result result = operation(*connection);
                        Release(std::move(connection));
                        return result;
                    } catch (const SqliteFailure& caught) {
                        // The connection closes here: whatever state it was left in goes too.
                        failure = caught;
                    }
                }
            }
            if (replaced) {
                Reopen(generation, false);
                continue;
            }
            if (IsCorruption(failure->code)) {
                TLog::LogMessage(
                    TLog::Severity::Warn,
                    QStringLiteral("Image cache '%1' is damaged (%2); starting a new "
                                   "one.")
                        .arg(m_settings.databasePath, QString::fromStdString(failure->message)));
                Reopen(generation, true);
                if (retry) {
                    continue;
                }
            } else {
                LogFailure(what, *failure);
            }
            return fallback;
        }
        return fallback;
    }

private:
    std::unique_ptr<Connection> Acquire() {
        {
            std::lock_guard lock(m_poolMutex);
            if (!m_idle.empty()) {
                std::unique_ptr<Connection> connection = std::move(m_idle.back());
                m_idle.pop_back();
                return connection;
            }
        }
        auto connection =
            std::make_unique<Connection>(m_settings.databasePath, m_settings.busyTimeout);
        m_openFailureLogged.store(false, std::memory_order_relaxed);
        std::lock_guard lock(m_identityMutex);
        if (!m_fileIdentity) {
            m_fileIdentity = FileIdentity(m_settings.databasePath);
        }
        return connection;
    }

    void Release(std::unique_ptr<Connection> connection) {
        std::lock_guard lock(m_poolMutex);
        if (m_idle.size() < kMaxIdleConnections) {
            m_idle.push_back(std::move(connection));
        }
    }

    // Whether the file the connections have open is no longer the one at the path (another
    // process rebuilt it, or it was deleted).
    bool FileWasReplaced() const {
        std::optional<std::pair<std::uint64_t, std::uint64_t>> opened;
        {
            std::lock_guard lock(m_identityMutex);
            opened = m_fileIdentity;
        }
        return opened && FileIdentity(m_settings.databasePath) != opened;
    }

    // Closes every connection; with moveAside, also moves the file aside so that the next
    // connection starts an empty database. Nothing happens when another thread already did
    // this since generationSeen.
    void Reopen(std::uint64_t generationSeen, bool moveAside) {
        std::unique_lock lock(m_generationLock);
        if (m_generation != generationSeen) {
            return;
        }
        {
            std::lock_guard poolLock(m_poolMutex);
            m_idle.clear();
        }
        if (moveAside) {
            const QString& path = m_settings.databasePath;
            // The journal files first: a new database must not pick up the old one's log.
            QFile::remove(path + QLatin1String(kWalSuffix));
            QFile::remove(path + QLatin1String(kSharedMemorySuffix));
            const QString aside = path + QLatin1String(kCorruptSuffix);
            QFile::remove(aside);
            if (!QFile::rename(path, aside)) {
                QFile::remove(path);
            }
            HostCounters::Increment(kRebuildCounter);
        }
        {
            std::lock_guard identityLock(m_identityMutex);
            m_fileIdentity.reset();
        }
        ++m_generation;
    }

    void LogFailure(const char* what, const SqliteFailure& failure) {
        const bool cannotOpen = (failure.code & 0xFF) == SQLITE_CANTOPEN;
        if (cannotOpen && m_openFailureLogged.exchange(true, std::memory_order_relaxed)) {
            return;
        }
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("Image cache '%1': %2 failed: %3")
                             .arg(m_settings.databasePath, QLatin1String(what),
                                  QString::fromStdString(failure.message)));
    }

    const Settings m_settings;

    // Operations hold it shared; closing every connection holds it exclusive.
    std::shared_mutex m_generationLock;
    std::uint64_t m_generation = 0;

    std::mutex m_poolMutex;
    std::vector<std::unique_ptr<Connection>> m_idle;

    mutable std::mutex m_identityMutex;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> m_fileIdentity;

    mutable std::mutex m_filterMutex;
    std::shared_ptr<const KeyFilter> m_keyFilter;

    std::atomic<bool> m_openFailureLogged{false};
};

SqliteImageCache::SqliteImageCache(Settings settings)
    : m_impl(std::make_unique<Impl>(std::move(settings))) {
    // Open once now, so that a damaged file is dealt with before the first real use.
    GetEntryCount();
}

SqliteImageCache::~SqliteImageCache() = default;

const QString& SqliteImageCache::GetDatabasePath() const {
    return m_impl->GetSettings().databasePath;
}

void SqliteImageCache::SetKeyFilter(KeyFilter filter) {
    m_impl->SetKeyFilter(std::move(filter));
}

RefCntPtr<IPersistentImageCache::Data> SqliteImageCache::Lookup(const AttributeMap& key) {
    using Connection = Impl::Connection;
    AttributeMap filtered = m_impl->FilteredKey(key);
    const QByteArray encodedKey = EncodeKey(filtered);
    const std::int64_t now = m_impl->NowSeconds();
    RefCntPtr<Data> found = m_impl->Run(
        "look-up", RefCntPtr<Data>(), false, [&](Connection& connection) -> RefCntPtr<Data> {
            std::int64_t expires = 0;
            QByteArray extra;
            QByteArray image;
            {
                Execution select(*connection.select);
                select.Bind(1, encodedKey);
                if (!select.Step()) {
                    return nullptr;
                }
                expires = select.Int64(0);
                extra = select.Blob(1);
                image = select.Blob(2);
            }
            if (expires <= now) {
                Execution(*connection.deleteExpiredKey).Bind(1, encodedKey).Bind(2, now).Step();
                return nullptr;
            }
            std::unique_ptr<QtImageObject> imageObject = QtImageObject::FromEncoded(image);
            AttributeMap extraMap;
            if (!imageObject || !DecodeKey(extra, extraMap)) {
                Execution(*connection.deleteKey).Bind(1, encodedKey).Step();
                return nullptr;
            }
            try {
                Execution(*connection.touch).Bind(1, encodedKey).Step();
            } catch (const SqliteFailure& failure) {
                // The entry was read; a busy or read-only database only loses the use stamp.
                if (!IsContention(failure.code)) {
                    throw;
                }
            }
            return MakeRefCnt<Data>(filtered, std::move(extraMap), std::move(imageObject));
        });
    HostCounters::Increment(found ? kHitCounter : kMissCounter);
    return found;
}

bool SqliteImageCache::Insert(const Data& data, std::chrono::seconds maxAge) {
    using Connection = Impl::Connection;
    const QtImageObject* image = data.GetImageObject();
    if (image == nullptr || maxAge.count() <= 0) {
        return false;
    }
    const QByteArray bytes = image->GetEncodedOrPng();
    if (bytes.isEmpty()) {
        return false;
    }
    const QByteArray encodedKey = EncodeKey(m_impl->FilteredKey(data.GetKey()));
    const QByteArray extra = EncodeKey(data.GetExtra());
    const std::int64_t maxBytes = m_impl->GetSettings().maxBytes;
    const std::int64_t size = encodedKey.size() + bytes.size() + extra.size();
    if (size > maxBytes) {
        return false;
    }
    const std::int64_t now = m_impl->NowSeconds();
    const std::int64_t expires =
        now +
        std::min<std::int64_t>(maxAge.count(), std::numeric_limits<std::int64_t>::max() - now);
    std::int64_t evicted = 0;
    const bool stored = m_impl->Run("insertion", false, true, [&](Connection& connection) {
        evicted = 0;
        Impl::WriteTransaction transaction(connection);
        Execution(*connection.purgeExpired).Bind(1, now).Step();
        Execution(*connection.upsert)
            .Bind(1, encodedKey)
            .Bind(2, expires)
            .Bind(3, size)
            .Bind(4, extra)
            .Bind(5, bytes)
            .Step();
        std::int64_t storedBytes = connection.QueryInt(*connection.storedBytes);
        while (storedBytes > maxBytes) {
            std::vector<std::pair<QByteArray, std::int64_t>> oldest;
            {
                Execution select(*connection.oldest);
                select.Bind(1, encodedKey).Bind(2, static_cast<std::int64_t>(kEvictionBatch));
                while (select.Step()) {
                    oldest.emplace_back(select.Blob(0), select.Int64(1));
                }
            }
            if (oldest.empty()) {
                break;
            }
            for (const auto& [oldKey, oldSize] : oldest) {
                if (storedBytes <= maxBytes) {
                    break;
                }
                Execution(*connection.deleteKey).Bind(1, oldKey).Step();
                storedBytes -= oldSize;
                ++evicted;
            }
        }
        transaction.Commit();
        return true;
    });
    if (stored) {
        HostCounters::Increment(kStoreCounter);
        HostCounters::Increment(kEvictionCounter, evicted);
    }
    return stored;
}

void SqliteImageCache::Clear() {
    m_impl->Run("clearing", false, true, [](Impl::Connection& connection) {
        Impl::WriteTransaction transaction(connection);
        Execution(*connection.clear).Step();
        transaction.Commit();
        return true;
    });
}

std::int64_t SqliteImageCache::GetEntryCount() {
    return m_impl->Run("counting", std::int64_t{-1}, true, [](Impl::Connection& connection) {
        return connection.QueryInt(*connection.count);
    });
}

std::int64_t SqliteImageCache::GetStoredBytes() {
    return m_impl->Run("summing", std::int64_t{-1}, true, [](Impl::Connection& connection) {
        return connection.QueryInt(*connection.storedBytes);
    });
}

QByteArray SqliteImageCache::EncodeKey(const AttributeMap& map) {
    std::vector<const AttributeMap::value_type*> entries;
    entries.reserve(map.size());
    for (const auto& entry : map) {
        entries.push_back(&entry);
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto* a, const auto* b) { return a->first < b->first; });
    QByteArray encoded;
    for (const auto* entry : entries) {
        WriteKeyItem(encoded, entry->first);
        WriteKeyItem(encoded, entry->second);
    }
    return encoded;
}

bool SqliteImageCache::DecodeKey(const QByteArray& encoded, AttributeMap& map) {
    AttributeMap decoded;
    qsizetype position = 0;
    while (position < encoded.size()) {
        TString key;
        TString value;
        if (!ReadKeyItem(encoded, position, key) || !ReadKeyItem(encoded, position, value)) {
            return false;
        }
        decoded.insert_or_assign(std::move(key), std::move(value));
    }
    map = std::move(decoded);
    return true;
}
