// The tile-server connection, requestor and provider hooks, and the blank and local tile
// readers, tested one by one; the view pipeline as a whole is RasterMapImageAssemblyTest's.

#include <QTemporaryDir>
#include <QUrl>
#include <optional>

#include <lmxmaps/LocalMapProviders.h>
#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/host/storage/SqliteImageCache.h>

#include "imagery/ImageryTestSupport.h"
#include "providers/QStringPrinter.h"
#include "providers/TileServerFixture.h"

namespace {

using IntegrationSupport::CompositeOf;
using TileGrid::TileQuery;

const ColorObject kWait(1, 2, 3, 255);

RefCntPtr<MapTileServerConnection> Connect(AttributeMap attributes) {
    return MakeRefCnt<MapTileServerConnection>(std::move(attributes));
}

QString UrlOf(MapTileServerConnection& connection, const MapQueryPtr& tile) {
    return connection.CreateMapRequestor(nullptr, tile)->GetResultUrl();
}

// A Cache-Control value as the fixture's cc parameter, escaped so that the template keeps it.
QString CacheControlParam(const QString& value) {
    return value.isEmpty()
               ? QString()
               : QStringLiteral("&cc=") +
                     QString::fromLatin1(QUrl::toPercentEncoding(value, QByteArray(), "="));
}

QString SolidTemplate(int r, int g, int b, const QString& cacheControl) {
    return QStringLiteral("/solid.png?r=%1&g=%2&b=%3").arg(r).arg(g).arg(b) +
           CacheControlParam(cacheControl);
}

// Records the lifetime the requestor caches a tile with.
class LifetimeRecordingRequestor : public MapTileServerRequestor {
public:
    using MapTileServerRequestor::MapTileServerRequestor;

    mutable std::optional<std::chrono::seconds> cachedFor;

protected:
    void CacheTile(std::chrono::seconds maxAge) const override {
        cachedFor = maxAge;
        MapTileServerRequestor::CacheTile(maxAge);
    }
};

// A request whose owner is cancelled just after the whole (empty) body arrived.
class CancelsOwnerAtBodyEnd : public BinaryHTTPRequestor {
public:
    CancelsOwnerAtBodyEnd(const QString& server, const QString& path, ComputeTask& owner)
        : BinaryHTTPRequestor(server, 0, QStringLiteral("GET"), HTTPRequest::RequestInfo(path)),
          m_owner(owner) {}

protected:
    void EndBody(bool complete) override {
        BinaryHTTPRequestor::EndBody(complete);
        m_owner.Cancel();
    }

private:
    ComputeTask& m_owner;
};

class CancelledAfterResponseRequestor : public MapTileServerRequestor {
public:
    CancelledAfterResponseRequestor(RefCntPtr<MapTileServerConnection> connection,
                                    const QString& server, const QString& path, MapQueryPtr query)
        : MapTileServerRequestor(std::move(connection), server, 0, path, std::move(query)),
          m_serverName(server), m_requestPath(path) {}

protected:
    RefCntPtr<BinaryHTTPRequestor> CreateRequest() const override {
        return MakeRefCnt<CancelsOwnerAtBodyEnd>(
            m_serverName, m_requestPath, const_cast<CancelledAfterResponseRequestor&>(*this));
    }

private:
    QString m_serverName;
    QString m_requestPath;
};

class TilingProbe : public MapTileServerProvider {
public:
    using MapTileServerProvider::ComputeTiles;
    using MapTileServerProvider::MapTileServerProvider;
};

MapTileIndex IndexOf(const MapQueryPtr& tile) {
    return MapTileServerProvider::ComputeTileIndex(*tile);
}

// Intermediate levels on, and offline, so that only cached imagery can fill a new tile.
AttributeMap OfflineIntermediateAttributes() {
    return TileServerAttributes(QStringLiteral("127.0.0.1:10001"),
                                QStringLiteral("/{Z}/{X}/{Y}.png"),
                                {{QStringLiteral("intermediate-levels"), QStringLiteral("1")},
                                 {QStringLiteral("offline"), QStringLiteral("1")}});
}

// Puts a tile into the memory cache under the key the provider looks it up by.
void CacheInMemory(const AttributeMap& attributes, const MapQuery& view, int level, int column,
                   int row, QImage pixels) {
    AttributeMap key = attributes;
    MapConnectionAttributes::FilterRequiredAttributes(key);
    MapConnectionAttributes::FilterSecureAttributes(key);
    key[QStringLiteral("LAYERS")] = view.GetProperties().at(QStringLiteral("LAYERS"));
    key[QStringLiteral("INDEX")] = QStringLiteral("%1/%2/%3/256").arg(level).arg(column).arg(row);
    MappedImageInstancePtr instance = NewTile();
    instance->SetImageObject(std::make_unique<QtImageObject>(std::move(pixels)));
    instance->SetBounds(TileGrid::TileRect(level, column, row));
    MappedImageCache::Singleton().Put(key, instance);
}

using MapTileServerTest = TileServerTest;

} // namespace

