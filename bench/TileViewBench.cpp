// One 2048x2048-pixel view of the whole Web Mercator world (level 3, 64 tiles of 256 px) from
// the loopback static tile server (tests/servers/test-servers, started and stopped here):
// - lmxmaps cold: RasterMapProvider::GetMappedImages with empty memory caches and no disk cache,
//   polled until the composite is complete;
// - lmxmaps warm: the same view again, the composite a memory hit;
// - the curl program fetching the same 64 URLs in parallel, in one process;
// - gdal_translate reading the same view through GDAL's WMS driver (TMS), written as PNG.
// Rounds interleave the clients; every timed run is checked against the server's access log.
// Prints medians in ms per view and the ratios against their targets.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <sys/resource.h>
#include <vector>

#include <lmxmaps/CompositeMappedImage.h>
#include <lmxmaps/MapConnection.h>
#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/host/Options.h>

#include "ViewBenchSupport.h"

namespace {

using namespace viewbench;

constexpr int kLevel = 3;
constexpr int kTilesPerSide = 8;
constexpr int kTileCount = kTilesPerSide * kTilesPerSide;
constexpr int kViewPixels = 2048;
constexpr double kWorldHalfWidth = 20037508.342789244;
constexpr auto kPollInterval = std::chrono::milliseconds(1);
constexpr auto kViewTimeout = std::chrono::seconds(60);
constexpr double kColdOverCurlTarget = 1.5;
constexpr double kColdOverGdalTarget = 1.0;
constexpr double kColdOverWarmTarget = 10.0;

// Requests logged from line `from` on: those for level-3 tiles under /no-store/, and all.
struct Requests {
    int level3 = 0;
    int all = 0;
};

Requests CountRequests(const QStringList& log, qsizetype from) {
    Requests counted;
    const QString prefix = QStringLiteral("\"GET /no-store/%1/").arg(kLevel);
    for (qsizetype i = from; i < log.size(); ++i) {
        ++counted.all;
        counted.level3 += log[i].contains(prefix) && log[i].contains(QLatin1String("\" 200 "));
    }
    return counted;
}

QString TileUrl(int port, int x, int y) {
    return QStringLiteral("http://127.0.0.1:%1/no-store/%2/%3/%4.png")
        .arg(port)
        .arg(kLevel)
        .arg(x)
        .arg(y);
}

struct ViewRun {
    double ms = 0.0;
    // The GetMappedImages call, and the CheckUpdateState calls (they draw the tiles).
    double callMs = 0.0;
    double checkMs = 0.0;
    int polls = 0;
    // Of the whole process (fetch threads included) while the view was made.
    double cpuMs = 0.0;
    long minorFaults = 0;
    RasterMapProvider::TileCounts counts;
    // Tiles the library flags as blank (solid near-white); images all the same.
    int blank = 0;
};

// Asks for the view and polls its composite until no tile is pending; the collection stays
// alive in `keep` (a displayed view holds it).
ViewRun ShowView(RasterMapProvider& provider, RefCntPtr<MappedImageCollection>& keep) {
    ViewRun run;
    rusage usageBefore{};
    getrusage(RUSAGE_SELF, &usageBefore);
    const Clock::time_point start = Clock::now();
    const auto query = MakeRefCnt<MapQuery>(
        MakeRefCnt<MapLayers>(), QStringLiteral("EPSG:3857"),
        DataValueRect(DataValue::Real(-kWorldHalfWidth), DataValue::Real(kWorldHalfWidth),
                      DataValue::Real(-kWorldHalfWidth), DataValue::Real(kWorldHalfWidth)),
        kViewPixels, kViewPixels, QString(), QString(), false, false);
    keep = provider.GetMappedImages(query, false, MapCode::Default, 1, ColorObject(224, 224, 224),
                                    &run.counts);
    const Clock::time_point called = Clock::now();
    if (keep->images.empty()) {
        Fail("GetMappedImages gave no image");
    }
    const MappedImageInstancePtr composite = keep->images.front().GetInstance();
    const PollRun polled = PollUntilComplete(*composite, start, kViewTimeout, kPollInterval);
    run.polls = polled.polls;
    const Clock::time_point end = Clock::now();
    rusage usageAfter{};
    getrusage(RUSAGE_SELF, &usageAfter);
    run.ms = Ms(end - start);
    run.cpuMs = CpuMs(usageAfter) - CpuMs(usageBefore);
    run.minorFaults = usageAfter.ru_minflt - usageBefore.ru_minflt;
    run.callMs = Ms(called - start);
    run.checkMs = polled.checkMs;

    const auto* whole = dynamic_cast<const CompositeMappedImage*>(composite.get());
    const std::shared_ptr<QtImageObject> canvas = composite->GetImageObject();
    if (whole == nullptr || !canvas || canvas->GetWidth() != kViewPixels ||
        canvas->GetHeight() != kViewPixels) {
        Fail("the view has no 2048x2048 composite image");
    }
    const std::vector<MappedImageInstancePtr> tiles = whole->GetTiles();
    if (static_cast<int>(tiles.size()) != kTileCount) {
        Fail("the composite has " + std::to_string(tiles.size()) + " tiles, not 64");
    }
    for (const MappedImageInstancePtr& tile : tiles) {
        WarningList errors;
        bool hadErrors = false;
        tile->GetErrors(errors, hadErrors);
        if (hadErrors || !tile->GetImageObject() || tile->GetTileRects().empty()) {
            Fail("tile " + tile->GetUrl().toStdString() + " failed or was not drawn");
        }
        run.blank += tile->IsError();
    }
    return run;
}

int CountOk(const QByteArray& statuses) {
    const QList<QByteArray> codes = statuses.split('\n');
    return static_cast<int>(std::count(codes.begin(), codes.end(), QByteArray("200")));
}

struct Settings {
    int rounds = 10;
    int gdalRounds = 5;
    int warmPerRound = 50;
};

Settings ParseArguments(int argc, char** argv) {
    Settings settings;
    const std::map<std::string, int*> flags = {{"--rounds", &settings.rounds},
                                               {"--gdal-rounds", &settings.gdalRounds},
                                               {"--warm-per-round", &settings.warmPerRound}};
    for (int i = 1; i < argc; ++i) {
        const auto flag = flags.find(argv[i]);
        if (flag == flags.end() || i + 1 >= argc || std::atoi(argv[i + 1]) <= 0) {
            std::fprintf(stderr,
                         "usage: %s [--rounds N (10)] [--gdal-rounds N (5)] "
                         "[--warm-per-round N (50)]\n",
                         argv[0]);
            std::exit(2);
        }
        *flag->second = std::atoi(argv[++i]);
    }
    settings.gdalRounds = std::min(settings.gdalRounds, settings.rounds);
    return settings;
}

class Bench {
public:
    Bench(const Settings& settings, LoopbackServers& server)
        : m_settings(settings), m_server(server) {
        const AttributeMap attributes = {
            {QStringLiteral("class"), QStringLiteral("OpenStreetMap")},
            {QStringLiteral("server"), QStringLiteral("http://127.0.0.1")},
            {QStringLiteral("port"), QString::number(server.StaticPort())},
            {QStringLiteral("url-format"), QStringLiteral("/no-store/{Z}/{X}/{Y}.png")}};
        m_provider = MapProvider::Create(attributes);
        if (!m_provider || !m_provider->IsRaster()) {
            Fail("the OpenStreetMap class made no raster provider");
        }
        WriteReferenceInputs();
    }

