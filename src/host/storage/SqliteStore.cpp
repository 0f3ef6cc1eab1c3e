#include "SqliteStore.h"

#include <QFile>
#include <QtGlobal>
#include <atomic>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <sqlite3.h>
#include <string>
#include <vector>

#include <lmxmaps/host/Counters.h>
#include <lmxmaps/host/TLog.h>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace {

// Raise when the table layout changes. The database's user_version holds it above the owner's
// format version.
constexpr int kLayoutVersion = 3;
constexpr int kFormatVersionBits = 16;
constexpr int kEvictionBatch = 64;
constexpr std::size_t kMaxIdleConnections = 8;
// One more try after a rebuild or after following a file another process replaced.
constexpr int kMaxAttempts = 2;
constexpr const char* kCorruptSuffix = ".corrupt";
constexpr const char* kWalSuffix = "-wal";
constexpr const char* kSharedMemorySuffix = "-shm";

// Small columns first, so that reading them never touches the value's overflow pages.
constexpr const char* kCreateSchema = R"sql(
CREATE TABLE entries(
  id INTEGER PRIMARY KEY,
  key BLOB NOT NULL UNIQUE,
  expires INTEGER NOT NULL,
  keep_expired INTEGER NOT NULL,
  last_used INTEGER NOT NULL,
  size INTEGER NOT NULL,
  value BLOB NOT NULL);
CREATE INDEX entries_by_use ON entries(last_used);
CREATE INDEX entries_by_expiry ON entries(expires);
CREATE TABLE totals(stored_bytes INTEGER NOT NULL, entry_count INTEGER NOT NULL);
INSERT INTO totals VALUES(0, 0);
CREATE TRIGGER entry_added AFTER INSERT ON entries BEGIN
  UPDATE totals SET stored_bytes = stored_bytes + new.size, entry_count = entry_count + 1;
END;
CREATE TRIGGER entry_removed AFTER DELETE ON entries BEGIN
  UPDATE totals SET stored_bytes = stored_bytes - old.size, entry_count = entry_count - 1;
END;
CREATE TRIGGER entry_resized AFTER UPDATE OF size ON entries BEGIN
  UPDATE totals SET stored_bytes = stored_bytes - old.size + new.size;
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

void Count(const char* counter, std::int64_t by = 1) {
    if (counter != nullptr) {
        HostCounters::Increment(counter, by);
    }
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

// An SQL identifier in double quotes, whatever it holds.
std::string QuotedIdentifier(const QByteArray& name) {
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') {
            quoted += c;
        }
    }
    return quoted + '"';
}

} // namespace

class SqliteStore::Impl {
public:
    class Connection {
        // First member, so that it closes after every statement below is finalized.
        std::unique_ptr<sqlite3, DatabaseCloser> m_db;

