#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include <lmxmaps/host/Counters.h>
#include <lmxmaps/host/storage/SqliteImageCache.h>

#include "ImageCacheTiles.h"
#include "integration/IntegrationSupport.h"

using ImageCacheTiles::Holds;
using ImageCacheTiles::Key;
using ImageCacheTiles::Png;
using ImageCacheTiles::Store;
using IntegrationSupport::HelperRun;

namespace {

constexpr std::chrono::hours kLongLife{24};
constexpr int kHelperTimeoutMs = 120000;
constexpr int kNoSingleton = 3;

const QString kHelperPath = QStringLiteral(LMX_INTEGRATION_HELPER);

class PersistentImageCacheTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_directory.isValid()); }

    QString DatabasePath() const { return m_directory.filePath(QStringLiteral("tiles.sqlite")); }

    // The helper's arguments for COMMAND on the test's database with these numbers.
    QStringList Arguments(const char* command, std::initializer_list<int> numbers) const {
        QStringList arguments{QLatin1String(command), DatabasePath()};
        for (const int number : numbers) {
            arguments.append(QString::number(number));
        }
        return arguments;
    }

    std::unique_ptr<SqliteImageCache>
    Open(std::int64_t maxBytes = SqliteImageCache::kDefaultMaxBytes,
         SqliteImageCache::Clock now = {}) const {
        SqliteImageCache::Settings settings;
        settings.databasePath = DatabasePath();
        settings.maxBytes = maxBytes;
        settings.now = std::move(now);
        return std::make_unique<SqliteImageCache>(std::move(settings));
    }

    QTemporaryDir m_directory;
};

HelperRun
RunHelper(const QStringList& arguments,
          const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    return IntegrationSupport::RunHelper(kHelperPath, arguments, environment, kHelperTimeoutMs);
}

std::int64_t EntrySize(int index) {
    const AttributeMap extra = {{QStringLiteral("stored-by"), QString::number(index)}};
    return SqliteImageCache::EncodeKey(Key(index)).size() + Png(index).size() +
           SqliteImageCache::EncodeKey(extra).size();
}

std::int64_t Counter(const char* name) {
    return HostCounters::Get(name);
}

} // namespace

TEST_F(PersistentImageCacheTest, TilesAreSharedWithOtherProcessesThatMayReplaceTheFile) {
    const HelperRun stored = RunHelper(Arguments("store", {0, 20, 3600}));
    ASSERT_EQ(stored.exitCode, 0) << stored.errors.toStdString();
    {
        const auto cache = Open();
        for (int index = 0; index < 20; ++index) {
            EXPECT_TRUE(Holds(*cache, index)) << index;
        }
        EXPECT_FALSE(Holds(*cache, 20));
        for (int index = 100; index < 110; ++index) {
            ASSERT_TRUE(Store(*cache, index, kLongLife));
        }
    }
    const HelperRun found = RunHelper(Arguments("check", {100, 10}));
    EXPECT_EQ(found.exitCode, 0) << found.errors.toStdString();
    EXPECT_EQ(RunHelper(Arguments("check", {110, 1})).exitCode, 1);

    // What another process's rebuild does: the old file goes aside, a new one takes its place.
    const auto cache = Open();
    ASSERT_TRUE(Store(*cache, 1, kLongLife));
    ASSERT_TRUE(Holds(*cache, 1));
    QFile::remove(DatabasePath() + QStringLiteral("-wal"));
    QFile::remove(DatabasePath() + QStringLiteral("-shm"));
    ASSERT_TRUE(QFile::rename(DatabasePath(), DatabasePath() + QStringLiteral(".old")));
    const HelperRun replaced = RunHelper(Arguments("store", {2, 1, 3600}));
    ASSERT_EQ(replaced.exitCode, 0) << replaced.errors.toStdString();
    EXPECT_TRUE(Holds(*cache, 2));
    EXPECT_FALSE(Holds(*cache, 1));
    ASSERT_TRUE(Store(*cache, 3, kLongLife));
    const HelperRun followed = RunHelper(Arguments("check", {2, 2}));
    EXPECT_EQ(followed.exitCode, 0) << followed.errors.toStdString();
}

