#include "RenderCommand.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <thread>

#include <lmxmaps/MapNamespace.h>
#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/host/Counters.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/HTTPRequestor.h>
#include <lmxmaps/host/net/Secrets.h>

#include "CommandLine.h"
#include "ExitCodes.h"
#include "NumberParsing.h"
#include "SourceFile.h"
#include "VectorRender.h"

namespace {

constexpr int kDefaultWidth = 1024;
constexpr int kMaxPixels = 8192;
constexpr int kDefaultTimeoutSeconds = 120;
constexpr double kMercatorLatitudeLimit = 85.0511287798066;
constexpr auto kPollInterval = std::chrono::milliseconds(50);
// Drawn where no tile covers the view (beyond the map's world).
const QColor kBackground(255, 255, 255);
const ColorObject kWaitColor(224, 224, 224);
constexpr int kAttributionMargin = 4;
constexpr int kAttributionPixelSize = 11;
const QColor kAttributionBox(255, 255, 255, 200);
const QColor kAttributionText(40, 40, 40);

struct Box {
    double minX, minY, maxX, maxY;
};

struct RenderOptions {
    std::string source = "default";
    // Only these layers are enabled; all when absent.
    std::optional<std::vector<std::string>> layers;
    std::optional<Box> lonLatBox;
    std::optional<Box> crsBox;
    // From the view's shape when absent.
    std::optional<QSize> size;
    int dpr = 1;
    std::string out = "map.png";
    bool offline = false;
    bool composeWhenComplete = false;
    double timeoutSeconds = kDefaultTimeoutSeconds;
    // The HTTP options of the same names for this run; the option's own value when absent.
    std::optional<int> maxConnectionsPerHost;
    std::optional<int> retryAttempts;
    std::optional<double> retryMaxWaitSeconds;
    // Vector sources only.
    VectorViewOptions vector;
};

Box ParseBox(const std::string& text) {
    const std::invalid_argument refused(
        "wants four numbers, minimum x and y before maximum x and y: '" + text + "'");
    std::vector<double> values;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        const std::size_t end = comma == std::string::npos ? text.size() : comma;
        const std::optional<double> value = ParseDouble(text.substr(start, end - start));
        if (!value || !std::isfinite(*value)) {
            throw refused;
        }
        values.push_back(*value);
        start = end + 1;
    }
    if (values.size() != 4 || !(values[0] < values[2]) || !(values[1] < values[3])) {
        throw refused;
    }
    return Box{values[0], values[1], values[2], values[3]};
}

Box ParseLonLatBox(const std::string& text) {
    const Box box = ParseBox(text);
    if (box.minY < -90 || box.maxY > 90) {
        throw std::invalid_argument("latitudes lie between -90 and 90: '" + text + "'");
    }
    return box;
}

// Comma-separated names, none empty.
std::vector<std::string> ParseLayerNames(const std::string& text) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        const std::size_t end = comma == std::string::npos ? text.size() : comma;
        if (end == start) {
            throw std::invalid_argument("wants layer names separated by commas: '" + text + "'");
        }
        names.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

QSize ParseSize(const std::string& text) {
    const std::invalid_argument refused("wants WxH with whole pixels from 1 to " +
                                        std::to_string(kMaxPixels) + ": '" + text + "'");
    const std::size_t x = text.find('x');
    if (x == std::string::npos) {
        throw refused;
    }
    const auto pixels = [&refused](const std::string& part) {
        const std::optional<double> value = ParseDouble(part);
        if (!value || !(*value >= 1 && *value <= kMaxPixels) || *value != std::floor(*value)) {
            throw refused;
        }
        return static_cast<int>(*value);
    };
    return {pixels(text.substr(0, x)), pixels(text.substr(x + 1))};
}

double ParseWash(const std::string& text) {
    const std::optional<double> wash = ParseDouble(text);
    if (!wash || !(*wash >= 0.0 && *wash <= 1.0)) {
        throw std::invalid_argument("wants a number from 0 to 1: '" + text + "'");
    }
    return *wash;
}

