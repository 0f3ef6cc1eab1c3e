#pragma once
// The host's named external caches: bytes by text key, kept on disk from one run to the next
// and shared by every process of the user. Each name is one store, the SQLite database
// "<name>.sqlite" in the external cache directory (option "ExternalCacheDirectory"), bounded
// in bytes (the UTF-8 key plus the value, per entry) and in entries. Entries never expire;
// every insertion evicts the least recently used entries (a hit is a use) until the store is
// within both bounds, each object enforcing the bounds it was made with.
//
// Any thread may use an object, and any number of objects and processes may use one name.
// Process-wide counters ("ExternalCacheHits", "ExternalCacheMisses", "ExternalCacheStores",
// "ExternalCacheEvictions", "ExternalCacheRebuilds") sum over every store.
//
// A store problem never reaches the caller as an exception: a look-up that cannot be answered
// is a miss and a store that cannot be made answers false. A damaged store is set aside and a
// new empty one takes its place.

#include <QByteArray>
#include <cstdint>
#include <memory>
#include <optional>

#include <lmxmaps/host/TString.h>

class IExternalCache {
public:
    virtual ~IExternalCache() = default;

    // The bytes kept under key; nullopt when there are none. A hit counts as a use.
    virtual std::optional<QByteArray> Get(const TString& key) = 0;
    // Keeps value under key, replacing what was there; false when nothing was stored (a value
    // larger than the whole cache, or a storage failure), which leaves what was there.
    virtual bool Put(const TString& key, const QByteArray& value) = 0;
    // Removes every entry.
    virtual void Clear() = 0;
};

namespace ExternalCaches {

// The store named name (1 to 200 letters, digits, '-' and '_'), opened or created, with its
// bounds. Null, with a warning in the log, for any other name, when a bound is not positive
// or when the directory cannot be made; null when the directory option is empty. Several
// objects for one name share the same data on disk.
std::shared_ptr<IExternalCache> MakeCache(const TString& name, std::int64_t maxBytes,
                                          std::int64_t maxEntries);

// The directory of the stores: the option's value, "auto" being the per-user cache directory;
// empty when external caches are off.
TString Directory();

} // namespace ExternalCaches