TEST_F(PersistentImageCacheTest, LookupMatchesTheWholeKeyMapAsFilteredAndKeepsTheBytes) {
    const auto cache = Open();
    ASSERT_TRUE(Store(*cache, 1, kLongLife));

    // Another bucket layout and insertion order: another iteration order, the same key.
    const AttributeMap key = Key(1);
    std::vector<AttributeMap::value_type> entries(key.begin(), key.end());
    AttributeMap reordered;
    reordered.reserve(64);
    reordered.insert(entries.rbegin(), entries.rend());
    const RefCntPtr<IPersistentImageCache::Data> found = cache->Lookup(reordered);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->GetKey(), key);
    EXPECT_EQ(found->GetImageObject()->GetSize(), QSize(8, 8));
    EXPECT_FALSE(found->GetImageObject()->IsBitmapDecoded());
    EXPECT_EQ(found->CloneImageObject()->GetEncoded(), Png(1));

    AttributeMap fewer = key;
    fewer.erase(QStringLiteral("url-format"));
    EXPECT_FALSE(cache->Lookup(fewer));
    AttributeMap more = key;
    more[QStringLiteral("style")] = QStringLiteral("dark");
    EXPECT_FALSE(cache->Lookup(more));
    AttributeMap other = key;
    other[QStringLiteral("INDEX")] = QStringLiteral("2");
    EXPECT_FALSE(cache->Lookup(other));

    // JPEG stays JPEG; a picture made in memory goes in as PNG; an equal key replaces.
    QImage photo(16, 16, QImage::Format_RGB32);
    photo.fill(Qt::darkGreen);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(photo.save(&buffer, "JPEG"));
    const auto jpegImage = QtImageObject::FromEncoded(jpeg);
    ASSERT_TRUE(cache->Insert(IPersistentImageCache::Data(key, {}, jpegImage.get()), kLongLife));
    EXPECT_EQ(cache->Lookup(key)->GetImageObject()->GetEncoded(), jpeg);
    EXPECT_TRUE(cache->Lookup(key)->GetExtra().empty());

    const QtImageObject drawn(photo);
    ASSERT_TRUE(cache->Insert(IPersistentImageCache::Data(key, {}, &drawn), kLongLife));
    const QByteArray storedDrawn = cache->Lookup(key)->GetImageObject()->GetEncoded();
    EXPECT_TRUE(storedDrawn.startsWith("\x89PNG"));
    EXPECT_EQ(QImage::fromData(storedDrawn).convertToFormat(QImage::Format_RGB32), photo);
    EXPECT_EQ(cache->GetEntryCount(), 1);
    EXPECT_EQ(cache->GetStoredBytes(),
              SqliteImageCache::EncodeKey(key).size() + storedDrawn.size());

    // A key filter canonicalises both sides.
    cache->SetKeyFilter([](AttributeMap& map) {
        map.erase(QStringLiteral("offline"));
        map.erase(QStringLiteral("password"));
    });
    AttributeMap storedKey = Key(5);
    storedKey[QStringLiteral("password")] = QStringLiteral("secret");
    const auto image = QtImageObject::FromEncoded(Png(5));
    ASSERT_TRUE(cache->Insert(IPersistentImageCache::Data(storedKey, {}, image.get()), kLongLife));

    AttributeMap lookupKey = Key(5);
    lookupKey[QStringLiteral("offline")] = QStringLiteral("true");
    const auto filtered = cache->Lookup(lookupKey);
    ASSERT_TRUE(filtered);
    EXPECT_EQ(filtered->GetKey(), Key(5));

    cache->SetKeyFilter({});
    EXPECT_FALSE(cache->Lookup(lookupKey));
    EXPECT_TRUE(cache->Lookup(Key(5)));
}

TEST(SqliteImageCacheKeys, CanonicalFormIsSortedUnambiguousAndReadsBack) {
    const AttributeMap map = {{QStringLiteral("b"), QStringLiteral("2")},
                              {QStringLiteral("a"), QStringLiteral("10")}};
    EXPECT_EQ(SqliteImageCache::EncodeKey(map), QByteArray("1:a2:101:b1:2"));
    EXPECT_TRUE(SqliteImageCache::EncodeKey({}).isEmpty());

    const auto encode = [](const char* key, const char* value) {
        return SqliteImageCache::EncodeKey({{QString::fromUtf8(key), QString::fromUtf8(value)}});
    };
    EXPECT_NE(encode("a", "b:c"), encode("a:b", "c"));
    EXPECT_NE(encode("a", "1:b"), encode("a1", ":b"));
    EXPECT_NE(SqliteImageCache::EncodeKey({{QStringLiteral("a"), QStringLiteral("1:b1:c")}}),
              SqliteImageCache::EncodeKey({{QStringLiteral("a"), QStringLiteral("1")},
                                           {QStringLiteral("b"), QStringLiteral("c")}}));

    const AttributeMap unicode = {
        {QStringLiteral("name"), QStringLiteral("Z\u00fcrich \u6771\u4eac")},
        {QString(), QString()}};
    AttributeMap decoded;
    ASSERT_TRUE(SqliteImageCache::DecodeKey(SqliteImageCache::EncodeKey(unicode), decoded));
    EXPECT_EQ(decoded, unicode);

    for (const char* bad : {"3:ab", "x:a1:b", "1:a", ":a", "1:a1", "-1:a1:b"}) {
        AttributeMap untouched = map;
        EXPECT_FALSE(SqliteImageCache::DecodeKey(QByteArray(bad), untouched)) << bad;
        EXPECT_EQ(untouched, map);
    }
}

