#include <QCoreApplication>
#include <QEventLoop>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QTimer>
#include <cmath>
#include <mutex>
#include <stdexcept>

#include <lmxmaps/QMapboxGLWrapper.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/storage/ExternalCache.h>

#include "host/core/Json.h"
#include "render/MapResourceGate.h"
#include "render/QMapboxGLDeclaration.h"

namespace {

constexpr std::uint32_t kForeignThreadDeleteAssertId = 0x4C4D4204;
constexpr const char* kLoggingOption = "QMapboxGLLogging";
constexpr const char* kTimeoutOption = "MapboxVectorRenderTimeoutSecs";
constexpr const char* kExternalTileCacheOption = "MapboxVectorExternalTileCache";
constexpr const char* kTileCacheSizeOption = "MapboxVectorTileCacheSizeMB";
constexpr const char* kTileCacheFile = "mapbox_tile_cache";
constexpr const char* kMemoryCache = ":memory:";
constexpr unsigned kBytesPerMegabyte = 1u << 20;
constexpr int kGlMajorVersion = 2;
constexpr int kGlMinorVersion = 0;
constexpr int kMillisecondsPerSecond = 1000;
constexpr const char* kTimeoutText = "Timeout!";
constexpr const char* kOverlayFont = "Arial";
constexpr int kOverlayPointSize = 8;
constexpr const char* kRenderThreadViolation = "render thread affinity violated";

const char* const kMapChangeNames[] = {
    "MapChangeRegionWillChange",
    "MapChangeRegionWillChangeAnimated",
    "MapChangeRegionIsChanging",
    "MapChangeRegionDidChange",
    "MapChangeRegionDidChangeAnimated",
    "MapChangeWillStartLoadingMap",
    "MapChangeDidFinishLoadingMap",
    "MapChangeDidFailLoadingMap",
    "MapChangeWillStartRenderingFrame",
    "MapChangeDidFinishRenderingFrame",
    "MapChangeDidFinishRenderingFrameFullyRendered",
    "MapChangeWillStartRenderingMap",
    "MapChangeDidFinishRenderingMap",
    "MapChangeDidFinishRenderingMapFullyRendered",
    "MapChangeDidFinishLoadingStyle",
    "MapChangeSourceDidChange",
};

const char* const kFailureNames[] = {"StyleParseFailure", "StyleLoadFailure", "NotFoundFailure"};

// The surface every wrapper's context renders on; made once on the GUI thread.
std::mutex g_surfaceMutex;
std::shared_ptr<QOffscreenSurface> g_surface;

std::shared_ptr<QOffscreenSurface> SharedSurface() {
    std::lock_guard lock(g_surfaceMutex);
    return g_surface;
}

QSurfaceFormat SurfaceFormat() {
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setVersion(kGlMajorVersion, kGlMinorVersion);
    format.setProfile(QSurfaceFormat::NoProfile);
    return format;
}

// Puts back the GL context that was current when it was made.
class RestoreCurrentContext {
public:
    RestoreCurrentContext()
        : m_context(QOpenGLContext::currentContext()),
          m_surface(m_context != nullptr ? m_context->surface() : nullptr) {}
    ~RestoreCurrentContext() {
        if (m_context != nullptr) {
            m_context->makeCurrent(m_surface);
        }
    }
    RestoreCurrentContext(const RestoreCurrentContext&) = delete;
    RestoreCurrentContext& operator=(const RestoreCurrentContext&) = delete;

private:
    QOpenGLContext* m_context;
    QSurface* m_surface;
};

QString TileCachePath() {
    const TString directory = ExternalCaches::Directory();
    if (directory.isEmpty() || !Options::GetBool(QLatin1String(kExternalTileCacheOption))) {
        return QLatin1String(kMemoryCache);
    }
    return directory + u'/' + QLatin1String(kTileCacheFile);
}

// Replaces every string equal to placeholder in value (arrays searched all the way down);
// whether anything changed.
bool ReplacePlaceholder(QVariant& value, const QString& placeholder, const QString& replacement) {
    if (value.type() == QVariant::String) {
        if (value.toString() != placeholder) {
            return false;
        }
        value = replacement;
        return true;
    }
    if (value.type() != QVariant::List) {
        return false;
    }
    QVariantList list = value.toList();
    bool changed = false;
    for (QVariant& item : list) {
        changed = ReplacePlaceholder(item, placeholder, replacement) || changed;
    }
    if (changed) {
        value = list;
    }
    return changed;
}

QVariant ExpressionOf(const TString& json) {
    rapidjson::Document document;
    return Json::Parse(json.toUtf8(), document) ? Json::ToVariant(document) : QVariant(json);
}

void DrawTimeout(QImage& image) {
    QPainter painter(&image);
    QFont font{QString::fromLatin1(kOverlayFont)};
    font.setPointSize(kOverlayPointSize);
    painter.setFont(font);
    painter.setPen(Qt::red);
    const QRectF area(QPointF(0, 0), QSizeF(image.size()) / image.devicePixelRatio());
    painter.drawText(area, Qt::AlignCenter, QLatin1String(kTimeoutText));
}

} // namespace