TEST(MapTileServerConnectionTest, ServersTakeTurnsTemplatesFillEveryPlaceholderAndDensity) {
    const QString a = QStringLiteral("127.0.0.1:10001");
    const QString b = QStringLiteral("127.0.0.1:10002");
    const QString s = QStringLiteral("127.0.0.1:10003");
    const MapQueryPtr tile = TileQuery(1, 0, 0);
    const auto hostOf = [&](MapTileServerConnection& connection) {
        return QUrl(UrlOf(connection, tile)).port();
    };

    const auto onlyAdditional =
        Connect(TileServerAttributes(QString(), QStringLiteral("/{Z}/{X}/{Y}.png"),
                                     {{QStringLiteral("addl-servers"), a + u' ' + b}}));
    EXPECT_EQ(onlyAdditional->GetServers(), (std::vector<TString>{a, b}));
    // The first requestor goes to the second server.
    EXPECT_EQ(hostOf(*onlyAdditional), 10002);
    EXPECT_EQ(hostOf(*onlyAdditional), 10001);
    EXPECT_EQ(hostOf(*onlyAdditional), 10002);

    const auto both = Connect(TileServerAttributes(
        s, QStringLiteral("/{Z}/{X}/{Y}.png"),
        {{QStringLiteral("addl-servers"), QStringLiteral("  %1   %2 ").arg(a, b)}}));
    EXPECT_EQ(both->GetServers(), (std::vector<TString>{s, a, b}));
    EXPECT_EQ(hostOf(*both), 10001);
    EXPECT_EQ(hostOf(*both), 10002);
    EXPECT_EQ(hostOf(*both), 10003);

    try {
        Connect(TileServerAttributes(QString(), QStringLiteral("/{Z}/{X}/{Y}.png"),
                                     {{QStringLiteral("addl-servers"), QStringLiteral("   ")}}));
        FAIL() << "a connection without servers";
    } catch (const MapProviderException& e) {
        EXPECT_EQ(e.GetType(), MapProviderException::eServiceError);
        EXPECT_EQ(e.GetErrorInfo().logSite,
                  QStringLiteral("MapProviderException_AutoGen_0x1F991322"));
    }

    // How a template's placeholders are filled is the URL template fuzz target's, whose corpus
    // replays as a test, for whole levels; between them the tile is drawn larger, and the level
    // has two significant digits. "%1" would be a format placeholder if the template's percents
    // were not kept; as a '%' that starts no escape it goes out as "%25".
    const auto sizes = Connect(TileServerAttributes(
        a, QStringLiteral("/t/{Z}/{X}/{Y}.png?s={S}&p={P}&k={K}&q=50%25off&raw=%1"),
        {{QStringLiteral("username"), QStringLiteral("key")}}));
    EXPECT_EQ(UrlOf(*sizes, TileQuery(3.5, 4, 2, 362)),
              QStringLiteral(
                  "http://127.0.0.1:10001/t/3.5/4/2.png?s=362&p=362&k=key&q=50%25off&raw=%251"));
    EXPECT_EQ(UrlOf(*sizes, TileQuery(12, 4, 2)),
              QStringLiteral(
                  "http://127.0.0.1:10001/t/12/4/2.png?s=256&p=256&k=key&q=50%25off&raw=%251"));

    // The provider supports high density only online and with a density template.
    const MapTileServerProvider denseProvider(
        TileServerAttributes(a, QStringLiteral("/hd/{Z}/{X}/{Y}{D}.png")));
    EXPECT_TRUE(denseProvider.SupportsHighDPI());
    const MapTileServerProvider plain(TileServerAttributes(a, QStringLiteral("/hd/{Z}.png")));
    EXPECT_FALSE(plain.SupportsHighDPI());
    const MapTileServerProvider offline(
        TileServerAttributes(a, QStringLiteral("/hd/{Z}/{X}/{Y}{D}.png"),
                             {{QStringLiteral("offline"), QStringLiteral("1")}}));
    EXPECT_FALSE(offline.SupportsHighDPI());
    MapConnection::CloseAll();
}

