// The tile server provider against the real loopback servers of the lmx_servers fixture: the
// static lighttpd pyramid under its three caching policies and the MapServer server behind a
// second lighttpd. Other processes may use the same servers at once, so each test counts only
// requests that carry its own marker or ask for tiles no other test asks for.

#include <QTemporaryDir>
#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

#include <lmxmaps/MapTileServer.h>

#include "integration/IntegrationSupport.h"
#include "providers/QStringPrinter.h"

namespace {

using namespace IntegrationSupport;

const QString kHelperPath = QStringLiteral(LMX_INTEGRATION_HELPER);

QString Origin(int port) {
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

// A query parameter naming this test and process, so its requests can be told from others.
QString Marker(const char* name) {
    return QStringLiteral("lmx-it=%1-%2").arg(QLatin1String(name)).arg(getpid());
}

// Requests from line `from` on whose request line contains one of the texts.
int CountRequestsWith(const std::string& accessLog, std::size_t from,
                      const std::vector<std::string>& texts) {
    return CountLinesSince(accessLog, from, [&](std::string_view line) {
        return std::any_of(texts.begin(), texts.end(),
                           [&](const std::string& text) { return line.find(text) != line.npos; });
    });
}

int ColoursIn(const CompositeMappedImage& composite, const QRect& area) {
    return DistinctColours(CompositePixels(composite), area);
}

class TileServerIntegrationTest : public TestServersFixture {
protected:
    AttributeMap StaticServer(const QString& urlFormat, AttributeMap more = {}) const {
        more[QStringLiteral("class")] = QString::fromUtf16(MapTileServerProvider::valueClassAttr);
        more[QStringLiteral("server")] = Origin(m_servers->staticPort);
        more[QStringLiteral("port")] = QString();
        more[QStringLiteral("url-format")] = urlFormat;
        return more;
    }
};

} // namespace

// A second process finds max-age tiles on disk, but fetches no-store tiles again.
TEST_F(TileServerIntegrationTest, ANewProcessReadsFromDiskOnlyTilesTheServerLetItKeep) {
    struct Case {
        const char* prefix;
        int column;
        const char* secondRun;
        int requestsAfterBoth;
    };
    const Case cases[] = {
        {"max-age", 2, "new 0 disk 4 memory 0 missing 0", 4},
        {"no-store", 6, "new 4 disk 0 memory 0 missing 0", 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix);
        const QTemporaryDir cache;
        ASSERT_TRUE(cache.isValid());
        const QString marker = Marker(c.prefix);
        const QString urlFormat =
            QStringLiteral("/%1/{Z}/{X}/{Y}.png?").arg(QLatin1String(c.prefix)) + marker;
        const std::size_t logStart = AccessLogSize(m_servers->staticAccessLog);
        for (const char* expected : {"new 4 disk 0 memory 0 missing 0", c.secondRun}) {
            const HelperRun run =
                ViewInNewProcess(kHelperPath, cache.path(), Origin(m_servers->staticPort),
                                 urlFormat, {3, c.column, 2, 2, 2});
            ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
            EXPECT_EQ(run.output, QLatin1String(expected));
        }
        EXPECT_EQ(CountRequestsWith(m_servers->staticAccessLog, logStart, {marker.toStdString()}),
                  c.requestsAfterBoth);
    }
}

// Real tiles from two servers compose. Reuse and offline views are RasterMapImageAssemblyTest's.
TEST_F(TileServerIntegrationTest, AdditionalServersShareTheRequestsAndRealTilesCompose) {
    // MapServer answers only the bare tile path, so these tiles are ones no other test asks for.
    const std::vector<std::string> paths = {"/max-age/4/8/5.png ", "/max-age/4/9/5.png ",
                                            "/max-age/4/8/6.png ", "/max-age/4/9/6.png "};
    const std::size_t staticStart = AccessLogSize(m_servers->staticAccessLog);
    const std::size_t mapServerStart = AccessLogSize(m_servers->mapServerAccessLog);
    MapTileServerProvider provider(
        StaticServer(QStringLiteral("/max-age/{Z}/{X}/{Y}.png"),
                     {{QStringLiteral("addl-servers"), Origin(m_servers->mapServerPort)}}));

    const Rendered view = Render(provider, TileGrid::TileView(4, 8, 5, 2, 2));
    ASSERT_NE(view.composite, nullptr);
    EXPECT_EQ(view.counts.fresh, 4);
    EXPECT_TRUE(TileErrors(*view.composite).empty());
    EXPECT_EQ(CountRequestsWith(m_servers->staticAccessLog, staticStart, paths), 2);
    EXPECT_EQ(CountRequestsWith(m_servers->mapServerAccessLog, mapServerStart, paths), 2);
    // Real imagery, not a wait colour or a blank: every tile has many colours.
    for (const QPoint corner : {QPoint(0, 0), QPoint(256, 0), QPoint(0, 256), QPoint(256, 256)}) {
        EXPECT_GT(ColoursIn(*view.composite, QRect(corner, QSize(256, 256))), 50) << corner.x();
    }
}