    void Run() {
        getloadavg(m_loadBefore, 1);
        for (int round = 0; round < m_settings.rounds; ++round) {
            Cold();
            Warm();
            Curl(QStringLiteral("curl -K"), m_curlConfigArguments);
            Curl(QStringLiteral("curl args"), m_curlArguments);
            if (round < m_settings.gdalRounds) {
                Gdal(QStringLiteral("GDAL PNG"), QStringLiteral("PNG"));
                Gdal(QStringLiteral("GDAL MEM"), QStringLiteral("MEM"));
            }
            std::fprintf(stderr, "\rround %d/%d", round + 1, m_settings.rounds);
        }
        std::fprintf(stderr, "\n");
        getloadavg(m_loadAfter, 1);
        PrintTable();
    }

private:
    // The same URLs for curl, in a config file and on the command line, and GDAL's description
    // of the service.
    void WriteReferenceInputs() {
        const QDir state(m_server.StateDir());
        QString config;
        m_curlArguments =
            QStringList{QStringLiteral("--parallel"), QStringLiteral("--parallel-max"),
                        QString::number(kTileCount),  QStringLiteral("-s"),
                        QStringLiteral("-w"),         QStringLiteral("%{http_code}\\n")};
        m_curlConfigArguments = m_curlArguments;
        for (int y = 0; y < kTilesPerSide; ++y) {
            for (int x = 0; x < kTilesPerSide; ++x) {
                const QString url = TileUrl(m_server.StaticPort(), x, y);
                config += QStringLiteral("url = \"%1\"\noutput = \"/dev/null\"\n").arg(url);
                m_curlArguments << url << QStringLiteral("-o") << QStringLiteral("/dev/null");
            }
        }
        m_curlConfigArguments << QStringLiteral("-K")
                              << state.filePath(QStringLiteral("urls.curl"));
        WriteFile(state.filePath(QStringLiteral("urls.curl")), config);

        // No <Cache> element: GDAL keeps no tiles between runs.
        m_gdalXml = state.filePath(QStringLiteral("world.xml"));
        WriteFile(m_gdalXml,
                  QStringLiteral(
                      "<GDAL_WMS>\n"
                      "  <Service name=\"TMS\">\n"
                      "    <ServerUrl>http://127.0.0.1:%1/no-store/${z}/${x}/${y}.png</ServerUrl>\n"
                      "  </Service>\n"
                      "  <DataWindow>\n"
                      "    <UpperLeftX>-20037508.34</UpperLeftX>\n"
                      "    <UpperLeftY>20037508.34</UpperLeftY>\n"
                      "    <LowerRightX>20037508.34</LowerRightX>\n"
                      "    <LowerRightY>-20037508.34</LowerRightY>\n"
                      "    <TileLevel>%2</TileLevel>\n"
                      "    <TileCountX>1</TileCountX>\n"
                      "    <TileCountY>1</TileCountY>\n"
                      "    <YOrigin>top</YOrigin>\n"
                      "  </DataWindow>\n"
                      "  <Projection>EPSG:3857</Projection>\n"
                      "  <BlockSizeX>256</BlockSizeX>\n"
                      "  <BlockSizeY>256</BlockSizeY>\n"
                      "  <BandsCount>3</BandsCount>\n"
                      "</GDAL_WMS>\n")
                      .arg(m_server.StaticPort())
                      .arg(kLevel));
    }

