// Tile-server tiles on disk as a private HTTP cache keeps them, seen through the view pipeline:
// lifetimes from Cache-Control, Expires and Date, revalidation with ETag and Last-Modified,
// out-of-date copies when the server fails, offline views. Against the fixture's caching
// routes (also from a second process) and lighttpd's own 304 answers.

#include <QDir>
#include <QTemporaryDir>
#include <unistd.h>

#include <lmxmaps/MapDiskCache.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/storage/SqliteImageCache.h>

#include "FixtureCachingRoutes.h"
#include "integration/ImageCacheTiles.h"
#include "integration/IntegrationSupport.h"
#include "providers/QStringPrinter.h"
#include "providers/TileServerFixture.h"

namespace {

using namespace IntegrationSupport;

constexpr int kLevel = 3;
constexpr int kColumn = 4;
constexpr int kRow = 2;
constexpr std::chrono::seconds kMargin{30};

struct Shown {
    QRgb colour = 0;
    bool failed = false;
    std::vector<QString> warnings;
};

Shown ShownTile(const Rendered& rendered) {
    Shown shown;
    const MappedImageInstancePtr tile = rendered.composite->GetTiles().front();
    WarningList warnings;
    tile->GetErrors(warnings, shown.failed);
    for (const RefCntPtr<WarningMsg>& warning : warnings) {
        shown.warnings.push_back(warning->GetDisplayText());
    }
    shown.colour = CompositePixels(*rendered.composite).pixel(128, 128);
    return shown;
}

class TileCachingTest : public TileServerTest {
protected:
    void TearDown() override {
        TileServerTest::TearDown();
        Options::Set(QStringLiteral("LogDetailTags"), std::nullopt);
        TLog::ReloadOptions();
    }

    QString UrlFormat(const QString& query) const {
        return QStringLiteral("/caching/tile.png?t={Z}-{X}-{Y}&") + query;
    }
    AttributeMap Source(const QString& query, AttributeMap more = {}) const {
        return TileServerAttributes(m_server.BaseUrl(), UrlFormat(query), std::move(more));
    }
    // One tile through a new view, the memory cache emptied first as a new process has it.
    static Rendered RenderTile(const AttributeMap& source, int column = kColumn) {
        MappedImageCache::Singleton().Clear();
        MapTileServerProvider provider(source);
        return Render(provider, TileGrid::TileView(kLevel, column, kRow));
    }
    // The exit status of the tile's view in a new process over the same disk cache.
    int ExitOfAViewInANewProcess(const QString& query) const {
        return ViewInNewProcess(QStringLiteral(LMX_INTEGRATION_HELPER),
                                TileGrid::PrivateDiskCacheDirectory(), m_server.BaseUrl(),
                                UrlFormat(query), {kLevel, kColumn, kRow, 1, 1})
            .exitCode;
    }
};

} // namespace

