#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <list>
#include <mutex>
#include <stdexcept>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MapboxVectorConnection.h>
#include <lmxmaps/MapboxVectorRenderer.h>
#include <lmxmaps/MapsTelemetry.h>
#include <lmxmaps/QMapboxGLWrapper.h>
#include <lmxmaps/host/AppConfig.h>
#include <lmxmaps/host/AsyncTask.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/QtAsyncRunnable.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/Tracing.h>
#include <lmxmaps/host/net/TUrl.h>

namespace {

constexpr const char* kDeferredOnlyOption = "QMapboxGLDeferredOnly";
constexpr const char* kForceNoConnectionOption = "ForceNoConnectionMap";
constexpr const char* kMapInfoOption = "MapInfoIndicator";
constexpr const char* kDumpFramesOption = "DumpMapFrames";
constexpr const char* kDumpFramesPathOption = "DumpMapFramesPath";
constexpr const char* kDefaultDumpSubdirectory = "Logs/Map";
// Refused at once, and never leaves the machine.
constexpr const char* kUnreachableApiBaseUrl = "http://127.0.0.1:1";
constexpr const char* kOverlayFont = "Arial";
constexpr int kOverlayPointSize = 8;
constexpr int kDumpInset = 3;
constexpr int kMaxAlpha = 255;

struct RetirementList {
    std::mutex mutex;
    std::list<std::unique_ptr<QMapboxGLWrapper>> wrappers;
};

RetirementList& Retired() {
    static RetirementList list;
    return list;
}

// Cleans up and deletes the wrapper when the calling thread may; otherwise hands it back.
std::unique_ptr<QMapboxGLWrapper> TryRetire(std::unique_ptr<QMapboxGLWrapper> wrapper) {
    const std::thread::id current = std::this_thread::get_id();
    try {
        if (wrapper->GetRenderThreadId() == current) {
            wrapper->Cleanup();
        }
        if (wrapper->GetCreateThreadId() != current ||
            wrapper->GetRenderThreadId() != std::thread::id()) {
            return wrapper;
        }
        if (wrapper->IsSafeToDelete()) {
            wrapper.reset();
        } else {
            TLog::LogMessage(TLog::Severity::Warn,
                             QStringLiteral("A QMapboxGLWrapper did not clean up successfully; "
                                            "leaking the object"));
            (void)wrapper.release();
        }
    } catch (const std::exception& e) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("Failed to cleanup a QMapboxGLWrapper due to '%1'; leaking "
                                        "the object")
                             .arg(QString::fromUtf8(e.what())));
        (void)wrapper.release();
    }
    return nullptr;
}

void Retire(std::unique_ptr<QMapboxGLWrapper> wrapper) {
    if (auto waiting = TryRetire(std::move(wrapper))) {
        RetirementList& list = Retired();
        std::lock_guard lock(list.mutex);
        list.wrappers.push_back(std::move(waiting));
    }
}

// The API base URL QMapboxGL resolves mapbox:// addresses against: the source's server.
TString ApiBaseUrl(const MapboxVectorConnection& connection) {
    if (Options::GetBool(QLatin1String(kForceNoConnectionOption))) {
        return QLatin1String(kUnreachableApiBaseUrl);
    }
    TString server = connection.GetAttribute(MapProvider::attrServer);
    if (!server.contains(QStringLiteral("://"))) {
        server = QStringLiteral("https://") + server;
    }
    QUrl url(server);
    bool portOk = false;
    const int port = connection.GetAttribute(MapProvider::attrPort).toInt(&portOk);
    if (portOk) {
        url.setPort(port == TUrl(server).GetPort() ? -1 : port);
    }
    return url.toDisplayString(QUrl::StripTrailingSlash);
}

std::unique_ptr<QMapboxGLWrapper> CreateWrapper(QMapboxGLWrapper::Mode mode,
                                                const RefCntPtr<MapboxVectorConnection>& connection,
                                                float pixelRatio) {
    return std::make_unique<QMapboxGLWrapper>(
        mode, [connection](const TString& style) { return connection->GetStyleJson(style); },
        connection->GetAccessToken(), ApiBaseUrl(*connection), pixelRatio);
}

