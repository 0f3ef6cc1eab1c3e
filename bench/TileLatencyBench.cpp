// One 2048x2048-pixel view of the whole Web Mercator world (level 3, 64 tiles of 256 px) from
// an in-process loopback server that answers every tile after 150 ms (FixtureServer's
// /faults/ route with latency-ms=150):
// - lmxmaps: RasterMapProvider::GetMappedImages with empty memory caches and no disk cache,
//   polled until the composite is complete;
// - the curl program fetching the same 64 URLs with --parallel --parallel-max 6, in one process.
// Rounds alternate the two. Prints medians in ms per view, the ratio lmxmaps / curl against its
// target, and the most requests the server had in flight at once for each client.

#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <lmxmaps/CompositeMappedImage.h>
#include <lmxmaps/MapConnection.h>
#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/host/Options.h>

#include "FixtureServer.h"
#include "ViewBenchSupport.h"

namespace {

using namespace viewbench;

constexpr int kLevel = 3;
constexpr int kTilesPerSide = 8;
constexpr int kTileCount = kTilesPerSide * kTilesPerSide;
constexpr int kViewPixels = 2048;
constexpr int kLatencyMs = 150;
constexpr int kCurlParallel = 6;
constexpr int kDefaultRounds = 5;
constexpr double kWorldHalfWidth = 20037508.342789244;
constexpr auto kPollInterval = std::chrono::milliseconds(1);
constexpr auto kViewTimeout = std::chrono::seconds(60);
constexpr double kOverCurlTarget = 1.2;
constexpr std::size_t kLeastInFlightTarget = 4;
constexpr std::size_t kMostInFlightTarget = 6;

QString TilePath(int x, int y) {
    return QStringLiteral("/faults/tiles/%1/%2/%3.png?latency-ms=%4")
        .arg(kLevel)
        .arg(x)
        .arg(y)
        .arg(kLatencyMs);
}

struct Run {
    double ms = 0.0;
    std::size_t peakInFlight = 0;
};

class Bench {
public:
    Bench(FixtureServer& server, const QString& dir) : m_server(server), m_dir(dir) {
        const AttributeMap attributes = {
            {QStringLiteral("class"), QStringLiteral("OpenStreetMap")},
            {QStringLiteral("server"), QStringLiteral("http://127.0.0.1")},
            {QStringLiteral("port"), QString::number(server.Port())},
            {QStringLiteral("url-format"),
             QStringLiteral("/faults/tiles/{Z}/{X}/{Y}.png?latency-ms=%1").arg(kLatencyMs)}};
        m_provider = MapProvider::Create(attributes);
        if (!m_provider || !m_provider->IsRaster()) {
            Fail("the OpenStreetMap class made no raster provider");
        }
        QString config;
        for (int y = 0; y < kTilesPerSide; ++y) {
            for (int x = 0; x < kTilesPerSide; ++x) {
                config += QStringLiteral("url = \"%1\"\noutput = \"/dev/null\"\n")
                              .arg(server.Url(TilePath(x, y)));
            }
        }
        const QString configFile = QDir(dir).filePath(QStringLiteral("urls.curl"));
        WriteFile(configFile, config);
        m_curlCommand = QStringList{QStringLiteral("curl"),
                                    QStringLiteral("--parallel"),
                                    QStringLiteral("--parallel-max"),
                                    QString::number(kCurlParallel),
                                    QStringLiteral("--parallel-immediate"),
                                    QStringLiteral("-s"),
                                    QStringLiteral("-w"),
                                    QStringLiteral("%{http_code}\\n"),
                                    QStringLiteral("-K"),
                                    configFile};
    }

    Run Lmxmaps() {
        MappedImageCache::Singleton().Clear();
        MapConnection::CloseAll();
        Begin();
        const Clock::time_point start = Clock::now();
        const auto query = MakeRefCnt<MapQuery>(
            MakeRefCnt<MapLayers>(), QStringLiteral("EPSG:3857"),
            DataValueRect(DataValue::Real(-kWorldHalfWidth), DataValue::Real(kWorldHalfWidth),
                          DataValue::Real(-kWorldHalfWidth), DataValue::Real(kWorldHalfWidth)),
            kViewPixels, kViewPixels, QString(), QString(), false, false);
        RasterMapProvider::TileCounts counts;
        const RefCntPtr<MappedImageCollection> view = m_provider->AsRaster().GetMappedImages(
            query, false, MapCode::Default, 1, ColorObject(224, 224, 224), &counts);
        if (view->images.empty()) {
            Fail("GetMappedImages gave no image");
        }
        const MappedImageInstancePtr composite = view->images.front().GetInstance();
        PollUntilComplete(*composite, start, kViewTimeout, kPollInterval);
        const Run run{Ms(Clock::now() - start), m_server.PeakRequestsInFlight()};
        if (counts.fresh != kTileCount) {
            Fail("the view did not fetch every tile");
        }
        CheckTiles(*composite);
        CheckRequests("lmxmaps");
        return run;
    }

    Run Curl() {
        Begin();
        const ProcessRun process = Spawn(m_curlCommand, m_dir);
        const QList<QByteArray> statuses = process.output.split('\n');
        if (statuses.count(QByteArray("200")) != kTileCount) {
            Fail("curl did not get 64 tiles with status 200");
        }
        CheckRequests("curl");
        return {process.ms, m_server.PeakRequestsInFlight()};
    }

private:
    void Begin() {
        m_server.ClearLog();
        m_server.ResetPeakRequestsInFlight();
    }

