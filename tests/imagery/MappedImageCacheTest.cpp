#include <QBuffer>
#include <gtest/gtest.h>
#include <thread>

#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/host/Counters.h>
#include <lmxmaps/host/HostClock.h>

#include "ImageryTestSupport.h"

namespace {

QByteArray PngBytes() {
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

AttributeMap Key(int index, const char* server = "tiles.example") {
    return {{QStringLiteral("server"), QString::fromUtf8(server)},
            {QStringLiteral("INDEX"), QString::number(index)}};
}

// A tile whose image came from encoded bytes and is decoded now.
MappedImageInstancePtr DecodedTile() {
    MappedImageInstancePtr tile = NewTile();
    tile->SetImageObject(QtImageObject::FromEncoded(PngBytes()));
    tile->GetImageObject()->GetImage();
    return tile;
}

bool Has(MappedImageCache& cache, const AttributeMap& key) {
    MappedImageCacheDataPtr found;
    return cache.Get(key, found);
}

std::int64_t Counter(const char* name) {
    return HostCounters::Get(name);
}

} // namespace

TEST(MappedImageCache, KeepsTheHundredAndOneMostRecentlyUsedAndDecodedPixelsOfTwentyOne) {
    MappedImageCache cache;
    for (int i = 0; i < 101; ++i) {
        cache.Put(Key(i), NewTile());
    }
    // A use saves the oldest entry from the next evictions; a listing is no use.
    EXPECT_TRUE(Has(cache, Key(0)));
    // The listing adds to what the vector held.
    std::vector<MappedImageCacheDataPtr> contents(1);
    cache.GetContents(contents);
    EXPECT_EQ(contents.size(), 102u);
    cache.Put(Key(101), NewTile());
    cache.Put(Key(102), NewTile());
    EXPECT_EQ(cache.GetSize(), MappedImageCache::kHardLimit);
    EXPECT_TRUE(Has(cache, Key(0)));
    EXPECT_FALSE(Has(cache, Key(1)));
    EXPECT_FALSE(Has(cache, Key(2)));
    EXPECT_TRUE(Has(cache, Key(102)));

    // Only the twenty-one most recent keep decoded pixels.
    MappedImageCache decoding;
    std::vector<MappedImageInstancePtr> tiles;
    for (int i = 0; i < 22; ++i) {
        tiles.push_back(DecodedTile());
        decoding.Put(Key(i), tiles.back());
    }
    EXPECT_FALSE(tiles[0]->GetImageObject()->IsBitmapDecoded());
    for (int i = 1; i < 22; ++i) {
        EXPECT_TRUE(tiles[i]->GetImageObject()->IsBitmapDecoded()) << i;
    }
    // The entry and its image stay; the pixels come back when needed.
    MappedImageCacheDataPtr found;
    ASSERT_TRUE(decoding.Get(Key(0), found));
    EXPECT_EQ(found->GetMappedImage(), tiles[0]);
    EXPECT_FALSE(found->GetMappedImage()->GetImageObject()->GetImage().isNull());
}

TEST(MappedImageCache, RequestsMatchSubsetsOfTheStoredPropertiesAndCountersFollowClears) {
    MappedImageCache cache;
    const MappedImageInstancePtr tile = NewTile();
    cache.Put(Key(7), tile);
    MappedImageCacheDataPtr found;
    ASSERT_TRUE(cache.Get({{QStringLiteral("INDEX"), QStringLiteral("7")}}, found));
    EXPECT_EQ(found->GetMappedImage(), tile);
    EXPECT_EQ(found->GetProperties(), Key(7));
    EXPECT_TRUE(cache.Get({}, found));
    AttributeMap wider = Key(7);
    wider[QStringLiteral("LAYERS")] = QStringLiteral("roads");
    EXPECT_FALSE(Has(cache, wider));
    EXPECT_FALSE(Has(cache, Key(7, "other.example")));
    EXPECT_FALSE(Has(cache, {{QStringLiteral("index"), QStringLiteral("7")}}));

    cache.Clear();
    const std::int64_t hits = Counter("MappedImageCacheHits");
    const std::int64_t stores = Counter("MappedImageCacheStores");
    const std::int64_t drops = Counter("MappedImageCacheDrops");
    cache.Put(Key(1, "a"), NewTile());
    cache.Put(Key(2, "a"), NewTile());
    cache.Put(Key(3, "b"), NewTile());
    EXPECT_EQ(Counter("MappedImageCacheStores"), stores + 3);
    EXPECT_TRUE(Has(cache, Key(3, "b")));
    EXPECT_EQ(Counter("MappedImageCacheHits"), hits + 1);

    cache.Clear({{QStringLiteral("server"), QStringLiteral("a")}});
    EXPECT_EQ(cache.GetSize(), 1u);
    EXPECT_EQ(Counter("MappedImageCacheDrops"), drops + 2);
    cache.Clear();
    EXPECT_EQ(cache.GetSize(), 0u);
    EXPECT_EQ(Counter("MappedImageCacheDrops"), drops + 3);
}

TEST(MappedImageCache, FailedImagesMatchForFiveMinutes) {
    MappedImageCache cache;
    const MappedImageInstancePtr failed = NewTile();
    failed->SetError();
    cache.Put(Key(1), failed);
    EXPECT_TRUE(Has(cache, Key(1)));
    {
        const HostClock::ScopedShift almost(MappedImageCache::kFailedEntryLifetimeSeconds - 2);
        EXPECT_TRUE(Has(cache, Key(1)));
    }
    const std::int64_t misses = Counter("MappedImageCacheMisses");
    const HostClock::ScopedShift later(MappedImageCache::kFailedEntryLifetimeSeconds + 2);
    EXPECT_FALSE(Has(cache, Key(1)));
    EXPECT_EQ(Counter("MappedImageCacheMisses"), misses + 1);
    // A good image has no such limit.
    cache.Put(Key(2), NewTile());
    const HostClock::ScopedShift muchLater(24 * 3600);
    EXPECT_TRUE(Has(cache, Key(2)));
}

TEST(MappedImageCache, ParallelGetsAndPutsKeepTheLimits) {
    MappedImageCache cache;
    const std::int64_t hits = Counter("MappedImageCacheHits");
    const std::int64_t misses = Counter("MappedImageCacheMisses");
    constexpr int kThreads = 4;
    constexpr int kRounds = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < kRounds; ++i) {
                const AttributeMap key = Key(i % 150, t % 2 ? "odd" : "even");
                MappedImageCacheDataPtr found;
                if (!cache.Get(key, found)) {
                    cache.Put(key, DecodedTile());
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_LE(cache.GetSize(), MappedImageCache::kHardLimit);
    EXPECT_EQ(Counter("MappedImageCacheHits") - hits + Counter("MappedImageCacheMisses") - misses,
              kThreads * kRounds);
    std::vector<MappedImageCacheDataPtr> contents;
    cache.GetContents(contents);
    int decoded = 0;
    for (const MappedImageCacheDataPtr& entry : contents) {
        decoded += entry->GetMappedImage()->GetImageObject()->IsBitmapDecoded() ? 1 : 0;
    }
    EXPECT_LE(decoded, static_cast<int>(MappedImageCache::kSoftLimit));
}
