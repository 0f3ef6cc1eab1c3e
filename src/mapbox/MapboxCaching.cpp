#include <QtEndian>
#include <cstring>
#include <mutex>

#include <lmxmaps/MapboxCaching.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/storage/ExternalCache.h>

#include "mapbox/MemCache.h"

namespace MapboxCaching {

namespace {

constexpr const char* kSizeOption = "MapboxVectorFetchCacheSizeMB";
constexpr const char* kEntriesOption = "MapboxVectorFetchCacheMaxEntries";
constexpr std::int64_t kBytesPerMegabyte = 1024 * 1024;
constexpr std::size_t kCountBytes = sizeof(quint32);
constexpr std::size_t kCodeUnitBytes = sizeof(char16_t);

// A memory cache behind one of the cache interfaces.
template <class Interface, class Entry>
class DefaultMemoryCache final : public Interface {
public:
    explicit DefaultMemoryCache(Clock now) : m_cache(std::move(now)) {}

    bool TryUse(const TString& url, const std::function<void(const Entry&)>& use) override {
        return m_cache.TryUse(url, use);
    }
    void Put(const TString& url, const Entry& entry) override { m_cache.Put(url, entry); }

private:
    MemCache<Entry> m_cache;
};

using DefaultStyleCache = DefaultMemoryCache<IStyleCache, StyleEntry>;
using DefaultTilesetCache = DefaultMemoryCache<ITilesetCache, TilesetEntry>;

// One string: its UTF-16 code units counted in a 32-bit word, then the code units, all
// little-endian.
QByteArray EncodeRecord(const TString& text) {
    const auto units = static_cast<quint32>(text.size());
    QByteArray record(static_cast<qsizetype>(kCountBytes + units * kCodeUnitBytes), '\0');
    char* out = record.data();
    qToLittleEndian(units, out);
    out += kCountBytes;
    for (const QChar unit : text) {
        qToLittleEndian(unit.unicode(), out);
        out += kCodeUnitBytes;
    }
    return record;
}

// Empty for a record too short for its count or its announced code units.
TString DecodeRecord(const QByteArray& record) {
    const auto size = static_cast<std::size_t>(record.size());
    if (size < kCountBytes) {
        return TString();
    }
    const char* in = record.constData();
    const quint32 units = qFromLittleEndian<quint32>(in);
    if (units > (size - kCountBytes) / kCodeUnitBytes) {
        return TString();
    }
    TString text(static_cast<int>(units), Qt::Uninitialized);
    QChar* out = text.data();
    in += kCountBytes;
    for (quint32 i = 0; i < units; ++i) {
        out[i] = QChar(qFromLittleEndian<quint16>(in));
        in += kCodeUnitBytes;
    }
    return text;
}

std::shared_ptr<IExternalCache> SharedFetchStore() {
    static std::once_flag made;
    static std::shared_ptr<IExternalCache> store;
    std::call_once(made, [] {
        store = ExternalCaches::MakeCache(
            TStr(kFetchCacheName), Options::GetInt(QLatin1String(kSizeOption)) * kBytesPerMegabyte,
            Options::GetInt(QLatin1String(kEntriesOption)));
    });
    return store;
}

class DefaultFetchCache final : public IFetchCache {
public:
    DefaultFetchCache() : m_store(SharedFetchStore()) {}

    TString Get(const TString& url) override {
        if (!m_store) {
            return TString();
        }
        const std::optional<QByteArray> record = m_store->Get(url);
        return record ? DecodeRecord(*record) : TString();
    }

    void Put(const TString& url, const TString& text) override {
        if (m_store) {
            m_store->Put(url, EncodeRecord(text));
        }
    }

private:
    std::shared_ptr<IExternalCache> m_store;
};

} // namespace

std::unique_ptr<IStyleCache> MakeDefaultStyleCache(Clock now) {
    return std::make_unique<DefaultStyleCache>(std::move(now));
}

std::unique_ptr<ITilesetCache> MakeDefaultTilesetCache(Clock now) {
    return std::make_unique<DefaultTilesetCache>(std::move(now));
}

std::unique_ptr<IFetchCache> MakeDefaultFetchCache() {
    return std::make_unique<DefaultFetchCache>();
}

} // namespace MapboxCaching