    qsizetype LogMark() const { return LoopbackServers::SettledLog(m_server.StaticLog()).size(); }

    // Every timed run must have asked the server for exactly the requests expected.
    void CheckRequests(const QString& client, qsizetype mark, int expected) const {
        const Requests seen =
            CountRequests(LoopbackServers::SettledLog(m_server.StaticLog()), mark);
        if (seen.level3 != expected || seen.all != expected) {
            Fail(client.toStdString() + " made " + std::to_string(seen.all) + " requests (" +
                 std::to_string(seen.level3) + " answered level-3 tiles), expected " +
                 std::to_string(expected));
        }
        if (m_requestsOnce.find(client) == m_requestsOnce.end()) {
            m_requestsOnce[client] = seen.level3;
        }
    }

    void Cold() {
        MappedImageCache::Singleton().Clear();
        MapConnection::CloseAll();
        m_warmView.reset();
        const qsizetype mark = LogMark();
        const ViewRun run = ShowView(m_provider->AsRaster(), m_warmView);
        CheckRequests(QStringLiteral("lmxmaps cold"), mark, kTileCount);
        if (run.counts.fresh != kTileCount) {
            Fail("the cold view did not request every tile");
        }
        m_blank = run.blank;
        m_ms[QStringLiteral("lmxmaps cold")].push_back(run.ms);
        m_coldCall.push_back(run.callMs);
        m_coldCheck.push_back(run.checkMs);
        m_coldPolls.push_back(run.polls);
        m_coldCpu.push_back(run.cpuMs);
        m_coldFaults.push_back(static_cast<double>(run.minorFaults));
    }

