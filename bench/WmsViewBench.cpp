// One world view from the loopback MapServer (tests/servers/test-servers, started and stopped
// here), layers bluemarble and countries. The provider picks EPSG:3857 from the capabilities,
// so the view is the whole Web Mercator square, 2048x2048 pixels (--height 1024: the band of
// the middle half, about 66.5 degrees south to north, 2048x1024). Clients:
// - lmxmaps tiled: the WMS provider's view pipeline (512-pixel world-aligned tiles, each asked
//   with its 100-pixel margin), memory cache empty and an empty disk cache, polled until the
//   composite is complete; the source stays connected (capabilities read once, as in an
//   application);
// - lmxmaps untiled: the same with use-tiled-maps false, one GetMap of the whole view;
// - gdal_translate through GDAL's WMS driver, 512-pixel blocks (the same grid) and one block,
//   into memory and, tiled, also into a PNG;
// - curl --parallel-max 2 replaying lmxmaps' and GDAL's tiled requests: what the server and
//   the transfers alone take for each.
// Rounds interleave the clients; every timed run is checked against MapServer's access log.
// Prints medians (wall, client CPU, MapServer CPU) and the ratios lmxmaps / GDAL.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include <lmxmaps/CompositeMappedImage.h>
#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/Options.h>

#include "ViewBenchSupport.h"

