// lmxmaps render run as a process over a small local tile set whose tiles are solid colours,
// so that where each tile lands in the PNG can be checked pixel by pixel.

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "FixtureServer.h"
#include "ToolProcess.h"
#include "imagery/ImageryTestSupport.h"

namespace {

constexpr double kWorldEdge = 20037508.342789244;
const QColor kNorthWest(200, 30, 30);
const QColor kNorthEast(30, 200, 30);
const QColor kSouthWest(30, 30, 200);
const QColor kSouthEast(200, 200, 30);
const QColor kLevelZero(90, 90, 90);

class RenderCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        WriteTile(QStringLiteral("0/0/0.png"), kLevelZero);
        WriteTile(QStringLiteral("1/0/0.png"), kNorthWest);
        WriteTile(QStringLiteral("1/1/0.png"), kNorthEast);
        WriteTile(QStringLiteral("1/0/1.png"), kSouthWest);
        WriteTile(QStringLiteral("1/1/1.png"), kSouthEast);
    }

    QString TileSet() const { return m_dir.filePath(QStringLiteral("maptiles/default/normal")); }
    QString Output() const { return m_dir.filePath(QStringLiteral("map.png")); }

    void WriteTile(const QString& relative, const QColor& color) const {
        WriteSolidTile(QDir(TileSet()).filePath(relative), color);
    }

    ToolRun Render(const QStringList& arguments) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LMX_MapTilesDirectory"),
                           m_dir.filePath(QStringLiteral("maptiles")));
        environment.insert(QStringLiteral("LMX_ImageCacheDirectory"),
                           m_dir.filePath(QStringLiteral("cache")));
        return RunTool(QStringList{QStringLiteral("render")} << arguments << QStringLiteral("--out")
                                                             << Output(),
                       environment);
    }

    QTemporaryDir m_dir;
};

QString WorldBox() {
    return QStringLiteral("%1,%1,%2,%2").arg(-kWorldEdge, 0, 'f', 6).arg(kWorldEdge, 0, 'f', 6);
}

