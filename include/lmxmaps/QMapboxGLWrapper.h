#pragma once
// A QMapboxGL map that draws off screen, with an OpenGL context and framebuffer of its own. Fed
// a style, the layers a view wants, a region and an output size, it produces a QImage.
// It hides the style's layers the view does not ask for, adds the view's demographic data
// layer as a fill layer above the style layer the style names, and puts the user's language
// and region into label texts and filters.
//
// Thread rules: a wrapper renders (and is cleaned up) on one thread only, the first that
// renders; a call from another thread throws std::runtime_error "render thread affinity
// violated". It must be deleted on the thread that made it, after Cleanup() on its render
// thread. Immediate mode keeps a continuous map that renders what it has at once (DataChanged
// tells when more arrived; the creating thread's event loop must run for that); Deferred mode
// renders a static map through a local event loop until the map is complete or
// "MapboxVectorRenderTimeoutSecs" pass, and then draws "Timeout!" over the image.

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QRectF>
#include <QSet>
#include <QSize>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <lmxmaps/MapLayers.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/host/TString.h>

class QMapboxGL;
class QOpenGLContext;
class QOpenGLFramebufferObject;

class QMapboxGLWrapper : public QObject {
    Q_OBJECT

public:
    enum Mode { Immediate = 0, Deferred = 1 };

    using StyleJsonSource = std::function<TString(const TString& styleName)>;
    // (longitude, latitude)
    using LonLat = std::pair<double, double>;

    static constexpr const char* kDataSourceId = "lumivex-data-source";
    static constexpr const char* kDataLayerId = "lumivex-data-layer";
    static constexpr const char* kLanguagePlaceholder = "lumivex_language";
    static constexpr const char* kRegionPlaceholder = "lumivex_mapcode";
    // Views smaller than this (in pixels, at zoom 0 or less) are rendered at this height.
    static constexpr int kMinimumWorldRenderSize = 512;

    QMapboxGLWrapper(Mode mode, StyleJsonSource styleJsonSource, TString accessToken,
                     TString apiBaseUrl, float pixelRatio);
    // On the creating thread only (a logic error elsewhere).
    ~QMapboxGLWrapper() override;
    QMapboxGLWrapper(const QMapboxGLWrapper&) = delete;
    QMapboxGLWrapper& operator=(const QMapboxGLWrapper&) = delete;

    // Makes the off-screen surface all wrappers render on; once, on the GUI thread, before the
    // first render. Throws std::runtime_error when no OpenGL context can be made current on it.
    static void Initialize();

    // Sets what the next render shows: the style (its JSON is set again only when the timestamp
    // changed and the text differs), the requested layers, the domain rectangle (x to the
    // right, y up: top-left is (min x, max y)) in the projector's plane, and the size in pixels.
    void Apply(const TString& styleName, const QDateTime& styleTimestamp,
               const RefCntPtr<MapLayers>& layers, const QRectF& rect, const QSize& size,
               const SpatialProjector& projector);
    // The map as it is now, of the requested size times the pixel ratio; empty when OpenGL
    // failed (after a Warn line).
    QImage RenderToImage();
    // Releases the map's GL resources; on the render thread (or before any render).
    void Cleanup();

    bool IsFullyLoaded() const;
    bool IsSafeToDelete() const { return m_safeToDelete; }
    bool DidTimeOut() const { return m_timedOut; }

    Mode GetMode() const { return m_mode; }
    const TString& GetAccessToken() const { return m_accessToken; }
    const TString& GetApiBaseUrl() const { return m_apiBaseUrl; }
    float GetPixelRatio() const { return m_pixelRatio; }
    // The last map loading failure, empty when there was none.
    const TString& GetErrorMsg() const { return m_errorMsg; }
    QSize GetSize() const { return m_requestedSize; }
    QRectF GetBoundingBox() const { return m_boundingBox; }
    LonLat GetSouthWestCorner() const { return m_southWest; }
    LonLat GetNorthEastCorner() const { return m_northEast; }
    LonLat GetCenter() const { return m_center; }
    double GetZoom() const { return m_zoom; }
    RefCntPtr<MapLayers> GetRequestedLayers() const { return m_requestedLayers; }
    std::thread::id GetCreateThreadId() const { return m_createThreadId; }
    // A default id while no thread has rendered.
    std::thread::id GetRenderThreadId() const { return m_renderThreadId; }

Q_SIGNALS:
    void DataChanged();
    void ReportLanguage(std::string language);
    void ReportLocale(std::string locale);

private:
    struct Style;

    void Trace(const char* step) const;
    void OnMapChanged(int change);
    void OnMapLoadingFailed(int failure, const QString& message);
    void Position(const SpatialProjector& projector);
    void AdjustSizeAndPosition();
    void UpdateLayers(bool reparse);
    void UpdateDataLayer();
    void UpdateVisibility();
    void UpdateLocaleProperties();
    void AddDataLayer(const MapLayer& layer);
    void RemoveDataLayer();
    void RenderStep(QImage& image);
    bool PrepareContext();
    bool PrepareFramebuffer(const QSize& size);
    void RenderStatic();
    void BindRenderThread();

    std::unique_ptr<QMapboxGL> m_map;
    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOpenGLFramebufferObject> m_framebuffer;
    Mode m_mode;
    StyleJsonSource m_styleJsonSource;
    TString m_accessToken;
    TString m_apiBaseUrl;
    float m_pixelRatio;
    QDateTime m_styleTimestamp;
    TString m_language;
    TString m_regionCode;
    TString m_dataSourceUrl;
    std::unique_ptr<Style> m_style;
    RefCntPtr<MapLayers> m_requestedLayers;
    QSet<QString> m_requestedNames;
    QSize m_requestedSize;
    QSize m_renderSize;
    QRectF m_boundingBox;
    LonLat m_southWest{0.0, 0.0};
    LonLat m_northEast{0.0, 0.0};
    LonLat m_center{0.0, 0.0};
    double m_zoom = 0.0;
    std::thread::id m_createThreadId;
    std::thread::id m_renderThreadId;
    TString m_errorMsg;
    std::atomic<bool> m_styleLoaded{false};
    // The style now set failed to load; it will not render.
    bool m_styleFailed = false;
    bool m_safeToDelete = true;
    bool m_hasRenderer = false;
    bool m_timedOut = false;
};

// Moving points and rectangles of a wrapped map by whole world widths. Each returns how many
// world widths it moved (0, and nothing moved, for an empty world).
namespace WrapMapUtil {

int OffsetPointClosestToPoint(QPoint& point, const QPoint& target, const QRect& world);
int OffsetPointIntoWorldBoundary(QPoint& point, const QRect& world);
int OffsetRectIntoWorldBoundary(QRect& rect, const QRect& world);

} // namespace WrapMapUtil
