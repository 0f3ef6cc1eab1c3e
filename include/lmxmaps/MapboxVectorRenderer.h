#pragma once
// Renders Mapbox vector sources with an off-screen QMapboxGLWrapper, using the style and token
// of the source's connection.
//
// Two modes. Immediate (a change callback was given and "QMapboxGLDeferredOnly" is off): one
// continuous map, created on the constructing thread, drawn on the caller's thread; the
// callback reports newly arrived map data. Deferred (every other case): each render is a task
// on Qt's global thread pool that the caller waits for, with a static map that lives and dies
// on that pool thread.
//
// Maps are cleaned up and deleted only on their own threads: one that cannot be on the current
// thread waits in a process-wide retirement list until Sweep() runs on the right one (every
// Update and Render sweeps).

#include <QDateTime>
#include <QImage>
#include <atomic>
#include <memory>

#include <lmxmaps/MapRenderer.h>

class MapboxVectorConnection;
class QMapboxGLWrapper;

class MapboxVectorRenderer : public MapRenderer {
public:
    static constexpr const char* kRenderActivity = "mapbox-vector-renderer.do-render";
    static constexpr const char* kDeferredTaskLabel = "mapbox-vector-renderer.deferred";

    MapboxVectorRenderer(RefCntPtr<MapboxVectorConnection> connection, const MapSceneSpec& scene,
                         ChangeCallback onChange);
    ~MapboxVectorRenderer() override;

    const RefCntPtr<MapboxVectorConnection>& GetConnection() const { return m_connection; }
    // Whether this renderer renders on the calling thread.
    bool IsImmediate() const { return m_wrapper != nullptr; }
    // How the last render ended: complete, or cut short by the render time limit.
    bool WasLastRenderFullyLoaded() const { return m_lastFullyLoaded; }
    bool DidLastRenderTimeOut() const { return m_lastTimedOut; }

    // Retires the waiting maps that belong to the calling thread.
    static void Sweep();
    // How many maps wait for their own thread to retire them.
    static std::size_t WaitingForRetirement();

protected:
    void OnUpdate(const MapSceneSpec& scene) override;
    void OnRender(QPainter& painter, const QRect& target, const QRectF& clip) override;
    bool OnIsUsable(const MapSceneSpec& scene) const override;

private:
    void DoApply(QMapboxGLWrapper& wrapper);
    void DoRender(QMapboxGLWrapper& wrapper);
    void DrawMap(QPainter& painter, const QRect& target, const QRectF& clip);
    bool PopulateLastRender();
    void HandleMapInfoIndicator(QPainter& painter, const QRect& target, const QRectF& clip);
    void HandleDumpMapFrames(const QRect& target, const QRectF& clip);
    QStringList DescribeView(const QRect& target, const QRectF& clip) const;

    std::unique_ptr<QMapboxGLWrapper> m_wrapper;
    RefCntPtr<MapboxVectorConnection> m_connection;
    bool m_hasQuery = false;
    QImage m_lastImage;
    std::atomic<bool> m_dirty{true};
    float m_washOpacity = 0.0f;
    float m_pixelRatio = 1.0f;
    TString m_styleName;
    QDateTime m_styleTimestamp;
    SpatialProjectorPtr m_projector;
    RefCntPtr<MapLayers> m_layers;
    QRect m_mapPixelRect;
    QRectF m_mapDomainRect;
    QRect m_visiblePixelRect;
    QRectF m_visibleDomainRect;
    double m_scaleX = 1.0;
    double m_scaleY = 1.0;
    std::pair<double, double> m_southWest{0.0, 0.0};
    std::pair<double, double> m_northEast{0.0, 0.0};
    std::pair<double, double> m_center{0.0, 0.0};
    double m_zoom = 0.0;
    bool m_lastFullyLoaded = false;
    bool m_lastTimedOut = false;
};
