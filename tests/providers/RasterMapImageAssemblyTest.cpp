// The raster view pipeline (RasterMapProvider::GetMappedImages) against the loopback fixture:
// composite reuse, memory and disk look-ups, offline views, tile logging and wrap-around. Local
// and blank tile sets through the pipeline are the lmxmaps tool's tests'.

#include <QThreadPool>
#include <future>
#include <gtest/gtest.h>
#include <set>

#include "imagery/ImageryTestSupport.h"
#include "providers/QStringPrinter.h"
#include "providers/TileServerFixture.h"

namespace {

using IntegrationSupport::CompositeOf;
using IntegrationSupport::Rendered;
using TileGrid::TileView;

constexpr int kModel = 7;
const ColorObject kWait(1, 2, 3, 255);

// The fixture tile of a column and row: its colour names them.
QRgb TileColour(int column, int row) {
    return qRgb(10 * column, 10 * row, 77);
}

// Holds every thread of Qt's global pool, so that fetches started meanwhile wait in its queue.
class PoolHeld {
public:
    PoolHeld() {
        QThreadPool* pool = QThreadPool::globalInstance();
        for (int i = 0; i < pool->maxThreadCount(); ++i) {
            pool->start([released = m_released] { released.wait(); });
        }
    }
    ~PoolHeld() { m_release.set_value(); }
    PoolHeld(const PoolHeld&) = delete;
    PoolHeld& operator=(const PoolHeld&) = delete;

private:
    std::promise<void> m_release;
    std::shared_future<void> m_released = m_release.get_future().share();
};

class RasterMapImageAssemblyTest : public TileServerTest {
protected:
    void TearDown() override {
        TileServerTest::TearDown();
        Options::Set(QStringLiteral("LogDetailTags"), std::nullopt);
        TLog::ReloadOptions();
    }

    // Tiles that the fixture colours by column and row and lets live on disk for a day.
    AttributeMap Attributes(bool offline = false) const {
        return TileServerAttributes(
            m_server.BaseUrl(), QStringLiteral("/solid.png?r={X}0&g={Y}0&b=77&cc=max-age%3D86400"),
            offline ? AttributeMap{{QStringLiteral("offline"), QStringLiteral("1")}}
                    : AttributeMap{});
    }

    static Rendered Render(RasterMapProvider& provider, const MapQueryPtr& view) {
        return IntegrationSupport::Render(provider, view, kModel, kWait);
    }

    // Memory holds 3 tiles of level 3 (columns 3-5 of row 3) and only the disk 4 others
    // (columns 2-3 of rows 1-2); together they are 7 of the 12 tiles of LargeView().
    void CacheSomeTiles() {
        MapTileServerProvider provider(Attributes());
        Render(provider, TileView(3, 2, 1, 2, 2));
        MappedImageCache::Singleton().Clear();
        Render(provider, TileView(3, 3, 3, 3, 1));
        ASSERT_EQ(m_server.RequestCount(), 7u);
    }
    static MapQueryPtr LargeView() { return TileView(3, 2, 1, 4, 3); }

    // Every tile of a block shows at its place in the composite.
    static void ExpectTilesAtTheirPlaces(const Rendered& rendered, int column, int row, int columns,
                                         int rows) {
        const QImage pixels = rendered.composite->GetImageObject()->GetImage();
        ASSERT_EQ(pixels.size(), QSize(columns * 256, rows * 256));
        for (int c = 0; c < columns; ++c) {
            for (int r = 0; r < rows; ++r) {
                EXPECT_EQ(pixels.pixel(c * 256 + 128, r * 256 + 128),
                          TileColour(column + c, row + r))
                    << "column " << column + c << " row " << row + r;
            }
        }
    }
};

} // namespace