// Whether a tile is stored, for how long, and whether it outlives that to be revalidated.
TEST_F(TileCachingTest, ResponseHeadersDecideWhetherAndHowLongATileIsKept) {
    struct Case {
        const char* query;
        // Not stored when empty.
        std::optional<int> lifetime;
        bool revalidatable;
    };
    const Case cases[] = {
        {"cc=no-store,%20max-age%3D600&validator=etag", std::nullopt, false},
        {"cc=no-cache", std::nullopt, false},
        {"cc=s-maxage%3D600", std::nullopt, false},
        {"cc=public,%20MAX-AGE%3D600", 600, false},
        {"cc=max-age%3D600&age=540", 60, false},
        {"cc=max-age%3D60&expires-in=600", 60, false},
        {"expires-in=600", 600, false},
        {"expires-in=600&format=rfc850", 600, false},
        {"expires-in=600&format=asctime", 600, false},
        // Expires minus the server's Date, not minus now: its clock is two hours behind.
        {"expires-in=600&date-offset=-7200", 600, false},
        {"expires=0&validator=etag", 0, true},
        {"cc=no-cache&validator=etag", 0, true},
        {"cc=max-age%3D0&validator=last-modified", 0, true},
        {"validator=etag", 0, true},
        {"cc=max-age%3D600&validator=etag", 600, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        TileGrid::PrivateDiskCache()->Clear();
        const AttributeMap source = Source(QString::fromLatin1(c.query));
        const Shown shown = ShownTile(RenderTile(source));
        EXPECT_EQ(shown.colour, CachingTileColour(1));
        EXPECT_TRUE(shown.warnings.empty());

        const AttributeMap key =
            TileGrid::StoredTileKey(source, *TileGrid::TileQuery(kLevel, kColumn, kRow));
        if (!c.lifetime) {
            EXPECT_FALSE(
                TileGrid::DiskCacheSeenFrom(std::chrono::seconds(0))->LookupIncludingExpired(key));
            continue;
        }
        const std::chrono::seconds lifetime(*c.lifetime);
        const bool fresh = *c.lifetime > 0;
        EXPECT_EQ(
            bool(TileGrid::DiskCacheSeenFrom(fresh ? lifetime - kMargin : lifetime)->Lookup(key)),
            fresh);
        EXPECT_FALSE(TileGrid::DiskCacheSeenFrom(lifetime + kMargin)->Lookup(key));
        const auto expired =
            TileGrid::DiskCacheSeenFrom(lifetime + kMargin)->LookupIncludingExpired(key);
        EXPECT_EQ(bool(expired), c.revalidatable);
        EXPECT_TRUE(!expired || expired->IsExpired());
    }
}

// A tile that needs revalidation is downloaded once; later views only ask whether it changed,
// and a 304 renews its lifetime from its own headers or else from the stored ones.
TEST_F(TileCachingTest, AStoredTileIsRevalidatedInsteadOfDownloadedAgain) {
    struct Case {
        const char* query;
        const char* validatorHeader;
        // Views that read the tile from disk without asking, of the three after the first.
        int fromDisk;
        int shownVersion;
    };
    const Case cases[] = {
        {"cc=no-cache&validator=etag", "if-none-match", 0, 1},
        {"cc=no-cache&validator=last-modified", "if-modified-since", 0, 1},
        {"cc=no-cache&validator=etag&later-cc=max-age%3D600", "if-none-match", 2, 1},
        {"cc=max-age%3D600&age=600&validator=etag&later-cc=", "if-none-match", 2, 1},
        // The tile changed: a full answer replaces the stored copy.
        {"cc=no-cache&validator=etag&then=changed", "if-none-match", 0, 4},
    };
    Options::Set(QStringLiteral("LogDetailTags"), QStringLiteral("30"));
    TLog::ReloadOptions();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        TileGrid::PrivateDiskCache()->Clear();
        m_server.ClearLog();
        const AttributeMap source = Source(QString::fromLatin1(c.query));
        const TLog::ScopedCapture log;
        Shown shown = ShownTile(RenderTile(source));
        int fromDisk = 0;
        for (int view = 0; view < 3; ++view) {
            const Rendered rendered = RenderTile(source);
            fromDisk += rendered.counts.fromDisk;
            shown = ShownTile(rendered);
        }
        EXPECT_EQ(fromDisk, c.fromDisk);
        EXPECT_EQ(shown.colour, CachingTileColour(c.shownVersion));
        EXPECT_TRUE(shown.warnings.empty());

        const std::vector<FixtureRequest> requests = m_server.Requests();
        ASSERT_EQ(requests.size(), 4u - c.fromDisk);
        EXPECT_EQ(requests[0].Header(c.validatorHeader), "");
        for (std::size_t i = 1; i < requests.size(); ++i) {
            EXPECT_NE(requests[i].Header(c.validatorHeader), "") << "request " << i;
        }
        const bool unchanged = c.shownVersion == 1;
        EXPECT_EQ(CountLogLines(log, QStringLiteral("StdTileRequestor not modified")),
                  unchanged ? static_cast<int>(requests.size()) - 1 : 0);
    }
}

