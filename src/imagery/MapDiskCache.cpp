#include <mutex>

#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapDiskCache.h>

namespace MapDiskCache {

IPersistentImageCache* Get() {
    static std::once_flag installed;
    IPersistentImageCache* cache = IPersistentImageCache::GetSingleton();
    if (cache != nullptr) {
        std::call_once(installed, [cache] {
            cache->SetKeyFilter(MapConnectionAttributes::FilterRequiredAttributes);
        });
    }
    return cache;
}

} // namespace MapDiskCache
