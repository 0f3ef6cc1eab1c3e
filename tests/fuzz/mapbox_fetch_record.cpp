// A record of the Mapbox fetch cache as a later run finds it in the "MapboxFetch" store: the
// input is stored as the record's bytes. It reads back either as the text it announces, when
// that text fits, or as a miss; a text put reads back equal, stored as its count and code
// units.
#include <QTemporaryDir>
#include <QtEndian>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include <lmxmaps/MapboxCaching.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/storage/ExternalCache.h>

#include "FuzzSupport.h"

namespace {

constexpr qsizetype kCountBytes = 4;
constexpr qsizetype kCodeUnitBytes = 2;
constexpr std::int64_t kStoreBytes = 64 << 20;
constexpr std::int64_t kStoreEntries = 16;

const QString kFoundUrl = QStringLiteral("https://127.0.0.1:1/found.json");
const QString kWrittenUrl = QStringLiteral("https://127.0.0.1:1/written.json");

std::unique_ptr<QTemporaryDir> g_directory;
std::shared_ptr<IExternalCache> g_store;
std::unique_ptr<MapboxCaching::IFetchCache> g_cache;

quint32 AnnouncedUnits(const QByteArray& record) {
    return record.size() < kCountBytes ? 0 : qFromLittleEndian<quint32>(record.constData());
}

// A record holds its text when the announced code units follow the count in full.
bool HoldsText(const QByteArray& record) {
    const quint32 units = AnnouncedUnits(record);
    return units > 0 && qsizetype(units) <= (record.size() - kCountBytes) / kCodeUnitBytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::SetOptions();
    g_directory = std::make_unique<QTemporaryDir>();
    if (!g_directory->isValid())
        std::abort();
    Options::Set(QStringLiteral("ExternalCacheDirectory"), g_directory->path());
    g_store = ExternalCaches::MakeCache(QString::fromUtf16(MapboxCaching::kFetchCacheName),
                                        kStoreBytes, kStoreEntries);
    g_cache = MapboxCaching::MakeDefaultFetchCache();
    if (!g_store)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray record(reinterpret_cast<const char*>(data), int(size));
    if (!g_store->Put(kFoundUrl, record))
        std::abort();
    const TString text = g_cache->Get(kFoundUrl);
    if (text.isEmpty() == HoldsText(record))
        std::abort();

    g_cache->Put(kWrittenUrl, text);
    const QByteArray written = g_store->Get(kWrittenUrl).value_or(QByteArray());
    if (g_cache->Get(kWrittenUrl) != text || AnnouncedUnits(written) != quint32(text.size()) ||
        written.size() != kCountBytes + kCodeUnitBytes * text.size() ||
        (!text.isEmpty() && !record.startsWith(written)))
        std::abort();
    return 0;
}