TEST(MapTileIndexTest, IndicesCountFromTheNorthWestAndViewsOnTileEdgesGetNoExtraColumnOrRow) {
    EXPECT_EQ(IndexOf(TileQuery(3, 4, 2)).ToString(), QStringLiteral("3/4/2/256"));

    EXPECT_EQ(IndexOf(TileQuery(0, 0, 0)).ToString(), QStringLiteral("0/0/0/256"));
    EXPECT_EQ(IndexOf(TileQuery(3.5, 7, 0, 362)).ToString(), QStringLiteral("3.5/7/0/362"));
    EXPECT_EQ((MapTileIndex{3.123456789, 2, 1, 256}.ToString()), QStringLiteral("3.12346/1/2/256"));

    // Edges that rounding put a hair off the grid still name the tile they belong to.
    const double hair = TileGrid::Span(3) * 1e-6;
    for (const double shift : {-hair, hair}) {
        const DataValueRect exact = TileGrid::TileRect(3, 4, 2);
        const auto nudged = MakeRefCnt<MapQuery>(
            MakeRefCnt<MapLayers>(), QStringLiteral("EPSG:3857"),
            TileGrid::Rect(exact.MinX().GetReal() + shift, exact.MaxX().GetReal() + shift,
                           exact.MinY().GetReal() + shift, exact.MaxY().GetReal() + shift),
            256, 256, QString(), QString(), false, false, MapScaleLevel{3.0, 256, 1.0});
        EXPECT_EQ(IndexOf(nudged).column, 4) << shift;
        EXPECT_EQ(IndexOf(nudged).row, 2) << shift;
    }

    TilingProbe provider(TileServerAttributes(QStringLiteral("127.0.0.1:10001"), QString()));
    const DataValueRect world = provider.GetDefaultSpatialProjector()->GetWorldBounds();
    // Tile edges as the tiling itself places them: whole multiples of one tile span.
    const double t = TileGrid::Span(2);

    struct Case {
        const char* name;
        DataValueRect worldView;
        std::size_t columns;
        std::size_t rows;
        double level;
    };
    const Case cases[] = {
        {"level zero", world, 1, 1, 0},
        {"centre block", TileGrid::Rect(-2 * t, 2 * t, -t, t), 4, 2, 2},
        {"one tile", TileGrid::Rect(0, t, 0, t), 1, 1, 2},
        {"whole world", world, 4, 4, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto width = static_cast<unsigned int>(c.columns * 256);
        const auto height = static_cast<unsigned int>(c.rows * 256);
        const MapQueryPtr worldView = TileGrid::View(c.worldView, width, height);
        const MapScaleLevel level = provider.ComputeScaleLevel(*worldView);
        ASSERT_EQ(level.level, c.level);
        std::vector<MapQueryPtr> worldTiles;
        const MapQueryPtr whole = provider.ComputeTiles(level, worldView, worldTiles);
        EXPECT_EQ(worldTiles.size(), c.columns * c.rows);
        EXPECT_EQ(whole->GetWidth(), width);
        EXPECT_EQ(whole->GetHeight(), height);
        EXPECT_NEAR(whole->GetBBox().MinX().GetReal(), c.worldView.MinX().GetReal(), 1e-6);
        EXPECT_NEAR(whole->GetBBox().MaxX().GetReal(), c.worldView.MaxX().GetReal(), 1e-6);
        EXPECT_NEAR(whole->GetBBox().MinY().GetReal(), c.worldView.MinY().GetReal(), 1e-6);
        EXPECT_NEAR(whole->GetBBox().MaxY().GetReal(), c.worldView.MaxY().GetReal(), 1e-6);
        for (const MapQueryPtr& tile : worldTiles) {
            EXPECT_EQ(tile->GetWidth(), 256u);
            EXPECT_EQ(tile->GetHeight(), 256u);
            EXPECT_EQ(tile->GetScaleLevel(), level);
        }
    }
    std::vector<MapQueryPtr> worldTiles;
    const MapQueryPtr worldView = TileGrid::View(world, 256, 256);
    provider.ComputeTiles(provider.ComputeScaleLevel(*worldView), worldView, worldTiles);
    ASSERT_EQ(worldTiles.size(), 1u);
    EXPECT_EQ(worldTiles[0]->GetBBox(), world);
    EXPECT_EQ(IndexOf(worldTiles[0]).ToString(), QStringLiteral("0/0/0/256"));
}

TEST_F(MapTileServerTest, TheResultUrlIsKnownWithoutARequestAndAnEmptyBodyFailsUnlessCancelled) {
    const auto connection =
        Connect(TileServerAttributes(m_server.BaseUrl(), QStringLiteral("/tiles/{Z}/{X}/{Y}.png")));
    const MapRequestorPtr requestor = connection->CreateMapRequestor(nullptr, TileQuery(3, 4, 2));
    EXPECT_EQ(requestor->GetResultUrl(), m_server.Url(QStringLiteral("/tiles/3/4/2.png")));
    EXPECT_EQ(m_server.RequestCount(), 0u);

    // The port comes from the server string when the "port" attribute is empty.
    requestor->Execute();
    ASSERT_TRUE(requestor->GetResult());
    EXPECT_EQ(m_server.RequestCount(), 1u);
    EXPECT_EQ(m_server.Requests()[0].target, "/tiles/3/4/2.png");
    EXPECT_EQ(requestor->GetResultUrl(), m_server.Url(QStringLiteral("/tiles/3/4/2.png")));

    // An empty body fails unless the task was cancelled.
    const auto empty = Connect(TileServerAttributes(m_server.BaseUrl(), QStringLiteral("/empty")));
    const MapRequestorPtr plain = empty->CreateMapRequestor(nullptr, TileQuery(3, 4, 2));
    plain->Execute();
    EXPECT_TRUE(plain->IsError());
    try {
        plain->GetResult();
        FAIL() << "an empty body is no image";
    } catch (const MapProviderException& e) {
        EXPECT_EQ(e.GetType(), MapProviderException::eInvalidImage);
    }

    const auto cancelled = MakeRefCnt<CancelledAfterResponseRequestor>(
        empty, m_server.BaseUrl(), QStringLiteral("/empty"), TileQuery(3, 4, 2));
    cancelled->Execute();
    EXPECT_EQ(m_server.RequestCount(), 3u);
    EXPECT_TRUE(cancelled->WasCancelled());
    EXPECT_FALSE(cancelled->IsError());
    EXPECT_FALSE(cancelled->HasException());
    EXPECT_FALSE(cancelled->GetResult());
}

TEST_F(MapTileServerTest, TilesLiveOnDiskForTheMaxAgeAndNearWhiteSolidOnesNever) {
    struct Case {
        const char* cacheControl;
        std::optional<std::chrono::seconds> lifetime;
    };
    const Case cases[] = {
        {"no-cache", std::nullopt},
        {"no-store", std::nullopt},
        {"", std::nullopt},
        {"max-age=0", std::nullopt},
        {"public, MAX-AGE=600", std::chrono::seconds(600)},
        {"private, max-age=86400", std::chrono::seconds(86400)},
    };
    constexpr std::chrono::seconds kMargin{60};
    const MapQueryPtr tile = TileQuery(3, 4, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cacheControl);
        TileGrid::PrivateDiskCache()->Clear();
        const AttributeMap attributes = TileServerAttributes(
            m_server.BaseUrl(), SolidTemplate(10, 120, 200, QString::fromLatin1(c.cacheControl)));
        const auto connection = Connect(attributes);
        const auto requestor = MakeRefCnt<LifetimeRecordingRequestor>(
            connection, m_server.BaseUrl(), 0,
            SolidTemplate(10, 120, 200, QString::fromLatin1(c.cacheControl)), tile);
        requestor->Execute();
        ASSERT_TRUE(requestor->GetResult());
        EXPECT_EQ(requestor->cachedFor, c.lifetime);

        const AttributeMap key = TileGrid::StoredTileKey(attributes, *tile);
        if (!c.lifetime) {
            EXPECT_EQ(TileGrid::DiskCacheSeenFrom(std::chrono::seconds(0))->GetEntryCount(), 0);
            continue;
        }
        EXPECT_EQ(TileGrid::DiskCacheSeenFrom(std::chrono::seconds(0))->GetEntryCount(), 1);
        EXPECT_TRUE(TileGrid::DiskCacheSeenFrom(*c.lifetime - kMargin)->Lookup(key));
        EXPECT_FALSE(TileGrid::DiskCacheSeenFrom(*c.lifetime + kMargin)->Lookup(key));
    }

    // Near-white solid tiles are flagged and never stored.
    struct Colour {
        int r, g, b;
        bool flagged;
    };
    const Colour colours[] = {
        {232, 232, 232, true},  {255, 255, 255, true}, {231, 255, 255, false},
        {255, 255, 231, false}, {10, 120, 200, false},
    };
    for (const Colour& c : colours) {
        SCOPED_TRACE(testing::Message() << c.r << "," << c.g << "," << c.b);
        TileGrid::PrivateDiskCache()->Clear();
        const QString path = SolidTemplate(c.r, c.g, c.b, QStringLiteral("max-age=86400"));
        const AttributeMap attributes = TileServerAttributes(m_server.BaseUrl(), path);
        const auto connection = Connect(attributes);
        const MapRequestorPtr requestor = connection->CreateMapRequestor(nullptr, tile);
        const TLog::ScopedCapture log;
        requestor->Execute();

        EXPECT_EQ(requestor->IsError(), c.flagged);
        // A flagged tile is still the image, not a failure.
        const std::unique_ptr<QtImageObject> image = requestor->GetResult();
        ASSERT_TRUE(image);
        EXPECT_EQ(image->GetSolidColor(), ColorObject(c.r, c.g, c.b, 255));
        EXPECT_EQ(TileGrid::DiskCacheSeenFrom(std::chrono::seconds(0))->GetEntryCount(),
                  c.flagged ? 0 : 1);
        const QString warning =
            QStringLiteral("Solid color tile returned from '%1'.").arg(requestor->GetResultUrl());
        EXPECT_EQ(CountLogLines(log, warning), c.flagged ? 1 : 0);
    }
}

