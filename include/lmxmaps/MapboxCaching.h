#pragma once
// Why cache: every view of a Mapbox source needs the same style and tileset documents, and
// downloading and parsing them is slow. A vector connection therefore keeps parsed documents in
// memory until they expire, and keeps the raw text last downloaded per URL on disk (external
// cache "MapboxFetch") to fall back on without network.
//
// Lookups pass the entry to a callback while a shared lock is held, so a hit is one hash lookup
// and no copy. Keep callbacks brief, and never store into the same cache from one. Nothing is
// evicted from memory; storing a URL again overwrites its entry.

#include <QDateTime>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include <lmxmaps/MapLayers.h>
#include <lmxmaps/host/TString.h>

namespace MapboxCaching {

// A parsed style document.
struct StyleEntry {
    TString styleJson;
    std::vector<MapLayer> layers;
    // Language key to the text-field expression of that language.
    std::unordered_map<TString, TString> languages;
    // The style layer demographic data goes above; empty when the style names none.
    TString demographicsInsertAbove;
    double demographicsOpacity = 1.0;
    // UTC.
    QDateTime timestamp;
    QDateTime expires;
};

// The data layers of a parsed tileset document.
struct TilesetEntry {
    std::vector<MapLayer> layers;
    QDateTime expires;
};

// The current time in UTC as the caches judge expiry; tests pass their own.
using Clock = std::function<QDateTime()>;

class IStyleCache {
public:
    virtual ~IStyleCache() = default;
    // Calls use with the entry and answers true when a fresh one (expires not before now) is
    // cached; otherwise answers false without calling it.
    virtual bool TryUse(const TString& url, const std::function<void(const StyleEntry&)>& use) = 0;
    virtual void Put(const TString& url, const StyleEntry& entry) = 0;
};

class ITilesetCache {
public:
    virtual ~ITilesetCache() = default;
    virtual bool TryUse(const TString& url,
                        const std::function<void(const TilesetEntry&)>& use) = 0;
    virtual void Put(const TString& url, const TilesetEntry& entry) = 0;
};

class IFetchCache {
public:
    virtual ~IFetchCache() = default;
    // The text last put under url; empty when there is none (or its record is damaged).
    virtual TString Get(const TString& url) = 0;
    // Failures of the store are not reported.
    virtual void Put(const TString& url, const TString& text) = 0;
};

// The memory caches a connection uses; an empty clock is the host clock.
std::unique_ptr<IStyleCache> MakeDefaultStyleCache(Clock now = {});
std::unique_ptr<ITilesetCache> MakeDefaultTilesetCache(Clock now = {});
// The persistent fetch cache over the process-wide "MapboxFetch" store (made on first use with
// the bounds of the options "MapboxVectorFetchCacheSizeMB" and
// "MapboxVectorFetchCacheMaxEntries"). Without a store it keeps nothing.
std::unique_ptr<IFetchCache> MakeDefaultFetchCache();

// The name of the external cache behind the fetch cache.
inline constexpr const char16_t* kFetchCacheName = u"MapboxFetch";

} // namespace MapboxCaching
