#include <QtEndian>
#include <algorithm>
#include <limits>
#include <mutex>
#include <vector>

#include <lmxmaps/host/storage/SqliteImageCache.h>

#include "SqliteStore.h"

namespace {

// Raise when the form of keys or values changes; a database of another form is remade.
constexpr int kFormatVersion = 1;
constexpr const char* kDisplayName = "Image cache";
constexpr SqliteStore::CounterNames kCounters = {
    SqliteImageCache::kHitCounter, SqliteImageCache::kMissCounter, SqliteImageCache::kStoreCounter,
    SqliteImageCache::kEvictionCounter, SqliteImageCache::kRebuildCounter};

// A stored value: the length of the encoded extra attributes (32 bits, big-endian), the
// encoded extra attributes, then the image bytes as fetched.
using ExtraLength = quint32;
constexpr int kExtraLengthBytes = sizeof(ExtraLength);

QByteArray EncodeValue(const QByteArray& extra, const QByteArray& image) {
    QByteArray value(kExtraLengthBytes, Qt::Uninitialized);
    qToBigEndian(static_cast<ExtraLength>(extra.size()), value.data());
    value += extra;
    value += image;
    return value;
}

// False for a value that is not EncodeValue's form or whose image cannot be read.
bool DecodeValue(const QByteArray& value, AttributeMap& extra,
                 std::unique_ptr<QtImageObject>& image) {
    if (value.size() < kExtraLengthBytes) {
        return false;
    }
    const qint64 extraLength = qFromBigEndian<ExtraLength>(value.constData());
    const qint64 imageStart = kExtraLengthBytes + extraLength;
    if (imageStart > value.size() ||
        !SqliteImageCache::DecodeKey(value.mid(kExtraLengthBytes, static_cast<int>(extraLength)),
                                     extra)) {
        return false;
    }
    image = QtImageObject::FromEncoded(value.mid(static_cast<int>(imageStart)));
    return image != nullptr;
}

SqliteStore::Settings StoreSettings(SqliteImageCache::Settings settings) {
    SqliteStore::Settings store;
    store.databasePath = std::move(settings.databasePath);
    store.displayName = QLatin1String(kDisplayName);
    store.formatVersion = kFormatVersion;
    store.maxBytes = settings.maxBytes;
    store.busyTimeout = settings.busyTimeout;
    store.now = std::move(settings.now);
    store.counters = kCounters;
    return store;
}

bool ReadKeyItem(const QByteArray& encoded, qsizetype& position, TString& item) {
    const qsizetype colon = encoded.indexOf(':', position);
    if (colon <= position) {
        return false;
    }
    const QByteArray digits = encoded.mid(position, colon - position);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    bool ok = false;
    const qlonglong length = digits.toLongLong(&ok);
    if (!ok || length > encoded.size() - colon - 1) {
        return false;
    }
    item = QString::fromUtf8(encoded.constData() + colon + 1, static_cast<int>(length));
    position = colon + 1 + length;
    return true;
}

void WriteKeyItem(QByteArray& encoded, const TString& item) {
    const QByteArray utf8 = item.toUtf8();
    encoded += QByteArray::number(utf8.size());
    encoded += ':';
    encoded += utf8;
}

} // namespace

class SqliteImageCache::Impl {
public:
    explicit Impl(Settings settings) : m_store(StoreSettings(std::move(settings))) {}

    SqliteStore& Store() { return m_store; }

    void SetKeyFilter(KeyFilter filter) {
        auto shared = filter ? std::make_shared<const KeyFilter>(std::move(filter)) : nullptr;
        std::lock_guard lock(m_filterMutex);
        m_keyFilter = std::move(shared);
    }

    AttributeMap FilteredKey(const AttributeMap& key) const {
        std::shared_ptr<const KeyFilter> filter;
        {
            std::lock_guard lock(m_filterMutex);
            filter = m_keyFilter;
        }
        AttributeMap filtered = key;
        if (filter) {
            (*filter)(filtered);
        }
        return filtered;
    }

