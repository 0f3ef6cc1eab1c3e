#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <optional>
#include <stdexcept>

#include <lmxmaps/MapRenderer.h>
#include <lmxmaps/QMapboxGLWrapper.h>
#include <lmxmaps/host/OpenGLMutex.h>
#include <lmxmaps/host/TLog.h>

namespace {

std::atomic<bool> g_isAngle{false};
std::atomic<std::uint32_t> g_nextRendererToken{0};

// Whether the GL_RENDERER of a fresh context names ANGLE.
bool ProbeAngle() {
    std::lock_guard lock(OpenGLMutex::Get());
    QOpenGLContext* previous = QOpenGLContext::currentContext();
    QSurface* previousSurface = previous != nullptr ? previous->surface() : nullptr;
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    context.setFormat(surface.format());
    if (!context.create()) {
        throw std::runtime_error("unable to create context");
    }
    if (!context.makeCurrent(&surface)) {
        throw std::runtime_error("unable to make context current");
    }
    const auto* renderer =
        reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    const bool angle = renderer != nullptr && QByteArray(renderer).contains("ANGLE");
    context.doneCurrent();
    if (previous != nullptr) {
        previous->makeCurrent(previousSurface);
    }
    return angle;
}

} // namespace

MapRenderer::MapRenderer(ChangeCallback onChange)
    : m_onChange(std::move(onChange)), m_useOpenGLMutex(m_onChange ? true : IsAngle()),
      m_rendererToken(++g_nextRendererToken) {}

MapRenderer::~MapRenderer() = default;

void MapRenderer::Initialize() {
    try {
        if (ProbeAngle()) {
            g_isAngle = true;
            TLog::LogMessage(TLog::Severity::Info,
                             QStringLiteral("OpenGL renderer is ANGLE; MapRenderer will acquire "
                                            "OpenGLMutex"));
        }
    } catch (const std::exception& e) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("Unable to determine OpenGL renderer due to '%1'; "
                                        "MapRenderer will not acquire OpenGLMutex")
                             .arg(QString::fromUtf8(e.what())));
    }
    try {
        QMapboxGLWrapper::Initialize();
    } catch (const std::exception& e) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("Off-screen OpenGL is not available: %1")
                             .arg(QString::fromUtf8(e.what())));
    }
}

bool MapRenderer::IsAngle() {
    return g_isAngle;
}

void MapRenderer::Update(const MapSceneSpec& scene) {
    std::lock_guard lock(m_renderLock);
    m_modelToken = scene.modelToken;
    OnUpdate(scene);
}

void MapRenderer::Render(QPainter& painter, const QRect& target, const QRectF& clip) {
    std::optional<std::lock_guard<std::recursive_mutex>> openGL;
    if (m_useOpenGLMutex) {
        openGL.emplace(OpenGLMutex::Get());
    }
    std::lock_guard lock(m_renderLock);
    ++m_requestToken;
    OnRender(painter, target, clip);
}

bool MapRenderer::IsUsable(const MapSceneSpec& scene) const {
    std::lock_guard lock(m_renderLock);
    return OnIsUsable(scene);
}

void MapRenderer::InvokeCallback() {
    if (m_onChange) {
        m_onChange();
    }
}