// When the server fails, the out-of-date copy is shown with a warning instead of a failure, also
// in a new process; offline it is shown without a warning.
TEST_F(TileCachingTest, AnOutOfDateCopyStandsInWhenTheServerFailsAndOffline) {
    for (const bool serverGone : {false, true}) {
        SCOPED_TRACE(serverGone ? "server gone" : "server answers 500");
        TileGrid::PrivateDiskCache()->Clear();
        const QString query = QStringLiteral("cc=no-cache&validator=etag&access_token=s3cret") +
                              (serverGone ? QString() : QStringLiteral("&then=500"));
        const AttributeMap source = Source(query);
        EXPECT_EQ(ShownTile(RenderTile(source)).colour, CachingTileColour(1));
        if (serverGone) {
            HTTPRequestor::CloseIdleConnections();
            m_server.Stop();
        }

        const TLog::ScopedCapture log;
        const Rendered again = RenderTile(source);
        EXPECT_EQ(again.counts.fresh, 1);
        const Shown shown = ShownTile(again);
        EXPECT_EQ(shown.colour, CachingTileColour(1));
        EXPECT_FALSE(shown.failed);
        ASSERT_EQ(shown.warnings.size(), 1u);
        EXPECT_TRUE(shown.warnings[0].contains(QStringLiteral("out-of-date")));
        EXPECT_EQ(CountLogLines(log, QStringLiteral("Showing an out-of-date copy of map tile")), 1);
        for (const TLog::Record& record : log.Records()) {
            EXPECT_FALSE(record.message.contains(QStringLiteral("s3cret")));
        }
        // The helper fails when a tile did.
        EXPECT_EQ(ExitOfAViewInANewProcess(query), 0);
    }
    EXPECT_TRUE(ShownTile(RenderTile(Source(QStringLiteral("cc=no-cache")), kColumn + 1)).failed);

    const QString stored = QStringLiteral("cc=no-cache&validator=etag&access_token=s3cret");
    const Rendered offline =
        RenderTile(Source(stored, {{QStringLiteral("offline"), QStringLiteral("1")}}));
    EXPECT_EQ(offline.counts.fromDisk, 1);
    EXPECT_EQ(ShownTile(offline).colour, CachingTileColour(1));
    EXPECT_TRUE(ShownTile(offline).warnings.empty());
}

// Tiles kept after they expired still count against the size bound, least recently used first.
TEST(RevalidatableTilesTest, ExpiredOnesStillGoWhenTheSizeBoundIsReached) {
    const QTemporaryDir dir;
    const auto open = [&dir](const char* name, std::int64_t maxBytes) {
        SqliteImageCache::Settings settings;
        settings.databasePath = dir.filePath(QLatin1String(name));
        settings.maxBytes = maxBytes;
        return std::make_unique<SqliteImageCache>(std::move(settings));
    };
    const auto storeExpired = [](IPersistentImageCache& cache, int index) {
        const auto image = QtImageObject::FromEncoded(ImageCacheTiles::Png(index));
        return cache.InsertRevalidatable(
            IPersistentImageCache::Data(ImageCacheTiles::Key(index), {}, image.get()),
            std::chrono::seconds(0));
    };
    const auto probe = open("probe.sqlite", SqliteImageCache::kDefaultMaxBytes);
    ASSERT_TRUE(storeExpired(*probe, 10));
    const std::int64_t entryBytes = probe->GetStoredBytes();
    const auto cache = open("cache.sqlite", 3 * entryBytes + entryBytes / 2);
    for (int index = 10; index < 16; ++index) {
        ASSERT_TRUE(storeExpired(*cache, index));
    }
    EXPECT_EQ(cache->GetEntryCount(), 3);
    for (int index = 10; index < 16; ++index) {
        EXPECT_FALSE(cache->Lookup(ImageCacheTiles::Key(index))) << index;
        const auto kept = cache->LookupIncludingExpired(ImageCacheTiles::Key(index));
        EXPECT_EQ(kept && kept->IsExpired(), index >= 13) << index;
    }
}

namespace {

class LighttpdCachingTest : public TestServersFixture {};

// Access log lines from line `from` on with the text and the status.
int CountLines(const std::string& accessLog, std::size_t from, const std::string& text,
               const std::string& status) {
    return CountLinesSince(accessLog, from, [&](std::string_view line) {
        return line.find(text) != line.npos && line.find("\" " + status + " ") != line.npos;
    });
}

} // namespace

// lighttpd's no-cache tiles are fetched once; the next view only revalidates them: 304s.
TEST_F(LighttpdCachingTest, NoCacheTilesAreRevalidatedAndTheServerAnswers304) {
    const std::string marker = "lmx-it=no-cache-" + std::to_string(getpid());
    const std::size_t logStart = AccessLogSize(m_servers->staticAccessLog);
    MapTileServerProvider provider(TileServerAttributes(
        QStringLiteral("http://127.0.0.1:%1").arg(m_servers->staticPort),
        QStringLiteral("/no-cache/{Z}/{X}/{Y}.png?") + QString::fromStdString(marker)));
    for (int view = 0; view < 2; ++view) {
        MappedImageCache::Singleton().Clear();
        const Rendered rendered = Render(provider, TileGrid::TileView(3, 4, 2, 2, 2));
        EXPECT_EQ(rendered.counts.fresh, 4);
        EXPECT_TRUE(TileErrors(*rendered.composite).empty());
    }
    EXPECT_EQ(CountLines(m_servers->staticAccessLog, logStart, marker, "200"), 4);
    EXPECT_EQ(CountLines(m_servers->staticAccessLog, logStart, marker, "304"), 4);
}