    // After Cold, whose collection stays alive as a displayed view's would.
    void Warm() {
        const qsizetype mark = LogMark();
        for (int i = 0; i < m_settings.warmPerRound; ++i) {
            RefCntPtr<MappedImageCollection> again;
            const ViewRun run = ShowView(m_provider->AsRaster(), again);
            if (run.counts.fromMemory != kTileCount || run.polls != 1) {
                Fail("the warm view was not a memory hit");
            }
            m_ms[QStringLiteral("lmxmaps warm")].push_back(run.ms);
        }
        CheckRequests(QStringLiteral("lmxmaps warm"), mark, 0);
    }

    void Curl(const QString& client, const QStringList& arguments) {
        const qsizetype mark = LogMark();
        const ProcessRun run =
            Spawn(QStringList{QStringLiteral("curl")} + arguments, m_server.StateDir());
        if (CountOk(run.output) != kTileCount) {
            Fail(client.toStdString() + " did not get 64 tiles with status 200");
        }
        CheckRequests(client, mark, kTileCount);
        m_ms[client].push_back(run.ms);
    }

    void Gdal(const QString& client, const QString& format) {
        const QString out = QDir(m_server.StateDir()).filePath(QStringLiteral("out.png"));
        QFile::remove(out);
        const qsizetype mark = LogMark();
        const ProcessRun run =
            Spawn({QStringLiteral("gdal_translate"), QStringLiteral("-q"), QStringLiteral("-of"),
                   format, QStringLiteral("-outsize"), QString::number(kViewPixels),
                   QString::number(kViewPixels), m_gdalXml, out},
                  m_server.StateDir(), {"GDAL_ENABLE_WMS_CACHE=NO"});
        CheckRequests(client, mark, kTileCount);
        if (format == QLatin1String("PNG") && QFileInfo(out).size() <= 0) {
            Fail("gdal_translate wrote no PNG");
        }
        m_ms[client].push_back(run.ms);
    }