TEST_F(MapTileServerTest, NewTilesStartFromACachedAncestorsQuarterElseFromCachedChildren) {
    // The ancestor: 4 x 4 blocks of 64 pixels, each its own colour.
    const auto block = [](int bx, int by) {
        return qRgb(40 + 50 * bx, 40 + 50 * by, 90);
    };
    QImage ancestorPixels(256, 256, QImage::Format_RGB32);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            ancestorPixels.setPixel(x, y, block(x / 64, y / 64));
        }
    }
    const AttributeMap attributes = OfflineIntermediateAttributes();
    // Level 5, column 13, row 6: the top right quarter of 4/6/3 and block (1, 2) of 3/3/1.
    const MapQueryPtr view = TileGrid::TileView(5, 13, 6);
    const auto cacheAt = [&](int level, int column, int row) {
        CacheInMemory(attributes, *view, level, column, row, ancestorPixels);
    };
    const auto provisional =
        [&](MapTileServerProvider& provider) -> std::shared_ptr<QtImageObject> {
        // The view's composite and tile, not the cached ancestors (which carry no CRS).
        MappedImageCache::Singleton().Clear({{QStringLiteral("CRS"), QStringLiteral("EPSG:3857")}});
        RasterMapProvider::TileCounts counts;
        const auto images =
            provider.GetMappedImages(view, false, MapCode::Default, 0, kWait, &counts);
        EXPECT_EQ(counts.missing, 1);
        const CompositeMappedImage* composite = CompositeOf(*images);
        if (composite == nullptr) {
            ADD_FAILURE() << "the view's image is no composite";
            return nullptr;
        }
        const auto tiles = composite->GetTiles();
        EXPECT_EQ(tiles.size(), 1u);
        return tiles.at(0)->GetImageObject();
    };
    MapTileServerProvider provider(attributes);

    // Too far up: the search climbs two levels.
    cacheAt(2, 1, 0);
    EXPECT_FALSE(provisional(provider));

    cacheAt(3, 3, 1);
    std::shared_ptr<QtImageObject> image = provisional(provider);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetSize(), QSize(64, 64));
    EXPECT_EQ(image->GetSolidColor(), ColorObject::FromArgb(block(1, 2)));

    // The nearer ancestor wins.
    cacheAt(4, 6, 3);
    image = provisional(provider);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->GetSize(), QSize(128, 128));
    const QImage quarter = image->GetImage();
    EXPECT_EQ(quarter.pixel(0, 0), block(2, 0));
    EXPECT_EQ(quarter.pixel(127, 0), block(3, 0));
    EXPECT_EQ(quarter.pixel(0, 127), block(2, 1));
    EXPECT_EQ(quarter.pixel(127, 127), block(3, 1));

    // Blank and local tiles never start from cached imagery.
    AttributeMap blank = attributes;
    blank[QStringLiteral("class")] = QString::fromUtf16(BlankMapProvider::valueClassAttr);
    BlankMapProvider blankProvider(blank);
    EXPECT_FALSE(provisional(blankProvider));
    AttributeMap local = attributes;
    local[QStringLiteral("class")] = QString::fromUtf16(LocalMapProvider::valueClassAttr);
    LocalMapProvider localProvider(local);
    EXPECT_FALSE(provisional(localProvider));

    // Without ancestors a new tile is drawn from its cached children.
    MappedImageCache::Singleton().Clear();
    const QRgb colours[2][2] = {{qRgb(200, 0, 0), qRgb(0, 200, 0)}, {qRgb(0, 0, 200), 0}};
    // Three of the four children at level 6; the south-east one is missing.
    for (const auto& [dc, dr] : {std::pair{0, 0}, {1, 0}, {0, 1}}) {
        QImage pixels(256, 256, QImage::Format_RGB32);
        pixels.fill(colours[dr][dc]);
        CacheInMemory(attributes, *view, 6, 26 + dc, 12 + dr, pixels);
    }
    image = provisional(provider);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->GetSize(), QSize(256, 256));
    const QImage pixels = image->GetImage();
    EXPECT_EQ(pixels.pixel(64, 64), colours[0][0]);
    EXPECT_EQ(pixels.pixel(192, 64), colours[0][1]);
    EXPECT_EQ(pixels.pixel(64, 192), colours[1][0]);
    EXPECT_EQ(pixels.pixel(192, 192), kWait.ToArgb());
}

class MapTileFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tiles.isValid());
        Options::Set(QStringLiteral("MapTilesDirectory"), m_tiles.path());
    }
    void TearDown() override { Options::Set(QStringLiteral("MapTilesDirectory"), std::nullopt); }

    QString TilePath(const QString& relative) const {
        return QDir::toNativeSeparators(QDir(m_tiles.path()).filePath(relative));
    }
    void WriteTile(const QString& relative, QRgb colour) const {
        WriteSolidTile(QDir(m_tiles.path()).filePath(relative), colour);
    }

    QTemporaryDir m_tiles;
};

TEST_F(MapTileFileTest, LocalTilesAreReadFromTileSetLevelColumnRowAndBlankOnesFromOneFile) {
    const MapQueryPtr tile = TileQuery(3, 4, 2);
    const auto streets = MakeRefCnt<LocalMapConnection>(
        AttributeMap{{QStringLiteral("class"), QStringLiteral("local")},
                     {QStringLiteral("tileset"), QStringLiteral("streets")}});
    WriteTile(QStringLiteral("streets/3/4/2.png"), qRgb(30, 60, 90));
    const MapRequestorPtr found = streets->CreateMapRequestor(nullptr, tile);
    EXPECT_EQ(found->GetResultUrl(), TilePath(QStringLiteral("streets/3/4/2.png")));
    found->Execute();
    const std::unique_ptr<QtImageObject> image = found->GetResult();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetSolidColor(), ColorObject(30, 60, 90, 255));

    const MapRequestorPtr missing = streets->CreateMapRequestor(nullptr, TileQuery(3, 5, 2));
    missing->Execute();
    try {
        missing->GetResult();
        FAIL() << "the tile file does not exist";
    } catch (const MapProviderException& e) {
        EXPECT_EQ(e.GetType(), MapProviderException::eLocalImageMissing);
        EXPECT_TRUE(e.GetMessage().contains(TilePath(QStringLiteral("streets/3/5/2.png"))))
            << e.GetMessage().toStdString();
        EXPECT_EQ(e.GetErrorInfo().logSite,
                  QStringLiteral("MapProviderException_AutoGen_0x30F9CA67"));
    }

    // Without a tile set the tiles lie straight in the map tiles directory.
    const auto plain = MakeRefCnt<LocalMapConnection>(
        AttributeMap{{QStringLiteral("class"), QStringLiteral("local")}});
    EXPECT_EQ(plain->CreateMapRequestor(nullptr, tile)->GetResultUrl(),
              TilePath(QStringLiteral("3/4/2.png")));

    // Every blank tile is the one blank file.
    const auto connection = MakeRefCnt<BlankMapConnection>(
        AttributeMap{{QStringLiteral("class"), QStringLiteral("blank")}});
    const QString blank = TilePath(QStringLiteral("Blank256x256.png"));
    for (const MapQueryPtr& tile : {TileQuery(0, 0, 0), TileQuery(3, 4, 2), TileQuery(5, 31, 17),
                                    TileQuery(3.5, 1, 1, 362)}) {
        EXPECT_EQ(connection->CreateMapRequestor(nullptr, tile)->GetResultUrl(), blank);
    }

    const MapRequestorPtr before = connection->CreateMapRequestor(nullptr, TileQuery(3, 4, 2));
    before->Execute();
    try {
        before->GetResult();
        FAIL() << "there is no blank file yet";
    } catch (const MapProviderException& e) {
        EXPECT_EQ(e.GetType(), MapProviderException::eBlankImageMissing);
        EXPECT_TRUE(e.GetMessage().contains(blank));
    }

    WriteTile(QStringLiteral("Blank256x256.png"), qRgb(224, 224, 224));
    const MapRequestorPtr after = connection->CreateMapRequestor(nullptr, TileQuery(5, 31, 17));
    after->Execute();
    const std::unique_ptr<QtImageObject> blankImage = after->GetResult();
    ASSERT_TRUE(blankImage);
    EXPECT_EQ(blankImage->GetSolidColor(), ColorObject(224, 224, 224, 255));
}