TEST_F(PersistentImageCacheTest, ExpiredEntriesReadAsMissesAndGo) {
    std::atomic<std::int64_t> seconds{1'700'000'000};
    const auto cache = Open(SqliteImageCache::kDefaultMaxBytes, [&seconds] {
        return std::chrono::system_clock::time_point(std::chrono::seconds(seconds.load()));
    });
    ASSERT_TRUE(Store(*cache, 1, std::chrono::seconds(60)));
    ASSERT_TRUE(Store(*cache, 2, std::chrono::seconds(600)));

    seconds += 59;
    EXPECT_TRUE(Holds(*cache, 1));
    EXPECT_TRUE(Holds(*cache, 2));
    const std::int64_t missesBefore = Counter(SqliteImageCache::kMissCounter);
    seconds += 1;
    EXPECT_FALSE(Holds(*cache, 1));
    EXPECT_EQ(Counter(SqliteImageCache::kMissCounter), missesBefore + 1);
    EXPECT_EQ(cache->GetEntryCount(), 1);
    EXPECT_TRUE(Holds(*cache, 2));

    // An insertion clears out everything that expired meanwhile.
    seconds += 600;
    ASSERT_TRUE(Store(*cache, 3, std::chrono::seconds(1)));
    EXPECT_EQ(cache->GetEntryCount(), 1);
    EXPECT_EQ(cache->GetStoredBytes(), EntrySize(3));

    // Nothing without a lifetime or an image.
    EXPECT_FALSE(Store(*cache, 4, std::chrono::seconds(0)));
    EXPECT_FALSE(Store(*cache, 4, std::chrono::seconds(-5)));
    EXPECT_FALSE(cache->Insert(IPersistentImageCache::Data(Key(4), {}, nullptr), kLongLife));
    EXPECT_FALSE(cache->Lookup(Key(4)));
}

TEST_F(PersistentImageCacheTest, EvictsTheLeastRecentlyUsedToStayWithinTheByteBound) {
    // Room for three tiles, not four.
    const std::int64_t bound = EntrySize(1) + EntrySize(2) + EntrySize(3);
    const auto cache = Open(bound);
    for (int index = 1; index <= 3; ++index) {
        ASSERT_TRUE(Store(*cache, index, kLongLife));
    }
    EXPECT_EQ(cache->GetStoredBytes(), bound);
    const std::int64_t evictionsBefore = Counter(SqliteImageCache::kEvictionCounter);

    ASSERT_TRUE(Holds(*cache, 1));
    ASSERT_TRUE(Store(*cache, 4, kLongLife));
    EXPECT_FALSE(Holds(*cache, 2));
    // Oldest use first: 1, 3, 4.
    EXPECT_TRUE(Holds(*cache, 1));
    EXPECT_TRUE(Holds(*cache, 3));
    EXPECT_TRUE(Holds(*cache, 4));
    EXPECT_EQ(cache->GetStoredBytes(), EntrySize(1) + EntrySize(3) + EntrySize(4));

    ASSERT_TRUE(Store(*cache, 5, kLongLife));
    EXPECT_FALSE(Holds(*cache, 1));
    EXPECT_TRUE(Holds(*cache, 3));
    EXPECT_TRUE(Holds(*cache, 4));
    EXPECT_TRUE(Holds(*cache, 5));
    EXPECT_LE(cache->GetStoredBytes(), bound);
    EXPECT_EQ(Counter(SqliteImageCache::kEvictionCounter), evictionsBefore + 2);

    // An entry larger than the whole cache is refused and evicts nothing.
    const auto tiny = std::make_unique<SqliteImageCache>(
        SqliteImageCache::Settings{m_directory.filePath(QStringLiteral("tiny.sqlite")),
                                   EntrySize(1) - 1,
                                   SqliteImageCache::kDefaultBusyTimeout,
                                   {}});
    EXPECT_FALSE(Store(*tiny, 1, kLongLife));
    EXPECT_EQ(tiny->GetEntryCount(), 0);

    cache->Clear();
    EXPECT_EQ(cache->GetEntryCount(), 0);
    EXPECT_EQ(cache->GetStoredBytes(), 0);
    EXPECT_FALSE(Holds(*cache, 5));
}

TEST_F(PersistentImageCacheTest, DamagedDatabaseReadsAsMissesAndIsRebuilt) {
    constexpr int kTiles = 300;
    constexpr qint64 kPage = 4096;
    struct Damage {
        const char* name;
        std::function<void(QFile&)> apply;
        bool rebuilds;
    };
    const std::vector<Damage> damages = {
        {"cut in half", [](QFile& file) { file.resize(file.size() / 2); }, true},
        {"cut to three pages", [](QFile& file) { file.resize(3 * kPage); }, true},
        {"cut inside the header", [](QFile& file) { file.resize(50); }, true},
        {"header overwritten", [](QFile& file) { file.write(QByteArray(100, 'x')); }, true},
        {"pages overwritten",
         [](QFile& file) {
             file.seek(kPage);
             file.write(QByteArray(static_cast<int>(file.size() - kPage), '\x5A'));
         },
         true},
        // An empty file is an empty database: nothing to rebuild, nothing found.
        {"emptied", [](QFile& file) { file.resize(0); }, false},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        QFile::remove(DatabasePath());
        QFile::remove(DatabasePath() + QStringLiteral(".corrupt"));
        {
            const auto cache = Open();
            for (int index = 0; index < kTiles; ++index) {
                ASSERT_TRUE(Store(*cache, index, kLongLife));
            }
        }
        // The last connection to close folds the log into the file and removes it.
        ASSERT_FALSE(QFile::exists(DatabasePath() + QStringLiteral("-wal")));
        {
            QFile file(DatabasePath());
            ASSERT_GT(file.size(), 4 * kPage);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            damage.apply(file);
        }

        const std::int64_t rebuildsBefore = Counter(SqliteImageCache::kRebuildCounter);
        const auto cache = Open();
        int found = 0;
        for (int index = 0; index < kTiles; ++index) {
            found += Holds(*cache, index) ? 1 : 0;
        }
        EXPECT_EQ(found, 0);
        EXPECT_EQ(Counter(SqliteImageCache::kRebuildCounter) - rebuildsBefore,
                  damage.rebuilds ? 1 : 0);
        EXPECT_EQ(QFile::exists(DatabasePath() + QStringLiteral(".corrupt")), damage.rebuilds);

        ASSERT_TRUE(Store(*cache, 7, kLongLife));
        EXPECT_TRUE(Holds(*cache, 7));
        EXPECT_EQ(cache->GetEntryCount(), 1);
        EXPECT_EQ(cache->GetStoredBytes(), EntrySize(7));
    }
}

TEST_F(PersistentImageCacheTest, UnusableLocationMissesAndRefusesWithoutThrowing) {
    QFile plain(m_directory.filePath(QStringLiteral("plain-file")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    SqliteImageCache::Settings settings;
    settings.databasePath = m_directory.filePath(QStringLiteral("plain-file/tiles.sqlite"));
    SqliteImageCache cache(std::move(settings));
    EXPECT_FALSE(Store(cache, 1, kLongLife));
    EXPECT_FALSE(cache.Lookup(Key(1)));
    EXPECT_EQ(cache.GetEntryCount(), -1);
    EXPECT_EQ(cache.GetStoredBytes(), -1);
    EXPECT_NO_THROW(cache.Clear());
}

TEST_F(PersistentImageCacheTest, ManyThreadsAndProcessesShareOneDatabase) {
    constexpr int kSharedTiles = 20;
    constexpr int kThreads = 4;
    constexpr int kTilesPerWorker = 30;
    constexpr int kRounds = 3;
    const auto cache = Open();
    for (int index = 0; index < kSharedTiles; ++index) {
        ASSERT_TRUE(Store(*cache, index, kLongLife));
    }
    const std::int64_t rebuildsBefore = Counter(SqliteImageCache::kRebuildCounter);

    std::vector<std::unique_ptr<QProcess>> processes;
    for (const int first : {1000, 2000}) {
        processes.push_back(std::make_unique<QProcess>());
        IntegrationSupport::StartHelper(*processes.back(), kHelperPath,
                                        Arguments("churn", {first, kTilesPerWorker, kRounds}),
                                        QProcessEnvironment::systemEnvironment());
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            const int first = 3000 + thread * 100;
            for (int round = 0; round < kRounds; ++round) {
                for (int index = first; index < first + kTilesPerWorker; ++index) {
                    failures += Store(*cache, index, kLongLife) ? 0 : 1;
                    failures += Holds(*cache, index) ? 0 : 1;
                    failures += Holds(*cache, index % kSharedTiles) ? 0 : 1;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const auto& process : processes) {
        const HelperRun run = IntegrationSupport::Finish(*process, kHelperTimeoutMs);
        EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    }
    EXPECT_EQ(failures.load(), 0);

    // Every tile: the shared ones, then each worker's (the processes', then the threads').
    std::vector<std::pair<int, int>> ranges = {{0, kSharedTiles}};
    for (const int first : {1000, 2000, 3000, 3100, 3200, 3300}) {
        ranges.emplace_back(first, kTilesPerWorker);
    }
    std::int64_t expectedBytes = 0;
    for (const auto& [first, count] : ranges) {
        for (int index = first; index < first + count; ++index) {
            EXPECT_TRUE(Holds(*cache, index)) << index;
            expectedBytes += EntrySize(index);
        }
    }
    EXPECT_EQ(cache->GetEntryCount(), kSharedTiles + 6 * kTilesPerWorker);
    // The running total kept by the database's triggers survived the concurrent replacements.
    EXPECT_EQ(cache->GetStoredBytes(), expectedBytes);
    EXPECT_EQ(Counter(SqliteImageCache::kRebuildCounter), rebuildsBefore);
}

TEST_F(PersistentImageCacheTest, ConcurrentEvictionKeepsTheBoundAndNeverMixesTiles) {
    constexpr int kThreads = 4;
    constexpr int kTilesPerThread = 60;
    constexpr int kRoomForTiles = 25;
    const std::int64_t bound = kRoomForTiles * EntrySize(1000);
    const auto cache = Open(bound);
    std::atomic<int> wrongTiles{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            for (int i = 0; i < kTilesPerThread; ++i) {
                const int index = 1000 + thread * kTilesPerThread + i;
                refused += Store(*cache, index, kLongLife) ? 0 : 1;
                // Whatever is found must be the tile asked for, whoever evicted what.
                for (int back = 0; back < 5; ++back) {
                    const auto found = cache->Lookup(Key(index - back));
                    if (found && found->GetImageObject()->GetEncoded() != Png(index - back)) {
                        ++wrongTiles;
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(wrongTiles.load(), 0);
    EXPECT_LE(cache->GetStoredBytes(), bound);
    EXPECT_GE(cache->GetEntryCount(), kRoomForTiles - 2);
    EXPECT_LE(cache->GetEntryCount(), kRoomForTiles + 1);
}

TEST_F(PersistentImageCacheTest, SingletonFollowsTheOptions) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("LMX_ImageCacheMaxBytes"));

    const QString configured = m_directory.filePath(QStringLiteral("configured/cache"));
    environment.insert(QStringLiteral("LMX_ImageCacheDirectory"), configured);
    const auto singleton = [&environment] {
        return RunHelper({QStringLiteral("singleton"), QStringLiteral("4")}, environment);
    };
    HelperRun run = singleton();
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.output, QDir(configured).filePath(QStringLiteral("image-cache.sqlite")));
    EXPECT_TRUE(QFile::exists(run.output));

    // The per-user default lies under the user's cache directory.
    const QString userCache = m_directory.filePath(QStringLiteral("xdg-cache"));
    environment.insert(QStringLiteral("LMX_ImageCacheDirectory"), QStringLiteral("auto"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), userCache);
    run = singleton();
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.output, QDir(userCache).filePath(QStringLiteral("lmxmaps/image-cache.sqlite")));

    environment.insert(QStringLiteral("LMX_ImageCacheDirectory"), QString());
    EXPECT_EQ(singleton().exitCode, kNoSingleton);

    environment.insert(QStringLiteral("LMX_ImageCacheDirectory"), configured);
    environment.insert(QStringLiteral("LMX_ImageCacheMaxBytes"), QStringLiteral("0"));
    EXPECT_EQ(singleton().exitCode, kNoSingleton);
}
