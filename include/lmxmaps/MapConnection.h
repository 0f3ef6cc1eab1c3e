#pragma once
// A live, shared link to a map service. Providers whose identifying attributes agree use the
// same instance; building one may be slow (a progress display is up meanwhile), and it hands
// out the requestors for images.
//
// The statics manage a process-wide cache of these links: factories keyed by provider class,
// at most kCacheLimit live entries (the least recently used leaves first), lookup, creation and
// closing. The cache key is the attribute set after the class's required-attribute filter
// (MapConnectionAttributes).
// Locks: one for the factory registry, one for lookups and closing, and one for the last check
// before a new link is inserted. No lock is held while a factory runs, so two threads can
// build a link for the same key concurrently; the first one done is kept.

#include <functional>

#include <lmxmaps/MapQuery.h>
#include <lmxmaps/MapRequestor.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/host/Locks.h>

class MapConnection;
using MapConnectionPtr = RefCntPtr<MapConnection>;

class MapConnection : public RefCntObject {
public:
    using Factory = std::function<MapConnectionPtr(const AttributeMap&)>;
    // How many live connections the cache keeps.
    static constexpr std::size_t kCacheLimit = 10;
    // The localized progress text of a connect and the message of a cancelled one.
    static constexpr StringId kConnectingText = 4154514272u;
    static constexpr StringId kConnectCancelledText = 2171915933u;

    explicit MapConnection(AttributeMap attributes);

    virtual MapRequestorPtr CreateMapRequestor(SpatialProjectorPtr projector,
                                               MapQueryPtr query) = 0;
    virtual bool SupportsHighDPI() const { return false; }
    virtual bool CanReplaceWithSecureConnection() const { return false; }

    // Empty when absent.
    TString GetAttribute(const char16_t* key) const;
    bool HasAttribute(const char16_t* key) const;
    AttributeMap GetAttributes() const;
    void SetAttribute(const char16_t* key, const TString& value);
    // True when both sets are the same size and every key of ours has our value there; a key
    // missing on their side matches an empty value of ours.
    bool MatchesAttributes(const AttributeMap& attributes) const;

    // className empty: the fallback for classes without a factory of their own.
    static void Register(const TString& className, Factory factory);
    // Returns the cached connection for these attributes, or builds one with the class's
    // factory while a progress display is up; null when there is no class or no factory. hint
    // speeds up the next search (an index into the cache) and is updated. Factory exceptions
    // pass through; a user cancel raises AsyncTask::CancelException.
    static MapConnectionPtr GetOrCreate(const AttributeMap& attributes, unsigned int& hint);
    // The cached connection, or null.
    static MapConnectionPtr Find(const AttributeMap& attributes, unsigned int hint);
    // Removes the matching connections from the cache; whether there were any.
    static bool Close(const AttributeMap& attributes);
    static void CloseAll();

private:
    mutable TReadWriteLock m_attributeLock;
    AttributeMap m_attributes;
};