TEST_F(RenderCommandTest, TilesLandWhereTheirBoundsSayAtExactlyTheRequestedSize) {
    const ToolRun run = Render({QStringLiteral("--bbox-crs"), WorldBox(), QStringLiteral("--size"),
                                QStringLiteral("512x512")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QImage image(Output());
    ASSERT_EQ(image.size(), QSize(512, 512));
    EXPECT_EQ(image.pixelColor(100, 100), kNorthWest);
    EXPECT_EQ(image.pixelColor(400, 100), kNorthEast);
    EXPECT_EQ(image.pixelColor(100, 300), kSouthWest);
    EXPECT_EQ(image.pixelColor(300, 300), kSouthEast);
    // The attribution line sits in the bottom-right corner.
    EXPECT_NE(image.pixelColor(505, 505), kSouthEast);
    EXPECT_TRUE(run.out.contains(QStringLiteral("4 tiles"))) << run.out.toStdString();

    // Twice the pixel ratio doubles the pixels of the same view.
    const ToolRun sharp =
        Render({QStringLiteral("--bbox-crs"), WorldBox(), QStringLiteral("--size"),
                QStringLiteral("256x256"), QStringLiteral("--dpr"), QStringLiteral("2")});
    ASSERT_EQ(sharp.exitCode, 0) << sharp.err.toStdString();
    const QImage doubled(Output());
    EXPECT_EQ(doubled.size(), QSize(512, 512));
    EXPECT_EQ(doubled.pixelColor(400, 100), kNorthEast);
}

TEST_F(RenderCommandTest, AViewSmallerThanItsTilesShowsOnlyItsOwnPart) {
    // The north-east quarter of the world, 256 pixels wide: one level-1 tile fills it.
    const ToolRun run = Render({QStringLiteral("--bbox-crs"),
                                QStringLiteral("0,0,%1,%1").arg(kWorldEdge, 0, 'f', 6),
                                QStringLiteral("--size"), QStringLiteral("256x256")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QImage image(Output());
    ASSERT_EQ(image.size(), QSize(256, 256));
    EXPECT_EQ(image.pixelColor(2, 2), kNorthEast);
    EXPECT_EQ(image.pixelColor(128, 128), kNorthEast);

    // A view straddling the antimeridian shows the east edge of the world west of the line.
    const ToolRun across = Render({QStringLiteral("--bbox"), QStringLiteral("90,1,270,80"),
                                   QStringLiteral("--size"), QStringLiteral("256x128")});
    ASSERT_EQ(across.exitCode, 0) << across.err.toStdString();
    const QImage wrapped(Output());
    EXPECT_EQ(wrapped.pixelColor(50, 64), kNorthEast);
    EXPECT_EQ(wrapped.pixelColor(200, 64), kNorthWest);
}

TEST_F(RenderCommandTest, AViewWiderThanTheWorldAndOffCentreIsDrawnToBothEdges) {
    // 540 degrees centred on 170 east, at 512 pixels a world (level 1): x = (lon + 100) * 768/540.
    const ToolRun run = Render({QStringLiteral("--bbox"), QStringLiteral("-100,-80,440,80"),
                                QStringLiteral("--size"), QStringLiteral("768x400")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QImage image(Output());
    ASSERT_EQ(image.size(), QSize(768, 400));
    const struct {
        int x;
        QColor north;
        QColor south;
    } columns[] = {
        {14, kNorthWest, kSouthWest},  // 90 west
        {284, kNorthEast, kSouthEast}, // 100 east
        {427, kNorthWest, kSouthWest}, // 200 east, 160 west of the next world
        {711, kNorthEast, kSouthEast}, // 400 east, 40 east of the next world
        {760, kNorthEast, kSouthEast}, // 435 east
    };
    for (const auto& column : columns) {
        EXPECT_EQ(image.pixelColor(column.x, 100), column.north) << "x " << column.x;
        EXPECT_EQ(image.pixelColor(column.x, 300), column.south) << "x " << column.x;
    }
}

TEST_F(RenderCommandTest, MissingAndUnfetchableTilesStillWriteTheImageAndExitOne) {
    ASSERT_TRUE(QFile::remove(QDir(TileSet()).filePath(QStringLiteral("1/1/1.png"))));
    const ToolRun run = Render({QStringLiteral("--bbox-crs"), WorldBox(), QStringLiteral("--size"),
                                QStringLiteral("512x512")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("1.png"))) << run.err.toStdString();
    const QImage image(Output());
    ASSERT_EQ(image.size(), QSize(512, 512));
    EXPECT_EQ(image.pixelColor(100, 100), kNorthWest);

    // Offline, local tiles are never cached, so every tile is missing.
    const ToolRun offline =
        Render({QStringLiteral("--bbox-crs"), WorldBox(), QStringLiteral("--size"),
                QStringLiteral("512x512"), QStringLiteral("--offline")});
    EXPECT_EQ(offline.exitCode, 1);
    EXPECT_TRUE(offline.out.contains(QStringLiteral("4 missing"))) << offline.out.toStdString();
    EXPECT_TRUE(QFileInfo::exists(Output()));
}

TEST_F(RenderCommandTest, BadArgumentsAndUnusableSourcesExitTwoNamingTheProblem) {
    const struct {
        QStringList arguments;
        const char* expected;
    } cases[] = {
        {{QStringLiteral("--bbox"), QStringLiteral("10,10,5,20")}, "--bbox: wants four numbers"},
        {{QStringLiteral("--bbox"), QStringLiteral("0,-95,10,0")}, "latitudes"},
        {{QStringLiteral("--size"), QStringLiteral("0x10")}, "--size: wants WxH"},
        {{QStringLiteral("--dpr"), QStringLiteral("3")}, "--dpr: 3 not in {1,2}"},
        {{QStringLiteral("--bbox"), QStringLiteral("0,0,1,1"), QStringLiteral("--bbox-crs"),
          QStringLiteral("0,0,1,1")},
         "--bbox excludes --bbox-crs"},
        {{QStringLiteral("--colour")}, "not expected: --colour"},
        {{QStringLiteral("--retry-attempts=-1")}, "--retry-attempts: wants a whole number"},
        {{QStringLiteral("--max-connections-per-host"), QStringLiteral("0")},
         "--max-connections-per-host: wants a whole number of at least 1"},
        {{QStringLiteral("--layers"), QStringLiteral("land,,countries")},
         "--layers: wants layer names"},
        // The default world map has no layers to choose from.
        {{QStringLiteral("--layers"), QStringLiteral("rivers")},
         "has no layer 'rivers'; available layers: none"},
        {{QStringLiteral("--source"), QStringLiteral("/no/such/source.json")}, "cannot open"},
    };
    for (const auto& c : cases) {
        const ToolRun run = Render(c.arguments);
        EXPECT_EQ(run.exitCode, 2) << c.expected;
        EXPECT_TRUE(run.err.contains(QLatin1String(c.expected))) << run.err.toStdString();
    }

    const struct {
        const char* json;
        const char* expected;
    } sources[] = {
        {"[1, 2]", "one JSON object"},
        {"{\"name\": \"x\"", "not valid JSON"},
        {"{\"name\": \"x\"}", "\"class\""},
        {"{\"name\": \"x\", \"class\": \"local\", \"tileset\": [1]}", "tileset"},
        {"{\"name\": \"x\", \"class\": \"no-such-class\"}", "no-such-class"},
        {"{\"name\": \"x\", \"class\": \"OpenStreetMap\"}", "no server"},
    };
    for (const auto& source : sources) {
        const QString path = m_dir.filePath(QStringLiteral("source.json"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(source.json);
        file.close();
        const ToolRun run = Render({QStringLiteral("--source"), path});
        EXPECT_EQ(run.exitCode, 2) << source.json;
        EXPECT_TRUE(run.err.contains(QLatin1String(source.expected))) << run.err.toStdString();
    }

    // Without the default tile set the message says how to build it.
    ASSERT_TRUE(QDir(TileSet()).removeRecursively());
    const ToolRun missing = Render({});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("scripts/setup"))) << missing.err.toStdString();
}

TEST_F(RenderCommandTest, RendersATileServerSourceFromAJsonFile) {
    FixtureServer server;
    server.Start();
    const QString path = m_dir.filePath(QStringLiteral("server.json"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral(R"({"name": "Fixture", "class": "OpenStreetMap",
        "server": "http://127.0.0.1", "port": %1, "url-format": "/tiles/{Z}/{X}/{Y}.png"})")
                   .arg(server.Port())
                   .toUtf8());
    file.close();
    const ToolRun run = Render({QStringLiteral("--source"), path, QStringLiteral("--bbox-crs"),
                                WorldBox(), QStringLiteral("--size"), QStringLiteral("512x512")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(server.RequestCount(), 4u);
    EXPECT_EQ(QImage(Output()).size(), QSize(512, 512));
}

// Every tile answered 503 once: sent again after the wait the server asks for, one request at a
// time, and counted; a wait longer than --retry-max-wait leaves the tiles failed.
TEST_F(RenderCommandTest, RetriesTilesOfABusyServerAndCountsThem) {
    FixtureServer server;
    server.Start();
    const auto render = [&](const char* query, const QStringList& options) {
        const QString path = m_dir.filePath(QStringLiteral("faults.json"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QStringLiteral(R"({"name": "Busy", "class": "OpenStreetMap",
            "server": "http://127.0.0.1", "port": %1,
            "url-format": "/faults/tiles/{Z}/{X}/{Y}.png?fail=1&%2"})")
                       .arg(server.Port())
                       .arg(QLatin1String(query))
                       .toUtf8());
        file.close();
        server.ClearLog();
        server.ResetPeakRequestsInFlight();
        return Render(QStringList{QStringLiteral("--source"), path, QStringLiteral("--bbox-crs"),
                                  WorldBox(), QStringLiteral("--size"), QStringLiteral("512x512")}
                      << options);
    };

    const ToolRun healed = render("retry-after=1&latency-ms=50",
                                  {QStringLiteral("--max-connections-per-host=1"),
                                   QStringLiteral("--retry-attempts"), QStringLiteral("1")});
    EXPECT_EQ(healed.exitCode, 0) << healed.err.toStdString();
    EXPECT_TRUE(healed.out.contains(QStringLiteral("4 requested, 0 missing; 4 retried, 0 refused")))
        << healed.out.toStdString();
    EXPECT_EQ(server.RequestCount(), 8u);
    EXPECT_EQ(server.PeakRequestsInFlight(), 1u);

    const ToolRun failed =
        render("retry-after=2", {QStringLiteral("--retry-max-wait"), QStringLiteral("1.5")});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.out.contains(QStringLiteral("; 0 retried"))) << failed.out.toStdString();
    EXPECT_TRUE(failed.err.contains(QStringLiteral("503"))) << failed.err.toStdString();
    EXPECT_EQ(server.RequestCount(), 4u);
}

} // namespace
