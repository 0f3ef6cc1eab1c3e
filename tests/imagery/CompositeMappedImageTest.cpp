// Composites of tiles whose requestors make one-colour images; tiles fetched over HTTP and
// composed by the view pipeline are RasterMapImageAssemblyTest's.

#include <atomic>
#include <gtest/gtest.h>
#include <memory>

#include <lmxmaps/CompositeMappedImage.h>
#include <lmxmaps/MapProviderException.h>

#include "ImageryTestSupport.h"

namespace {

using Latch = std::shared_ptr<std::atomic<bool>>;

// Makes a one-colour image once released (or fails, when asked to), without any service.
class LatchRequestor : public MapRequestor {
public:
    LatchRequestor(const MapQueryPtr& query, Latch latch, QColor color, bool fail = false)
        : MapRequestor(query), m_latch(std::move(latch)), m_color(color), m_fail(fail) {}

    TString GetResultUrl() const override { return QStringLiteral("latch:%1").arg(m_color.name()); }
    RefCntPtr<MapRequestor> Clone() const override {
        return RefCntPtr<MapRequestor>(new LatchRequestor(GetQuery(), m_latch, m_color, m_fail));
    }

protected:
    void ExecuteImpl() override {
        for (int i = 0; i < 4000 && !*m_latch; ++i) {
            ThrowIfCancelled();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (m_fail) {
            throw MapProviderException(MapProviderException::eFetchFailed,
                                       QStringLiteral("tile %1 failed").arg(m_color.name()),
                                       MapProviderException::Site(4));
        }
        SetResult(QtImageObject::CreateCanvas(QSize(16, 16), QImage::Format_ARGB32, 1.0,
                                              ColorObject::FromQColor(m_color)));
    }

private:
    Latch m_latch;
    QColor m_color;
    bool m_fail;
};

Latch Opened() {
    return std::make_shared<std::atomic<bool>>(true);
}

Latch Closed() {
    return std::make_shared<std::atomic<bool>>(false);
}

MappedImageInstancePtr Tile(double minX, double maxX, const Latch& latch, QColor color,
                            bool fail = false) {
    MappedImageInstancePtr tile = NewTile();
    tile->SetBounds(RealRect(minX, maxX, -90, 90));
    tile->SetRequest(MapRequestorPtr(new LatchRequestor(TileQuery(), latch, color, fail)), false);
    return tile;
}

CompositeMappedImagePtr Composite(double minX, double maxX, bool composeWhenComplete,
                                  int width = 64) {
    QtImageObject::BitmapOptions options;
    options.backgroundColor = ColorObject::FromQColor(Qt::white);
    const MapQueryPtr query =
        MakeRefCnt<MapQuery>(nullptr, QStringLiteral("EPSG:4326"), RealRect(minX, maxX, -90, 90),
                             width, 32u, QString(), QString(), false, false);
    return MakeRefCnt<CompositeMappedImage>(
        query, options, composeWhenComplete,
        SpatialProjector::PlateCarreeFactory(FieldName(), FieldName()));
}

QColor PixelAt(const CompositeMappedImage& composite, int x, int y) {
    return composite.GetImageObject()->GetImage().pixelColor(x, y);
}

bool WaitForTile(MappedImageInstance& tile) {
    int count = 0;
    return PollUntilSettled(tile, count);
}

} // namespace

TEST(CompositeMappedImage, DrawsTilesAsTheyArriveOrAllAtOnceWhenComplete) {
    for (const bool composeWhenComplete : {false, true}) {
        SCOPED_TRACE(composeWhenComplete ? "when complete" : "as they arrive");
        const Latch east = Closed();
        const MappedImageInstancePtr westTile = Tile(-180, 0, Opened(), Qt::red);
        const MappedImageInstancePtr eastTile = Tile(0, 180, east, Qt::blue);
        ASSERT_TRUE(WaitForTile(*westTile));

        const CompositeMappedImagePtr composite = Composite(-180, 180, composeWhenComplete);
        composite->SetWaitTileFill(ColorObject::FromQColor(Qt::green));
        EXPECT_EQ(PixelAt(*composite, 40, 16), QColor(Qt::white));
        composite->AddTiles({westTile, eastTile});
        bool pending = false;
        int before = 0;
        composite->CheckUpdateState(pending, before);
        EXPECT_TRUE(pending);
        // Meanwhile the arrived tile shows beside the wait colour, or nothing shows at all.
        EXPECT_EQ(PixelAt(*composite, 16, 16), QColor(composeWhenComplete ? Qt::white : Qt::red));
        EXPECT_EQ(PixelAt(*composite, 48, 16), QColor(composeWhenComplete ? Qt::white : Qt::green));

        *east = true;
        int after = 0;
        ASSERT_TRUE(PollUntilSettled(*composite, after));
        EXPECT_GT(after, before);
        EXPECT_EQ(PixelAt(*composite, 48, 16), QColor(Qt::blue));
        EXPECT_EQ(PixelAt(*composite, 31, 0), QColor(Qt::red));
        EXPECT_EQ(PixelAt(*composite, 32, 31), QColor(Qt::blue));
        EXPECT_EQ(composite->GetTileUrls().size(), 2u);
        int settled = 0;
        ASSERT_TRUE(PollUntilSettled(*composite, settled));
        EXPECT_EQ(settled, after);
    }
}

TEST(CompositeMappedImage, AMissingTileGetsTheTransparentBackgroundAndWrappedOnesShowInEveryCopy) {
    MappedImageInstancePtr missing = NewTile();
    missing->SetBounds(RealRect(-180, 180, -90, 90));
    const CompositeMappedImagePtr composite = Composite(-180, 180, false);
    composite->AddTiles({missing});
    EXPECT_EQ(PixelAt(*composite, 10, 10).alpha(), 0);
    int count = 0;
    EXPECT_TRUE(PollUntilSettled(*composite, count));

    const MappedImageInstancePtr tile = Tile(-180, -90, Opened(), Qt::red);
    ASSERT_TRUE(WaitForTile(*tile));
    // 540 degrees across 96 pixels: the tile's copies start at -180 and at +180.
    const CompositeMappedImagePtr wrapping = Composite(-270, 270, false, 96);
    wrapping->AddTiles({tile});
    const std::vector<QRect> rects = tile->GetTileRects();
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[0], QRect(16, 0, 16, 32));
    EXPECT_EQ(rects[1], QRect(80, 0, 16, 32));
    EXPECT_EQ(PixelAt(*wrapping, 20, 10), QColor(Qt::red));
    EXPECT_EQ(PixelAt(*wrapping, 85, 10), QColor(Qt::red));
    EXPECT_EQ(PixelAt(*wrapping, 50, 10), QColor(Qt::white));
    const std::vector<TileInfo> infos = wrapping->GetTileInfos();
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].second, rects);
}