double ParseTimeout(const std::string& text) {
    const std::optional<double> seconds = ParseDouble(text);
    if (!seconds || !(*seconds > 0) || !std::isfinite(*seconds)) {
        throw std::invalid_argument("wants a positive number of seconds: '" + text + "'");
    }
    return *seconds;
}

int ParseCount(const std::string& text, int least) {
    const std::optional<double> count = ParseDouble(text);
    if (!count || !(*count >= least && *count <= std::numeric_limits<int>::max()) ||
        *count != std::floor(*count)) {
        throw std::invalid_argument("wants a whole number of at least " + std::to_string(least) +
                                    ": '" + text + "'");
    }
    return static_cast<int>(*count);
}

double ParseWait(const std::string& text) {
    const std::optional<double> seconds = ParseDouble(text);
    if (!seconds || !(*seconds >= 0) || !std::isfinite(*seconds)) {
        throw std::invalid_argument("wants a number of seconds, 0 or more: '" + text + "'");
    }
    return *seconds;
}

void AddNetworkOptions(CLI::App& app, RenderOptions& options) {
    AddParsedOption(
        app, "--max-connections-per-host", options.maxConnectionsPerHost,
        [](const std::string& text) { return ParseCount(text, 1); },
        "HTTP requests at once to one server (default: option\n"
        "HttpMaxConnectionsPerHost, 6)")
        ->type_name("N");
    AddParsedOption(
        app, "--retry-attempts", options.retryAttempts,
        [](const std::string& text) { return ParseCount(text, 0); },
        "times a tile that failed for a passing reason (no connection, reset,\n"
        "time-out, 408, 429, 500, 502-504) is asked for again; 0 never (default:\n"
        "option HttpRetryAttempts, 3)")
        ->type_name("N");
    AddParsedOption(app, "--retry-max-wait", options.retryMaxWaitSeconds, ParseWait,
                    "longest wait before a retry; a server asking for a longer one\n"
                    "(Retry-After) is not asked again (default: option\n"
                    "HttpRetryMaxWaitSeconds, 30)")
        ->type_name("SECONDS");
}

// The options of this run's HTTP requests, set before the first request.
void ApplyNetworkOptions(const RenderOptions& options) {
    if (options.maxConnectionsPerHost) {
        Options::Set(QStringLiteral("HttpMaxConnectionsPerHost"),
                     QString::number(*options.maxConnectionsPerHost));
    }
    if (options.retryAttempts) {
        Options::Set(QStringLiteral("HttpRetryAttempts"), QString::number(*options.retryAttempts));
    }
    if (options.retryMaxWaitSeconds) {
        Options::Set(QStringLiteral("HttpRetryMaxWaitSeconds"),
                     QString::number(*options.retryMaxWaitSeconds));
    }
}

// Requests of this run that were sent again, and those the network rules refused.
class RequestTally {
public:
    std::int64_t Retried() const {
        return HostCounters::Get(HTTPRequestor::kRetriedRequestsCounter) - m_retriedBefore;
    }
    std::int64_t Refused() const {
        return HostCounters::Get(HTTPRequestor::kRefusedRequestsCounter) - m_refusedBefore;
    }

private:
    std::int64_t m_retriedBefore = HostCounters::Get(HTTPRequestor::kRetriedRequestsCounter);
    std::int64_t m_refusedBefore = HostCounters::Get(HTTPRequestor::kRefusedRequestsCounter);
};

