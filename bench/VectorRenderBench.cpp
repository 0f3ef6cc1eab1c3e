// A warm static render of the fixture's vector style at 512 and 1024 pixels through
// MapboxVectorRenderer (deferred: a pooled task makes, uses and retires a map each time), beside
// a bare QMapboxGL static render of the same style and view doing the same work (a new map,
// context and framebuffer, one static render, the image read back) in the same process. The
// medians of repeated runs give the ratio; the process's peak resident memory is reported.

#include <QEventLoop>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <sys/resource.h>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MapRenderer.h>
#include <lmxmaps/MapboxVectorConnection.h>
#include <lmxmaps/host/HeadlessDisplay.h>
#include <lmxmaps/host/Options.h>

#include "ViewBenchSupport.h"
#include "render/QMapboxGLDeclaration.h"

namespace {

constexpr int kRuns = 21;
constexpr double kRatioTarget = 1.2;
constexpr double kEarthRadius = 6378137.0;
constexpr const char* kStyle = "Light";
constexpr int kKilobytesPerMegabyte = 1024;

double MercatorY(double lat) {
    return std::log(std::tan(std::numbers::pi / 4.0 + lat * std::numbers::pi / 360.0)) *
           kEarthRadius;
}

double MercatorX(double lon) {
    return lon * std::numbers::pi / 180.0 * kEarthRadius;
}

// Europe, square.
DataValueRect View() {
    const double west = MercatorX(-10);
    const double east = MercatorX(30);
    const double south = MercatorY(35);
    return DataValueRect(DataValue::Real(west), DataValue::Real(east), DataValue::Real(south),
                         DataValue::Real(south + (east - west)));
}

QImage RenderThroughRenderer(MapProvider& provider, int pixels) {
    const DataValueRect view = View();
    MapSceneSpec scene;
    scene.query =
        MakeRefCnt<MapQuery>(MakeRefCnt<MapLayers>(), QStringLiteral("EPSG:3857"), view, pixels,
                             pixels, QString(), QLatin1String(kStyle), false, false);
    scene.visibleDomainBounds = view;
    scene.projector = provider.GetDefaultSpatialProjector();
    const std::shared_ptr<MapRenderer> renderer = provider.AsVector().CreateMapRenderer(scene, {});
    renderer->Update(scene);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    renderer->Render(painter, QRect(0, 0, pixels, pixels), QRectF());
    return image;
}

// What the renderer's deferred path does, with QMapboxGL alone.
QImage RenderBare(const QString& styleJson, const QString& token, const QString& apiBaseUrl,
                  QOffscreenSurface& surface, int pixels) {
    QOpenGLContext context;
    context.setFormat(surface.format());
    if (!context.create() || !context.makeCurrent(&surface)) {
        viewbench::Fail("no OpenGL context");
    }
    QMapboxGLSettings settings;
    settings.setAccessToken(token);
    settings.setApiBaseUrl(apiBaseUrl);
    settings.setContextMode(QMapboxGLSettings::SharedGLContext);
    settings.setConstrainMode(QMapboxGLSettings::NoConstrain);
    settings.setMapMode(QMapboxGLSettings::Static);
    settings.setCacheDatabasePath(QStringLiteral(":memory:"));
    const QSize size(pixels, pixels);
    QImage image;
    {
        QMapboxGL map(nullptr, settings, size, 1.0);
        map.setStyleJson(styleJson);
        const DataValueRect view = View();
        const auto lat = [](double y) {
            return (2.0 * std::atan(std::exp(y / kEarthRadius)) - std::numbers::pi / 2.0) * 180.0 /
                   std::numbers::pi;
        };
        const auto lon = [](double x) {
            return x / kEarthRadius * 180.0 / std::numbers::pi;
        };
        QMapboxGL::Coordinate northEast(lat(view.MaxY().GetReal()), lon(view.MaxX().GetReal()));
        const QMapboxGL::CoordinateZoom centered = map.coordinateZoomForBounds(
            QMapboxGL::Coordinate(lat(view.MinY().GetReal()), lon(view.MinX().GetReal())),
            northEast);
        map.setCoordinateZoom(centered.first, centered.second);
        QOpenGLFramebufferObject framebuffer(size, QOpenGLFramebufferObject::CombinedDepthStencil);
        framebuffer.bind();
        context.functions()->glViewport(0, 0, pixels, pixels);
        map.createRenderer();
        map.setFramebufferObject(framebuffer.handle(), size);
        QEventLoop loop;
        QObject::connect(&map, &QMapboxGL::needsRendering, &loop, [&] {
            context.functions()->glViewport(0, 0, pixels, pixels);
            map.render();
        });
        QObject::connect(&map, &QMapboxGL::staticRenderFinished, &loop, [&] { loop.quit(); });
        QTimer::singleShot(0, &loop, [&] { map.startStaticRender(); });
        loop.exec();
        framebuffer.release();
        image = framebuffer.toImage();
        map.destroyRenderer();
    }
    context.doneCurrent();
    return image;
}

// Both renders alternately, so that a change in the machine's load falls on both alike; the
// medians in milliseconds.
template <class First, class Second>
std::pair<double, double> AlternatingMediansMs(First&& first, Second&& second) {
    std::vector<double> firstMs;
    std::vector<double> secondMs;
    for (int run = 0; run < kRuns; ++run) {
        auto start = viewbench::Clock::now();
        first();
        firstMs.push_back(viewbench::Ms(viewbench::Clock::now() - start));
        start = viewbench::Clock::now();
        second();
        secondMs.push_back(viewbench::Ms(viewbench::Clock::now() - start));
    }
    return {viewbench::Median(std::move(firstMs)), viewbench::Median(std::move(secondMs))};
}

} // namespace