// The layers of the style JSON the map has now, as the document gives them.
struct QMapboxGLWrapper::Style {
    rapidjson::Document document;
    std::vector<QString> layerIds;

    const rapidjson::Value* Layers() const {
        const rapidjson::Value* layers = Json::Find(document, "layers");
        return layers != nullptr && layers->IsArray() ? layers : nullptr;
    }
};

QMapboxGLWrapper::QMapboxGLWrapper(Mode mode, StyleJsonSource styleJsonSource, TString accessToken,
                                   TString apiBaseUrl, float pixelRatio)
    : m_mode(mode), m_styleJsonSource(std::move(styleJsonSource)),
      m_accessToken(std::move(accessToken)), m_apiBaseUrl(std::move(apiBaseUrl)),
      m_pixelRatio(pixelRatio), m_requestedLayers(MakeRefCnt<MapLayers>()),
      m_createThreadId(std::this_thread::get_id()) {
    QMapboxGLSettings settings;
    settings.setAccessToken(m_accessToken);
    settings.setApiBaseUrl(m_apiBaseUrl);
    settings.setContextMode(QMapboxGLSettings::SharedGLContext);
    settings.setConstrainMode(QMapboxGLSettings::NoConstrain);
    settings.setMapMode(mode == Immediate ? QMapboxGLSettings::Continuous
                                          : QMapboxGLSettings::Static);
    settings.setCacheDatabasePath(TileCachePath());
    settings.setCacheDatabaseMaximumSize(
        static_cast<unsigned>(
            std::max<long long>(0, Options::GetInt(QLatin1String(kTileCacheSizeOption)))) *
        kBytesPerMegabyte);
    m_map = std::make_unique<QMapboxGL>(nullptr, settings, QSize(1, 1), m_pixelRatio);
    // Before the style is set, so the map's first request already meets the network rules.
    MapResourceGate::Guard(*m_map, settings);
    if (mode == Immediate) {
        connect(
            m_map.get(), &QMapboxGL::needsRendering, this,
            [this] {
                Trace("NeedsRendering::Immediate");
                Q_EMIT DataChanged();
            },
            Qt::DirectConnection);
    }
    connect(
        m_map.get(), &QMapboxGL::mapLoadingFailed, this,
        [this](QMapboxGL::MapLoadingFailure failure, const QString& message) {
            OnMapLoadingFailed(failure, message);
        },
        Qt::DirectConnection);
    connect(
        m_map.get(), &QMapboxGL::mapChanged, this,
        [this](QMapboxGL::MapChange change) { OnMapChanged(change); }, Qt::DirectConnection);
}

