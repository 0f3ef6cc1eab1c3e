#include <QThreadPool>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <thread>

#include <lmxmaps/MapConnection.h>
#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/host/DeprecatedAsyncTaskSvc.h>

namespace {

class TestConnection : public MapConnection {
public:
    using MapConnection::MapConnection;
    MapRequestorPtr CreateMapRequestor(SpatialProjectorPtr, MapQueryPtr) override { return {}; }
};

std::atomic<int> g_created{0};

MapConnectionPtr CountingFactory(const AttributeMap& attributes) {
    ++g_created;
    return MapConnectionPtr(new TestConnection(attributes));
}

AttributeMap Source(const char* className, const char* server) {
    return {{QStringLiteral("class"), QString::fromUtf8(className)},
            {QStringLiteral("server"), QString::fromUtf8(server)}};
}

class MapConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        MapConnection::CloseAll();
        g_created = 0;
        MapConnection::Register(QStringLiteral("Counting"), CountingFactory);
    }
    void TearDown() override { MapConnection::CloseAll(); }
};

} // namespace

TEST_F(MapConnectionTest, OneConnectionPerKeyFoundByHintUntilClosedAndOnlyFromAFactory) {
    unsigned int hint = 0;
    const MapConnectionPtr first = MapConnection::GetOrCreate(Source("Counting", "a"), hint);
    ASSERT_TRUE(first);
    EXPECT_NE(hint, 0u);
    unsigned int otherHint = 0;
    EXPECT_EQ(MapConnection::GetOrCreate(Source("Counting", "a"), otherHint), first);
    EXPECT_EQ(otherHint, hint);
    EXPECT_EQ(MapConnection::Find(Source("Counting", "a"), hint), first);
    EXPECT_EQ(MapConnection::Find(Source("Counting", "a"), 0), first);
    // A hint to another connection is checked, not trusted.
    const MapConnectionPtr second = MapConnection::GetOrCreate(Source("Counting", "b"), otherHint);
    EXPECT_EQ(MapConnection::Find(Source("Counting", "a"), otherHint), first);
    EXPECT_NE(first, second);
    EXPECT_EQ(g_created, 2);

    EXPECT_FALSE(MapConnection::Close(Source("Counting", "nowhere")));
    EXPECT_TRUE(MapConnection::Close(Source("Counting", "a")));
    EXPECT_FALSE(MapConnection::Find(Source("Counting", "a"), hint));
    EXPECT_FALSE(MapConnection::Close(Source("Counting", "a")));

    EXPECT_FALSE(
        MapConnection::GetOrCreate({{QStringLiteral("server"), QStringLiteral("a")}}, hint));
    EXPECT_FALSE(MapConnection::GetOrCreate(Source("Unregistered", "a"), hint));
    // Factory failures pass through.
    MapConnection::Register(QStringLiteral("Failing"), [](const AttributeMap&) -> MapConnectionPtr {
        throw MapProviderException(MapProviderException::eServiceError,
                                   QStringLiteral("no servers"), MapProviderException::Site(3));
    });
    EXPECT_THROW(MapConnection::GetOrCreate(Source("Failing", "a"), hint), MapProviderException);
}

TEST_F(MapConnectionTest, TheTenMostRecentlyUsedSurvive) {
    std::vector<unsigned int> hints(12, 0);
    for (int i = 0; i < 12; ++i) {
        const std::string server = "server" + std::to_string(i);
        ASSERT_TRUE(MapConnection::GetOrCreate(Source("Counting", server.c_str()), hints[i]));
    }
    EXPECT_FALSE(MapConnection::Find(Source("Counting", "server0"), hints[0]));
    EXPECT_FALSE(MapConnection::Find(Source("Counting", "server1"), hints[1]));
    for (int i = 2; i < 12; ++i) {
        const std::string server = "server" + std::to_string(i);
        EXPECT_TRUE(MapConnection::Find(Source("Counting", server.c_str()), hints[i])) << i;
    }
    // A use counts: server2 was used last, so server3 goes next.
    MapConnection::Find(Source("Counting", "server2"), hints[2]);
    unsigned int hint = 0;
    MapConnection::GetOrCreate(Source("Counting", "server12"), hint);
    EXPECT_TRUE(MapConnection::Find(Source("Counting", "server2"), hints[2]));
    EXPECT_FALSE(MapConnection::Find(Source("Counting", "server3"), hints[3]));
}