int main(int argc, char** argv) {
    TString error;
    if (!HeadlessDisplay::EnsureDisplay(error)) {
        viewbench::Fail(ToUtf8(error));
    }
    int qtArgc = 1;
    QGuiApplication application(qtArgc, argv);
    (void)argc;
    qputenv("LMX_MAPBOX_FIXTURE", LMX_MAPBOX_FIXTURE);
    viewbench::LoopbackServers servers(QStringLiteral("lmx-vector-bench"));
    QTemporaryDir caches;
    Options::Set(QStringLiteral("ExternalCacheDirectory"), caches.path());
    MapRenderer::Initialize();

    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(servers.MapboxPort());
    const std::shared_ptr<MapProvider> provider = MapProvider::Create(
        {{QStringLiteral("class"), QStringLiteral("MapboxVector")},
         {QStringLiteral("server"), QStringLiteral("http://127.0.0.1")},
         {QStringLiteral("port"), QString::number(servers.MapboxPort())},
         {QStringLiteral("url"), QStringLiteral("styles/v1")},
         {QStringLiteral("data-url"), QStringLiteral("v4")},
         {QStringLiteral("params-url"), origin + QStringLiteral("/params/lumivex.json")}});
    const auto connection = RefCntDynamicCast<MapboxVectorConnection>(provider->Connect());
    const QString styleJson = connection->GetStyleJson(QLatin1String(kStyle));
    const QString token = connection->GetAccessToken();
    QOffscreenSurface surface;
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setVersion(2, 0);
    format.setProfile(QSurfaceFormat::NoProfile);
    surface.setFormat(format);
    surface.create();

    std::printf("%-8s %14s %14s %8s   target <= %.1f\n", "pixels", "renderer ms", "QMapboxGL ms",
                "ratio", kRatioTarget);
    for (const int pixels : {512, 1024}) {
        // Warm both: shaders compiled, tiles of the view fetched once.
        if (RenderThroughRenderer(*provider, pixels).isNull() ||
            RenderBare(styleJson, token, origin, surface, pixels).isNull()) {
            viewbench::Fail("a render gave no image");
        }
        const auto [renderer, bare] =
            AlternatingMediansMs([&] { RenderThroughRenderer(*provider, pixels); },
                                 [&] { RenderBare(styleJson, token, origin, surface, pixels); });
        const double ratio = renderer / bare;
        std::printf("%-8d %14.1f %14.1f %8.2f   %s\n", pixels, renderer, bare, ratio,
                    ratio <= kRatioTarget ? "met" : "NOT MET");
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory: %ld MB\n", usage.ru_maxrss / kKilobytesPerMegabyte);
    return 0;
}