namespace {

using namespace viewbench;

constexpr int kViewWidth = 2048;
constexpr int kTileSize = WmsProvider::sTileSize;
constexpr auto kPollInterval = std::chrono::milliseconds(1);
constexpr auto kViewTimeout = std::chrono::seconds(60);
constexpr double kOverGdalTarget = 1.0;
constexpr int kFarDifference = 32;
// Both clients use two connections: GDAL's default, and Qt's pool on two cores.
constexpr int kReplayConnections = 2;
const QStringList kLayers = {QStringLiteral("bluemarble"), QStringLiteral("countries")};

const QString kLmxTiled = QStringLiteral("lmxmaps tiled");
const QString kLmxUntiled = QStringLiteral("lmxmaps untiled");
const QString kGdalMem = QStringLiteral("GDAL 512 MEM");
const QString kGdalPng = QStringLiteral("GDAL 512 PNG");
const QString kGdalUntiled = QStringLiteral("GDAL 1-block MEM");
const QString kGdalStart = QStringLiteral("GDAL start");
const QString kCurlLmx = QStringLiteral("curl lmx URLs");
const QString kCurlGdal = QStringLiteral("curl GDAL URLs");

struct Box {
    double minX, maxX, minY, maxY;
};

// MapServer's CPU so far (user plus system) over the mapserv processes test-servers recorded.
double MapServerCpuMs(const QString& stateDir) {
    QFile pids(QDir(stateDir).filePath(QStringLiteral("pids")));
    if (!pids.open(QIODevice::ReadOnly)) {
        Fail("test-servers recorded no processes");
    }
    static const double ticksPerMs = static_cast<double>(sysconf(_SC_CLK_TCK)) / 1e3;
    double ms = 0.0;
    int found = 0;
    for (const QString& line : QString::fromUtf8(pids.readAll()).split(u'\n')) {
        if (line.section(u' ', 1) != QLatin1String("mapserv")) {
            continue;
        }
        QFile stat(QStringLiteral("/proc/%1/stat").arg(line.section(u' ', 0, 0)));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        // Fields 14 and 15 (utime, stime), counted after the command name in parentheses.
        const QString text = QString::fromLatin1(stat.readAll());
        const QStringList fields =
            text.mid(text.lastIndexOf(u')') + 2).split(u' ', Qt::SkipEmptyParts);
        if (fields.size() > 12) {
            ms += (fields[11].toDouble() + fields[12].toDouble()) / ticksPerMs;
            ++found;
        }
    }
    if (found == 0) {
        Fail("no MapServer process is running");
    }
    return ms;
}

// The GetMap requests logged from line `from` on.
struct Requests {
    int getMap = 0;
    int all = 0;
    double bytes = 0.0;
    QStringList paths;
};

Requests ReadRequests(const QStringList& log, qsizetype from) {
    // %h "%r" %>s %b
    static const QRegularExpression line(
        QStringLiteral("^\\S+ \"GET (\\S+) HTTP/[0-9.]+\" (\\d+) (\\d+|-)$"));
    Requests seen;
    for (qsizetype i = from; i < log.size(); ++i) {
        ++seen.all;
        const QRegularExpressionMatch match = line.match(log[i]);
        if (match.hasMatch() && match.captured(2) == QLatin1String("200") &&
            match.captured(1).contains(QLatin1String("request=GetMap"), Qt::CaseInsensitive)) {
            ++seen.getMap;
            seen.bytes += match.captured(3).toDouble();
            seen.paths << match.captured(1);
        }
    }
    return seen;
}

struct Settings {
    int rounds = 7;
    int height = kViewWidth;
    // Only this many lmxmaps tiled views, no reference programs: a loop to profile.
    int profileViews = 0;
};

Settings ParseArguments(int argc, char** argv) {
    Settings settings;
    const std::map<std::string, int*> flags = {{"--rounds", &settings.rounds},
                                               {"--height", &settings.height},
                                               {"--profile-views", &settings.profileViews}};
    for (int i = 1; i < argc; ++i) {
        const auto flag = flags.find(argv[i]);
        if (flag == flags.end() || i + 1 >= argc || std::atoi(argv[i + 1]) <= 0) {
            std::fprintf(stderr,
                         "usage: %s [--rounds N (7)] [--height 2048|1024 (2048)] "
                         "[--profile-views N]\n",
                         argv[0]);
            std::exit(2);
        }
        *flag->second = std::atoi(argv[++i]);
    }
    if (settings.height != kViewWidth && settings.height != kViewWidth / 2) {
        std::fprintf(stderr, "--height is 2048 (the whole world) or 1024 (the middle band)\n");
        std::exit(2);
    }
    return settings;
}

struct Sample {
    double ms = 0.0;
    double cpuMs = 0.0;
    double serverCpuMs = 0.0;
};

struct ClientStats {
    std::vector<double> ms, cpuMs, serverCpuMs;
    int requests = -1;
    double megabytes = 0.0;
    double megapixels = 0.0;
};

class Bench {
public:
    Bench(const Settings& settings, LoopbackServers& servers)
        : m_settings(settings), m_servers(servers) {
        m_tiled = Connect(false);
        m_untiled = Connect(true);
        const SpatialProjectorPtr projector = m_tiled->AsRaster().GetDefaultSpatialProjector();
        m_crs = projector->GetName();
        if (m_crs.compare(QLatin1String("EPSG:3857"), Qt::CaseInsensitive) != 0) {
            Fail("the provider picked " + m_crs.toStdString() + ", not EPSG:3857");
        }
        const DataValueRect world = projector->GetWorldBounds();
        const double halfHeight = world.Height() / 2.0 * m_settings.height / kViewWidth;
        const double middle = (world.MinY().GetReal() + world.MaxY().GetReal()) / 2.0;
        m_view = {world.MinX().GetReal(), world.MaxX().GetReal(), middle - halfHeight,
                  middle + halfHeight};
        m_tileCount = (kViewWidth / kTileSize) * (m_settings.height / kTileSize);
        WriteReferenceInputs();
    }

