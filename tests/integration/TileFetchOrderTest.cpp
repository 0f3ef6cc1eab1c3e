// How a view's tile fetches are scheduled and what a failed one leaves: the tiles nearest the
// view's centre are sent first, a view that goes away takes its waiting fetches with it, and a
// failed tile counts as failed, asked for again only once the image cache lets it go.

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <set>

#include <lmxmaps/host/HostClock.h>
#include <lmxmaps/host/Options.h>

#include "host/OptionGuard.h"
#include "integration/IntegrationSupport.h"
#include "providers/TileServerFixture.h"

namespace {

using namespace IntegrationSupport;

constexpr int kLevel = 3;
constexpr int kSide = 8;
constexpr auto kWaitForRequests = std::chrono::seconds(10);

class TileFetchOrderTest : public TileServerTest {};

bool WaitForRequestCount(const FixtureServer& server, std::size_t count) {
    QElapsedTimer timer;
    timer.start();
    while (server.RequestCount() < count) {
        if (timer.elapsed() > std::chrono::milliseconds(kWaitForRequests).count()) {
            return false;
        }
        QThread::msleep(10);
    }
    return true;
}

TEST_F(TileFetchOrderTest, TheCentreGoesFirstAndADroppedViewLeavesTheQueue) {
    const OptionGuard perHost("HttpMaxConnectionsPerHost");
    Options::Set(QStringLiteral("HttpMaxConnectionsPerHost"), QStringLiteral("1"));
    MapTileServerProvider provider(
        TileServerAttributes(m_server.BaseUrl(), "/faults/tiles/{Z}/{X}/{Y}.png?latency-ms=100"));
    const RefCntPtr<MappedImageCollection> images =
        provider.GetMappedImages(TileGrid::TileView(kLevel, 0, 0, kSide, kSide), false,
                                 MapCode::Default, 0, ColorObject::Transparent());
    CompositeMappedImage* composite = CompositeOf(*images);
    ASSERT_NE(composite, nullptr);
    composite->AddUse();
    constexpr std::size_t kSeen = 6;
    ASSERT_TRUE(WaitForRequestCount(m_server, kSeen));

    // One request runs at a time; the first may be any tile that was ready before the others
    // were queued, the centre four follow.
    const std::set<std::string> centre = {"/faults/tiles/3/3/3.png", "/faults/tiles/3/3/4.png",
                                          "/faults/tiles/3/4/3.png", "/faults/tiles/3/4/4.png"};
    std::set<std::string> early;
    const std::vector<FixtureRequest> requests = m_server.Requests();
    for (std::size_t i = 0; i < kSeen - 1; ++i) {
        early.insert(requests[i].path);
    }
    EXPECT_TRUE(std::includes(early.begin(), early.end(), centre.begin(), centre.end()))
        << "first requests: " << ::testing::PrintToString(early);

    composite->RemoveUse();
    const std::size_t whenDropped = m_server.RequestCount();
    QThread::msleep(500);
    EXPECT_LE(m_server.RequestCount(), whenDropped + 1) << "queued fetches went on";
    int count = 0;
    EXPECT_TRUE(PollUntilSettled(*composite, count));
}

TEST_F(TileFetchOrderTest, AFailedTileIsAskedForAgainOnlyOnceTheImageCacheLetsItGo) {
    MapTileServerProvider provider(
        TileServerAttributes(m_server.BaseUrl(), "/missing/{Z}/{X}/{Y}.png"));
    const MapQueryPtr view = TileGrid::TileView(kLevel, 0, 0, 2, 1);
    const Rendered first = Render(provider, view);
    ASSERT_NE(first.composite, nullptr);
    for (const MappedImageInstancePtr& tile : first.composite->GetTiles()) {
        EXPECT_TRUE(tile->IsError());
        EXPECT_EQ(tile->GetImageObject(), nullptr);
    }
    EXPECT_EQ(TileErrors(*first.composite).size(), 2u);
    ASSERT_EQ(m_server.RequestCount(), 2u);

    const Rendered soon = Render(provider, TileGrid::TileView(kLevel, 0, 0, 3, 1));
    EXPECT_EQ(soon.counts.fromMemory, 2);
    EXPECT_EQ(m_server.RequestCount(), 3u) << "a failed tile was asked for again at once";

    const HostClock::ScopedShift later(MappedImageCache::kFailedEntryLifetimeSeconds + 2);
    const Rendered late = Render(provider, TileGrid::TileView(kLevel, 0, 0, 2, 2));
    EXPECT_EQ(late.counts.fresh, 4);
    EXPECT_EQ(m_server.RequestCount(), 7u);
}

} // namespace
