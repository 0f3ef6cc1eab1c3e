#pragma once
// The process-wide in-memory cache of fetched map images (tiles, legends, composites), looked
// up by property maps.
//
// It keeps the 101 most recently used entries, and only the 21 most recent keep their decoded
// pixels; older ones give the pixels back and decode again when drawn. A request matches an
// entry whose properties include every requested key with an equal value. An entry whose image
// failed matches only for five minutes after it was made, so the image is then fetched again.
// Every operation may be called from any thread (one recursive lock); the counters
// "MappedImageCacheHits", "...Misses", "...Stores" and "...Drops" count what happens.

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
    // Stores a new entry (an equal key already there is not replaced) and applies the limits.
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
