// Tile records of the disk cache as a damaged disk gives them back. Each input is first the
// extra attributes of a tile written through the map module's disk cache, which must read back
// equal; then it replaces the record's stored bytes in the database file, and the look-up must
// miss or give a tile whose size is known and whose pixels, when they decode, have that size.
#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sqlite3.h>

#include <lmxmaps/MapDiskCache.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/storage/SqliteImageCache.h>

#include "FuzzSupport.h"

namespace {

constexpr std::chrono::hours kLifetime{1};

IPersistentImageCache* g_cache = nullptr;
sqlite3* g_database = nullptr;
QImage g_pixels;
std::unique_ptr<QtImageObject> g_tile;

const AttributeMap& TileKey() {
    static const AttributeMap key = {{QStringLiteral("class"), QStringLiteral("OpenStreetMap")},
                                     {QStringLiteral("server"), QStringLiteral("127.0.0.1")},
                                     {QStringLiteral("username"), QStringLiteral("api-key")},
                                     {QStringLiteral("INDEX"), QStringLiteral("3/4/2/256")}};
    return key;
}

QImage TilePixels() {
    QImage pixels(4, 3, QImage::Format_ARGB32);
    pixels.fill(QColor(10, 200, 30));
    pixels.setPixelColor(1, 2, QColor(250, 0, 0));
    return pixels;
}

std::unique_ptr<QtImageObject> PngOf(const QImage& pixels) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    pixels.save(&buffer, "PNG");
    return QtImageObject::FromEncoded(png);
}

// The record's stored bytes (the only row: every input writes the same key).
bool ReplaceStoredBytes(const uint8_t* data, size_t size) {
    sqlite3_stmt* update = nullptr;
    sqlite3_prepare_v2(g_database, "UPDATE entries SET value = ?1", -1, &update, nullptr);
    sqlite3_bind_blob64(update, 1, data, size, SQLITE_TRANSIENT);
    const bool done = sqlite3_step(update) == SQLITE_DONE && sqlite3_changes(g_database) == 1;
    sqlite3_finalize(update);
    return done;
}

void CheckUsable(const IPersistentImageCache::Data& found) {
    const QtImageObject* image = found.GetImageObject();
    if (image == nullptr || image->GetSize().isEmpty())
        std::abort();
    const QImage pixels = image->GetImage();
    if (!pixels.isNull() && pixels.size() != image->GetSize())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static QTemporaryDir directory;
    FuzzSupport::SetOptions();
    Options::Set(QStringLiteral("ImageCacheDirectory"), directory.path());
    g_cache = MapDiskCache::Get();
    const QByteArray file =
        QDir(directory.path()).filePath(SqliteImageCache::kDatabaseFileName).toUtf8();
    if (g_cache == nullptr || sqlite3_open(file.constData(), &g_database) != SQLITE_OK)
        std::abort();
    sqlite3_busy_timeout(g_database, 5000);
    g_pixels = TilePixels();
    g_tile = PngOf(g_pixels);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AttributeMap extra = {
        {QStringLiteral("etag"),
         QString::fromUtf8(reinterpret_cast<const char*>(data), int(size))}};
    if (!g_cache->Insert(IPersistentImageCache::Data(TileKey(), extra, g_tile.get()), kLifetime))
        std::abort();
    const RefCntPtr<IPersistentImageCache::Data> written = g_cache->Lookup(TileKey());
    if (!written || written->GetExtra() != extra || written->IsExpired() ||
        written->GetImageObject()->GetImage().convertToFormat(g_pixels.format()) != g_pixels)
        std::abort();

    if (!ReplaceStoredBytes(data, size))
        std::abort();
    const RefCntPtr<IPersistentImageCache::Data> damaged = g_cache->Lookup(TileKey());
    if (damaged)
        CheckUsable(*damaged);
    // A record that read as a miss is gone; one that read is read the same again.
    const RefCntPtr<IPersistentImageCache::Data> again = g_cache->Lookup(TileKey());
    if (bool(again) != bool(damaged) || (again && again->GetExtra() != damaged->GetExtra()))
        std::abort();
    return 0;
}