QMapboxGLWrapper::~QMapboxGLWrapper() {
    LMX_LOGIC_ASSERT_ID(m_createThreadId == std::this_thread::get_id(),
                        kForeignThreadDeleteAssertId);
    const std::shared_ptr<QOffscreenSurface> surface = SharedSurface();
    const RestoreCurrentContext restore;
    // The map's GL resources must go while a context is current.
    if (m_context && surface && m_context->makeCurrent(surface.get())) {
        m_map.reset();
        m_framebuffer.reset();
        m_context->doneCurrent();
    }
}

void QMapboxGLWrapper::Initialize() {
    std::lock_guard lock(g_surfaceMutex);
    if (g_surface) {
        return;
    }
    auto surface = std::make_shared<QOffscreenSurface>();
    surface->setFormat(SurfaceFormat());
    surface->create();
    const RestoreCurrentContext restore;
    QOpenGLContext context;
    context.setFormat(surface->format());
    if (!context.create()) {
        throw std::runtime_error("unable to create context");
    }
    if (!context.makeCurrent(surface.get())) {
        throw std::runtime_error("unable to make context current");
    }
    context.doneCurrent();
    g_surface = std::move(surface);
    // The surface must go while the application (and its platform) still exists.
    qAddPostRoutine([] {
        std::lock_guard lock(g_surfaceMutex);
        g_surface.reset();
    });
}

void QMapboxGLWrapper::Trace(const char* step) const {
    if (Options::GetBool(QLatin1String(kLoggingOption))) {
        TLog::LogMessage(TLog::Severity::Info,
                         QStringLiteral("QMapboxGLWrapper::%1").arg(QLatin1String(step)));
    }
}

void QMapboxGLWrapper::OnMapChanged(int change) {
    const bool known = change >= 0 && change < static_cast<int>(std::size(kMapChangeNames));
    Trace(QStringLiteral("MapChange::%1")
              .arg(QLatin1String(known ? kMapChangeNames[change] : "Unknown"))
              .toLatin1()
              .constData());
    if (change == QMapboxGL::MapChangeDidFinishLoadingStyle) {
        m_styleLoaded = true;
    }
}

void QMapboxGLWrapper::OnMapLoadingFailed(int failure, const QString& message) {
    const bool known = failure >= 0 && failure < static_cast<int>(std::size(kFailureNames));
    m_errorMsg =
        QStringLiteral("QMapboxGLWrapper::MapLoadingFailure::%1: %2")
            .arg(QLatin1String(known ? kFailureNames[failure] : "UnknownFailure"), message);
    m_styleFailed = true;
    TLog::LogMessage(TLog::Severity::Warn, m_errorMsg);
}

bool QMapboxGLWrapper::IsFullyLoaded() const {
    return m_map->isFullyLoaded();
}

void QMapboxGLWrapper::Apply(const TString& styleName, const QDateTime& styleTimestamp,
                             const RefCntPtr<MapLayers>& layers, const QRectF& rect,
                             const QSize& size, const SpatialProjector& projector) {
    Trace("Apply");
    const bool resized = size != m_requestedSize;
    if (resized) {
        Trace("Apply::Size");
        m_requestedSize = m_renderSize = size;
        m_map->resize(m_renderSize);
    }
    if (rect != m_boundingBox || resized) {
        Trace("Apply::Position");
        m_boundingBox = rect;
        Position(projector);
    }
    if (m_zoom <= 0.0 && m_renderSize.height() < kMinimumWorldRenderSize) {
        AdjustSizeAndPosition();
    }
    bool styleChanged = false;
    if (styleTimestamp != m_styleTimestamp) {
        const TString json = m_styleJsonSource(styleName);
        if (json != m_map->styleJson()) {
            Trace("Apply::Style");
            m_styleLoaded = false;
            m_styleFailed = false;
            m_errorMsg.clear();
            m_map->setStyleJson(json);
            styleChanged = true;
        }
        m_styleTimestamp = styleTimestamp;
    }
    m_requestedLayers = layers ? layers->Clone() : MakeRefCnt<MapLayers>();
    m_requestedNames.clear();
    for (const MapLayer& layer : m_requestedLayers->GetLayers()) {
        m_requestedNames.insert(layer.GetName());
    }
    m_requestedNames.insert(QLatin1String(kDataLayerId));
    if (m_styleLoaded) {
        UpdateLayers(styleChanged || !m_style);
    }
}