    void Run() {
        if (m_settings.profileViews > 0) {
            for (int view = 0; view < m_settings.profileViews; ++view) {
                ShowView(kLmxTiled, *m_tiled, m_tileCount);
            }
            const ClientStats& stats = m_stats[kLmxTiled];
            std::printf("%d lmxmaps tiled views, medians: %.1f ms, %.1f ms CPU, %.1f ms MapServer "
                        "CPU\n",
                        m_settings.profileViews, Median(stats.ms), Median(stats.cpuMs),
                        Median(stats.serverCpuMs));
            return;
        }
        getloadavg(m_loadBefore, 1);
        for (int round = 0; round < m_settings.rounds; ++round) {
            ShowView(kLmxTiled, *m_tiled, m_tileCount);
            ShowView(kLmxUntiled, *m_untiled, 1);
            Gdal(kGdalMem, m_gdalTiledXml, QStringLiteral("MEM"), m_tileCount);
            Gdal(kGdalPng, m_gdalTiledXml, QStringLiteral("PNG"), m_tileCount);
            Gdal(kGdalUntiled, m_gdalUntiledXml, QStringLiteral("MEM"), 1);
            GdalStart();
            Replay(kCurlLmx, kLmxTiled);
            Replay(kCurlGdal, kGdalMem);
            std::fprintf(stderr, "\rround %d/%d", round + 1, m_settings.rounds);
        }
        std::fprintf(stderr, "\n");
        getloadavg(m_loadAfter, 1);
        CompareImages();
        PrintTable();
    }

private:
    std::shared_ptr<MapProvider> Connect(bool untiled) {
        AttributeMap attributes = {
            {QStringLiteral("class"), TStr(WmsProvider::valueClassAttr)},
            {QStringLiteral("service"), QStringLiteral("http")},
            {QStringLiteral("server"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("port"), QString::number(m_servers.MapServerPort())},
            {QStringLiteral("url"), QStringLiteral("/mapserv")}};
        if (untiled) {
            attributes[TStr(WmsProvider::attrUseTiledMaps)] = QStringLiteral("false");
        }
        std::shared_ptr<MapProvider> provider = MapProvider::Create(attributes);
        if (!provider || !provider->IsRaster()) {
            Fail("the OGC-WMS class made no raster provider");
        }
        // Reads the capabilities, once for both providers (they share the connection).
        const RefCntPtr<MapLayers> layers = provider->GetFeatureLayers({});
        std::set<QString> missing(kLayers.begin(), kLayers.end());
        for (MapLayer& layer : layers->GetLayers()) {
            layer.SetEnabled(kLayers.contains(layer.GetName()));
            missing.erase(layer.GetName());
        }
        if (!missing.empty()) {
            Fail("the server lacks the layer " + missing.begin()->toStdString());
        }
        m_layers = layers;
        return provider;
    }

    QString GdalXml(int blockWidth, int blockHeight) const {
        return QStringLiteral("<GDAL_WMS>\n"
                              "  <Service name=\"WMS\">\n"
                              "    <Version>1.1.1</Version>\n"
                              "    <ServerUrl>http://127.0.0.1:%1/mapserv?</ServerUrl>\n"
                              "    <SRS>%2</SRS>\n"
                              "    <ImageFormat>image/png</ImageFormat>\n"
                              "    <Layers>%3</Layers>\n"
                              "    <Styles></Styles>\n"
                              "  </Service>\n"
                              "  <DataWindow>\n"
                              "    <UpperLeftX>%4</UpperLeftX>\n"
                              "    <UpperLeftY>%5</UpperLeftY>\n"
                              "    <LowerRightX>%6</LowerRightX>\n"
                              "    <LowerRightY>%7</LowerRightY>\n"
                              "    <SizeX>%8</SizeX>\n"
                              "    <SizeY>%9</SizeY>\n"
                              "  </DataWindow>\n"
                              "  <Projection>%2</Projection>\n"
                              "  <BlockSizeX>%10</BlockSizeX>\n"
                              "  <BlockSizeY>%11</BlockSizeY>\n"
                              "  <BandsCount>3</BandsCount>\n"
                              "</GDAL_WMS>\n")
            .arg(m_servers.MapServerPort())
            .arg(m_crs, kLayers.join(u','))
            .arg(m_view.minX, 0, 'f', 4)
            .arg(m_view.maxY, 0, 'f', 4)
            .arg(m_view.maxX, 0, 'f', 4)
            .arg(m_view.minY, 0, 'f', 4)
            .arg(kViewWidth)
            .arg(m_settings.height)
            .arg(blockWidth)
            .arg(blockHeight);
    }

    // No <Cache> element: GDAL keeps nothing between runs.
    void WriteReferenceInputs() {
        const QDir state(m_servers.StateDir());
        m_gdalTiledXml = state.filePath(QStringLiteral("tiled.xml"));
        m_gdalUntiledXml = state.filePath(QStringLiteral("untiled.xml"));
        WriteFile(m_gdalTiledXml, GdalXml(kTileSize, kTileSize));
        WriteFile(m_gdalUntiledXml, GdalXml(kViewWidth, m_settings.height));
        m_tinyGrid = state.filePath(QStringLiteral("tiny.asc"));
        WriteFile(m_tinyGrid, QStringLiteral("ncols 1\nnrows 1\nxllcorner 0\nyllcorner 0\n"
                                             "cellsize 1\n0\n"));
    }

    QStringList Log() const { return LoopbackServers::SettledLog(m_servers.MapServerLog()); }

    // Every timed run must have asked the server for exactly the GetMaps expected, and nothing
    // else.
    Requests CheckRequests(const QString& client, qsizetype mark, int expected) {
        const Requests seen = ReadRequests(Log(), mark);
        if (seen.getMap != expected || seen.all != expected) {
            Fail(client.toStdString() + " made " + std::to_string(seen.all) + " requests (" +
                 std::to_string(seen.getMap) + " answered GetMaps), expected " +
                 std::to_string(expected));
        }
        ClientStats& stats = m_stats[client];
        if (stats.requests < 0) {
            stats.requests = seen.getMap;
            stats.megabytes = seen.bytes / 1e6;
            m_paths[client] = seen.paths;
            static const QRegularExpression width(QStringLiteral("[?&]width=(\\d+)"),
                                                  QRegularExpression::CaseInsensitiveOption);
            static const QRegularExpression height(QStringLiteral("[?&]height=(\\d+)"),
                                                   QRegularExpression::CaseInsensitiveOption);
            for (const QString& path : seen.paths) {
                stats.megapixels += width.match(path).captured(1).toDouble() *
                                    height.match(path).captured(1).toDouble() / 1e6;
            }
        }
        return seen;
    }

    void Record(const QString& client, const Sample& sample) {
        ClientStats& stats = m_stats[client];
        stats.ms.push_back(sample.ms);
        stats.cpuMs.push_back(sample.cpuMs);
        stats.serverCpuMs.push_back(sample.serverCpuMs);
    }

    void ShowView(const QString& client, MapProvider& provider, int expectedTiles) {
        MappedImageCache::Singleton().Clear();
        // The tiled view stays alive until the next one, as a displayed view would.
        if (client == kLmxTiled) {
            m_keep.reset();
        }
        const qsizetype mark = Log().size();
        const double serverBefore = MapServerCpuMs(m_servers.StateDir());
        rusage usageBefore{};
        getrusage(RUSAGE_SELF, &usageBefore);
        const Clock::time_point start = Clock::now();
        const auto query = MakeRefCnt<MapQuery>(
            m_layers, m_crs,
            DataValueRect(DataValue::Real(m_view.minX), DataValue::Real(m_view.maxX),
                          DataValue::Real(m_view.minY), DataValue::Real(m_view.maxY)),
            kViewWidth, m_settings.height, QString(), QString(), false, false);
        RasterMapProvider::TileCounts counts;
        RefCntPtr<MappedImageCollection> view = provider.AsRaster().GetMappedImages(
            query, false, MapCode::Default, 1, ColorObject(224, 224, 224), &counts);
        if (view->images.empty()) {
            Fail("GetMappedImages gave no image");
        }
        const MappedImageInstancePtr composite = view->images.front().GetInstance();
        PollUntilComplete(*composite, start, kViewTimeout, kPollInterval);
        const Clock::time_point end = Clock::now();
        rusage usageAfter{};
        getrusage(RUSAGE_SELF, &usageAfter);
        Record(client, {Ms(end - start), CpuMs(usageAfter) - CpuMs(usageBefore),
                        MapServerCpuMs(m_servers.StateDir()) - serverBefore});

        if (counts.fresh != expectedTiles || counts.Total() != expectedTiles) {
            Fail(client.toStdString() + ": " + std::to_string(counts.fresh) + " of " +
                 std::to_string(counts.Total()) + " tiles requested, expected " +
                 std::to_string(expectedTiles) + " (memory or disk cache not empty)");
        }
        const auto* whole = dynamic_cast<const CompositeMappedImage*>(composite.get());
        const std::shared_ptr<QtImageObject> canvas = composite->GetImageObject();
        if (whole == nullptr || !canvas) {
            Fail(client.toStdString() + ": the view has no composite image");
        }
        // The composite may reach beyond the view (whole tiles), at the view's scale.
        const DataValueRect bounds = composite->GetBounds();
        const double pixelsPerUnit = kViewWidth / (m_view.maxX - m_view.minX);
        const double tolerance = 1e-6 * (m_view.maxX - m_view.minX);
        if (std::abs(canvas->GetWidth() - bounds.Width() * pixelsPerUnit) > 0.5 ||
            std::abs(canvas->GetHeight() - bounds.Height() * pixelsPerUnit) > 0.5 ||
            bounds.MinX().GetReal() > m_view.minX + tolerance ||
            bounds.MaxX().GetReal() < m_view.maxX - tolerance ||
            bounds.MinY().GetReal() > m_view.minY + tolerance ||
            bounds.MaxY().GetReal() < m_view.maxY - tolerance) {
            Fail(client.toStdString() + ": the composite (" + std::to_string(canvas->GetWidth()) +
                 "x" + std::to_string(canvas->GetHeight()) +
                 " pixels) does not cover the view at its scale");
        }
        m_compositeSize[client] = QSize(canvas->GetWidth(), canvas->GetHeight());
        CheckTilesDrawn(*whole, client.toStdString() + ": ");
        CheckRequests(client, mark, expectedTiles);
        if (client == kLmxTiled) {
            m_keep = view;
        }
    }

    QString GdalOutput(const QString& format) const {
        return QDir(m_servers.StateDir()).filePath(QStringLiteral("gdal.") + format.toLower());
    }

    void Gdal(const QString& client, const QString& xml, const QString& format, int expected) {
        const QString out = GdalOutput(format);
        QFile::remove(out);
        const qsizetype mark = Log().size();
        const double serverBefore = MapServerCpuMs(m_servers.StateDir());
        const ProcessRun run = Spawn({QStringLiteral("gdal_translate"), QStringLiteral("-q"),
                                      QStringLiteral("-of"), format, xml, out},
                                     m_servers.StateDir(), {"GDAL_ENABLE_WMS_CACHE=NO"});
        Record(client, {run.ms, run.cpuMs, MapServerCpuMs(m_servers.StateDir()) - serverBefore});
        CheckRequests(client, mark, expected);
        if (format == QLatin1String("PNG") && QFileInfo(out).size() <= 0) {
            Fail("gdal_translate wrote no PNG");
        }
    }

    // Starting the program and GDAL on a one-cell local grid: no server involved.
    void GdalStart() {
        const QString out = QDir(m_servers.StateDir()).filePath(QStringLiteral("tiny.out"));
        const ProcessRun run =
            Spawn({QStringLiteral("gdal_translate"), QStringLiteral("-q"), QStringLiteral("-of"),
                   QStringLiteral("MEM"), m_tinyGrid, out},
                  m_servers.StateDir());
        Record(kGdalStart, {run.ms, run.cpuMs, 0.0});
    }

    // The requests a client made, again, from one curl process with two connections.
    void Replay(const QString& client, const QString& of) {
        const QStringList& paths = m_paths[of];
        QString config;
        for (const QString& path : paths) {
            config += QStringLiteral("url = \"http://127.0.0.1:%1%2\"\noutput = \"/dev/null\"\n")
                          .arg(m_servers.MapServerPort())
                          .arg(path);
        }
        const QString file = QDir(m_servers.StateDir()).filePath(QStringLiteral("replay.curl"));
        WriteFile(file, config);
        const qsizetype mark = Log().size();
        const double serverBefore = MapServerCpuMs(m_servers.StateDir());
        const ProcessRun run = Spawn(
            {QStringLiteral("curl"), QStringLiteral("--parallel"), QStringLiteral("--parallel-max"),
             QString::number(kReplayConnections), QStringLiteral("-s"), QStringLiteral("-K"), file},
            m_servers.StateDir());
        Record(client, {run.ms, run.cpuMs, MapServerCpuMs(m_servers.StateDir()) - serverBefore});
        CheckRequests(client, mark, static_cast<int>(paths.size()));
    }

    // The last tiled view beside GDAL's PNG of the last round, outside the timing: the same
    // picture but for the resampling of the imagery and lines near tile edges.
    void CompareImages() {
        const QImage mine =
            m_keep->images.front().GetInstance()->GetImageObject()->GetImage().convertToFormat(
                QImage::Format_RGB32);
        const QImage theirs =
            QImage(GdalOutput(QStringLiteral("PNG"))).convertToFormat(QImage::Format_RGB32);
        if (mine.size() != theirs.size()) {
            Fail("GDAL's PNG is not the view's size");
        }
        double sum = 0.0;
        long long far = 0;
        for (int y = 0; y < mine.height(); ++y) {
            const auto* a = reinterpret_cast<const QRgb*>(mine.constScanLine(y));
            const auto* b = reinterpret_cast<const QRgb*>(theirs.constScanLine(y));
            for (int x = 0; x < mine.width(); ++x) {
                const int d = std::max({std::abs(qRed(a[x]) - qRed(b[x])),
                                        std::abs(qGreen(a[x]) - qGreen(b[x])),
                                        std::abs(qBlue(a[x]) - qBlue(b[x]))});
                sum += d;
                far += d > kFarDifference;
            }
        }
        const double pixels = static_cast<double>(mine.width()) * mine.height();
        m_meanDifference = sum / pixels;
        m_farShare = 100.0 * static_cast<double>(far) / pixels;
    }

    void PrintTable() const {
        const auto median = [this](const QString& client, auto member) {
            const auto found = m_stats.find(client);
            return found == m_stats.end() ? 0.0 : Median(found->second.*member);
        };
        std::printf("\n%dx%d view of the %s in %s, layers %s, from MapServer on 127.0.0.1 "
                    "(lighttpd, FastCGI, 2 processes); medians of %d rounds\n",
                    kViewWidth, m_settings.height,
                    m_settings.height == kViewWidth ? "whole Web Mercator world"
                                                    : "middle band of the Web Mercator world",
                    qPrintable(m_crs), qPrintable(kLayers.join(u',')), m_settings.rounds);
        std::printf("%-17s %8s %8s %10s %5s %6s %7s  %s\n", "client", "ms/view", "CPU ms",
                    "server ms", "reqs", "MB", "Mpx", "what is timed");
        const std::pair<const QString*, const char*> rows[] = {
            {&kLmxTiled, "GetMappedImages + polling until complete, caches empty"},
            {&kLmxUntiled, "the same, use-tiled-maps false: one GetMap of the view"},
            {&kGdalMem, "gdal_translate -of MEM, WMS, BlockSize 512"},
            {&kGdalPng, "the same written as PNG"},
            {&kGdalUntiled, "gdal_translate -of MEM, one block of the view's size"},
            {&kGdalStart, "gdal_translate -of MEM of a 1-cell local grid (start-up)"},
            {&kCurlLmx, "curl --parallel-max 2 replaying lmxmaps tiled's GetMaps"},
            {&kCurlGdal, "curl --parallel-max 2 replaying GDAL 512's GetMaps"},
        };
        for (const auto& [client, what] : rows) {
            const auto found = m_stats.find(*client);
            const ClientStats none;
            const ClientStats& stats = found == m_stats.end() ? none : found->second;
            std::printf("%-17s %8.1f %8.1f %10.1f %5d %6.2f %7.2f  %s\n", qPrintable(*client),
                        median(*client, &ClientStats::ms), median(*client, &ClientStats::cpuMs),
                        median(*client, &ClientStats::serverCpuMs), stats.requests, stats.megabytes,
                        stats.megapixels, what);
        }
        std::printf("CPU ms: of the client process (lmxmaps: the whole benchmark process while "
                    "the view was made); server ms: of the mapserv processes\n");
        for (const auto& [client, size] : m_compositeSize) {
            std::printf("%s: composite canvas %dx%d\n", qPrintable(client), size.width(),
                        size.height());
        }
        std::printf("lmxmaps tiled beside GDAL's PNG: mean largest channel difference %.2f, "
                    "%.2f %% of pixels differ by more than %d\n",
                    m_meanDifference, m_farShare, kFarDifference);
        std::printf("load average (1 min) of the machine: %.2f before, %.2f after\n",
                    m_loadBefore[0], m_loadAfter[0]);

        const double tiled = median(kLmxTiled, &ClientStats::ms);
        const double untiled = median(kLmxUntiled, &ClientStats::ms);
        const double overMem = tiled / median(kGdalMem, &ClientStats::ms);
        std::printf("\n%-34s %7s  %-7s %s\n", "ratio", "value", "target", "met");
        std::printf("%-34s %7.2f  %-7s %s\n", "lmxmaps tiled / GDAL 512 MEM", overMem, "<= 1",
                    overMem <= kOverGdalTarget ? "yes" : "NO");
        std::printf("%-34s %7.2f  %-7s %s\n", "lmxmaps tiled / GDAL 512 PNG",
                    tiled / median(kGdalPng, &ClientStats::ms), "-", "-");
        std::printf("%-34s %7.2f  %-7s %s\n", "lmxmaps untiled / GDAL 1-block MEM",
                    untiled / median(kGdalUntiled, &ClientStats::ms), "-", "-");
        std::printf("%-34s %7.2f  %-7s %s\n", "curl lmx URLs / curl GDAL URLs",
                    median(kCurlLmx, &ClientStats::ms) / median(kCurlGdal, &ClientStats::ms), "-",
                    "-");
    }

    Settings m_settings;
    LoopbackServers& m_servers;
    std::shared_ptr<MapProvider> m_tiled;
    std::shared_ptr<MapProvider> m_untiled;
    RefCntPtr<MapLayers> m_layers;
    TString m_crs;
    Box m_view{};
    int m_tileCount = 0;
    RefCntPtr<MappedImageCollection> m_keep;
    QString m_gdalTiledXml;
    QString m_gdalUntiledXml;
    QString m_tinyGrid;
    std::map<QString, ClientStats> m_stats;
    std::map<QString, QStringList> m_paths;
    std::map<QString, QSize> m_compositeSize;
    double m_meanDifference = 0.0;
    double m_farShare = 0.0;
    double m_loadBefore[1] = {0.0};
    double m_loadAfter[1] = {0.0};
};

} // namespace

int main(int argc, char** argv) {
    const Settings settings = ParseArguments(argc, argv);
    try {
        LoopbackServers servers(QStringLiteral("lmx-wms-view"));
        // Before anything opens the disk cache: an empty one of its own (WMS images are never
        // stored, so it stays empty and every look-up misses).
        const QString diskCache = QDir(servers.StateDir()).filePath(QStringLiteral("disk-cache"));
        QDir().mkpath(diskCache);
        Options::Set(QStringLiteral("ImageCacheDirectory"), diskCache);
        if (qEnvironmentVariableIsEmpty("LMX_LogLevel")) {
            Options::Set(QStringLiteral("LogLevel"), QStringLiteral("error"));
        }
        {
            Bench bench(settings, servers);
            bench.Run();
        }
        MappedImageCache::Singleton().Clear();
        MapConnection::CloseAll();
        servers.Stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "\nlmx_wms_view_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