TEST_F(MapConnectionTest, TheRequiredFilterIdentifiesAConnectionAndANewOneDropsCachedImages) {
    MapConnectionAttributes::RegisterRequiredAttributeFilter(
        QStringLiteral("Counting"),
        [](AttributeMap& map) { map.erase(QStringLiteral("description")); });
    AttributeMap plain = Source("Counting", "a");
    AttributeMap described = plain;
    described[QStringLiteral("description")] = QStringLiteral("Streets");
    unsigned int hint = 0;
    const MapConnectionPtr first = MapConnection::GetOrCreate(plain, hint);
    hint = 0;
    EXPECT_EQ(MapConnection::GetOrCreate(described, hint), first);
    EXPECT_EQ(g_created, 1);
    EXPECT_EQ(first->GetAttributes().count(QStringLiteral("description")), 0u);

    MappedImageCache& images = MappedImageCache::Singleton();
    images.Clear();
    const MappedImageInstancePtr tile =
        MakeRefCnt<MappedImageInstance>(nullptr, QtImageObject::BitmapOptions(), QString(),
                                        QString(), QString(), true, false, false);
    AttributeMap mine = Source("Counting", "c");
    mine[QStringLiteral("INDEX")] = QStringLiteral("1");
    AttributeMap theirs = Source("Counting", "b");
    theirs[QStringLiteral("INDEX")] = QStringLiteral("1");
    images.Put(mine, tile);
    images.Put(theirs, tile);
    unsigned int newHint = 0;
    MapConnection::GetOrCreate(Source("Counting", "c"), newHint);
    MappedImageCacheDataPtr found;
    EXPECT_FALSE(images.Get(mine, found));
    EXPECT_TRUE(images.Get(theirs, found));
}

TEST_F(MapConnectionTest, ACancelledConnectRaisesCancel) {
    class CancelAtOnce : public IProgressObserver {
    public:
        bool OnProgress(const TString&, std::chrono::milliseconds) override { return false; }
        void OnFinished(const TString&) override {}
    };
    // Shared with the orphaned connect, which outlives this test's frame.
    const auto release = std::make_shared<std::atomic<bool>>(false);
    MapConnection::Register(QStringLiteral("Slow"), [release](const AttributeMap& a) {
        for (int i = 0; i < 1000 && !*release; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return MapConnectionPtr(new TestConnection(a));
    });
    DeprecatedAsyncTaskSvc::SetProgressObserver(std::make_shared<CancelAtOnce>());
    unsigned int hint = 0;
    try {
        MapConnection::GetOrCreate(Source("Slow", "a"), hint);
        ADD_FAILURE() << "the cancelled connect returned";
    } catch (const AsyncTask::CancelException& e) {
        EXPECT_EQ(e.GetErrorInfo().logSite,
                  QStringLiteral("LumivexCancelException_AutoGen_0x085E1DA7"));
    }
    DeprecatedAsyncTaskSvc::SetProgressObserver(nullptr);
    *release = true;
    EXPECT_FALSE(MapConnection::Find(Source("Slow", "a"), hint));
}

TEST_F(MapConnectionTest, RacingCreationKeepsTheFirstConnection) {
    // Both factories must run at once, each on a pool thread.
    QThreadPool::globalInstance()->setMaxThreadCount(
        std::max(4, QThreadPool::globalInstance()->maxThreadCount()));
    std::mutex mutex;
    std::condition_variable bothInside;
    int inside = 0;
    MapConnection::Register(QStringLiteral("Racing"), [&](const AttributeMap& a) {
        std::unique_lock lock(mutex);
        ++inside;
        bothInside.notify_all();
        bothInside.wait_for(lock, std::chrono::seconds(10), [&] { return inside == 2; });
        return MapConnectionPtr(new TestConnection(a));
    });
    MapConnectionPtr results[2];
    std::thread threads[2];
    for (int t = 0; t < 2; ++t) {
        threads[t] = std::thread([&results, t] {
            unsigned int hint = 0;
            results[t] = MapConnection::GetOrCreate(Source("Racing", "a"), hint);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(inside, 2);
    ASSERT_TRUE(results[0]);
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(MapConnection::Find(Source("Racing", "a"), 0), results[0]);
}

TEST(MapConnectionAttributesMatching, SameSizeAndEqualValues) {
    const TestConnection connection(
        {{QStringLiteral("a"), QStringLiteral("1")}, {QStringLiteral("b"), QString()}});
    EXPECT_TRUE(connection.MatchesAttributes(
        {{QStringLiteral("a"), QStringLiteral("1")}, {QStringLiteral("b"), QString()}}));
    EXPECT_TRUE(connection.MatchesAttributes(
        {{QStringLiteral("a"), QStringLiteral("1")}, {QStringLiteral("c"), QStringLiteral("x")}}));
    EXPECT_FALSE(connection.MatchesAttributes({{QStringLiteral("a"), QStringLiteral("1")}}));
    EXPECT_FALSE(connection.MatchesAttributes(
        {{QStringLiteral("a"), QStringLiteral("2")}, {QStringLiteral("b"), QString()}}));
}