void QMapboxGLWrapper::Position(const SpatialProjector& projector) {
    m_southWest = {projector.GetUnwrappedInverseOfX(m_boundingBox.left()),
                   projector.GetInverseOfY(m_boundingBox.bottom())};
    m_northEast = {projector.GetUnwrappedInverseOfX(m_boundingBox.right()),
                   projector.GetInverseOfY(m_boundingBox.top())};
    QMapboxGL::Coordinate northEast(m_northEast.second, m_northEast.first);
    const QMapboxGL::CoordinateZoom centered = m_map->coordinateZoomForBounds(
        QMapboxGL::Coordinate(m_southWest.second, m_southWest.first), northEast);
    m_center = {centered.first.second, centered.first.first};
    m_zoom = centered.second;
    m_map->setCoordinateZoom(centered.first, m_zoom);
}

void QMapboxGLWrapper::AdjustSizeAndPosition() {
    Trace("Apply::AdjustSizeAndPosition");
    m_renderSize = m_requestedSize.scaled(kMinimumWorldRenderSize, kMinimumWorldRenderSize,
                                          Qt::KeepAspectRatioByExpanding);
    m_map->resize(m_renderSize);
    QMapboxGL::Coordinate northEast(m_northEast.second, m_northEast.first);
    const QMapboxGL::CoordinateZoom centered = m_map->coordinateZoomForBounds(
        QMapboxGL::Coordinate(m_southWest.second, m_southWest.first), northEast);
    m_center = {centered.first.second, centered.first.first};
    m_zoom = centered.second;
    m_map->setCoordinateZoom(centered.first, m_zoom);
}

void QMapboxGLWrapper::UpdateLayers(bool reparse) {
    Trace(reparse ? "UpdateLayers reparse" : "UpdateLayers normal");
    if (reparse) {
        auto style = std::make_unique<Style>();
        Json::Parse(m_map->styleJson().toUtf8(), style->document);
        if (const rapidjson::Value* layers = style->Layers()) {
            for (const rapidjson::Value& layer : layers->GetArray()) {
                const TString id = Json::FindString(layer, "id");
                if (!id.isEmpty()) {
                    style->layerIds.push_back(id);
                }
            }
        }
        m_style = std::move(style);
        m_language.clear();
        m_regionCode.clear();
        m_dataSourceUrl.clear();
        Q_EMIT ReportLanguage(std::string());
        Q_EMIT ReportLocale(std::string());
    }
    UpdateDataLayer();
    UpdateVisibility();
    UpdateLocaleProperties();
}

void QMapboxGLWrapper::UpdateVisibility() {
    if (m_requestedLayers->GetLayers().empty()) {
        return;
    }
    const QString visibility = QStringLiteral("visibility");
    const auto apply = [&](const QString& id) {
        m_map->setLayoutProperty(id, visibility,
                                 m_requestedNames.contains(id) ? QStringLiteral("visible")
                                                               : QStringLiteral("none"));
    };
    for (const QString& id : m_style->layerIds) {
        apply(id);
    }
    if (m_map->layerExists(QLatin1String(kDataLayerId))) {
        apply(QLatin1String(kDataLayerId));
    }
}

void QMapboxGLWrapper::UpdateDataLayer() {
    const std::vector<MapLayer>& layers = m_requestedLayers->GetLayers();
    const auto data = std::find_if(layers.begin(), layers.end(), [](const MapLayer& layer) {
        return layer.GetAttribute(MapLayer::attrType) == TStr(MapLayer::valueData);
    });
    if (data == layers.end()) {
        RemoveDataLayer();
        return;
    }
    const TString source = data->GetAttribute(MapLayer::attrRequestString);
    const TString color = data->GetAttribute(MapLayer::attrPaintColor);
    if (source.isEmpty() || color.isEmpty()) {
        m_dataSourceUrl.clear();
        RemoveDataLayer();
        return;
    }
    const QString id = QLatin1String(kDataLayerId);
    if (source != m_dataSourceUrl || !m_map->layerExists(id)) {
        RemoveDataLayer();
        AddDataLayer(*data);
        m_dataSourceUrl = source;
    }
    m_map->setPaintProperty(id, QStringLiteral("fill-color"), ExpressionOf(color));
    m_map->setPaintProperty(id, QStringLiteral("fill-opacity"),
                            ExpressionOf(data->GetAttribute(MapLayer::attrPaintOpacity)));
}

