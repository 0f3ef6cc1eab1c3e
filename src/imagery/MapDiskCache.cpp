#include <mutex>

#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapDiskCache.h>
#include <lmxmaps/host/net/Secrets.h>

namespace MapDiskCache {

namespace {

// Request properties ("LAYERS", "INDEX", ...) are upper case; source attributes are lower-case
// words joined by hyphens.
bool IsRequestProperty(const TString& key) {
    return key == key.toUpper();
}

} // namespace

void FilterKey(AttributeMap& key) {
    AttributeMap attributes;
    for (auto entry = key.begin(); entry != key.end();) {
        if (IsRequestProperty(entry->first)) {
            ++entry;
        } else {
            attributes.insert(key.extract(entry++));
        }
    }
    MapConnectionAttributes::FilterRequiredAttributes(attributes);
    // Keys are stored on disk: secrets are there only as keyed digests, which keep tiles
    // fetched with different keys or accounts apart.
    key.merge(Secrets::DigestAttributes(attributes, IPersistentImageCache::SecretDigestKey()));
}

IPersistentImageCache* Get() {
    static std::once_flag installed;
    IPersistentImageCache* cache = IPersistentImageCache::GetSingleton();
    if (cache != nullptr) {
        std::call_once(installed, [cache] { cache->SetKeyFilter(FilterKey); });
    }
    return cache;
}

} // namespace MapDiskCache
