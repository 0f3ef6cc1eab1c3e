// Tile views from servers that misbehave, through the view pipeline: failures that pass are
// retried (after the wait the server asks for) and heal, failures that do not pass fail the
// tile at once, a server that keeps failing is paused for the whole view, and no server sees
// more requests at once than its connection limit. Against the fixture's fault route.

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cstdint>

#include <lmxmaps/host/Counters.h>
#include <lmxmaps/host/Options.h>

#include "FixtureFaultRoutes.h"
#include "host/OptionGuard.h"
#include "integration/IntegrationSupport.h"
#include "providers/TileServerFixture.h"

namespace {

using namespace IntegrationSupport;
using std::chrono::milliseconds;

constexpr int kLevel = 3;
constexpr int kHalfTile = TileGrid::kTileSize / 2;
// Short enough that a case without a Retry-After does not wait long for its retries.
const char* const kShortWaits = "0.1";
const char* const kDefaultWaits = "30";

struct FaultView {
    Rendered rendered;
    milliseconds elapsed{0};
    std::int64_t retried = 0;
    // Tiles drawn in their own colour whose fetch reported nothing wrong.
    int whole = 0;
    std::vector<QString> errors;
};

std::int64_t RetriedRequests() {
    return HostCounters::Get(HTTPRequestor::kRetriedRequestsCounter);
}

// A block of columns x rows tiles of level 3 from the fault route of origin, with that query.
FaultView ViewFaultTiles(const QString& origin, const QString& query, int columns, int rows) {
    MappedImageCache::Singleton().Clear();
    MapTileServerProvider provider(
        TileServerAttributes(origin, QStringLiteral("/faults/tiles/{Z}/{X}/{Y}.png?") + query));
    FaultView view;
    const std::int64_t retriedBefore = RetriedRequests();
    QElapsedTimer timer;
    timer.start();
    view.rendered = Render(provider, TileGrid::TileView(kLevel, 0, 0, columns, rows));
    view.elapsed = milliseconds(timer.elapsed());
    view.retried = RetriedRequests() - retriedBefore;
    if (view.rendered.composite == nullptr) {
        return view;
    }
    view.errors = TileErrors(*view.rendered.composite);
    const QImage pixels = CompositePixels(*view.rendered.composite);
    for (int x = 0; x < columns; ++x) {
        for (int y = 0; y < rows; ++y) {
            const QRgb shown = pixels.pixel(x * TileGrid::kTileSize + kHalfTile,
                                            y * TileGrid::kTileSize + kHalfTile);
            view.whole += shown == FaultTileColour(kLevel, x, y) ? 1 : 0;
        }
    }
    if (!view.errors.empty()) {
        view.whole = 0;
    }
    return view;
}

int CountContaining(const TLog::ScopedCapture& log, const QString& start, const QString& text) {
    int count = 0;
    for (const TLog::Record& record : log.Records()) {
        count += record.message.startsWith(start) && record.message.contains(text) ? 1 : 0;
    }
    return count;
}

class TileFaultTest : public TileServerTest {
protected:
    TileFaultTest()
        : m_attempts("HttpRetryAttempts"), m_longestWait("HttpRetryMaxWaitSeconds"),
          m_transferTimeout("HttpTransferTimeoutSeconds"), m_perHost("HttpMaxConnectionsPerHost"),
          m_pause("HttpHostPauseSeconds") {}

    OptionGuard m_attempts, m_longestWait, m_transferTimeout, m_perHost, m_pause;
};

} // namespace

