#pragma once
// One in-memory cache per process for map images (tiles, legends, composed views), keyed by
// property maps.
//
// Holds at most 101 entries, least recently used evicted first; only the newest 21 keep
// decoded pixels, the rest drop them and decode again on the next draw. An entry answers a
// lookup when every key of the lookup is present in it with the same value. Entries for failed
// images stop answering five minutes after creation, which forces a new fetch.
// Thread-safe throughout (a single recursive lock). Activity shows in the counters
// "MappedImageCacheHits", "...Misses", "...Stores" and "...Drops".

#include <QDateTime>
#include <memory>
#include <vector>

#include <lmxmaps/MappedImageInstance.h>
#include <lmxmaps/host/Locks.h>

class Cache;

class MappedImageCacheData : public RefCntObject {
public:
    MappedImageCacheData(QDateTime created, AttributeMap properties,
                         MappedImageInstancePtr mappedImage);

    const QDateTime& GetCreated() const { return m_created; }
    const AttributeMap& GetProperties() const { return m_properties; }
    MappedImageInstancePtr GetMappedImage() const { return m_mappedImage; }

private:
    QDateTime m_created;
    AttributeMap m_properties;
    MappedImageInstancePtr m_mappedImage;
};

using MappedImageCacheDataPtr = RefCntPtr<MappedImageCacheData>;

class MappedImageCache {
public:
    // Entries kept, and entries that keep their decoded pixels.
    static constexpr std::size_t kHardLimit = 101;
    static constexpr std::size_t kSoftLimit = 21;
    // How long a failed image keeps matching, in seconds.
    static constexpr qint64 kFailedEntryLifetimeSeconds = 5 * 60;

    static MappedImageCache& Singleton();

    MappedImageCache();
    virtual ~MappedImageCache();
    MappedImageCache(const MappedImageCache&) = delete;
    MappedImageCache& operator=(const MappedImageCache&) = delete;

    // The first matching entry (which counts as a use); false on a miss, out unchanged.
    bool Get(const AttributeMap& properties, MappedImageCacheDataPtr& out);
    // Adds an entry unless one with an equal key exists (that one stays), then enforces the
    // size limits.
    MappedImageCacheDataPtr Put(const AttributeMap& properties, MappedImageInstancePtr image);
    // Deletes the entries the properties match.
    void Clear(const AttributeMap& properties);
    void Clear();
    // Appends every entry; uses nothing.
    void GetContents(std::vector<MappedImageCacheDataPtr>& out) const;
    std::size_t GetSize() const;

private:
    mutable TRecursiveMutex m_lock;
    std::unique_ptr<Cache> m_cache;
};
