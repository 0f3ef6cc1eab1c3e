// lmxmaps layers and render of Mapbox sources against the Mapbox fixture of the lmx_servers
// fixture, run as a user runs them.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "TestServers.h"
#include "ToolProcess.h"

namespace {

constexpr const char* kParamsToken = "pk.fixture.lumivextoken";

class MapboxToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("LMX_TEST_SERVERS_DIR") == nullptr) {
            GTEST_SKIP() << "LMX_TEST_SERVERS_DIR is unset: run through ctest";
        }
        m_servers = TestServers::Get();
        ASSERT_NE(m_servers, nullptr);
        ASSERT_TRUE(m_directory.isValid());
    }

    // A source file of class MapboxVector over the fixture's parameters.
    QString VectorSourceFile() const {
        const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(m_servers->mapboxPort);
        return SourceFile(QStringLiteral(R"({"name": "Vector", "class": "MapboxVector",
            "server": "http://127.0.0.1", "port": "%1", "url": "styles/v1", "data-url": "v4",
            "params-url": "%2/params/tests@tool.json"})")
                              .arg(m_servers->mapboxPort)
                              .arg(origin));
    }

    QString SourceFile(const QString& json) const {
        const QString path = m_directory.filePath(QStringLiteral("source.json"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(json.toUtf8());
        return path;
    }

    // The tool with its Mapbox documents kept in cacheDirectory.
    static ToolRun Run(const QStringList& arguments, const QString& cacheDirectory,
                       bool networkOff = false) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LMX_ExternalCacheDirectory"), cacheDirectory);
        environment.insert(QStringLiteral("LMX_ForceNoConnectionMap"),
                           networkOff ? QStringLiteral("true") : QStringLiteral("false"));
        return RunTool(arguments, environment);
    }

    static QJsonObject Json(const ToolRun& run) {
        return QJsonDocument::fromJson(run.out.toUtf8()).object();
    }

    const TestServers* m_servers = nullptr;
    QTemporaryDir m_directory;
};

} // namespace

TEST_F(MapboxToolTest, ListsLayersAsJsonAndFallsBackToTheLastDocumentsWhenOffline) {
    const QString source = VectorSourceFile();
    const QString cache = m_directory.filePath(QStringLiteral("cache"));
    const QStringList arguments = {
        QStringLiteral("layers"),        QStringLiteral("--source"), source,
        QStringLiteral("--style=Light"), QStringLiteral("--area"),   QStringLiteral("State"),
        QStringLiteral("--json")};
    const ToolRun online = Run(arguments, cache);
    ASSERT_EQ(online.exitCode, 0) << online.err.toStdString();
    const QJsonObject listing = Json(online);
    EXPECT_EQ(listing[QStringLiteral("feature-layers")].toArray().size(), 6);
    const QJsonArray data = listing[QStringLiteral("data-layers")].toArray();
    ASSERT_EQ(data.size(), 3);
    EXPECT_EQ(data[0].toObject()[QStringLiteral("data-id")].toString(), QStringLiteral("pop_est"));
    EXPECT_TRUE(data[0].toObject()[QStringLiteral("quintiles")].isString());
    EXPECT_TRUE(listing[QStringLiteral("warnings")].toArray().isEmpty());

    // A second process without network reads the documents the first one kept.
    const ToolRun offline = Run(arguments, cache, true);
    EXPECT_EQ(offline.exitCode, 0) << offline.err.toStdString();
    EXPECT_EQ(Json(offline), listing);

    const ToolRun nothingKept = Run(arguments, m_directory.filePath(QStringLiteral("empty")), true);
    EXPECT_EQ(nothingKept.exitCode, 1);
    EXPECT_FALSE(Json(nothingKept)[QStringLiteral("warnings")].toArray().isEmpty());
    EXPECT_TRUE(nothingKept.err.contains(QStringLiteral("warning:")));
}