TEST_F(RasterMapImageAssemblyTest, IdenticalViewsReuseTheCompositeAndWrappedOnesStayInTheWorld) {
    MapTileServerProvider provider(Attributes());
    const Rendered first = Render(provider, TileView(2, 1, 1, 2, 2));
    EXPECT_EQ(first.counts.fresh, 4);
    EXPECT_EQ(m_server.RequestCount(), 4u);
    ExpectTilesAtTheirPlaces(first, 1, 1, 2, 2);

    // An equal query, and another provider of the same source, find the same composite.
    MapTileServerProvider other(Attributes());
    for (RasterMapProvider* again :
         {static_cast<RasterMapProvider*>(&provider), static_cast<RasterMapProvider*>(&other)}) {
        const Rendered second = Render(*again, TileView(2, 1, 1, 2, 2));
        EXPECT_EQ(second.composite, first.composite);
        EXPECT_EQ(second.counts.fromMemory, 4);
        EXPECT_EQ(second.counts.fresh + second.counts.fromDisk + second.counts.missing, 0);
    }
    EXPECT_EQ(m_server.RequestCount(), 4u);

    // A view that misses the world vertically has no tiles and no image.
    const double top = TileGrid::kHalfWorld;
    const std::size_t cached = MappedImageCache::Singleton().GetSize();
    const auto above = provider.GetMappedImages(
        TileGrid::View(TileGrid::Rect(0, top / 4, top * 1.5, top * 1.75), 256, 256), false,
        MapCode::Default, kModel, kWait);
    EXPECT_TRUE(above->images.empty());
    EXPECT_EQ(MappedImageCache::Singleton().GetSize(), cached);

    // Wrapping views take tiles inside the world and keep their place.
    const double t = TileGrid::Span(2);
    // Views stop a hair inside tile edges: a world width shifts them by a rounded amount.
    const double e = t * 1e-6;
    struct Case {
        const char* name;
        double minX, maxX;
        std::vector<int> columns;
    };
    // Level 2: the world is x = -2t to 2t; column c of a world copy starts at (c - 2) t.
    const Case cases[] = {
        {"across the antimeridian", t + e, 3 * t - e, {3, 0}},
        {"across the western edge", -3 * t + e, -t - e, {3, 0}},
        {"one world east", 3 * t + e, 4 * t - e, {1}},
        {"two worlds east", 8 * t + e, 9 * t - e, {2}},
        {"one world west", -5 * t + e, -4 * t - e, {1}},
    };
    const double h = TileGrid::kHalfWorld;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MappedImageCache::Singleton().Clear();
        const auto width = static_cast<unsigned int>(256 * c.columns.size());
        // Row 1.
        const Rendered view =
            Render(provider, TileGrid::View(TileGrid::Rect(c.minX, c.maxX, 0, t), width, 256));
        ASSERT_NE(view.composite, nullptr);

        std::multiset<int> columns;
        for (const MappedImageInstancePtr& tile : view.composite->GetTiles()) {
            const DataValueRect bounds = tile->GetBounds();
            EXPECT_GE(bounds.MinX().GetReal(), -h - 1e-6);
            EXPECT_LE(bounds.MaxX().GetReal(), h + 1e-6);
            columns.insert(static_cast<int>(std::lround((bounds.MinX().GetReal() + h) / t)));
        }
        EXPECT_EQ(columns, std::multiset<int>(c.columns.begin(), c.columns.end()));

        const DataValueRect bounds = view.composite->GetBounds();
        EXPECT_NEAR(bounds.MinX().GetReal(), c.minX, 2 * e);
        EXPECT_NEAR(bounds.MaxX().GetReal(), c.maxX, 2 * e);
        const QImage pixels = view.composite->GetImageObject()->GetImage();
        ASSERT_EQ(pixels.size(), QSize(static_cast<int>(width), 256));
        for (std::size_t i = 0; i < c.columns.size(); ++i) {
            EXPECT_EQ(pixels.pixel(static_cast<int>(i) * 256 + 128, 128),
                      TileColour(c.columns[i], 1))
                << "image column " << i;
        }
    }
}

TEST_F(RasterMapImageAssemblyTest, AReusedCompositeDrawsTheTilesRestartedAfterACancel) {
    MapTileServerProvider provider(Attributes());
    provider.Connect();
    const MapQueryPtr view = TileView(2, 1, 1, 2, 1);
    Rendered first;
    {
        // The view goes away before any of its tiles was fetched.
        const PoolHeld held;
        first.images = provider.GetMappedImages(view, false, MapCode::Default, kModel, kWait);
        first.composite = CompositeOf(*first.images);
        ASSERT_NE(first.composite, nullptr);
        first.composite->AddUse();
        first.composite->RemoveUse();
    }
    int count = 0;
    ASSERT_TRUE(PollUntilSettled(*first.composite, count));
    EXPECT_EQ(m_server.RequestCount(), 0u);

    Rendered again;
    again.images = provider.GetMappedImages(view, false, MapCode::Default, kModel, kWait);
    again.composite = CompositeOf(*again.images);
    ASSERT_EQ(again.composite, first.composite);
    again.composite->AddUse();
    ASSERT_TRUE(PollUntilSettled(*again.composite, count));
    EXPECT_EQ(m_server.RequestCount(), 2u);
    ExpectTilesAtTheirPlaces(again, 1, 1, 2, 1);
    again.composite->RemoveUse();
}