void QMapboxGLWrapper::AddDataLayer(const MapLayer& layer) {
    m_map->addSource(
        QLatin1String(kDataSourceId),
        QVariantMap{{QStringLiteral("type"), QStringLiteral("vector")},
                    {QStringLiteral("url"), layer.GetAttribute(MapLayer::attrRequestString)}});
    // Directly above the named layer; above the bottom layer when the style lacks it.
    const std::vector<QString>& ids = m_style->layerIds;
    const auto above =
        std::find(ids.begin(), ids.end(), layer.GetAttribute(MapLayer::attrInsertAbove));
    const auto before =
        above == ids.end() ? (ids.size() > 1 ? ids.begin() + 1 : ids.end()) : std::next(above);
    m_map->addLayer(QVariantMap{{QStringLiteral("id"), QLatin1String(kDataLayerId)},
                                {QStringLiteral("type"), QStringLiteral("fill")},
                                {QStringLiteral("source"), QLatin1String(kDataSourceId)},
                                {QStringLiteral("source-layer"),
                                 layer.GetAttribute(MapLayer::attrSourceLayer)}},
                    before == ids.end() ? QString() : *before);
}

void QMapboxGLWrapper::RemoveDataLayer() {
    if (m_map->layerExists(QLatin1String(kDataLayerId))) {
        m_map->removeLayer(QLatin1String(kDataLayerId));
    }
    if (m_map->sourceExists(QLatin1String(kDataSourceId))) {
        m_map->removeSource(QLatin1String(kDataSourceId));
    }
}

void QMapboxGLWrapper::UpdateLocaleProperties() {
    const rapidjson::Value* styleLayers = m_style->Layers();
    if (m_requestedLayers->GetLayers().empty() || styleLayers == nullptr || styleLayers->Empty()) {
        return;
    }
    const MapLayer& first = m_requestedLayers->GetLayers().front();
    const TString language = first.GetAttribute(MapLayer::attrLanguage);
    const TString regionCode = first.GetAttribute(MapLayer::attrRegionCode);
    if (language == m_language && regionCode == m_regionCode) {
        return;
    }
    for (const rapidjson::Value& layer : styleLayers->GetArray()) {
        const TString id = Json::FindString(layer, "id");
        if (id.isEmpty()) {
            continue;
        }
        const rapidjson::Value* layout = Json::Find(layer, "layout");
        const rapidjson::Value* textField =
            layout != nullptr ? Json::Find(*layout, "text-field") : nullptr;
        if (textField != nullptr && !language.isEmpty()) {
            QVariant value = Json::ToVariant(*textField);
            if (ReplacePlaceholder(value, QLatin1String(kLanguagePlaceholder), language)) {
                m_map->setLayoutProperty(id, QStringLiteral("text-field"), value);
            }
        }
        const rapidjson::Value* filter = Json::Find(layer, "filter");
        if (filter != nullptr && !regionCode.isEmpty()) {
            QVariant value = Json::ToVariant(*filter);
            if (ReplacePlaceholder(value, QLatin1String(kRegionPlaceholder), regionCode)) {
                m_map->setFilter(id, value);
            }
        }
    }
    m_language = language;
    m_regionCode = regionCode;
    Q_EMIT ReportLanguage(ToUtf8(m_language));
    Q_EMIT ReportLocale(ToUtf8(m_regionCode));
}

