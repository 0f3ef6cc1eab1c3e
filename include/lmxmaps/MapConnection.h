#pragma once
// The live link to one map service for one attribute set. It is created once per identifying
// attribute set (slowly, perhaps, under a progress display), shared by every provider whose
// attributes name the same service, and makes the requestors that fetch images.
//
// The static side is the process-wide connection cache: factories by provider class, the ten
// most recently used live connections, and look-up, creation and closing. A connection's key
// is its attribute set after the class's required-attribute filter (MapConnectionAttributes).
// Locks: the factory registry's, the cache's (look-ups and closing) and the add lock (the final
// check and insertion of a new connection); factories run outside all of them, so two threads
// may create a connection for one key at once and only the first to finish is kept.

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
    // Same number of entries, and each own value equals the other's for its key (a key the
    // other lacks counts as equal to an empty own value).
    bool MatchesAttributes(const AttributeMap& attributes) const;

    // An empty class name sets the default factory.
    static void Register(const TString& className, Factory factory);
    // The cached connection for the attributes, or a new one made by the class's factory under
    // the progress display (null without a class or factory). hint: the cache entry where the
    // caller last found its connection, updated. Throws what the factory throws, and
    // AsyncTask::CancelException when the user cancels the connect.
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