void AddRenderOptions(CLI::App& app, RenderOptions& options) {
    app.add_option("--source", options.source,
                   "a JSON object of map-source attributes (\"name\" and \"class\"\n"
                   "required), or default: the built-in world map")
        ->type_name("FILE|default")
        ->capture_default_str();
    CLI::Option* lonLatBox =
        AddParsedOption(app, "--bbox", options.lonLatBox, ParseLonLatBox,
                        "the view in degrees (default: the projection's whole world)")
            ->type_name("MINLON,MINLAT,MAXLON,MAXLAT");
    AddParsedOption(app, "--bbox-crs", options.crsBox, ParseBox,
                    "the view in the source's map units (Web Mercator metres, or\n"
                    "degrees for a WMS source in a geographic CRS)")
        ->type_name("XMIN,YMIN,XMAX,YMAX")
        ->excludes(lonLatBox);
    AddParsedOption(app, "--size", options.size, ParseSize,
                    "pixels (default: " + std::to_string(kDefaultWidth) +
                        " wide, height from the view's shape)")
        ->type_name("WxH");
    app.add_option("--dpr", options.dpr,
                   "pixel ratio: 2 doubles the PNG's pixels (tiles of the next level)")
        ->check(CLI::IsMember(std::vector<std::string>{"1", "2"}))
        ->capture_default_str();
    AddParsedOption(app, "--layers", options.layers, ParseLayerNames,
                    "enable only these feature layers of the source (default: all)")
        ->type_name("NAME,...");
    app.add_option("--out", options.out, "the PNG to write")
        ->type_name("FILE")
        ->capture_default_str();
    app.add_flag("--offline", options.offline, "use only tiles in memory or in the disk cache");
    app.add_flag("--compose-when-complete", options.composeWhenComplete,
                 "draw the tiles only once all have arrived");
    AddParsedOption(app, "--timeout", options.timeoutSeconds, ParseTimeout,
                    "seconds to wait for tiles")
        ->type_name("SECONDS")
        ->default_str(std::to_string(kDefaultTimeoutSeconds));
    AddNetworkOptions(app, options);
    app.add_option("--style", options.vector.style,
                   "vector sources: the style to draw (required for them)")
        ->type_name("NAME");
    app.add_option("--language", options.vector.language,
                   "vector sources: the language of labels (de, fr_CA, ...)")
        ->type_name("CODE");
    CLI::Option* area = app.add_option("--area", options.vector.area,
                                       "vector sources: the area of --data-layer (State, County, "
                                       "...; default the first)")
                            ->type_name("NAME");
    app.add_option("--data-layer", options.vector.dataLayer,
                   "vector sources: draw this data layer of the area above its style layer")
        ->type_name("DATA-ID");
    area->needs("--data-layer");
    AddParsedOption(app, "--wash", options.vector.wash, ParseWash,
                    "vector sources: white laid over the map, 0 (none) to 1 (all)")
        ->type_name("0..1");
    app.add_flag("--immediate", options.vector.immediate,
                 "vector sources: render on this thread, again as data arrives (default: one "
                 "render on a pool thread that waits for the whole map)");
    app.footer("Exit status: 0 complete, 1 tiles failed or missing, or a vector map timed out\n"
               "or failed to load (the PNG is still written), 2 bad arguments or an unusable\n"
               "source.\n");
}

// Map units of a point whose longitude may lie beyond +-180 degrees: on a wrapping map whole
// turns of longitude are whole world widths, so a view may cross the antimeridian.
std::pair<double, double> ProjectUnfolded(const SpatialProjector& projector, double lon,
                                          double lat) {
    constexpr double kFullTurn = 360.0;
    constexpr double kHalfTurn = 180.0;
    const double turns = projector.DoesWrap() ? std::floor((lon + kHalfTurn) / kFullTurn) : 0.0;
    const auto [x, y] = projector.GetXY(lon - turns * kFullTurn, lat);
    return {x + turns * projector.GetWorldBounds().Width(), y};
}