TEST_F(RasterMapImageAssemblyTest, TheSummaryCountsTilesFromMemoryDiskAndNetwork) {
    struct Case {
        bool offline;
        int fresh;
        int missing;
        std::size_t requests;
    };
    // Online the 5 uncached tiles are fetched; offline they are counted missing.
    for (const Case& c : {Case{false, 5, 0, 12u}, Case{true, 0, 5, 7u}}) {
        SCOPED_TRACE(c.offline ? "offline" : "online");
        TileGrid::PrivateDiskCache()->Clear();
        MappedImageCache::Singleton().Clear();
        m_server.ClearLog();
        CacheSomeTiles();
        MapTileServerProvider provider(Attributes(c.offline));
        const TLog::ScopedCapture log;
        const Rendered view = Render(provider, LargeView());
        EXPECT_EQ(view.counts.fresh, c.fresh);
        EXPECT_EQ(view.counts.fromDisk, 4);
        EXPECT_EQ(view.counts.fromMemory, 3);
        EXPECT_EQ(view.counts.missing, c.missing);
        EXPECT_EQ(CountLogLines(log, QStringLiteral("OpenStreetMap: Begin lookup of12 tiles.")), 1);
        EXPECT_EQ(CountLogLines(log, QStringLiteral("OpenStreetMap: 12 total tiles, %1 new 4 from "
                                                    "disk 3 from memory %2 missing")
                                         .arg(c.fresh)
                                         .arg(c.missing)),
                  1);
        EXPECT_EQ(m_server.RequestCount(), c.requests);
        if (!c.offline) {
            ExpectTilesAtTheirPlaces(view, 2, 1, 4, 3);
            continue;
        }
        // A tile from disk and one from memory.
        const QImage pixels = view.composite->GetImageObject()->GetImage();
        EXPECT_EQ(pixels.pixel(128, 128), TileColour(2, 1));
        EXPECT_EQ(pixels.pixel(3 * 256 + 128, 2 * 256 + 128), TileColour(5, 3));
    }
}

TEST_F(RasterMapImageAssemblyTest, PerTileLinesFollowTheDetailTags) {
    MapTileServerProvider provider(Attributes());
    Render(provider, TileView(3, 2, 1, 2, 2));
    const QString perTile =
        QStringLiteral("Found map tile in disk cache model %1 tile").arg(kModel);

    struct Case {
        const char* tags;
        bool lines;
        bool urls;
    };
    for (const Case& c : {Case{"", false, false}, Case{"30", true, false}, Case{"31", true, true},
                          Case{"30,31", true, true}}) {
        SCOPED_TRACE(c.tags);
        Options::Set(QStringLiteral("LogDetailTags"), QString::fromLatin1(c.tags));
        TLog::ReloadOptions();
        // Forget the tiles in memory, so that each comes from disk again.
        MappedImageCache::Singleton().Clear();
        const TLog::ScopedCapture log;
        const Rendered view = Render(provider, TileView(3, 2, 1, 2, 2));
        ASSERT_EQ(view.counts.fromDisk, 4);

        std::set<int> tiles;
        int withUrl = 0;
        for (const TLog::Record& record : log.Records()) {
            if (!record.message.startsWith(perTile)) {
                continue;
            }
            const QStringList words = record.message.mid(perTile.size()).split(u' ');
            tiles.insert(words.value(1).toInt());
            withUrl +=
                record.message.contains(m_server.BaseUrl() + QStringLiteral("/solid.png")) ? 1 : 0;
        }
        EXPECT_EQ(CountLogLines(log, perTile), c.lines ? 4 : 0);
        EXPECT_EQ(tiles, c.lines ? (std::set<int>{0, 1, 2, 3}) : std::set<int>());
        EXPECT_EQ(withUrl, c.urls ? 4 : 0);
    }
    EXPECT_EQ(m_server.RequestCount(), 4u);
}
