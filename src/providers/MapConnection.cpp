#include <algorithm>
#include <map>
#include <mutex>

#include <lmxmaps/MapConnection.h>
#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapSourceAttributes.h>
#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/host/Cache.h>
#include <lmxmaps/host/DeprecatedAsyncTaskSvc.h>

namespace {

constexpr std::uint32_t kCancelledConnectSite = 0x085E1DA7;

bool MoreRecentlyUsed(const CacheHelpers::Entry& a, const CacheHelpers::Entry& b) {
    return a.GetClock() > b.GetClock();
}

// Keeps the most recently used connections.
class ConnCachePolicy : public CacheHelpers::IPolicy {
public:
    explicit ConnCachePolicy(std::size_t limit) : m_limit(limit) {}

    void SelectEntriesToKeep(std::vector<CacheHelpers::Entry>& vecEntries) override {
        if (vecEntries.size() > m_limit) {
            std::nth_element(vecEntries.begin(), vecEntries.begin() + m_limit, vecEntries.end(),
                             MoreRecentlyUsed);
            vecEntries.erase(vecEntries.begin() + m_limit, vecEntries.end());
        }
        LMX_LOGIC_ASSERT(vecEntries.size() <= m_limit);
    }

private:
    std::size_t m_limit;
};

class ConnCacheMatcher : public CacheHelpers::EntryPredicate {
public:
    explicit ConnCacheMatcher(const AttributeMap& attributes) : m_attributes(attributes) {}

    bool Matches(const CacheHelpers::Entry& entry) override {
        const auto* connection = dynamic_cast<const MapConnection*>(entry.GetData().get());
        return connection != nullptr && connection->MatchesAttributes(m_attributes);
    }

private:
    const AttributeMap& m_attributes;
};

// Runs a factory on the thread pool so the connect can show progress and be cancelled.
class CreateConnTask : public ComputeTask {
public:
    CreateConnTask(MapConnection::Factory factory, AttributeMap key)
        : m_factory(std::move(factory)), m_key(std::move(key)) {}

    // A cancelled connect may take its time to give up; nobody needs to wait for it.
    bool ShouldOrphanOnCancel() const override { return true; }
    MapConnectionPtr TakeConnection() { return std::move(m_connection); }

protected:
    void ExecuteImpl() override { m_connection = m_factory(m_key); }

private:
    MapConnection::Factory m_factory;
    AttributeMap m_key;
    MapConnectionPtr m_connection;
};

struct ConnectionCache {
    std::mutex registryMutex;
    std::map<TString, MapConnection::Factory> factories;
    std::mutex cacheMutex;
    std::mutex addMutex;
    Cache cache{std::make_unique<ConnCachePolicy>(MapConnection::kCacheLimit)};

    MapConnection::Factory FindFactory(const TString& className) {
        std::lock_guard lock(registryMutex);
        auto found = factories.find(className);
        if (found == factories.end()) {
            found = factories.find(TString());
        }
        return found == factories.end() ? MapConnection::Factory() : found->second;
    }

    // Expects cacheMutex held.
    MapConnectionPtr LookUpLocked(const AttributeMap& key, unsigned int& hint) {
        if (hint != 0) {
            if (const auto entry = cache.UseEntry(CacheHelpers::EntryId{hint})) {
                auto* connection = dynamic_cast<MapConnection*>(entry->GetData().get());
                if (connection != nullptr && connection->MatchesAttributes(key)) {
                    cache.IncrementClock();
                    return MapConnectionPtr(connection);
                }
            }
        }
        ConnCacheMatcher matcher(key);
        if (const auto entry = cache.UseEntry(matcher)) {
            hint = static_cast<unsigned int>(entry->GetId());
            cache.IncrementClock();
            return MapConnectionPtr(dynamic_cast<MapConnection*>(entry->GetData().get()));
        }
        return nullptr;
    }