    public:
        explicit Connection(const Settings& settings) {
            sqlite3* db = nullptr;
            const int rc = sqlite3_open_v2(
                QFile::encodeName(settings.databasePath).constData(), &db,
                SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
            m_db.reset(db);
            if (rc != SQLITE_OK) {
                Fail(db, rc);
            }
            sqlite3_extended_result_codes(db, 1);
            sqlite3_busy_timeout(db, static_cast<int>(settings.busyTimeout.count()));
            Exec("PRAGMA journal_mode=WAL");
            Exec("PRAGMA synchronous=NORMAL");
            EnsureSchema((kLayoutVersion << kFormatVersionBits) | settings.formatVersion);
            select.emplace(db, "SELECT expires, keep_expired, value FROM entries WHERE key = ?1");
            touch.emplace(db, "UPDATE entries SET last_used = (SELECT max(last_used) FROM "
                              "entries) + 1 WHERE key = ?1");
            deleteExpiredKey.emplace(db, "DELETE FROM entries WHERE key = ?1 AND expires <= ?2 "
                                         "AND keep_expired = 0");
            deleteKey.emplace(db, "DELETE FROM entries WHERE key = ?1");
            purgeExpired.emplace(db,
                                 "DELETE FROM entries WHERE expires <= ?1 AND keep_expired = 0");
            upsert.emplace(
                db, "INSERT INTO entries(key, expires, keep_expired, last_used, size, value) "
                    "VALUES(?1, ?2, ?5, (SELECT coalesce(max(last_used), 0) + 1 FROM "
                    "entries), ?3, ?4) ON CONFLICT(key) DO UPDATE SET "
                    "expires = excluded.expires, keep_expired = excluded.keep_expired, "
                    "last_used = excluded.last_used, size = excluded.size, "
                    "value = excluded.value");
            oldest.emplace(db, "SELECT key, size FROM entries WHERE key <> ?1 "
                               "ORDER BY last_used LIMIT ?2");
            storedBytes.emplace(db, "SELECT stored_bytes FROM totals");
            entryCount.emplace(db, "SELECT entry_count FROM totals");
            clear.emplace(db, "DELETE FROM entries");
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
        std::optional<Statement> entryCount;
        std::optional<Statement> clear;

    private:
        int UserVersion() {
            Statement version(m_db.get(), "PRAGMA user_version");
            Execution run(version);
            return run.Step() ? static_cast<int>(run.Int64(0)) : 0;
        }

        // Whatever an older layout left behind goes with its tables (indexes and triggers too).
        void DropAllTables() {
            std::vector<QByteArray> tables;
            {
                Statement list(m_db.get(), "SELECT name FROM sqlite_master WHERE type = 'table' "
                                           "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'");
                Execution run(list);
                while (run.Step()) {
                    tables.push_back(run.Blob(0));
                }
            }
            for (const QByteArray& table : tables) {
                Exec(("DROP TABLE IF EXISTS " + QuotedIdentifier(table)).c_str());
            }
        }

        void EnsureSchema(int version) {
            if (UserVersion() == version) {
                return;
            }
            // Another process may be making the schema right now: decide under the write lock.
            Exec("BEGIN IMMEDIATE");
            try {
                if (UserVersion() != version) {
                    DropAllTables();
                    Exec(kCreateSchema);
                    Exec(("PRAGMA user_version = " + std::to_string(version)).c_str());
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
                TLog::LogMessage(TLog::Severity::Warn,
                                 QStringLiteral("%1 '%2' is damaged (%3); starting a new one.")
                                     .arg(m_settings.displayName, m_settings.databasePath,
                                          QString::fromStdString(failure->message)));
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

    // Deletes the least recently used entries other than kept until the store is within its
    // bounds; answers how many went.
    std::int64_t EvictBeyondBounds(Connection& connection, const QByteArray& kept) const {
        std::int64_t bytes = connection.QueryInt(*connection.storedBytes);
        std::int64_t entries = connection.QueryInt(*connection.entryCount);
        const auto overBounds = [&] {
            return bytes > m_settings.maxBytes ||
                   (m_settings.maxEntries > 0 && entries > m_settings.maxEntries);
        };
        std::int64_t evicted = 0;
        while (overBounds()) {
            std::vector<std::pair<QByteArray, std::int64_t>> oldest;
            {
                Execution select(*connection.oldest);
                select.Bind(1, kept).Bind(2, static_cast<std::int64_t>(kEvictionBatch));
                while (select.Step()) {
                    oldest.emplace_back(select.Blob(0), select.Int64(1));
                }
            }
            if (oldest.empty()) {
                break;
            }
            for (const auto& [oldKey, oldSize] : oldest) {
                if (!overBounds()) {
                    break;
                }
                Execution(*connection.deleteKey).Bind(1, oldKey).Step();
                bytes -= oldSize;
                --entries;
                ++evicted;
            }
        }
        return evicted;
    }

    // A look-up: an expired entry is deleted unless it is kept, and answered only when it is
    // kept and includeExpired is set.
    Found Find(const QByteArray& key, const ValueReader& read, bool includeExpired) {
        const std::int64_t now = NowSeconds();
        const Found found = Run("look-up", Found::No, false, [&](Connection& connection) {
            std::int64_t expires = 0;
            bool keepExpired = false;
            QByteArray value;
            {
                Execution select(*connection.select);
                select.Bind(1, key);
                if (!select.Step()) {
                    return Found::No;
                }
                expires = select.Int64(0);
                keepExpired = select.Int64(1) != 0;
                value = select.Blob(2);
            }
            const bool expired = expires <= now;
            if (expired && !keepExpired) {
                Execution(*connection.deleteExpiredKey).Bind(1, key).Bind(2, now).Step();
                return Found::No;
            }
            if (expired && !includeExpired) {
                return Found::No;
            }
            if (!read(value)) {
                Execution(*connection.deleteKey).Bind(1, key).Step();
                return Found::No;
            }
            try {
                Execution(*connection.touch).Bind(1, key).Step();
            } catch (const SqliteFailure& failure) {
                // The entry was read; a busy or read-only database only loses the use stamp.
                if (!IsContention(failure.code)) {
                    throw;
                }
            }
            return expired ? Found::Expired : Found::Fresh;
        });
        Count(found != Found::No ? m_settings.counters.hits : m_settings.counters.misses);
        return found;
    }

    std::int64_t NowSeconds() const {
        const auto now = m_settings.now ? m_settings.now() : std::chrono::system_clock::now();
        return std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
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
        auto connection = std::make_unique<Connection>(m_settings);
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
            Count(m_settings.counters.rebuilds);
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
                         QStringLiteral("%1 '%2': %3 failed: %4")
                             .arg(m_settings.displayName, m_settings.databasePath,
                                  QLatin1String(what), QString::fromStdString(failure.message)));
    }

    const Settings m_settings;

    // Operations hold it shared; closing every connection holds it exclusive.
    std::shared_mutex m_generationLock;
    std::uint64_t m_generation = 0;

    std::mutex m_poolMutex;
    std::vector<std::unique_ptr<Connection>> m_idle;

    mutable std::mutex m_identityMutex;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> m_fileIdentity;

    std::atomic<bool> m_openFailureLogged{false};
};

SqliteStore::SqliteStore(Settings settings) : m_impl(std::make_unique<Impl>(std::move(settings))) {
    GetEntryCount();
}

SqliteStore::~SqliteStore() = default;

const SqliteStore::Settings& SqliteStore::GetSettings() const {
    return m_impl->GetSettings();
}

std::int64_t SqliteStore::NowSeconds() const {
    return m_impl->NowSeconds();
}

bool SqliteStore::Get(const QByteArray& key, const ValueReader& read) {
    return m_impl->Find(key, read, false) == Found::Fresh;
}

SqliteStore::Found SqliteStore::GetIncludingExpired(const QByteArray& key,
                                                    const ValueReader& read) {
    return m_impl->Find(key, read, true);
}

bool SqliteStore::Put(const Entry& entry) {
    const Settings& settings = m_impl->GetSettings();
    if (entry.size > settings.maxBytes) {
        return false;
    }
    const std::int64_t now = NowSeconds();
    std::int64_t evicted = 0;
    const bool stored = m_impl->Run("insertion", false, true, [&](Impl::Connection& connection) {
        Impl::WriteTransaction transaction(connection);
        Execution(*connection.purgeExpired).Bind(1, now).Step();
        Execution(*connection.upsert)
            .Bind(1, entry.key)
            .Bind(2, entry.expires)
            .Bind(3, entry.size)
            .Bind(4, entry.value)
            .Bind(5, std::int64_t{entry.keepExpired ? 1 : 0})
            .Step();
        const std::int64_t evictedNow = m_impl->EvictBeyondBounds(connection, entry.key);
        transaction.Commit();
        evicted = evictedNow;
        return true;
    });
    if (stored) {
        Count(settings.counters.stores);
        Count(settings.counters.evictions, evicted);
    }
    return stored;
}

void SqliteStore::Clear() {
    m_impl->Run("clearing", false, true, [](Impl::Connection& connection) {
        Impl::WriteTransaction transaction(connection);
        Execution(*connection.clear).Step();
        transaction.Commit();
        return true;
    });
}

std::int64_t SqliteStore::GetEntryCount() {
    return m_impl->Run("counting", std::int64_t{-1}, true, [](Impl::Connection& connection) {
        return connection.QueryInt(*connection.entryCount);
    });
}

std::int64_t SqliteStore::GetStoredBytes() {
    return m_impl->Run("summing", std::int64_t{-1}, true, [](Impl::Connection& connection) {
        return connection.QueryInt(*connection.storedBytes);
    });
}