// The projection's world; where it has no bounds, the band of latitudes Web Mercator shows.
Box DefaultView(const SpatialProjector& projector) {
    const DataValueRect world = projector.GetWorldBounds();
    const Box box{world.MinX().GetReal(), world.MinY().GetReal(), world.MaxX().GetReal(),
                  world.MaxY().GetReal()};
    if (std::isfinite(box.minX) && std::isfinite(box.minY) && std::isfinite(box.maxX) &&
        std::isfinite(box.maxY)) {
        return box;
    }
    const auto [minX, minY] = ProjectUnfolded(projector, -180.0, -kMercatorLatitudeLimit);
    const auto [maxX, maxY] = ProjectUnfolded(projector, 180.0, kMercatorLatitudeLimit);
    return {minX, minY, maxX, maxY};
}

// The default width, and the height that keeps the view's shape.
QSize DefaultSize(const Box& view) {
    const double shape = (view.maxY - view.minY) / (view.maxX - view.minX);
    return {kDefaultWidth,
            std::clamp(static_cast<int>(std::lround(kDefaultWidth * shape)), 1, kMaxPixels)};
}

// Layers the source hides from the layer panel (a tile server's implicit base layer) are not
// the user's to choose: they keep the state their provider gave them.
bool IsChoosable(const MapLayer& layer) {
    return layer.GetAttribute(MapLayer::attrShowUI) != TStr(MapLayer::valueFalse);
}

std::vector<std::string> ChoosableLayerNames(const MapLayers& layers) {
    std::vector<std::string> names;
    for (const MapLayer& layer : layers.GetLayers()) {
        if (IsChoosable(layer)) {
            names.push_back(ToUtf8(layer.GetName()));
        }
    }
    return names;
}

// Every choosable layer, or only the named ones; the list keeps the provider's order.
void EnableLayers(MapLayers& layers, const std::optional<std::vector<std::string>>& names) {
    for (MapLayer& layer : layers.GetLayers()) {
        if (IsChoosable(layer)) {
            layer.SetEnabled(!names || std::find(names->begin(), names->end(),
                                                 ToUtf8(layer.GetName())) != names->end());
        }
    }
}

// False with a message naming the source's layers when a name is not among them.
bool CheckLayerNames(const MapLayers& layers, const std::vector<std::string>& names,
                     const TString& sourceName, std::ostream& err) {
    const std::vector<std::string> available = ChoosableLayerNames(layers);
    for (const std::string& name : names) {
        if (std::find(available.begin(), available.end(), name) == available.end()) {
            err << "lmxmaps render: the map source '" << ToUtf8(sourceName) << "' has no layer '"
                << name << "'; available layers:";
            for (std::size_t i = 0; i < available.size(); ++i) {
                err << (i == 0 ? " " : ", ") << available[i];
            }
            err << (available.empty() ? " none\n" : "\n");
            return false;
        }
    }
    return true;
}

// Qt's own notes (such as a missing runtime directory on a headless machine) are details.
void QtMessagesToLog(QtMsgType type, const QMessageLogContext&, const QString& message) {
    TLog::LogMessage(type == QtCriticalMsg || type == QtFatalMsg ? TLog::Severity::Error
                                                                 : TLog::Severity::Debug,
                     message);
}

