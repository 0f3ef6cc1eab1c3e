#include <gtest/gtest.h>
#include <thread>

#include <lmxmaps/MappedImageInstance.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>

#include "FixtureServer.h"
#include "FixtureTileRequestor.h"
#include "ImageryTestSupport.h"

namespace {

class MappedImageInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { m_server.Start(); }
    void TearDown() override {
        // Idle keep-alive connections would hold the server's threads until they time out.
        HTTPRequestor::CloseIdleConnections();
        m_server.Stop();
    }

    MapRequestorPtr Request(const char* path, bool rejectSolid = false) {
        return MapRequestorPtr(
            new FixtureTileRequestor(TileQuery(), m_server, QString::fromUtf8(path), rejectSolid));
    }

    std::size_t RequestsFor(const std::string& path) const {
        std::size_t count = 0;
        for (const FixtureRequest& request : m_server.Requests()) {
            count += request.path == path ? 1 : 0;
        }
        return count;
    }

    FixtureServer m_server;
};

RefCntPtr<WarningMsg> OnlyError(const MappedImageInstance& tile) {
    WarningList errors;
    bool hadErrors = false;
    tile.GetErrors(errors, hadErrors);
    EXPECT_TRUE(hadErrors);
    EXPECT_EQ(errors.size(), 1u);
    return errors.empty() ? MakeRefCnt<WarningMsg>(QString(), -1) : errors.front();
}

} // namespace

TEST_F(MappedImageInstanceTest, FetchesAnImageAndRaisesTheUpdateCountOrTurnsFailuresIntoWarnings) {
    const MappedImageInstancePtr tile = NewTile();
    int count = 0;
    bool pending = false;
    tile->CheckUpdateState(pending, count);
    EXPECT_EQ(count, 1);
    EXPECT_FALSE(tile->HasTask());

    tile->SetRequest(Request("/tile.png"), false);
    EXPECT_TRUE(tile->HasTask());
    ASSERT_TRUE(PollUntilSettled(*tile, count));
    EXPECT_EQ(count, 3);
    EXPECT_FALSE(tile->HasTask());
    ASSERT_TRUE(tile->GetImageObject());
    EXPECT_EQ(tile->GetImageObject()->GetWidth(), FixtureServer::kTileSize);
    EXPECT_EQ(tile->GetUrl(), m_server.Url(QStringLiteral("/tile.png")));
    EXPECT_EQ(tile->GetTileUrls(), std::vector<TString>{tile->GetUrl()});
    EXPECT_FALSE(tile->IsError());
    EXPECT_FLOAT_EQ(tile->GetAspectRatio(false), 1.0f);

    // Nothing new: the count stays.
    ASSERT_TRUE(PollUntilSettled(*tile, count));
    EXPECT_EQ(count, 3);

    struct Case {
        const char* path;
        bool rejectSolid;
        int warningType;
        // Access denied says where, so that the user knows which credentials to fix.
        bool namesUrl;
    };
    for (const Case& c : {Case{"/status/403", false, 12, true},
                          Case{"/status/500", false, 9, false}, Case{"/garbage", false, 9, false},
                          Case{"/empty", false, 9, false}, Case{"/white.png", true, 11, false}}) {
        const TLog::ScopedCapture log;
        const MappedImageInstancePtr failing = NewTile();
        failing->SetImageObject(QtImageObject::CreateCanvas(QSize(4, 4), QImage::Format_ARGB32, 1.0,
                                                            ColorObject::Transparent()));
        failing->SetRequest(Request(c.path, c.rejectSolid), false);
        int failingCount = 0;
        ASSERT_TRUE(PollUntilSettled(*failing, failingCount)) << c.path;
        EXPECT_FALSE(failing->GetImageObject()) << c.path;
        const RefCntPtr<WarningMsg> error = OnlyError(*failing);
        EXPECT_EQ(error->GetWarningType(), c.warningType) << c.path;
        EXPECT_EQ(error->GetStringId(), MappedImageInstance::kFetchFailedText) << c.path;
        if (c.namesUrl) {
            EXPECT_TRUE(error->GetMessage().contains(m_server.Url(QString::fromUtf8(c.path))));
        }
        int failureLines = 0;
        for (const TLog::Record& record : log.Records()) {
            failureLines += record.message.startsWith(QStringLiteral("Error '")) &&
                            record.message.contains(QStringLiteral("retrieving map tile"));
        }
        EXPECT_EQ(failureLines, 1) << c.path;
        failing->ClearErrors();
        WarningList errors;
        bool hadErrors = true;
        failing->GetErrors(errors, hadErrors);
        EXPECT_FALSE(hadErrors);
    }
}