    RefCntPtr<Data> Find(const AttributeMap& key, bool includeExpired) {
        AttributeMap filtered = FilteredKey(key);
        AttributeMap extra;
        std::unique_ptr<QtImageObject> image;
        const auto read = [&](const QByteArray& value) {
            return DecodeValue(value, extra, image);
        };
        const QByteArray storedKey = EncodeKey(filtered);
        const SqliteStore::Found found =
            includeExpired ? m_store.GetIncludingExpired(storedKey, read)
                           : (m_store.Get(storedKey, read) ? SqliteStore::Found::Fresh
                                                           : SqliteStore::Found::No);
        if (found == SqliteStore::Found::No) {
            return nullptr;
        }
        return MakeRefCnt<Data>(std::move(filtered), std::move(extra), std::move(image),
                                found == SqliteStore::Found::Expired);
    }

    // False when nothing was stored: no image, an entry larger than the bound, a failure.
    bool Store(const Data& data, std::chrono::seconds maxAge, bool keepExpired) {
        const QtImageObject* image = data.GetImageObject();
        if (image == nullptr) {
            return false;
        }
        const QByteArray bytes = image->GetEncodedOrPng();
        if (bytes.isEmpty()) {
            return false;
        }
        const QByteArray extra = EncodeKey(data.GetExtra());
        SqliteStore::Entry entry;
        entry.key = EncodeKey(FilteredKey(data.GetKey()));
        entry.value = EncodeValue(extra, bytes);
        // The length prefix is framing, not content: it does not count against the bound.
        entry.size = entry.key.size() + extra.size() + bytes.size();
        const std::int64_t now = m_store.NowSeconds();
        entry.expires = now + std::min<std::int64_t>(
                                  maxAge.count(), std::numeric_limits<std::int64_t>::max() - now);
        entry.keepExpired = keepExpired;
        return m_store.Put(entry);
    }

private:
    SqliteStore m_store;

    mutable std::mutex m_filterMutex;
    std::shared_ptr<const KeyFilter> m_keyFilter;
};

SqliteImageCache::SqliteImageCache(Settings settings)
    : m_impl(std::make_unique<Impl>(std::move(settings))) {}

SqliteImageCache::~SqliteImageCache() = default;

const QString& SqliteImageCache::GetDatabasePath() const {
    return m_impl->Store().GetSettings().databasePath;
}

void SqliteImageCache::SetKeyFilter(KeyFilter filter) {
    m_impl->SetKeyFilter(std::move(filter));
}

RefCntPtr<IPersistentImageCache::Data> SqliteImageCache::Lookup(const AttributeMap& key) {
    return m_impl->Find(key, false);
}

RefCntPtr<IPersistentImageCache::Data>
SqliteImageCache::LookupIncludingExpired(const AttributeMap& key) {
    return m_impl->Find(key, true);
}

bool SqliteImageCache::Insert(const Data& data, std::chrono::seconds maxAge) {
    return maxAge.count() > 0 && m_impl->Store(data, maxAge, false);
}

bool SqliteImageCache::InsertRevalidatable(const Data& data, std::chrono::seconds maxAge) {
    return maxAge.count() >= 0 && m_impl->Store(data, maxAge, true);
}

void SqliteImageCache::Clear() {
    m_impl->Store().Clear();
}

std::int64_t SqliteImageCache::GetEntryCount() {
    return m_impl->Store().GetEntryCount();
}

std::int64_t SqliteImageCache::GetStoredBytes() {
    return m_impl->Store().GetStoredBytes();
}

QByteArray SqliteImageCache::EncodeKey(const AttributeMap& map) {
    std::vector<const AttributeMap::value_type*> entries;
    entries.reserve(map.size());
    for (const auto& entry : map) {
        entries.push_back(&entry);
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto* a, const auto* b) { return a->first < b->first; });
    QByteArray encoded;
    for (const auto* entry : entries) {
        WriteKeyItem(encoded, entry->first);
        WriteKeyItem(encoded, entry->second);
    }
    return encoded;
}

bool SqliteImageCache::DecodeKey(const QByteArray& encoded, AttributeMap& map) {
    AttributeMap decoded;
    qsizetype position = 0;
    while (position < encoded.size()) {
        TString key;
        TString value;
        if (!ReadKeyItem(encoded, position, key) || !ReadKeyItem(encoded, position, value)) {
            return false;
        }
        decoded.insert_or_assign(std::move(key), std::move(value));
    }
    map = std::move(decoded);
    return true;
}
