// lmxmaps wms-layers and lmxmaps render of WMS sources against the loopback MapServer of the
// lmx_servers fixture. Its map offers EPSG:3857, so a geographic source is made by serving a
// capabilities document of our own that offers only EPSG:4326 and sends GetMap to MapServer.

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

#include "DocumentServer.h"
#include "FixtureWms.h"
#include "TestServers.h"
#include "ToolProcess.h"

namespace {

// The countries layer draws pure yellow outlines on white and nothing else.
bool IsWhiteOrYellow(const QColor& color) {
    return color.red() >= 250 && color.green() >= 250;
}

bool IsYellow(const QColor& color) {
    return IsWhiteOrYellow(color) && color.blue() < 128;
}

// Yellow pixels, or -1 when a pixel is neither white nor yellow (another layer, or a tile that
// never arrived).
int CountYellowPixels(const QImage& image) {
    int yellow = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor color = image.pixelColor(x, y);
            if (!IsWhiteOrYellow(color)) {
                return -1;
            }
            yellow += IsYellow(color) ? 1 : 0;
        }
    }
    return yellow;
}

// Lines of the access log from line `from` on that contain the text.
int CountLogLinesWith(const std::string& accessLog, std::size_t from, const std::string& text) {
    // Waits until the log is still, so that every answered request is in it.
    AccessLogSize(accessLog);
    std::ifstream in(accessLog);
    std::string line;
    int count = 0;
    for (std::size_t number = 0; std::getline(in, line); ++number) {
        count += number >= from && line.find(text) != std::string::npos ? 1 : 0;
    }
    return count;
}

class WmsToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_servers = TestServers::Get();
        ASSERT_NE(m_servers, nullptr) << "run through ctest: the lmx_servers fixture is missing";
        ASSERT_TRUE(m_dir.isValid());
    }

    QString MapServerUrl() const {
        return QStringLiteral("http://127.0.0.1:%1/mapserv?").arg(m_servers->mapServerPort);
    }

    QString Output() const { return m_dir.filePath(QStringLiteral("map.png")); }

    QString WriteSource(int port, const char* url) const {
        const QString path = m_dir.filePath(QStringLiteral("wms.json"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QStringLiteral(R"({"name": "World WMS", "class": "OGC-WMS", "service": "http",
            "server": "127.0.0.1", "port": "%1", "url": "%2"})")
                       .arg(port)
                       .arg(QLatin1String(url))
                       .toUtf8());
        return path;
    }

    // A disk cache of its own, so that every tile is asked from the server.
    ToolRun Render(const QStringList& arguments) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LMX_ImageCacheDirectory"),
                           m_dir.filePath(QStringLiteral("cache")));
        return RunTool(QStringList{QStringLiteral("render")} << arguments << QStringLiteral("--out")
                                                             << Output(),
                       environment);
    }

    const TestServers* m_servers = nullptr;
    QTemporaryDir m_dir;
};