// The domain rectangle of four values in their stored order (min x, max x, min y, max y):
// top-left (min x, max y), so that its height is negative and y points up.
QRectF DomainRect(const DataValueRect& rect) {
    return QRectF(QPointF(rect.MinX().GetReal(), rect.MaxY().GetReal()),
                  QPointF(rect.MaxX().GetReal(), rect.MinY().GetReal()));
}

QString PointText(double x, double y) {
    return QStringLiteral("%1 : %2").arg(x).arg(y);
}

QString RectText(const QRectF& rect) {
    return PointText(rect.left(), rect.top()) + QStringLiteral(" / ") +
           PointText(rect.right(), rect.bottom());
}

void DrawLines(QPainter& painter, const QRect& area, const QStringList& lines,
               const QColor& color) {
    QFont font{QString::fromLatin1(kOverlayFont)};
    font.setPointSize(kOverlayPointSize);
    painter.save();
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop, lines.join(u'\n'));
    painter.restore();
}

// Runs a deferred render on a pool thread: a static map made, used and retired there.
class BlockingRenderTask : public ComputeTask {
public:
    explicit BlockingRenderTask(std::function<void()> render) : m_render(std::move(render)) {}

protected:
    void ExecuteImpl() override { m_render(); }

private:
    std::function<void()> m_render;
};

} // namespace

MapboxVectorRenderer::MapboxVectorRenderer(RefCntPtr<MapboxVectorConnection> connection,
                                           const MapSceneSpec& scene, ChangeCallback onChange)
    : MapRenderer(onChange), m_connection(std::move(connection)), m_pixelRatio(scene.pixelRatio) {
    if (onChange && !Options::GetBool(QLatin1String(kDeferredOnlyOption))) {
        m_wrapper = CreateWrapper(QMapboxGLWrapper::Immediate, m_connection, scene.pixelRatio);
        QObject::connect(
            m_wrapper.get(), &QMapboxGLWrapper::DataChanged, m_wrapper.get(),
            [this] {
                m_dirty = true;
                InvokeCallback();
            },
            Qt::DirectConnection);
    }
}

MapboxVectorRenderer::~MapboxVectorRenderer() {
    if (m_wrapper) {
        QObject::disconnect(m_wrapper.get(), &QMapboxGLWrapper::DataChanged, nullptr, nullptr);
        Retire(std::move(m_wrapper));
    }
}

void MapboxVectorRenderer::Sweep() {
    RetirementList& list = Retired();
    std::lock_guard lock(list.mutex);
    for (auto it = list.wrappers.begin(); it != list.wrappers.end();) {
        if (auto waiting = TryRetire(std::move(*it))) {
            *it = std::move(waiting);
            ++it;
        } else {
            it = list.wrappers.erase(it);
        }
    }
}

std::size_t MapboxVectorRenderer::WaitingForRetirement() {
    RetirementList& list = Retired();
    std::lock_guard lock(list.mutex);
    return list.wrappers.size();
}

void MapboxVectorRenderer::OnUpdate(const MapSceneSpec& scene) {
    Sweep();
    m_washOpacity = scene.washOpacity;
    m_hasQuery = scene.query != nullptr;
    if (!m_hasQuery) {
        return;
    }
    m_dirty = true;
    const MapQuery& query = *scene.query;
    m_styleName = query.GetStyleName();
    m_styleTimestamp = m_connection->GetStyleTimestamp(m_styleName);
    m_projector = scene.projector;
    m_layers = query.GetLayers() ? query.GetLayers()->Clone() : MakeRefCnt<MapLayers>();
    m_pixelRatio = scene.pixelRatio;

    m_mapDomainRect = DomainRect(query.GetBBox());
    m_mapPixelRect =
        QRect(0, 0, static_cast<int>(query.GetWidth()), static_cast<int>(query.GetHeight()));
    m_scaleX = m_mapPixelRect.width() / m_mapDomainRect.width();
    m_scaleY = m_mapPixelRect.height() / m_mapDomainRect.height();

    m_visibleDomainRect = DomainRect(scene.visibleDomainBounds);
    m_visiblePixelRect =
        QRectF((m_visibleDomainRect.left() - m_mapDomainRect.left()) * m_scaleX,
               (m_visibleDomainRect.top() - m_mapDomainRect.top()) * m_scaleY,
               m_visibleDomainRect.width() * m_scaleX, m_visibleDomainRect.height() * m_scaleY)
            .toRect();
    if (m_wrapper) {
        DoApply(*m_wrapper);
    }
}

