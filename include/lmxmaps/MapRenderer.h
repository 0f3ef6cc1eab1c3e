#pragma once
// Drawing a vector map view: the host describes each view (MapSceneSpec), hands it to a renderer
// with Update and asks the renderer to paint into a QPainter with Render. A renderer keeps the
// last image it made and paints from it until the scene changes or the map reports new data.
//
// Update, Render and IsUsable of one renderer are serialised by its own recursive lock; when
// the renderer was given a change callback, or the OpenGL implementation is ANGLE, the host's
// OpenGL mutex is taken before it.

#include <QRect>
#include <QRectF>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include <lmxmaps/MapQuery.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/host/DataValue.h>

class QPainter;

struct MapSceneSpec {
    // The host's version of the view model.
    std::uint32_t modelToken = 0;
    // The view (style name, layers, domain box, pixel size); null: nothing to draw.
    MapQueryPtr query;
    // The part of the domain the pane shows.
    DataValueRect visibleDomainBounds;
    SpatialProjectorPtr projector;
    float pixelRatio = 1.0f;
    // 0 to 1: white laid over the map (1 hides it).
    float washOpacity = 0.0f;
};

class MapRenderer {
public:
    using ChangeCallback = std::function<void()>;

    explicit MapRenderer(ChangeCallback onChange);
    virtual ~MapRenderer();
    MapRenderer(const MapRenderer&) = delete;
    MapRenderer& operator=(const MapRenderer&) = delete;

    // Once, on the GUI thread, before the first render: prepares off-screen OpenGL and finds
    // out whether it is ANGLE. Failures are logged; rendering then may fail later.
    static void Initialize();
    static bool IsAngle();

    void Update(const MapSceneSpec& scene);
    // Paints the view into target; a non-null clip (in domain units) limits what is drawn.
    // Throws std::runtime_error when the map failed to render (the last image stays).
    void Render(QPainter& painter, const QRect& target, const QRectF& clip);
    // Whether the renderer can draw this scene (same service and pixel ratio).
    bool IsUsable(const MapSceneSpec& scene) const;

    std::uint32_t GetRendererToken() const { return m_rendererToken; }
    std::uint32_t GetModelToken() const { return m_modelToken; }
    // Grows by one with every Render.
    std::uint32_t GetRequestToken() const { return m_requestToken; }

protected:
    void InvokeCallback();

    virtual void OnUpdate(const MapSceneSpec& scene) = 0;
    virtual void OnRender(QPainter& painter, const QRect& target, const QRectF& clip) = 0;
    virtual bool OnIsUsable(const MapSceneSpec& scene) const = 0;

private:
    mutable std::recursive_mutex m_renderLock;
    ChangeCallback m_onChange;
    bool m_useOpenGLMutex;
    std::uint32_t m_rendererToken;
    std::atomic<std::uint32_t> m_modelToken{0};
    std::atomic<std::uint32_t> m_requestToken{0};
};
