#pragma once
// The host's disk image cache as the map module uses it: tiles are stored under the secure
// view of a connection's attributes and looked up under the provider's, so the cache matches
// both after the class's required-attribute filter (what identifies the map service).

#include <lmxmaps/host/storage/PersistentImageCache.h>

namespace MapDiskCache {

// The key rule: the source attributes in the key go through their class's required-attribute
// filter and keep their secrets only as keyed digests (Secrets::DigestAttributes, under
// IPersistentImageCache::SecretDigestKey); the request properties
// (upper-case keys such as "LAYERS" and "INDEX") all stay.
void FilterKey(AttributeMap& key);

// The process-wide disk cache with that key rule installed; null when the cache is off.
IPersistentImageCache* Get();

} // namespace MapDiskCache