void MapboxVectorRenderer::DoApply(QMapboxGLWrapper& wrapper) {
    wrapper.Apply(m_styleName, m_styleTimestamp, m_layers, m_visibleDomainRect,
                  m_visiblePixelRect.size(), *m_projector);
    m_southWest = wrapper.GetSouthWestCorner();
    m_northEast = wrapper.GetNorthEastCorner();
    m_center = wrapper.GetCenter();
    m_zoom = wrapper.GetZoom();
}

void MapboxVectorRenderer::DoRender(QMapboxGLWrapper& wrapper) {
    QElapsedTimer elapsed;
    elapsed.start();
    Tracing::Activity activity(kRenderActivity);
    activity.SetAttribute("renderer-token", GetRendererToken());
    activity.SetAttribute(
        "render-mode", wrapper.GetMode() == QMapboxGLWrapper::Immediate ? "Immediate" : "Deferred");
    QImage image = wrapper.RenderToImage();
    m_lastFullyLoaded = wrapper.IsFullyLoaded();
    m_lastTimedOut = wrapper.DidTimeOut();
    activity.SetAttribute("is-fully-loaded", m_lastFullyLoaded);
    if (m_lastFullyLoaded && wrapper.GetMode() == QMapboxGLWrapper::Deferred &&
        AppConfig::IsServer()) {
        MapsTelemetry::CaptureServerRenderMapEvent(static_cast<double>(elapsed.elapsed()), m_zoom,
                                                   m_washOpacity, m_styleName, m_pixelRatio);
    }
    if (!wrapper.GetErrorMsg().isEmpty()) {
        activity.SetFailed(ToUtf8(wrapper.GetErrorMsg()));
        throw std::runtime_error(ToUtf8(wrapper.GetErrorMsg()));
    }
    m_lastImage = std::move(image);
}

bool MapboxVectorRenderer::PopulateLastRender() {
    if (m_dirty.exchange(false)) {
        if (m_wrapper) {
            DoRender(*m_wrapper);
        } else {
            auto task = MakeRefCnt<BlockingRenderTask>([this] {
                std::unique_ptr<QMapboxGLWrapper> wrapper =
                    CreateWrapper(QMapboxGLWrapper::Deferred, m_connection, m_pixelRatio);
                try {
                    DoApply(*wrapper);
                    DoRender(*wrapper);
                } catch (...) {
                    Retire(std::move(wrapper));
                    throw;
                }
                Retire(std::move(wrapper));
            });
            QtAsyncRunnable::Start(task, QLatin1String(kDeferredTaskLabel)).wait();
            task->CheckExceptions();
        }
    }
    return !m_lastImage.isNull();
}

void MapboxVectorRenderer::OnRender(QPainter& painter, const QRect& target, const QRectF& clip) {
    Sweep();
    if (m_hasQuery && m_washOpacity < 1.0f && PopulateLastRender()) {
        DrawMap(painter, target, clip);
    }
    if (m_washOpacity > 0.0f) {
        const int alpha = std::clamp(static_cast<int>(m_washOpacity * kMaxAlpha), 0, kMaxAlpha);
        painter.fillRect(target, QColor(255, 255, 255, alpha));
    }
    if (Options::GetBool(QLatin1String(kMapInfoOption))) {
        HandleMapInfoIndicator(painter, target, clip);
    }
    if (Options::GetBool(QLatin1String(kDumpFramesOption))) {
        HandleDumpMapFrames(target, clip);
    }
}