TEST_F(MappedImageInstanceTest, ProxyAuthenticationIsRetriedOnceWithTheUserAsked) {
    const MappedImageInstancePtr tile = NewTile();
    tile->SetRequest(Request("/status/407"), false);
    int count = 0;
    ASSERT_TRUE(PollUntilSettled(*tile, count));
    EXPECT_EQ(RequestsFor("/status/407"), 2u);
    EXPECT_EQ(OnlyError(*tile)->GetWarningType(), 12);

    // A server has nobody to ask: no retry.
    Options::Set(QStringLiteral("AppMode"), QStringLiteral("server"));
    m_server.ClearLog();
    const MappedImageInstancePtr onServer = NewTile();
    onServer->SetRequest(Request("/status/407"), false);
    const bool settled = PollUntilSettled(*onServer, count);
    Options::Set(QStringLiteral("AppMode"), std::nullopt);
    ASSERT_TRUE(settled);
    EXPECT_EQ(RequestsFor("/status/407"), 1u);
}

TEST_F(MappedImageInstanceTest, LastUseCancelsAndNextUseRestartsAClone) {
    const MappedImageInstancePtr tile = NewTile();
    tile->SetRequest(Request("/slow?chunks=200&interval_ms=100"), false);
    tile->AddUse();
    ASSERT_TRUE(m_server.WaitForRequest("/slow", std::chrono::seconds(10)));
    int before = 0;
    bool pending = false;
    tile->CheckUpdateState(pending, before);
    EXPECT_TRUE(pending);

    tile->RemoveUse();
    int count = 0;
    // The 20-second body is cut short: the poll settles long before it would end.
    ASSERT_TRUE(PollUntilSettled(*tile, count, std::chrono::seconds(10)));
    EXPECT_FALSE(tile->GetImageObject());
    WarningList errors;
    bool hadErrors = true;
    tile->GetErrors(errors, hadErrors);
    EXPECT_FALSE(hadErrors);

    tile->AddUse();
    EXPECT_EQ(tile->GetUseCount(), 1);
    EXPECT_TRUE(tile->HasTask());
    int restarted = 0;
    tile->CheckUpdateState(pending, restarted);
    EXPECT_EQ(restarted, count + 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (RequestsFor("/slow") < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(RequestsFor("/slow"), 2u);
    tile->RemoveUse();
}

TEST_F(MappedImageInstanceTest, ALegendReadsTheSameFetchAndALastUseAfterItCancelsNothing) {
    const MappedImageInstancePtr tile = NewTile();
    const MappedImageInstancePtr legend = NewTile();
    tile->SetRequest(Request("/tile.png"), false);
    legend->UseLegendFrom(*tile);
    tile->AddUse();
    int count = 0;
    ASSERT_TRUE(PollUntilSettled(*tile, count));
    ASSERT_TRUE(PollUntilSettled(*legend, count));
    tile->RemoveUse();
    tile->AddUse();
    EXPECT_FALSE(tile->HasTask());
    EXPECT_TRUE(tile->GetImageObject());
    // The fixture requestor makes no legend image.
    EXPECT_FALSE(legend->GetImageObject());
    EXPECT_EQ(RequestsFor("/tile.png"), 1u);
}

TEST_F(MappedImageInstanceTest, UsesFromManyThreadsLeaveAConsistentCount) {
    const MappedImageInstancePtr tile = NewTile();
    tile->SetRequest(Request("/slow?chunks=20&interval_ms=10"), false);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&tile] {
            for (int i = 0; i < 200; ++i) {
                tile->AddUse();
                bool pending = false;
                int count = 0;
                tile->CheckUpdateState(pending, count);
                tile->RemoveUse();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(tile->GetUseCount(), 0);
    int count = 0;
    EXPECT_TRUE(PollUntilSettled(*tile, count));
}

TEST(MappedImageInstance, GeometryAccessors) {
    const MappedImageInstancePtr plain = NewTile();
    EXPECT_TRUE(plain->GetTileUrls().empty());
    EXPECT_TRUE(plain->GetTileInfos().empty());
    int width = 0;
    int height = 0;
    EXPECT_FALSE(plain->GetSourceImageSize(width, height, false));
    EXPECT_EQ(plain->GetAspectRatio(false), 0.0f);

    const MappedImageInstancePtr reflected = MakeRefCnt<MappedImageInstance>(
        QtImageObject::CreateCanvas(QSize(40, 10), QImage::Format_ARGB32, 1.0,
                                    ColorObject::Transparent()),
        QtImageObject::BitmapOptions(), QString(), QString(), QString(), false, true, false);
    reflected->SetBounds(RealRect(1, 2, 3, 4));
    DataValue left, right, top, bottom;
    reflected->GetBounds(left, right, top, bottom, true);
    EXPECT_EQ(left.GetReal(), 3.0);
    EXPECT_EQ(right.GetReal(), 4.0);
    EXPECT_EQ(top.GetReal(), 2.0);
    EXPECT_EQ(bottom.GetReal(), 1.0);
    reflected->GetBounds(left, right, top, bottom, false);
    EXPECT_EQ(left.GetReal(), 1.0);
    EXPECT_EQ(top.GetReal(), 4.0);
    EXPECT_TRUE(reflected->GetSourceImageSize(width, height, true));
    EXPECT_EQ(width, 10);
    EXPECT_EQ(height, 40);
    // The aspect ratio is not locked: 0 whatever the image.
    EXPECT_EQ(reflected->GetAspectRatio(false), 0.0f);
}
