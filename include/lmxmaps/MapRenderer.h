#pragma once
// Vector map views. The host passes each new MapSceneSpec to Update and calls Render to paint
// into a QPainter. Render reuses the previous picture for as long as neither the scene nor the
// map's data has changed.
//
// Threads: a renderer's own recursive lock serialises Update, Render and IsUsable. Renderers
// with a change callback, and all of them on ANGLE, first take the host's OpenGL mutex.

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
    // Changes whenever the host's view model does.
    std::uint32_t modelToken = 0;
    // What to draw (style, layers, box, size in pixels); a null query draws nothing.
    MapQueryPtr query;
    // The part of the domain the pane shows.
    DataValueRect visibleDomainBounds;
    SpatialProjectorPtr projector;
    float pixelRatio = 1.0f;
    // Opacity of a white veil over the map, from 0 (none) to 1 (map invisible).
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
