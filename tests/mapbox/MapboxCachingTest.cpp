#include <QDateTime>
#include <gtest/gtest.h>

#include <lmxmaps/MapboxCaching.h>
#include <lmxmaps/host/storage/ExternalCache.h>

#include "mapbox/MapboxTestSupport.h"
#include "providers/QStringPrinter.h"

using namespace MapboxCaching;

namespace {

const QDateTime kNoon(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC);

QByteArray Bytes(std::initializer_list<unsigned char> bytes) {
    return QByteArray(reinterpret_cast<const char*>(std::data(bytes)),
                      static_cast<int>(bytes.size()));
}

} // namespace

TEST(MapboxMemoryCaches, HandOutFreshEntriesInPlaceUntilTheyExpire) {
    QDateTime now = kNoon;
    const auto styles = MakeDefaultStyleCache([&] { return now; });
    StyleEntry entry;
    entry.styleJson = QStringLiteral("first");
    entry.expires = kNoon;
    styles->Put(QStringLiteral("u1"), entry);

    std::vector<const StyleEntry*> seen;
    const auto record = [&](const StyleEntry& used) {
        seen.push_back(&used);
    };
    // Expiring exactly now is still fresh; the same stored object is handed out each time.
    EXPECT_TRUE(styles->TryUse(QStringLiteral("u1"), record));
    EXPECT_TRUE(styles->TryUse(QStringLiteral("u1"), record));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(seen[0]->styleJson, QStringLiteral("first"));

    now = kNoon.addMSecs(1);
    EXPECT_FALSE(styles->TryUse(QStringLiteral("u1"), record));
    EXPECT_FALSE(styles->TryUse(QStringLiteral("unknown"), record));
    EXPECT_EQ(seen.size(), 2u) << "a miss must not call back";

    entry.styleJson = QStringLiteral("second");
    entry.expires = now.addSecs(60);
    styles->Put(QStringLiteral("u1"), entry);
    entry.styleJson = QStringLiteral("other");
    styles->Put(QStringLiteral("u2"), entry);
    TString u1;
    TString u2;
    EXPECT_TRUE(
        styles->TryUse(QStringLiteral("u1"), [&](const StyleEntry& e) { u1 = e.styleJson; }));
    EXPECT_TRUE(
        styles->TryUse(QStringLiteral("u2"), [&](const StyleEntry& e) { u2 = e.styleJson; }));
    EXPECT_EQ(u1, QStringLiteral("second"));
    EXPECT_EQ(u2, QStringLiteral("other"));

    const auto tilesets = MakeDefaultTilesetCache([&] { return now; });
    TilesetEntry tileset;
    tileset.layers.emplace_back(AttributeMap{{QStringLiteral("data-id"), QStringLiteral("pop")}});
    tileset.expires = now.addMSecs(-1);
    tilesets->Put(QStringLiteral("t"), tileset);
    EXPECT_FALSE(tilesets->TryUse(QStringLiteral("t"), [](const TilesetEntry&) {}));
    tileset.expires = now;
    tilesets->Put(QStringLiteral("t"), tileset);
    std::size_t layers = 0;
    EXPECT_TRUE(tilesets->TryUse(QStringLiteral("t"),
                                 [&](const TilesetEntry& e) { layers = e.layers.size(); }));
    EXPECT_EQ(layers, 1u);
}

// How a record is laid out and which damaged ones read as misses is the fetch-record fuzz
// target's, whose corpus replays as a test; here the store as a later run finds it.
TEST(MapboxFetchCache, TextsOutliveTheCacheObjectAndADamagedRecordReadsAsAMiss) {
    const QString text = QStringLiteral("Z\u00fcrich \U0001D510");
    MakeDefaultFetchCache()->Put(QStringLiteral("https://h/a"), text);
    // Another cache object over the same store, as a later run would have.
    EXPECT_EQ(MakeDefaultFetchCache()->Get(QStringLiteral("https://h/a")), text);

    const std::shared_ptr<IExternalCache> store =
        ExternalCaches::MakeCache(TStr(kFetchCacheName), 1 << 20, 100);
    ASSERT_NE(store, nullptr);
    // Three code units announced, two present.
    ASSERT_TRUE(
        store->Put(QStringLiteral("https://h/overlong"), Bytes({3, 0, 0, 0, 'a', 0, 'b', 0})));
    EXPECT_TRUE(MakeDefaultFetchCache()->Get(QStringLiteral("https://h/overlong")).isEmpty());
    EXPECT_TRUE(MakeDefaultFetchCache()->Get(QStringLiteral("https://h/never")).isEmpty());
}
