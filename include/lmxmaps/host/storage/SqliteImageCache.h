#pragma once
// The persistent image cache in one SQLite database file.
//
// Layout: one row per entry with the canonical key (see EncodeKey), the expiry time (seconds
// since the epoch), whether the entry is kept after it expired (revalidatable entries), a use
// stamp for least-recently-used eviction, the entry's size in bytes (key, extra attributes and
// image), and a value holding the extra attributes and the image bytes as fetched; a
// trigger-maintained total of the sizes. A database of an older layout is emptied and remade.
// An insertion first drops expired entries that are not kept, then the least recently used
// ones until the total fits the bound again.
//
// Many threads and processes may use one file at once: the database runs in WAL mode (readers
// do not block the writer), every writing transaction takes the write lock up front (BEGIN
// IMMEDIATE) and waits for it up to the busy timeout, and each thread works on its own
// connection from a small pool.
//
// A database that turns out corrupt, truncated or not a database at all answers as a miss;
// the file is moved aside (to "<file>.corrupt") and an empty database takes its place. A
// process that notices another one replaced the file reopens it. A database that cannot be
// opened at all (no such directory, no permission) leaves the cache empty: look-ups miss and
// insertions answer false, and opening is tried again on the next call.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include <lmxmaps/host/storage/PersistentImageCache.h>

class SqliteImageCache final : public IPersistentImageCache {
public:
    static constexpr std::int64_t kDefaultMaxBytes = 256LL * 1024 * 1024;
    static constexpr std::chrono::milliseconds kDefaultBusyTimeout{5000};
    static constexpr const char* kDatabaseFileName = "image-cache.sqlite";

    // Process-wide counters (HostCounters).
    static constexpr const char* kHitCounter = "PersistentImageCacheHits";
    static constexpr const char* kMissCounter = "PersistentImageCacheMisses";
    static constexpr const char* kStoreCounter = "PersistentImageCacheStores";
    static constexpr const char* kEvictionCounter = "PersistentImageCacheEvictions";
    static constexpr const char* kRebuildCounter = "PersistentImageCacheRebuilds";

    using Clock = std::function<std::chrono::system_clock::time_point()>;

    struct Settings {
        QString databasePath;
        // Bound on the summed sizes (key, image and extra bytes) of all entries.
        std::int64_t maxBytes = kDefaultMaxBytes;
        std::chrono::milliseconds busyTimeout = kDefaultBusyTimeout;
        // The time expiry is measured against; the system clock when empty.
        Clock now;
    };

    // Opens (creating when needed) the database; never throws for a database problem.
    explicit SqliteImageCache(Settings settings);
    ~SqliteImageCache() override;
    SqliteImageCache(const SqliteImageCache&) = delete;
    SqliteImageCache& operator=(const SqliteImageCache&) = delete;

    RefCntPtr<Data> Lookup(const AttributeMap& key) override;
    RefCntPtr<Data> LookupIncludingExpired(const AttributeMap& key) override;
    bool Insert(const Data& data, std::chrono::seconds maxAge) override;
    bool InsertRevalidatable(const Data& data, std::chrono::seconds maxAge) override;
    void Clear() override;
    void SetKeyFilter(KeyFilter filter) override;

    const QString& GetDatabasePath() const;
    // Entries and their summed sizes as stored now, expired ones included; -1 when the
    // database cannot be read.
    std::int64_t GetEntryCount();
    std::int64_t GetStoredBytes();

    // The canonical form of a key map: entries sorted by key, each key and value written as
    // "<UTF-8 byte length>:<UTF-8 bytes>", so that no two maps share a form.
    static QByteArray EncodeKey(const AttributeMap& map);
    // The map back from EncodeKey's form; false for bytes that are not such a form.
    static bool DecodeKey(const QByteArray& encoded, AttributeMap& map);

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