    void PrintTable() const {
        const auto median = [this](const char* client) {
            const auto found = m_ms.find(QString::fromLatin1(client));
            return found == m_ms.end() ? 0.0 : Median(found->second);
        };
        const auto runs = [this](const char* client) {
            const auto found = m_ms.find(QString::fromLatin1(client));
            return found == m_ms.end() ? 0 : static_cast<int>(found->second.size());
        };
        std::printf("\n2048x2048 view of the world, level %d, %d tiles from 127.0.0.1 (lighttpd, "
                    "/no-store/); medians\n",
                    kLevel, kTileCount);
        std::printf("%-14s %5s %10s %9s  %s\n", "client", "runs", "ms/view", "requests",
                    "what is timed");
        const std::pair<const char*, const char*> rows[] = {
            {"lmxmaps cold", "GetMappedImages + polling until complete, caches empty"},
            {"lmxmaps warm", "the same view again, composite from memory"},
            {"curl -K", "curl --parallel --parallel-max 64, URLs in a config file"},
            {"curl args", "the same with the URLs on the command line"},
            {"GDAL PNG", "gdal_translate -of PNG -outsize 2048 2048 (WMS/TMS)"},
            {"GDAL MEM", "the same into memory (-of MEM), no PNG written"},
        };
        for (const auto& [client, what] : rows) {
            const auto seen = m_requestsOnce.find(QString::fromLatin1(client));
            std::printf("%-14s %5d %10.3f %9d  %s\n", client, runs(client), median(client),
                        seen == m_requestsOnce.end() ? -1 : seen->second, what);
        }
        std::printf("lmxmaps cold, medians: GetMappedImages call %.2f ms, CheckUpdateState "
                    "calls %.2f ms in %.0f polls; process CPU %.1f ms and %.0f minor page "
                    "faults a view; %d tiles flagged blank (solid near-white)\n",
                    Median(m_coldCall), Median(m_coldCheck), Median(m_coldPolls), Median(m_coldCpu),
                    Median(m_coldFaults), m_blank);

        const double cold = median("lmxmaps cold");
        const double curl = std::min(median("curl -K"), median("curl args"));
        const double gdal = median("GDAL PNG");
        const double warm = median("lmxmaps warm");
        const double overCurl = cold / curl;
        const double overGdal = cold / gdal;
        const double overWarm = cold / warm;
        std::printf("load average (1 min) of the machine: %.2f before, %.2f after\n",
                    m_loadBefore[0], m_loadAfter[0]);
        std::printf("\n%-28s %9s  %-8s %s\n", "ratio", "value", "target", "met");
        std::printf("%-28s %9.2f  %-8s %s\n", "cold / curl (faster form)", overCurl, "<= 1.5",
                    overCurl <= kColdOverCurlTarget ? "yes" : "NO");
        std::printf("%-28s %9.2f  %-8s %s\n", "cold / GDAL PNG", overGdal, "< 1",
                    overGdal < kColdOverGdalTarget ? "yes" : "NO");
        std::printf("%-28s %9.2f  %-8s %s\n", "cold / GDAL MEM (info)", cold / median("GDAL MEM"),
                    "-", "-");
        std::printf("%-28s %9.0f  %-8s %s\n", "cold / warm", overWarm, ">= 10",
                    overWarm >= kColdOverWarmTarget ? "yes" : "NO");
    }

    Settings m_settings;
    LoopbackServers& m_server;
    std::shared_ptr<MapProvider> m_provider;
    RefCntPtr<MappedImageCollection> m_warmView;
    QStringList m_curlArguments;
    QStringList m_curlConfigArguments;
    QString m_gdalXml;
    std::map<QString, std::vector<double>> m_ms;
    mutable std::map<QString, int> m_requestsOnce;
    std::vector<double> m_coldCall;
    std::vector<double> m_coldCheck;
    std::vector<double> m_coldPolls;
    std::vector<double> m_coldCpu;
    std::vector<double> m_coldFaults;
    int m_blank = 0;
    double m_loadBefore[1] = {0.0};
    double m_loadAfter[1] = {0.0};
};

} // namespace

int main(int argc, char** argv) {
    const Settings settings = ParseArguments(argc, argv);
    // Before anything opens the disk cache: every cold tile must come from the server.
    Options::Set(QStringLiteral("ImageCacheDirectory"), QString());
    // The two blank arctic tiles would log a warning every cold view.
    if (qEnvironmentVariableIsEmpty("LMX_LogLevel")) {
        Options::Set(QStringLiteral("LogLevel"), QStringLiteral("error"));
    }
    try {
        LoopbackServers server(QStringLiteral("lmx-tile-view"));
        {
            Bench bench(settings, server);
            bench.Run();
        }
        MappedImageCache::Singleton().Clear();
        MapConnection::CloseAll();
        server.Stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "\nlmx_tile_view_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