void QMapboxGLWrapper::BindRenderThread() {
    const std::thread::id current = std::this_thread::get_id();
    if (m_renderThreadId == std::thread::id()) {
        m_renderThreadId = current;
    } else if (m_renderThreadId != current) {
        throw std::runtime_error(kRenderThreadViolation);
    }
}

QImage QMapboxGLWrapper::RenderToImage() {
    BindRenderThread();
    if (m_styleLoaded && !m_style) {
        // The style finished loading after the last Apply.
        UpdateLayers(true);
    }
    QImage image;
    RenderStep(image);
    image.setDevicePixelRatio(m_pixelRatio);
    if (m_timedOut && !image.isNull()) {
        DrawTimeout(image);
    }
    if (m_renderSize != m_requestedSize && !image.isNull()) {
        image = image.scaled(m_requestedSize * m_pixelRatio, Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
        image.setDevicePixelRatio(m_pixelRatio);
    }
    return image;
}

void QMapboxGLWrapper::RenderStep(QImage& image) {
    Trace("RenderToImage");
    const RestoreCurrentContext restore;
    const QSize pixels = m_renderSize * m_pixelRatio;
    if (pixels.isEmpty()) {
        return;
    }
    if (!PrepareContext()) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("QMapboxGLWrapper: Preparing context for mapbox gl "
                                        "rendering failed. Map will not be rendered."));
        return;
    }
    if (!PrepareFramebuffer(pixels)) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("QMapboxGLWrapper: Preparing framebuffer for mapbox gl "
                                        "rendering failed. Map will not be rendered."));
        m_context->doneCurrent();
        return;
    }
    m_context->functions()->glViewport(0, 0, pixels.width(), pixels.height());
    const bool firstRenderer = !m_hasRenderer;
    m_map->createRenderer();
    m_hasRenderer = true;
    m_map->setFramebufferObject(m_framebuffer->handle(), pixels);
    if (firstRenderer && m_mode == Immediate) {
        // A continuous map tells only a renderer that it needs drawing; what it asked before
        // this one existed is lost, so it is asked again.
        m_map->setCoordinateZoom(m_map->coordinate(), m_map->zoom());
    }
    m_timedOut = false;
    if (!m_styleFailed) {
        m_errorMsg.clear();
    }
    if (m_mode == Immediate) {
        Trace("RenderToImage::Immediate::Start");
        m_map->render();
        Trace("RenderToImage::Immediate::End");
    } else {
        RenderStatic();
    }
    m_framebuffer->release();
    image = m_framebuffer->toImage();
    m_context->doneCurrent();
}

void QMapboxGLWrapper::RenderStatic() {
    Trace("RenderToImage::Deferred::Start");
    const QSize pixels = m_framebuffer->size();
    QEventLoop loop;
    connect(m_map.get(), &QMapboxGL::needsRendering, &loop, [&] {
        Trace("NeedsRendering::Deferred");
        m_context->functions()->glViewport(0, 0, pixels.width(), pixels.height());
        m_map->render();
    });
    connect(m_map.get(), &QMapboxGL::staticRenderFinished, &loop, [&](const QString& error) {
        Trace("RenderToImage::Deferred::StaticRenderFinished");
        if (!error.isEmpty()) {
            m_errorMsg = QStringLiteral("QMapboxGLWrapper::StaticRenderFailure: %1").arg(error);
            TLog::LogMessage(TLog::Severity::Warn, m_errorMsg);
        }
        loop.quit();
    });
    // A style that cannot load never finishes its static render.
    connect(m_map.get(), &QMapboxGL::mapLoadingFailed, &loop, [&] { loop.quit(); });
    QTimer timeout;
    const long long seconds = Options::GetInt(QLatin1String(kTimeoutOption));
    if (seconds >= 1) {
        timeout.setSingleShot(true);
        connect(&timeout, &QTimer::timeout, &loop, [&] {
            Trace("RenderToImage::Deferred::Timeout");
            TLog::LogMessage(TLog::Severity::Warn,
                             QStringLiteral("QMapboxGL: rendering timed out"));
            m_timedOut = true;
            loop.quit();
        });
        timeout.start(static_cast<int>(seconds * kMillisecondsPerSecond));
    } else {
        Trace("RenderToImage::Deferred::Timeout disabled!");
    }
    QTimer::singleShot(0, &loop, [this] { m_map->startStaticRender(); });
    // A style that failed to load never finishes a static render.
    if (!m_styleFailed) {
        loop.exec();
    }
    Trace("RenderToImage::Deferred::End");
}