TEST(CompositeMappedImage, ErrorsStopAtTheFirstTileWithoutAndUsesGoToTheTiles) {
    const CompositeMappedImagePtr empty = Composite(-180, 180, false);
    WarningList errors;
    bool hadErrors = false;
    empty->GetErrors(errors, hadErrors);
    EXPECT_TRUE(hadErrors);
    EXPECT_TRUE(errors.empty());

    const std::vector<MappedImageInstancePtr> tiles = {Tile(-180, -60, Opened(), Qt::red, true),
                                                       Tile(-60, 60, Opened(), Qt::green),
                                                       Tile(60, 180, Opened(), Qt::blue, true)};
    for (const MappedImageInstancePtr& tile : tiles) {
        ASSERT_TRUE(WaitForTile(*tile));
    }
    const CompositeMappedImagePtr composite = Composite(-180, 180, false);
    composite->AddTiles(tiles);
    composite->GetErrors(errors, hadErrors);
    EXPECT_FALSE(hadErrors);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors.front()->GetMessage().contains(QColor(Qt::red).name()));

    composite->ClearErrors();
    errors.clear();
    tiles[0]->GetErrors(errors, hadErrors);
    EXPECT_FALSE(hadErrors);

    // Uses go to the tiles.
    composite->AddUse();
    EXPECT_EQ(tiles[0]->GetUseCount(), 1);
    EXPECT_EQ(tiles[2]->GetUseCount(), 1);
    EXPECT_EQ(composite->GetUseCount(), 0);
    composite->RemoveUse();
    EXPECT_EQ(tiles[0]->GetUseCount(), 0);
}