TEST_F(WmsToolTest, ListsTheServiceAndItsLayersAsAnAlignedTableOrAsJson) {
    const ToolRun run = RunTool({QStringLiteral("wms-layers"), MapServerUrl()});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const ToolRun json =
        RunTool({QStringLiteral("wms-layers"), MapServerUrl(), QStringLiteral("--json")});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(json.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out.toStdString();

    const QStringList lines = run.out.split(u'\n');
    const std::pair<QString, QString> service[] = {
        {QStringLiteral("title"), QStringLiteral("lmxmaps test map")},
        {QStringLiteral("version"), QStringLiteral("1.1.1")},
        {QStringLiteral("format"), QStringLiteral("image/png")},
        {QStringLiteral("getmap"),
         QStringLiteral("http://127.0.0.1:%1/mapserv").arg(m_servers->mapServerPort)}};
    // The table's values line up after the longest key.
    constexpr int kKeyColumn = 9;
    for (const auto& [key, value] : service) {
        EXPECT_TRUE(lines.contains((key + u':').leftJustified(kKeyColumn) + value))
            << run.out.toStdString();
        EXPECT_EQ(root.value(key).toString(), value);
    }

    const auto row = [&](const QString& name) {
        for (const QString& line : lines) {
            if (line.startsWith(name + u' ')) {
                return line;
            }
        }
        return QString();
    };
    const QString header = row(QStringLiteral("name"));
    const QString countriesRow = row(QStringLiteral("countries"));
    ASSERT_FALSE(header.isEmpty()) << run.out.toStdString();
    ASSERT_FALSE(countriesRow.isEmpty()) << run.out.toStdString();
    EXPECT_EQ(countriesRow.indexOf(QStringLiteral("Countries")),
              header.indexOf(QStringLiteral("display name")));
    EXPECT_EQ(countriesRow.indexOf(QStringLiteral("EPSG:3857")),
              header.indexOf(QStringLiteral("crs")));

    QJsonObject countries;
    QStringList names;
    for (const QJsonValue& value : root.value(QStringLiteral("layers")).toArray()) {
        const QJsonObject layer = value.toObject();
        names << layer.value(QStringLiteral("name")).toString();
        if (names.back() == u"countries") {
            countries = layer;
        }
    }
    for (const QString& name : {QStringLiteral("land"), QStringLiteral("bluemarble")}) {
        EXPECT_FALSE(row(name).isEmpty()) << name.toStdString();
        EXPECT_TRUE(names.contains(name)) << name.toStdString();
    }
    ASSERT_FALSE(countries.isEmpty()) << json.out.toStdString();
    EXPECT_EQ(countries.value(QStringLiteral("crs")).toString(), QStringLiteral("EPSG:3857"));
    EXPECT_EQ(countries.value(QStringLiteral("display-name")).toString(),
              QStringLiteral("Countries"));
    // Present, and null: the countries layer has no scale limits.
    for (const QString& key :
         {QStringLiteral("min-scale-denom"), QStringLiteral("max-scale-denom")}) {
        EXPECT_TRUE(countries.contains(key) && countries.value(key).isNull()) << key.toStdString();
    }
}

TEST_F(WmsToolTest, AServerWithoutCapabilitiesExitsOneWithTheErrorType) {
    const ToolRun run = RunTool(
        {QStringLiteral("wms-layers"),
         QStringLiteral("http://127.0.0.1:%1/no-such-service?").arg(m_servers->mapServerPort)});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("lmxmaps wms-layers: ")));
    EXPECT_TRUE(run.err.contains(QStringLiteral("(error type 2)"))) << run.err.toStdString();
}

TEST_F(WmsToolTest, RendersOnlyTheChosenLayerOfAWebMercatorSource) {
    const QString source = WriteSource(m_servers->mapServerPort, "/mapserv");
    const ToolRun run =
        Render({QStringLiteral("--source"), source, QStringLiteral("--layers"),
                QStringLiteral("countries"), QStringLiteral("--size"), QStringLiteral("512x512")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QImage image(Output());
    ASSERT_EQ(image.size(), QSize(512, 512));
    // Blue Marble, land, lakes or cities would leave colours other than white and yellow.
    EXPECT_GT(CountYellowPixels(image), 500);

    const ToolRun unknown = Render({QStringLiteral("--source"), source, QStringLiteral("--layers"),
                                    QStringLiteral("countries,rivers")});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("has no layer 'rivers'")))
        << unknown.err.toStdString();
    for (const char* name : {"countries", "land", "bluemarble"}) {
        EXPECT_TRUE(unknown.err.contains(QLatin1String(name))) << name;
    }
}

TEST_F(WmsToolTest, AGeographicSourceShowsThePlateCarreeWorldByDefault) {
    DocumentServer capabilities;
    capabilities.SetDocument(SingleCrsCapabilities(
        "http://127.0.0.1:" + std::to_string(m_servers->mapServerPort) + "/mapserv?", "EPSG:4326",
        {"countries"}));
    ASSERT_GT(capabilities.Port(), 0);
    const std::size_t logStart = AccessLogSize(m_servers->mapServerAccessLog);
    const ToolRun run =
        Render({QStringLiteral("--source"), WriteSource(capabilities.Port(), "/wms"),
                QStringLiteral("--layers"), QStringLiteral("countries")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    // 360 by 180 degrees at the default width.
    const QImage image(Output());
    ASSERT_EQ(image.size(), QSize(1024, 512));
    EXPECT_GT(CountYellowPixels(image), 500);
    EXPECT_GT(CountLogLinesWith(m_servers->mapServerAccessLog, logStart, "srs=EPSG%3A4326"), 0);
}

} // namespace