bool QMapboxGLWrapper::PrepareContext() {
    const std::shared_ptr<QOffscreenSurface> surface = SharedSurface();
    if (!surface) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("QMapboxGLWrapper: Offscreen surface was not created. "
                                        "OpenGL operations will not be attempted."));
        return false;
    }
    if (!m_context) {
        auto context = std::make_unique<QOpenGLContext>();
        context->setFormat(surface->format());
        if (!context->create()) {
            TLog::LogMessage(TLog::Severity::Warn,
                             QStringLiteral("Exception thrown when attempting to prepare GL "
                                            "context for QMapboxGLWrapper: '%1'")
                                 .arg(QStringLiteral("unable to create context")));
            return false;
        }
        m_context = std::move(context);
    }
    if (!m_context->makeCurrent(surface.get())) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("Exception thrown when attempting to make GL context "
                                        "current for QMapboxGLWrapper: '%1'")
                             .arg(QStringLiteral("unable to make context current")));
        return false;
    }
    return true;
}

bool QMapboxGLWrapper::PrepareFramebuffer(const QSize& size) {
    if (m_framebuffer && m_framebuffer->size() != size) {
        m_framebuffer.reset();
    }
    if (!m_framebuffer) {
        m_framebuffer = std::make_unique<QOpenGLFramebufferObject>(
            size, QOpenGLFramebufferObject::CombinedDepthStencil);
    }
    if (!m_framebuffer->isValid() || !m_framebuffer->bind()) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("Exception thrown when attempting to prepare framebuffer "
                                        "for QMapboxGLWrapper: '%1'")
                             .arg(QStringLiteral("the framebuffer is not valid")));
        m_framebuffer.reset();
        return false;
    }
    return true;
}

void QMapboxGLWrapper::Cleanup() {
    if (m_renderThreadId != std::thread::id()) {
        BindRenderThread();
        Trace("Cleanup");
        const RestoreCurrentContext restore;
        const std::shared_ptr<QOffscreenSurface> surface = SharedSurface();
        if (m_context) {
            if (surface && m_context->makeCurrent(surface.get())) {
                m_map->destroyRenderer();
                m_hasRenderer = false;
                m_context->doneCurrent();
            } else {
                TLog::LogMessage(TLog::Severity::Warn,
                                 QStringLiteral("QMapboxGLWrapper: Could not make context current "
                                                "in Cleanup. Renderer will not be destroyed"));
                m_safeToDelete = false;
            }
        }
    }
    m_renderThreadId = std::thread::id();
}

namespace WrapMapUtil {

int OffsetPointClosestToPoint(QPoint& point, const QPoint& target, const QRect& world) {
    const int width = world.width();
    if (world.isEmpty()) {
        return 0;
    }
    const auto turns = static_cast<int>(
        std::floor((target.x() - point.x() + width / 2.0) / static_cast<double>(width)));
    point.rx() += turns * width;
    return turns;
}

int OffsetPointIntoWorldBoundary(QPoint& point, const QRect& world) {
    if (world.isEmpty()) {
        return 0;
    }
    const int width = world.width();
    int turns = 0;
    while (point.x() < world.left()) {
        point.rx() += width;
        ++turns;
    }
    while (point.x() > world.right()) {
        point.rx() -= width;
        --turns;
    }
    return turns;
}

int OffsetRectIntoWorldBoundary(QRect& rect, const QRect& world) {
    QPoint center(rect.center());
    const int turns = OffsetPointIntoWorldBoundary(center, world);
    rect.translate(turns * world.width(), 0);
    return turns;
}

} // namespace WrapMapUtil
