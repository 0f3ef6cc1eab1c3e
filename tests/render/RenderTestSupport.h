#pragma once
// Vector render tests need an X display (a private Xvfb when there is none), a QGuiApplication
// and off-screen OpenGL, made once per test process; they draw Web Mercator views of longitude
// and latitude boxes and look at the colours of places.

#include <QColor>
#include <QGuiApplication>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <numbers>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MapRenderer.h>
#include <lmxmaps/host/HeadlessDisplay.h>

namespace RenderTestSupport {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        TString error;
        ASSERT_TRUE(HeadlessDisplay::EnsureDisplay(error)) << error.toStdString();
        static int argc = 1;
        static char name[] = "lmx_render_tests";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QGuiApplication>(argc, argv);
        MapRenderer::Initialize();
    }
    void TearDown() override { m_application.reset(); }

private:
    std::unique_ptr<QGuiApplication> m_application;
};

inline ::testing::Environment* const g_guiEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

inline constexpr double kEarthRadius = 6378137.0;
inline const QColor kOcean(0xd4, 0xe4, 0xef);
inline const QColor kLand(0xf5, 0xf2, 0xea);
inline constexpr int kTolerance = 8;

struct View {
    double minX, minY, maxX, maxY;
    QSize size;
};

inline double MercatorX(double lon) {
    return lon * std::numbers::pi / 180.0 * kEarthRadius;
}

inline double MercatorY(double lat) {
    return std::log(std::tan(std::numbers::pi / 4.0 + lat * std::numbers::pi / 360.0)) *
           kEarthRadius;
}

// A view of the box as a map shows it: the height follows from the width and the box's shape.
inline View LonLatView(double west, double south, double east, double north, int width) {
    const double x = MercatorX(east) - MercatorX(west);
    const double y = MercatorY(north) - MercatorY(south);
    return {MercatorX(west), MercatorY(south), MercatorX(east), MercatorY(north),
            QSize(width, static_cast<int>(std::lround(width * y / x)))};
}

inline QPoint PixelOf(const View& view, double lon, double lat, double ratio = 1.0) {
    return QPoint(static_cast<int>((MercatorX(lon) - view.minX) / (view.maxX - view.minX) *
                                   view.size.width() * ratio),
                  static_cast<int>((view.maxY - MercatorY(lat)) / (view.maxY - view.minY) *
                                   view.size.height() * ratio));
}

inline bool Near(const QColor& actual, const QColor& expected, int tolerance = kTolerance) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

inline RefCntPtr<MapLayers> Layers(std::initializer_list<const char*> names) {
    auto layers = MakeRefCnt<MapLayers>();
    for (const char* name : names) {
        layers->GetLayers().emplace_back(
            AttributeMap{{QStringLiteral("name"), QLatin1String(name)},
                         {QStringLiteral("type"), QStringLiteral("features")}});
    }
    return layers;
}

// A scene of the view in the style "Light".
inline MapSceneSpec Scene(const MapProvider& provider, const View& view,
                          RefCntPtr<MapLayers> layers, float ratio = 1.0f) {
    const DataValueRect bbox(DataValue::Real(view.minX), DataValue::Real(view.maxX),
                             DataValue::Real(view.minY), DataValue::Real(view.maxY));
    MapSceneSpec scene;
    scene.modelToken = 7;
    scene.query = MakeRefCnt<MapQuery>(std::move(layers), QStringLiteral("EPSG:3857"), bbox,
                                       static_cast<unsigned int>(view.size.width()),
                                       static_cast<unsigned int>(view.size.height()), QString(),
                                       QStringLiteral("Light"), ratio > 1.0f, false);
    scene.visibleDomainBounds = bbox;
    scene.projector = provider.GetDefaultSpatialProjector();
    scene.pixelRatio = ratio;
    return scene;
}

} // namespace RenderTestSupport