    // Every tile drawn from its image, none failed.
    static void CheckTiles(const MappedImageInstance& composite) {
        const auto* whole = dynamic_cast<const CompositeMappedImage*>(&composite);
        if (whole == nullptr || static_cast<int>(whole->GetTiles().size()) != kTileCount) {
            Fail("the view is no composite of 64 tiles");
        }
        CheckTilesDrawn(*whole, std::string());
    }

    // Each of the 64 tiles asked for once, nothing else.
    void CheckRequests(const std::string& client) const {
        const std::vector<FixtureRequest> requests = m_server.Requests();
        std::set<std::string> targets;
        for (const FixtureRequest& request : requests) {
            targets.insert(request.target);
        }
        if (static_cast<int>(requests.size()) != kTileCount ||
            static_cast<int>(targets.size()) != kTileCount) {
            Fail(client + " made " + std::to_string(requests.size()) + " requests for " +
                 std::to_string(targets.size()) + " addresses, expected 64 tiles once each");
        }
    }

    FixtureServer& m_server;
    QString m_dir;
    std::shared_ptr<MapProvider> m_provider;
    QStringList m_curlCommand;
};

int ParseRounds(int argc, char** argv) {
    if (argc == 1) {
        return kDefaultRounds;
    }
    if (argc == 3 && std::string(argv[1]) == "--rounds" && std::atoi(argv[2]) > 0) {
        return std::atoi(argv[2]);
    }
    std::fprintf(stderr, "usage: %s [--rounds N (%d)]\n", argv[0], kDefaultRounds);
    std::exit(2);
}

void PrintResults(const std::vector<Run>& lmxmaps, const std::vector<Run>& curl) {
    const auto medianMs = [](const std::vector<Run>& runs) {
        std::vector<double> ms;
        for (const Run& run : runs) {
            ms.push_back(run.ms);
        }
        return Median(ms);
    };
    const auto peaks = [](const std::vector<Run>& runs) {
        std::string text;
        for (const Run& run : runs) {
            text += (text.empty() ? "" : " ") + std::to_string(run.peakInFlight);
        }
        return text;
    };
    std::printf("\n2048x2048 view of the world, level %d, %d tiles from 127.0.0.1, each answered "
                "after %d ms; medians of %zu rounds\n",
                kLevel, kTileCount, kLatencyMs, lmxmaps.size());
    std::printf("%-8s %10s  %-22s %s\n", "client", "ms/view", "peak in flight (runs)",
                "what is timed");
    std::printf("%-8s %10.1f  %-22s %s\n", "lmxmaps", medianMs(lmxmaps), peaks(lmxmaps).c_str(),
                "GetMappedImages + polling until complete, caches empty");
    std::printf("%-8s %10.1f  %-22s %s\n", "curl", medianMs(curl), peaks(curl).c_str(),
                "curl --parallel --parallel-max 6 --parallel-immediate -K urls");

    const double ratio = medianMs(lmxmaps) / medianMs(curl);
    std::size_t least = lmxmaps.front().peakInFlight;
    std::size_t most = least;
    for (const Run& run : lmxmaps) {
        least = std::min(least, run.peakInFlight);
        most = std::max(most, run.peakInFlight);
    }
    const bool peakMet = least >= kLeastInFlightTarget && most <= kMostInFlightTarget;
    std::printf("\n%-30s %9s  %-8s %s\n", "measure", "value", "target", "met");
    std::printf("%-30s %9.2f  %-8s %s\n", "lmxmaps / curl", ratio, "<= 1.2",
                ratio <= kOverCurlTarget ? "yes" : "NO");
    std::printf("%-30s %4zu-%-4zu  %-8s %s\n", "lmxmaps peak in flight", least, most, "4 to 6",
                peakMet ? "yes" : "NO");
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = ParseRounds(argc, argv);
    // Before anything opens the disk cache: every tile must come from the server.
    Options::Set(QStringLiteral("ImageCacheDirectory"), QString());
    if (qEnvironmentVariableIsEmpty("LMX_LogLevel")) {
        Options::Set(QStringLiteral("LogLevel"), QStringLiteral("error"));
    }
    try {
        const QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/lmx-tile-latency-XXXXXX"));
        if (!dir.isValid()) {
            Fail("cannot make a temporary directory");
        }
        FixtureServer server;
        server.Start();
        std::vector<Run> lmxmaps;
        std::vector<Run> curl;
        {
            Bench bench(server, dir.path());
            // Untimed: the first of each starts threads and loads libraries.
            bench.Lmxmaps();
            bench.Curl();
            for (int round = 0; round < rounds; ++round) {
                lmxmaps.push_back(bench.Lmxmaps());
                curl.push_back(bench.Curl());
                std::fprintf(stderr, "\rround %d/%d", round + 1, rounds);
            }
            std::fprintf(stderr, "\n");
        }
        MappedImageCache::Singleton().Clear();
        MapConnection::CloseAll();
        server.Stop();
        PrintResults(lmxmaps, curl);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "\nlmx_tile_latency_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