TEST_F(MapboxToolTest, ReportsWarningsAndBadArgumentsByExitStatus) {
    const QString source = VectorSourceFile();
    const QString cache = m_directory.filePath(QStringLiteral("cache"));
    const ToolRun refused = Run({QStringLiteral("layers"), QStringLiteral("--source"), source,
                                 QStringLiteral("--style"), QStringLiteral("Unauthorized")},
                                cache);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.out.isEmpty());
    EXPECT_TRUE(refused.err.contains(QStringLiteral("warning:")));
    EXPECT_FALSE(refused.err.contains(QLatin1String(kParamsToken)));

    const QString tiles = SourceFile(QStringLiteral(
        R"({"name": "Tiles", "class": "OpenStreetMap", "server": "http://127.0.0.1"})"));
    const ToolRun raster =
        Run({QStringLiteral("layers"), QStringLiteral("--source"), tiles}, cache);
    EXPECT_EQ(raster.exitCode, 0) << raster.err.toStdString();

    const QString vector = VectorSourceFile();
    const QStringList bad[] = {
        {QStringLiteral("layers")},
        {QStringLiteral("layers"), QStringLiteral("--source"), vector},
        {QStringLiteral("layers"), QStringLiteral("--source"), vector, QStringLiteral("--bogus")},
        {QStringLiteral("layers"), QStringLiteral("--source"),
         m_directory.filePath(QStringLiteral("none.json")), QStringLiteral("--style"),
         QStringLiteral("Light")},
    };
    for (const QStringList& arguments : bad) {
        const ToolRun run = Run(arguments, cache);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(u' ').toStdString();
        EXPECT_FALSE(run.err.isEmpty());
    }
    const ToolRun help = Run({QStringLiteral("layers"), QStringLiteral("--help")}, cache);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("--area")));
}

TEST_F(MapboxToolTest, RendersVectorSourcesAndReportsWhatWentWrong) {
    const QString source = VectorSourceFile();
    const QString cache = m_directory.filePath(QStringLiteral("cache"));
    const QString png = m_directory.filePath(QStringLiteral("map.png"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    const auto render = [&](QStringList extra) {
        QStringList arguments = {QStringLiteral("render"),
                                 QStringLiteral("--source"),
                                 source,
                                 QStringLiteral("--out"),
                                 png,
                                 QStringLiteral("--timeout"),
                                 QStringLiteral("20")};
        arguments += extra;
        QProcessEnvironment withCache = environment;
        withCache.insert(QStringLiteral("LMX_ExternalCacheDirectory"), cache);
        return RunTool(arguments, withCache);
    };
    for (const QStringList& mode : {QStringList(), QStringList{QStringLiteral("--immediate")}}) {
        const ToolRun drawn =
            render(QStringList{QStringLiteral("--style"), QStringLiteral("Light"),
                               QStringLiteral("--bbox"), QStringLiteral("-10,35,30,60"),
                               QStringLiteral("--size"), QStringLiteral("300x280"),
                               QStringLiteral("--data-layer"), QStringLiteral("pop_est"),
                               QStringLiteral("--dpr"), QStringLiteral("2")} +
                   mode);
        EXPECT_EQ(drawn.exitCode, 0) << drawn.err.toStdString();
        EXPECT_EQ(QImage(png).size(), QSize(600, 560));
    }

    const ToolRun failed = render({QStringLiteral("--style"), QStringLiteral("Unrenderable")});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.err.contains(QStringLiteral("failed to load"))) << failed.err.toStdString();
    EXPECT_TRUE(QFile::exists(png));

    const QStringList bad[] = {
        {},
        {QStringLiteral("--style"), QStringLiteral("Light"), QStringLiteral("--wash"),
         QStringLiteral("2")},
        {QStringLiteral("--style"), QStringLiteral("Light"), QStringLiteral("--area"),
         QStringLiteral("State")},
        {QStringLiteral("--style"), QStringLiteral("Missing")},
        {QStringLiteral("--style"), QStringLiteral("Light"), QStringLiteral("--data-layer"),
         QStringLiteral("no_such_data")},
    };
    for (const QStringList& arguments : bad) {
        const ToolRun run = render(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(u' ').toStdString() << run.err.toStdString();
    }
}
