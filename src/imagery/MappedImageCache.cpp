#include <algorithm>

#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/host/Cache.h>
#include <lmxmaps/host/Counters.h>
#include <lmxmaps/host/HostClock.h>

namespace {

constexpr const char* kHitsCounter = "MappedImageCacheHits";
constexpr const char* kMissesCounter = "MappedImageCacheMisses";
constexpr const char* kStoresCounter = "MappedImageCacheStores";
constexpr const char* kDropsCounter = "MappedImageCacheDrops";
constexpr std::uint32_t kNullImageAssert = 0x00BF554A;

bool MoreRecentlyUsed(const CacheHelpers::Entry& a, const CacheHelpers::Entry& b) {
    return a.GetClock() > b.GetClock();
}

// Keeps the most recently used entries, and decoded pixels only for the most recent of them.
class MRUPolicy : public CacheHelpers::IPolicy {
public:
    void SelectEntriesToKeep(std::vector<CacheHelpers::Entry>& vecEntries) override {
        if (vecEntries.size() > m_cacheHardLimit) {
            std::nth_element(vecEntries.begin(), vecEntries.begin() + m_cacheHardLimit,
                             vecEntries.end(), MoreRecentlyUsed);
            vecEntries.erase(vecEntries.begin() + m_cacheHardLimit, vecEntries.end());
            LMX_LOGIC_ASSERT(vecEntries.size() <= m_cacheHardLimit);
        }
        if (vecEntries.size() > m_cacheSoftLimit) {
            std::vector<CacheHelpers::Entry> byRecency = vecEntries;
            std::nth_element(byRecency.begin(), byRecency.begin() + m_cacheSoftLimit,
                             byRecency.end(), MoreRecentlyUsed);
            for (auto entry = byRecency.begin() + m_cacheSoftLimit; entry != byRecency.end();
                 ++entry) {
                ReleaseBitmap(*entry);
            }
        }
    }

private:
    const std::size_t m_cacheSoftLimit = MappedImageCache::kSoftLimit;
    const std::size_t m_cacheHardLimit = MappedImageCache::kHardLimit;

    static void ReleaseBitmap(const CacheHelpers::Entry& entry) {
        const auto* data = dynamic_cast<const MappedImageCacheData*>(entry.GetData().get());
        if (data == nullptr) {
            return;
        }
        const MappedImageInstancePtr image = data->GetMappedImage();
        if (!image) {
            return;
        }
        if (const std::shared_ptr<QtImageObject> object = image->GetImageObject()) {
            object->ClearBitmapCache();
        }
    }
};

// Matches entries whose properties include every requested one, skipping stale failures.
class ImageCachePredicate : public CacheHelpers::EntryPredicate {
public:
    explicit ImageCachePredicate(AttributeMap properties) : m_properties(std::move(properties)) {}

    bool Matches(const CacheHelpers::Entry& entry) override {
        const auto* data = dynamic_cast<const MappedImageCacheData*>(entry.GetData().get());
        if (data == nullptr || !IsSubset(data->GetProperties())) {
            return false;
        }
        const MappedImageInstancePtr image = data->GetMappedImage();
        LMX_LOGIC_ASSERT_ID(image != nullptr, kNullImageAssert);
        if (!image->IsError()) {
            return true;
        }
        return data->GetCreated().secsTo(HostClock::NowUtc()) <=
               MappedImageCache::kFailedEntryLifetimeSeconds;
    }

private:
    bool IsSubset(const AttributeMap& stored) const {
        return std::all_of(m_properties.begin(), m_properties.end(), [&stored](const auto& wanted) {
            const auto found = stored.find(wanted.first);
            return found != stored.end() && found->second == wanted.second;
        });
    }

    AttributeMap m_properties;
};

// Collects every entry and never accepts one, so HasEntry visits them all.
class GetContentsPredicate : public CacheHelpers::EntryPredicate {
public:
    explicit GetContentsPredicate(std::vector<MappedImageCacheDataPtr>& out) : m_out(&out) {}

    bool Matches(const CacheHelpers::Entry& entry) override {
        if (auto* data = dynamic_cast<MappedImageCacheData*>(entry.GetData().get())) {
            m_out->push_back(MappedImageCacheDataPtr(data));
        }
        return false;
    }

private:
    std::vector<MappedImageCacheDataPtr>* m_out;
};

} // namespace

MappedImageCacheData::MappedImageCacheData(QDateTime created, AttributeMap properties,
                                           MappedImageInstancePtr mappedImage)
    : m_created(std::move(created)), m_properties(std::move(properties)),
      m_mappedImage(std::move(mappedImage)) {}

MappedImageCache& MappedImageCache::Singleton() {
    static MappedImageCache cache;
    return cache;
}

MappedImageCache::MappedImageCache()
    : m_cache(std::make_unique<Cache>(std::make_unique<MRUPolicy>())) {}

MappedImageCache::~MappedImageCache() {
    std::unique_ptr<Cache> detached;
    {
        AutoSynchronize guard(m_lock, "MappedImageCache::~MappedImageCache");
        detached = std::move(m_cache);
    }
}

bool MappedImageCache::Get(const AttributeMap& properties, MappedImageCacheDataPtr& out) {
    AutoSynchronize guard(m_lock, "MappedImageCache::Get");
    ImageCachePredicate predicate(properties);
    if (const std::optional<CacheHelpers::Entry> entry = m_cache->UseEntry(predicate)) {
        if (auto* data = dynamic_cast<MappedImageCacheData*>(entry->GetData().get())) {
            out = MappedImageCacheDataPtr(data);
            HostCounters::Increment(kHitsCounter);
            return true;
        }
    }
    HostCounters::Increment(kMissesCounter);
    return false;
}

MappedImageCacheDataPtr MappedImageCache::Put(const AttributeMap& properties,
                                              MappedImageInstancePtr image) {
    AutoSynchronize guard(m_lock, "MappedImageCache::Put");
    // UTC: only ages are read from it, and the local time asks the time zone every time.
    MappedImageCacheDataPtr data =
        MakeRefCnt<MappedImageCacheData>(HostClock::NowUtc(), properties, std::move(image));
    m_cache->AddEntry(data);
    m_cache->IncrementClock();
    HostCounters::Increment(kStoresCounter);
    return data;
}

void MappedImageCache::Clear(const AttributeMap& properties) {
    AutoSynchronize guard(m_lock, "MappedImageCache::Clear");
    ImageCachePredicate predicate(properties);
    const std::size_t before = m_cache->GetSize();
    m_cache->DeleteEntries(predicate);
    HostCounters::Increment(kDropsCounter, static_cast<std::int64_t>(before - m_cache->GetSize()));
}

void MappedImageCache::Clear() {
    AutoSynchronize guard(m_lock, "MappedImageCache::Clear");
    HostCounters::Increment(kDropsCounter, static_cast<std::int64_t>(m_cache->GetSize()));
    m_cache->DeleteEntries();
}

void MappedImageCache::GetContents(std::vector<MappedImageCacheDataPtr>& out) const {
    AutoSynchronize guard(m_lock, "MappedImageCache::GetContents");
    GetContentsPredicate predicate(out);
    m_cache->HasEntry(predicate);
}

std::size_t MappedImageCache::GetSize() const {
    AutoSynchronize guard(m_lock, "MappedImageCache::GetSize");
    return m_cache->GetSize();
}