void MapboxVectorRenderer::DrawMap(QPainter& painter, const QRect& target, const QRectF& clip) {
    QRectF domain = m_visibleDomainRect.normalized();
    if (!clip.isNull()) {
        domain = domain.intersected(clip.normalized());
    }
    // Domain to map pixels: y grows down in pixels, up in the domain.
    const auto toPixels = [&](const QPointF& point) {
        return QPointF((point.x() - m_mapDomainRect.left()) * m_scaleX,
                       (point.y() - m_mapDomainRect.top()) * m_scaleY);
    };
    const QRect mapped =
        QRectF(toPixels(domain.topLeft()), toPixels(domain.bottomRight())).normalized().toRect();
    const QRect source = mapped.translated(-m_visiblePixelRect.topLeft());
    QRect destination = mapped;
    if (!clip.isNull()) {
        const QRectF clipPixels =
            QRectF(toPixels(clip.topLeft()), toPixels(clip.bottomRight())).normalized();
        destination.translate(-clipPixels.topLeft().toPoint());
    }
    destination.translate(target.topLeft());
    const qreal ratio = m_lastImage.devicePixelRatio();
    painter.drawImage(QRectF(destination), m_lastImage,
                      QRectF(QPointF(source.topLeft()) * ratio, QSizeF(source.size()) * ratio));
}

bool MapboxVectorRenderer::OnIsUsable(const MapSceneSpec& scene) const {
    if (!m_wrapper) {
        return true;
    }
    return m_connection->GetAccessToken() == m_wrapper->GetAccessToken() &&
           ApiBaseUrl(*m_connection) == m_wrapper->GetApiBaseUrl() &&
           scene.pixelRatio == m_wrapper->GetPixelRatio();
}

QStringList MapboxVectorRenderer::DescribeView(const QRect& target, const QRectF& clip) const {
    return {
        QStringLiteral("token: %1").arg(GetRequestToken()),
        QStringLiteral("cz: %1").arg(m_zoom),
        QStringLiteral("sw-ne: ") + PointText(m_southWest.first, m_southWest.second) +
            QStringLiteral(" / ") + PointText(m_northEast.first, m_northEast.second),
        QStringLiteral("drawRect: ") + RectText(QRectF(target)),
        QStringLiteral("mapPixelBounds: ") + RectText(QRectF(m_mapPixelRect)),
        QStringLiteral("panePixelBounds: ") + RectText(QRectF(m_visiblePixelRect)),
        QStringLiteral("visibleDomainBounds: ") + RectText(m_visibleDomainRect),
        QStringLiteral("mapDomainBounds: ") + RectText(m_mapDomainRect),
        QStringLiteral("paneDomainBounds: ") + RectText(clip),
    };
}

void MapboxVectorRenderer::HandleMapInfoIndicator(QPainter& painter, const QRect& target,
                                                  const QRectF& clip) {
    painter.save();
    painter.setPen(Qt::black);
    painter.drawRect(target.adjusted(0, 0, -1, -1));
    painter.restore();
    DrawLines(painter, target, DescribeView(target, clip), m_hasQuery ? Qt::red : Qt::black);
}

void MapboxVectorRenderer::HandleDumpMapFrames(const QRect& target, const QRectF& clip) {
    if (m_lastImage.isNull()) {
        return;
    }
    QImage frame = m_lastImage.copy();
    {
        QPainter painter(&frame);
        const QRect area = QRect(QPoint(0, 0), frame.size() / frame.devicePixelRatio())
                               .adjusted(kDumpInset, kDumpInset, -kDumpInset, -kDumpInset);
        DrawLines(painter, area, DescribeView(target, clip), Qt::red);
    }
    TString directory = Options::GetString(QLatin1String(kDumpFramesPathOption)).trimmed();
    if (directory.isEmpty()) {
        directory = QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                        .filePath(QLatin1String(kDefaultDumpSubdirectory));
    }
    QDir().mkpath(directory);
    frame.save(QDir(directory).filePath(QStringLiteral("%1.jpg").arg(GetRequestToken())));
}