// Text tools and QPainter need a GUI application; a headless one is enough.
std::unique_ptr<QGuiApplication> EnsureGuiApplication() {
    if (QCoreApplication::instance() != nullptr) {
        return nullptr;
    }
    qInstallMessageHandler(QtMessagesToLog);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "lmxmaps";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

struct TileState {
    int done = 0;
    int failed = 0;
    int missing = 0;
};

TileState InspectTiles(const CompositeMappedImage& composite) {
    TileState state;
    for (const MappedImageInstancePtr& tile : composite.GetTiles()) {
        if (tile->HasTask()) {
            continue;
        }
        ++state.done;
        WarningList errors;
        bool hadErrors = false;
        tile->GetErrors(errors, hadErrors);
        if (hadErrors || tile->IsError()) {
            ++state.failed;
        } else if (!tile->GetImageObject()) {
            ++state.missing;
        }
    }
    return state;
}

void DrawProgress(std::ostream& err, const TileState& state, int total,
                  const RasterMapProvider::TileCounts& counts, const RequestTally& requests) {
    constexpr int kBarWidth = 30;
    const int filled = total == 0 ? kBarWidth : state.done * kBarWidth / total;
    err << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
        << std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') << "] " << state.done
        << "/" << total << " tiles (memory " << counts.fromMemory << ", disk " << counts.fromDisk
        << ", new " << counts.fresh << ", missing " << counts.missing << ", retried "
        << requests.Retried() << ", refused " << requests.Refused() << ")" << std::flush;
}

// The view's pixel rectangle of a rectangle in map units.
QRectF ToPixels(const DataValueRect& rect, const Box& view, QSize size) {
    const double sx = size.width() / (view.maxX - view.minX);
    const double sy = size.height() / (view.maxY - view.minY);
    const double minX = rect.MinX().GetReal();
    const double maxY = rect.MaxY().GetReal();
    return QRectF((minX - view.minX) * sx, (view.maxY - maxY) * sy, rect.Width() * sx,
                  rect.Height() * sy);
}

void DrawAttribution(QImage& image, const TString& text, int dpr) {
    if (text.isEmpty()) {
        return;
    }
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(kAttributionPixelSize * dpr);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    const double margin = kAttributionMargin * dpr;
    const QSizeF textSize(metrics.horizontalAdvance(text), metrics.height());
    const QRectF box(image.width() - textSize.width() - 2 * margin,
                     image.height() - textSize.height() - 2 * margin, textSize.width() + 2 * margin,
                     textSize.height() + 2 * margin);
    painter.fillRect(box, kAttributionBox);
    painter.setPen(kAttributionText);
    painter.drawText(box, Qt::AlignCenter, text);
}

TString AttributionLine(const MapProvider& provider) {
    const TString configured = provider.GetAttribute(MapProvider::attrCopyrightString);
    if (!configured.isEmpty()) {
        return configured;
    }
    TString first;
    TString second;
    if (!provider.GetAttributionStrings(false, first, second)) {
        return {};
    }
    return second.isEmpty() ? first : first + QStringLiteral(" | ") + second;
}

void ReportTileProblems(const CompositeMappedImage& composite, std::ostream& err) {
    for (const MappedImageInstancePtr& tile : composite.GetTiles()) {
        WarningList errors;
        bool hadErrors = false;
        tile->GetErrors(errors, hadErrors);
        const std::string url = ToUtf8(Secrets::RedactUrl(tile->GetUrl()));
        const std::string name =
            url.empty() ? "tile " + std::to_string(tile->GetTileNumber()) : url;
        if (hadErrors) {
            for (const RefCntPtr<WarningMsg>& warning : errors) {
                err << "failed: " << name << ": "
                    << ToUtf8(warning->GetDisplayText().replace(u'\n', QStringLiteral(": ")))
                    << "\n";
            }
        } else if (tile->IsError()) {
            err << "failed: " << name << ": the server sent a blank tile\n";
        } else if (!tile->GetImageObject()) {
            err << "missing: " << name
                << (tile->HasTask() ? " (still loading)\n" : " (not cached, no connection)\n");
        }
    }
}

// The PNG of a vector source's view, drawn as the host draws it.
int RenderVectorSource(MapProvider& provider, RenderOptions& options, const DataValueRect& bbox,
                       const QSize& pixels, std::ostream& out, std::ostream& err) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(options.dpr);
    options.vector.layers = options.layers;
    options.vector.timeoutSeconds = options.timeoutSeconds;
    const int exitCode = DrawVectorView(provider, options.vector, bbox, image, err);
    if (exitCode == ExitCode::kUsage) {
        return exitCode;
    }
    image.setDevicePixelRatio(1.0);
    DrawAttribution(image, AttributionLine(provider), options.dpr);
    if (!image.save(QString::fromStdString(options.out), "PNG")) {
        err << "lmxmaps render: cannot write '" << options.out << "'\n";
        return ExitCode::kUsage;
    }
    out << "wrote " << options.out << " (" << pixels.width() << "x" << pixels.height()
        << ", vector style " << options.vector.style << ")\n";
    return exitCode;
}

} // namespace

int RunRenderCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     bool showProgress) {
    RenderOptions options;
    CommandApp app("Draws one map view of a source to a PNG of exactly the view's size.",
                   "lmxmaps render");
    AddRenderOptions(app, options);
    if (const std::optional<int> status = app.ParseArguments(args, out, err)) {
        return *status;
    }
    ApplyNetworkOptions(options);
    const RequestTally requests;

    AttributeMap attributes;
    if (options.source == "default") {
        const TString tiles = DefaultSourceTileDirectory();
        if (!QFileInfo(tiles).isDir()) {
            err << "lmxmaps render: the default world map's tiles are missing in '" << ToUtf8(tiles)
                << "'; run scripts/setup to build them\n";
            return ExitCode::kUsage;
        }
        attributes = DefaultSourceAttributes();
    } else {
        std::string error;
        const std::optional<AttributeMap> read = ReadSourceFile(options.source, error);
        if (!read) {
            err << "lmxmaps render: " << error << "\n";
            return ExitCode::kUsage;
        }
        attributes = *read;
    }
    if (options.offline) {
        attributes[TStr(MapProvider::attrOffline)] = QStringLiteral("1");
    }

    MapNamespace mapNamespace;
    std::shared_ptr<MapSource> source;
    RefCntPtr<MapLayers> layers;
    SpatialProjectorPtr projector;
    std::unique_ptr<QGuiApplication> application;
    try {
        source = MakeMapSource(attributes);
        mapNamespace.AddMapSource(source);
        const bool vector = source->GetMapProvider()->IsVector();
        if (vector && options.vector.style.empty()) {
            err << "lmxmaps render: the vector map source '" << ToUtf8(source->GetName())
                << "' needs --style NAME\n";
            return ExitCode::kUsage;
        }
        // The display must exist before the application that uses it.
        if (vector && !PrepareVectorRendering(err)) {
            return ExitCode::kUsage;
        }
        application = EnsureGuiApplication();
        if (!options.offline) {
            source->Connect();
        }
        // A WMS source lists the server's layers, and its projection follows their CRS.
        layers = vector ? MakeRefCnt<MapLayers>()
                        : source->GetMapProvider()->GetFeatureLayers(TString());
        projector = source->GetMapProvider()->GetDefaultSpatialProjector();
    } catch (const MapProviderException& e) {
        err << "lmxmaps render: cannot use the map source";
        if (source) {
            err << " '" << ToUtf8(source->GetName()) << "'";
        }
        err << ": " << ToUtf8(e.GetMessage()) << " (error type " << e.GetType() << ")\n";
        return ExitCode::kUsage;
    }
    const std::shared_ptr<MapProvider> provider = source->GetMapProvider();
    if (!provider->IsRaster() && !provider->IsVector()) {
        err << "lmxmaps render: the map source '" << ToUtf8(source->GetName())
            << "' serves neither raster nor vector maps\n";
        return ExitCode::kUsage;
    }

    Box view{};
    if (options.crsBox) {
        view = *options.crsBox;
    } else if (options.lonLatBox) {
        const Box lonLat = *options.lonLatBox;
        const auto [minX, minY] = ProjectUnfolded(*projector, lonLat.minX, lonLat.minY);
        const auto [maxX, maxY] = ProjectUnfolded(*projector, lonLat.maxX, lonLat.maxY);
        view = {minX, minY, maxX, maxY};
    } else {
        view = DefaultView(*projector);
    }
    if (!std::isfinite(view.minX) || !std::isfinite(view.maxY) || !(view.minX < view.maxX) ||
        !(view.minY < view.maxY)) {
        err << "lmxmaps render: the view has no area in the source's projection\n";
        return ExitCode::kUsage;
    }
    const QSize size = options.size.value_or(DefaultSize(view));
    // A higher pixel ratio is simply more pixels: the scale level rises and the tiles of the
    // finer level are drawn, which is sharp on any tile server.
    const QSize pixels(size.width() * options.dpr, size.height() * options.dpr);

    const DataValueRect bbox(DataValue::Real(view.minX), DataValue::Real(view.maxX),
                             DataValue::Real(view.minY), DataValue::Real(view.maxY));
    if (provider->IsVector()) {
        return RenderVectorSource(*provider, options, bbox, pixels, out, err);
    }
    RasterMapProvider& raster = provider->AsRaster();
    if (options.layers && !CheckLayerNames(*layers, *options.layers, source->GetName(), err)) {
        return ExitCode::kUsage;
    }
    EnableLayers(*layers, options.layers);
    const auto query = MakeRefCnt<MapQuery>(
        layers, projector->GetName(), bbox, static_cast<unsigned int>(pixels.width()),
        static_cast<unsigned int>(pixels.height()), TString(), TString(), false, false);

    RasterMapProvider::TileCounts counts;
    RefCntPtr<MappedImageCollection> collection;
    try {
        collection = raster.GetMappedImages(query, options.composeWhenComplete, MapCode::Default, 1,
                                            kWaitColor, &counts);
    } catch (const LumivexException& e) {
        err << "lmxmaps render: " << ToUtf8(e.GetMessage()) << "\n";
        return ExitCode::kUsage;
    }

    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(kBackground);
    CompositeMappedImagePtr composite;
    if (!collection->images.empty()) {
        composite = RefCntPtr<CompositeMappedImage>(
            dynamic_cast<CompositeMappedImage*>(collection->images.front().GetInstance().get()));
    }
    int exitCode = ExitCode::kSuccess;
    if (!composite) {
        err << "lmxmaps render: the view lies outside the source's map\n";
        exitCode = ExitCode::kPartialFailure;
    } else {
        composite->AddUse();
        const int total = static_cast<int>(composite->GetTiles().size());
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration<double>(options.timeoutSeconds);
        bool pending = true;
        int updateCount = 0;
        while (pending && std::chrono::steady_clock::now() < deadline) {
            // Only raised by the call, never cleared.
            pending = false;
            composite->CheckUpdateState(pending, updateCount);
            if (showProgress) {
                DrawProgress(err, InspectTiles(*composite), total, counts, requests);
            }
            if (pending) {
                std::this_thread::sleep_for(kPollInterval);
            }
        }
        if (showProgress) {
            err << "\n";
        }
        if (const std::shared_ptr<QtImageObject> composed = composite->GetImageObject()) {
            QPainter painter(&image);
            QtImageObject::BitmapOptions drawOptions;
            composed->Draw(painter, ToPixels(composite->GetBounds(), view, pixels), drawOptions);
        }
        const TileState state = InspectTiles(*composite);
        if (pending || state.failed > 0 || state.missing > 0) {
            ReportTileProblems(*composite, err);
            exitCode = ExitCode::kPartialFailure;
        }
        composite->RemoveUse();
    }
    DrawAttribution(image, AttributionLine(*provider), options.dpr);
    image.setDevicePixelRatio(options.dpr);
    if (!image.save(QString::fromStdString(options.out), "PNG")) {
        err << "lmxmaps render: cannot write '" << options.out << "'\n";
        return ExitCode::kUsage;
    }
    out << "wrote " << options.out << " (" << pixels.width() << "x" << pixels.height() << ", "
        << counts.Total() << " tiles: " << counts.fromMemory << " from memory, " << counts.fromDisk
        << " from disk, " << counts.fresh << " requested, " << counts.missing << " missing; "
        << requests.Retried() << " retried, " << requests.Refused() << " refused)\n";
    return exitCode;
}
