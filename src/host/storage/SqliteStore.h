#pragma once
// A bounded store of byte values under byte keys in one SQLite database file: the storage
// under the disk image cache and the named external caches.
//
// Layout: one row per entry with the key, the expiry time (seconds since the epoch), whether
// the entry is kept after it expired, a use stamp for least-recently-used eviction, the size
// the entry counts against the byte bound, and the value; trigger-maintained totals of the
// sizes and of the entries. A store written under another layout or another format of its
// values is emptied and remade. An insertion first drops expired entries that are not kept,
// then the least recently used ones until the store is within both bounds again.
//
// Many threads and processes may use one file at once: the database runs in WAL mode (readers
// do not block the writer), every writing transaction takes the write lock up front (BEGIN
// IMMEDIATE) and waits for it up to the busy timeout, and each thread works on its own
// connection from a small pool.
//
// A database that turns out corrupt, truncated or not a database at all answers as a miss;
// the file is moved aside (to "<file>.corrupt") and an empty database takes its place. A
// process that notices another one replaced the file reopens it. A database that cannot be
// opened at all leaves the store empty, and opening is tried again on the next call. No
// database problem leaves a call as an exception.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>

class SqliteStore {
public:
    static constexpr std::int64_t kNeverExpires = std::numeric_limits<std::int64_t>::max();
    static constexpr std::chrono::milliseconds kDefaultBusyTimeout{5000};

    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // Names of the process-wide counters (HostCounters) the store counts into.
    struct CounterNames {
        const char* hits;
        const char* misses;
        const char* stores;
        const char* evictions;
        const char* rebuilds;
    };

    struct Settings {
        QString databasePath;
        // Opens the log lines about this store ("<displayName> '<path>' is damaged ...").
        QString displayName;
        // The owner's format of keys and values; a database written under another is remade.
        int formatVersion = 1;
        // Bound on the summed entry sizes.
        std::int64_t maxBytes = 0;
        // Bound on the number of entries; unbounded when not positive.
        std::int64_t maxEntries = 0;
        std::chrono::milliseconds busyTimeout = kDefaultBusyTimeout;
        // The time expiry is measured against; the system clock when empty.
        Clock now;
        CounterNames counters{};
    };

    struct Entry {
        QByteArray key;
        QByteArray value;
        // Seconds since the epoch; the entry reads as absent from then on.
        std::int64_t expires = kNeverExpires;
        // After it expired the entry stays (until the bounds evict it) for look-ups that ask
        // for expired entries too; otherwise it is deleted.
        bool keepExpired = false;
        // What the entry counts against the byte bound.
        std::int64_t size = 0;
    };

    // Takes the value of a found entry; false when the value is unusable, which drops the
    // entry and makes the look-up a miss.
    using ValueReader = std::function<bool(const QByteArray& value)>;

    // Opens (creating when needed) the database, so that a damaged file is dealt with before
    // the first real use.
    explicit SqliteStore(Settings settings);
    ~SqliteStore();
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    const Settings& GetSettings() const;
    std::int64_t NowSeconds() const;

    enum class Found { No, Fresh, Expired };

    // Whether an unexpired entry was found under key and read accepted its value; a hit
    // counts as a use.
    bool Get(const QByteArray& key, const ValueReader& read);
    // As Get, and also finds an expired entry that was stored with keepExpired.
    Found GetIncludingExpired(const QByteArray& key, const ValueReader& read);
    // Keeps entry, replacing the one under its key, then evicts down to the bounds; false
    // when nothing was stored (an entry larger than the byte bound, or a database failure).
    bool Put(const Entry& entry);
    void Clear();

    // Entries and their summed sizes as stored now, expired ones included; -1 when the
    // database cannot be read.
    std::int64_t GetEntryCount();
    std::int64_t GetStoredBytes();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
