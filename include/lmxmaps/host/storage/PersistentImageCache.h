#pragma once
// The host's on-disk image cache: map tiles kept across runs and shared by every process of
// the user, keyed by an attribute map.
//
// Keys are matched exactly after the key filter (SetKeyFilter) has been applied to both the
// stored and the looked-up map; the map's order does not matter. A cache problem never
// reaches the caller as an exception: a look-up that cannot be answered is a miss and an
// insertion that cannot be made answers false.
//
// An entry its owner can revalidate (InsertRevalidatable) outlives its lifetime: Lookup no
// longer finds it, but LookupIncludingExpired does, marked expired, until the size bound
// evicts it. Other entries are gone once they expire.

#include <chrono>
#include <functional>
#include <memory>

#include <lmxmaps/host/QtImageObject.h>
#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/TString.h>

class IPersistentImageCache {
public:
    // One cache entry: its key, extra attributes stored beside the image, and the image.
    class Data : public RefCntObject {
    public:
        // Keeps its own copy of image (the copy shares the bytes and pixels); image may be
        // null for an entry that has none.
        Data(const AttributeMap& key, const AttributeMap& extra, const QtImageObject* image);
        Data(AttributeMap key, AttributeMap extra, std::unique_ptr<QtImageObject> image,
             bool expired = false);
        ~Data() override;

        const AttributeMap& GetKey() const { return m_key; }
        const AttributeMap& GetExtra() const { return m_extra; }
        // A found entry whose lifetime is over (only LookupIncludingExpired answers those).
        bool IsExpired() const { return m_expired; }
        // Owned by this entry; null when it has no image.
        const QtImageObject* GetImageObject() const { return m_image.get(); }
        // A copy for a caller that takes ownership (a map image instance, for example).
        std::unique_ptr<QtImageObject> CloneImageObject() const;

    private:
        AttributeMap m_key;
        AttributeMap m_extra;
        std::unique_ptr<QtImageObject> m_image;
        bool m_expired = false;
    };

    // Brings a key map to the form entries are matched by (for example by keeping only the
    // attributes that identify a map service). Runs on both insertion and look-up.
    using KeyFilter = std::function<void(AttributeMap&)>;

    virtual ~IPersistentImageCache() = default;

    // The entry stored under key that has not expired, or null. A hit counts as a use for the
    // least-recently-used eviction; the returned entry's key is the filtered one.
    virtual RefCntPtr<Data> Lookup(const AttributeMap& key) = 0;
    // As Lookup, and also an expired entry that was stored revalidatable (IsExpired() set).
    virtual RefCntPtr<Data> LookupIncludingExpired(const AttributeMap& key) = 0;
    // Stores the entry's image (in the encoded form it was fetched in, else as PNG) and extra
    // attributes under its key for maxAge, replacing an entry with the same key. False when
    // nothing was stored: no image, a maxAge that is not positive, an entry larger than the
    // whole cache, or a storage failure.
    virtual bool Insert(const Data& data, std::chrono::seconds maxAge) = 0;
    // As Insert, for an entry its owner can revalidate (its extra attributes say how): a zero
    // maxAge stores it already expired, and it is kept after it expired.
    virtual bool InsertRevalidatable(const Data& data, std::chrono::seconds maxAge) = 0;
    // Removes every entry.
    virtual void Clear() = 0;
    // Replaces the key filter; an empty function keeps key maps as they are.
    virtual void SetKeyFilter(KeyFilter filter) = 0;

    // The process-wide cache, configured by the options "ImageCacheDirectory" and
    // "ImageCacheMaxBytes" when first asked for; null when the directory option is empty or
    // the directory cannot be made. Lives until the process ends.
    static IPersistentImageCache* GetSingleton();
    // The key of the keyed digests that stand for secrets in cache keys
    // (Secrets::DigestAttributes). It lives in the configured cache directory, in a file only
    // its user may read, so every process sharing the cache agrees on it; without a directory
    // it is this process's own.
    static QByteArray SecretDigestKey();
};