// Each case on a server of its own, so that no case's failures count towards another's pause.
TEST_F(TileFaultTest, EachKindOfFailureIsRetriedOrNotAsItDeserves) {
    struct Case {
        const char* query;
        // Empty: the tiles arrive whole; else every tile fails with this in its message.
        const char* failure;
        int requestsPerTile;
        bool retried;
        // The view takes at least this long (a Retry-After honoured), and at most the other.
        milliseconds atLeast;
        milliseconds atMost;
        const char* longestWait = kShortWaits;
        const char* attempts = "3";
        const char* transferTimeout = "60";
    };
    constexpr int kSide = 2;
    constexpr int kTiles = kSide * kSide;
    const milliseconds retryAfter(950);
    const milliseconds quick(5000);
    const Case cases[] = {
        {"fail=1&status=503&retry-after=1", "", 2, true, retryAfter, quick, kDefaultWaits},
        {"fail=1&status=429&retry-after=1", "", 2, true, retryAfter, quick, kDefaultWaits},
        // A date has whole seconds: the wait is between one and two seconds.
        {"fail=1&status=503&retry-after-date=2", "", 2, true, retryAfter, quick, kDefaultWaits},
        {"fail=1&status=429&retry-after-date=2", "", 2, true, retryAfter, quick, kDefaultWaits},
        {"reset=1", "", 2, true, milliseconds(0), quick},
        {"truncate=1", "", 2, true, milliseconds(0), quick},
        {"fail=1&status=502", "", 2, true, milliseconds(0), quick},
        {"fail=1&status=504", "", 2, true, milliseconds(0), quick},
        {"fail=1&status=408", "", 2, true, milliseconds(0), quick},
        {"fail=3&status=500", "", 4, true, milliseconds(0), quick},
        {"redirects=5", "", 6, false, milliseconds(0), quick},
        // Asking for a longer wait than the longest allowed ends the tile without waiting.
        {"fail=1&status=503&retry-after=60", "503", 1, false, milliseconds(0), quick,
         kDefaultWaits},
        {"fail=4&status=503&retry-after=0", "503", 4, true, milliseconds(0), quick},
        {"fail=1&status=404", "404", 1, false, milliseconds(0), quick},
        {"redirects=6", "redirect", 6, false, milliseconds(0), quick},
        {"loop=1", "redirect", 6, false, milliseconds(0), quick},
        {"slow-body-ms=4000", "timed out", 1, false, milliseconds(950), milliseconds(3500),
         kShortWaits, "0", "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        Options::Set(QStringLiteral("HttpRetryMaxWaitSeconds"), QLatin1String(c.longestWait));
        Options::Set(QStringLiteral("HttpRetryAttempts"), QLatin1String(c.attempts));
        Options::Set(QStringLiteral("HttpTransferTimeoutSeconds"),
                     QLatin1String(c.transferTimeout));
        FixtureServer server;
        server.Start();
        const TLog::ScopedCapture log;
        const FaultView view =
            ViewFaultTiles(server.BaseUrl(), QLatin1String(c.query), kSide, kSide);
        // Idle connections would hold the server's workers until they time out.
        HTTPRequestor::CloseIdleConnections();
        server.Stop();

        const bool heals = *c.failure == '\0';
        EXPECT_EQ(view.whole, heals ? kTiles : 0);
        if (heals) {
            EXPECT_TRUE(view.errors.empty()) << view.errors.front().toStdString();
        } else {
            ASSERT_EQ(view.errors.size(), std::size_t(kTiles));
            for (const QString& error : view.errors) {
                EXPECT_TRUE(error.contains(QLatin1String(c.failure))) << error.toStdString();
            }
        }
        EXPECT_EQ(server.RequestCount(), std::size_t(kTiles * c.requestsPerTile));
        EXPECT_EQ(view.retried, c.retried ? kTiles : 0);
        EXPECT_EQ(CountContaining(log, QStringLiteral("Retrying "), QStringLiteral("(retry 1 of")),
                  c.retried ? kTiles : 0);
        EXPECT_GE(view.elapsed, c.atLeast);
        EXPECT_LE(view.elapsed, c.atMost);
    }
}

// Every tile of a larger view answered 503 once with Retry-After: 1 at about the same time: the
// server is busy, not down, and the view arrives whole.
TEST_F(TileFaultTest, AViewWhoseTilesAreAllAnsweredBusyOnceArrivesWhole) {
    const FaultView view =
        ViewFaultTiles(m_server.BaseUrl(), QStringLiteral("fail=1&status=503&retry-after=1"), 4, 4);
    EXPECT_EQ(view.whole, 16);
    EXPECT_EQ(view.retried, 16);
    EXPECT_EQ(m_server.RequestCount(), 32u);
}

// Without the pause every tile would try four times, with waits of seconds between.
TEST_F(TileFaultTest, ADeadServerFailsTheWholeViewAtOnce) {
    const SilentPort dead;
    ASSERT_GT(dead.Port(), 0);
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(dead.Port());
    const TLog::ScopedCapture log;
    const FaultView view = ViewFaultTiles(origin, QStringLiteral("t=dead"), 4, 4);

    EXPECT_EQ(view.errors.size(), 16u);
    EXPECT_LT(view.elapsed, milliseconds(4000));
    EXPECT_EQ(CountContaining(log, QStringLiteral("Pausing requests to "), origin), 1);
}

// A paused server hears nothing more until the pause ends; then it is used again.
TEST_F(TileFaultTest, APausedServerIsTriedAgainWhenThePauseEnds) {
    Options::Set(QStringLiteral("HttpRetryAttempts"), QStringLiteral("0"));
    Options::Set(QStringLiteral("HttpHostPauseSeconds"), QStringLiteral("1"));
    // A reset is no answer at all; a busy server's answers would not pause it.
    const FaultView failing = ViewFaultTiles(m_server.BaseUrl(), QStringLiteral("reset=1"), 4, 4);
    EXPECT_EQ(failing.errors.size(), 16u);
    // The tiles still queued when the fifth failure came never reach the server.
    EXPECT_LT(m_server.RequestCount(), 16u);
    EXPECT_TRUE(std::any_of(failing.errors.begin(), failing.errors.end(),
                            [](const QString& error) { return error.contains(u"paused"); }));

    QThread::msleep(1200);
    const FaultView healed = ViewFaultTiles(m_server.BaseUrl(), QStringLiteral("t=after"), 4, 4);
    EXPECT_EQ(healed.whole, 16);
}

// Slow answers keep as many requests waiting at the server as the limit lets through.
TEST_F(TileFaultTest, AServerSeesAsManyRequestsAtOnceAsItsConnectionLimitAllows) {
    const struct {
        const char* limit;
        std::size_t least;
        std::size_t most;
    } cases[] = {{"3", 3, 3}, {"6", 4, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        Options::Set(QStringLiteral("HttpMaxConnectionsPerHost"), QLatin1String(c.limit));
        m_server.ResetPeakRequestsInFlight();
        const FaultView view = ViewFaultTiles(
            m_server.BaseUrl(), QStringLiteral("latency-ms=300&limit=%1").arg(c.limit), 4, 4);
        EXPECT_EQ(view.whole, 16);
        EXPECT_GE(m_server.PeakRequestsInFlight(), c.least);
        EXPECT_LE(m_server.PeakRequestsInFlight(), c.most);
    }
}
