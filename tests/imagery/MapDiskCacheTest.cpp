#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapDiskCache.h>
#include <lmxmaps/host/Options.h>

// The disk cache is process-wide and configured when first asked for, so this program asks
// for it once, in this test, with its directory pointing into a temporary folder.
TEST(MapDiskCache, TilesStoredUnderTheSecureKeyAreFoundUnderTheProvidersKey) {
    const QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    Options::Set(QStringLiteral("ImageCacheDirectory"), directory.path());
    MapConnectionAttributes::RegisterRequiredAttributeFilter(
        QStringLiteral("DiskCacheTest"),
        [](AttributeMap& map) { map.erase(QStringLiteral("description")); });

    IPersistentImageCache* cache = MapDiskCache::Get();
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(MapDiskCache::Get(), cache);

    // As a tile requestor stores it: the connection's attributes without secrets, plus the
    // query's properties and the tile index.
    const AttributeMap stored = {{QStringLiteral("class"), QStringLiteral("DiskCacheTest")},
                                 {QStringLiteral("server"), QStringLiteral("tiles.example")},
                                 {QStringLiteral("description"), QStringLiteral("Streets")},
                                 {QStringLiteral("INDEX"), QStringLiteral("3/4/5")}};
    const auto image = QtImageObject::CreateCanvas(QSize(4, 4), QImage::Format_ARGB32, 1.0,
                                                   ColorObject::FromQColor(Qt::red));
    ASSERT_TRUE(
        cache->Insert(IPersistentImageCache::Data(stored, {}, image.get()), std::chrono::hours(1)));

    // As the view pipeline looks it up: the provider's identifying attributes.
    const AttributeMap lookedUp = {{QStringLiteral("class"), QStringLiteral("DiskCacheTest")},
                                   {QStringLiteral("server"), QStringLiteral("tiles.example")},
                                   {QStringLiteral("INDEX"), QStringLiteral("3/4/5")}};
    const RefCntPtr<IPersistentImageCache::Data> found = cache->Lookup(lookedUp);
    ASSERT_TRUE(found);
    ASSERT_NE(found->GetImageObject(), nullptr);
    EXPECT_EQ(found->GetImageObject()->GetWidth(), 4);

    AttributeMap otherTile = lookedUp;
    otherTile[QStringLiteral("INDEX")] = QStringLiteral("3/4/6");
    EXPECT_FALSE(cache->Lookup(otherTile));

    // Sources that differ only in their secrets keep their own tiles, and no secret is stored.
    const auto withSecrets = [&](const char* apiKey, const char* token) {
        AttributeMap key = lookedUp;
        key[QStringLiteral("api-key")] = QLatin1String(apiKey);
        key[QStringLiteral("url-format")] = QStringLiteral("/t/{Z}.png?access_token=") + token;
        return key;
    };
    ASSERT_TRUE(cache->Insert(
        IPersistentImageCache::Data(withSecrets("KeyOne", "TokenOne"), {}, image.get()),
        std::chrono::hours(1)));
    EXPECT_TRUE(cache->Lookup(withSecrets("KeyOne", "TokenOne")));
    EXPECT_FALSE(cache->Lookup(withSecrets("KeyTwo", "TokenOne")));
    EXPECT_FALSE(cache->Lookup(withSecrets("KeyOne", "TokenTwo")));
    QByteArray onDisk;
    for (const QFileInfo& file : QDir(directory.path()).entryInfoList(QDir::Files)) {
        QFile bytes(file.filePath());
        ASSERT_TRUE(bytes.open(QIODevice::ReadOnly));
        onDisk += bytes.readAll();
    }
    EXPECT_TRUE(onDisk.contains("access_token=#"));
    EXPECT_FALSE(onDisk.contains("KeyOne") || onDisk.contains("TokenOne"));
    Options::Set(QStringLiteral("ImageCacheDirectory"), std::nullopt);
}