    MapConnectionPtr LookUp(const AttributeMap& key, unsigned int& hint) {
        std::lock_guard lock(cacheMutex);
        return LookUpLocked(key, hint);
    }
};

ConnectionCache& TheCache() {
    static ConnectionCache cache;
    return cache;
}

AttributeMap ConnectionKey(const AttributeMap& attributes) {
    AttributeMap key = attributes;
    MapConnectionAttributes::FilterRequiredAttributes(key);
    return key;
}

MapConnectionPtr CreateConnection(const AttributeMap& key) {
    const auto classEntry = key.find(TString::fromUtf16(MapSourceAttributeKeys::attrClass));
    if (classEntry == key.end()) {
        return nullptr;
    }
    MapConnection::Factory factory = TheCache().FindFactory(classEntry->second);
    if (!factory) {
        return nullptr;
    }
    const RefCntPtr<CreateConnTask> task = MakeRefCnt<CreateConnTask>(std::move(factory), key);
    DeprecatedAsyncTaskSvc::ExecuteTaskWithProgress(task,
                                                    LookupTStr(MapConnection::kConnectingText), 0);
    if (task->WasCancelled()) {
        throw AsyncTask::CancelException(
            LookupTStr(MapConnection::kConnectCancelledText),
            TError::AutoGen(QStringLiteral("LumivexCancelException"), kCancelledConnectSite));
    }
    task->CheckExceptions();
    MapConnectionPtr connection = task->TakeConnection();
    if (connection) {
        // Images fetched through an earlier connection to this service are fetched again.
        AttributeMap imageKey = connection->GetAttributes();
        MapConnectionAttributes::FilterSecureAttributes(imageKey);
        MapConnectionAttributes::FilterRequiredAttributes(imageKey);
        MappedImageCache::Singleton().Clear(imageKey);
    }
    return connection;
}

} // namespace

MapConnection::MapConnection(AttributeMap attributes) : m_attributes(std::move(attributes)) {}

TString MapConnection::GetAttribute(const char16_t* key) const {
    TReadGuard lock(m_attributeLock);
    const auto found = m_attributes.find(TString::fromUtf16(key));
    return found == m_attributes.end() ? TString() : found->second;
}

bool MapConnection::HasAttribute(const char16_t* key) const {
    TReadGuard lock(m_attributeLock);
    return m_attributes.count(TString::fromUtf16(key)) != 0;
}

AttributeMap MapConnection::GetAttributes() const {
    TReadGuard lock(m_attributeLock);
    return m_attributes;
}

void MapConnection::SetAttribute(const char16_t* key, const TString& value) {
    TWriteGuard lock(m_attributeLock);
    m_attributes[TString::fromUtf16(key)] = value;
}

bool MapConnection::MatchesAttributes(const AttributeMap& attributes) const {
    TReadGuard lock(m_attributeLock);
    if (attributes.size() != m_attributes.size()) {
        return false;
    }
    return std::all_of(m_attributes.begin(), m_attributes.end(), [&attributes](const auto& own) {
        const auto other = attributes.find(own.first);
        return other == attributes.end() ? own.second.isEmpty() : other->second == own.second;
    });
}

void MapConnection::Register(const TString& className, Factory factory) {
    ConnectionCache& cache = TheCache();
    std::lock_guard lock(cache.registryMutex);
    cache.factories[className] = std::move(factory);
}

MapConnectionPtr MapConnection::Find(const AttributeMap& attributes, unsigned int hint) {
    return TheCache().LookUp(ConnectionKey(attributes), hint);
}

MapConnectionPtr MapConnection::GetOrCreate(const AttributeMap& attributes, unsigned int& hint) {
    ConnectionCache& cache = TheCache();
    const AttributeMap key = ConnectionKey(attributes);
    if (MapConnectionPtr found = cache.LookUp(key, hint)) {
        return found;
    }
    MapConnectionPtr created = CreateConnection(key);
    if (!created) {
        return nullptr;
    }
    std::lock_guard addLock(cache.addMutex);
    unsigned int freshHint = 0;
    std::lock_guard cacheLock(cache.cacheMutex);
    if (MapConnectionPtr raced = cache.LookUpLocked(created->GetAttributes(), freshHint)) {
        hint = freshHint;
        return raced;
    }
    hint = static_cast<unsigned int>(cache.cache.AddEntry(created));
    cache.cache.IncrementClock();
    return created;
}

bool MapConnection::Close(const AttributeMap& attributes) {
    ConnectionCache& cache = TheCache();
    const AttributeMap key = ConnectionKey(attributes);
    std::lock_guard lock(cache.cacheMutex);
    ConnCacheMatcher matcher(key);
    return cache.cache.DeleteEntries(matcher) > 0;
}

void MapConnection::CloseAll() {
    ConnectionCache& cache = TheCache();
    std::lock_guard lock(cache.cacheMutex);
    cache.cache.DeleteEntries();
}
