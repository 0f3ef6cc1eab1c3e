// What the vector map fetches itself (its style's sources and tiles) meets the network rules.

#include <QCoreApplication>
#include <QPainter>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <stdexcept>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MapboxVectorRenderer.h>
#include <lmxmaps/host/Options.h>

#include "host/OptionGuard.h"
#include "integration/IntegrationSupport.h"
#include "render/RenderTestSupport.h"

namespace {

const QColor kLand(0xf5, 0xf2, 0xea);
constexpr int kTolerance = 8;
constexpr int kWorldPixels = 512;
constexpr double kWorldEdge = 20037508.342789244;
// Brazil, Australia and the Sahara.
constexpr double kLandPlaces[][2] = {{-55, -10}, {134, -25}, {20, 20}};
constexpr auto kCompleteWithin = std::chrono::seconds(20);
constexpr int kEventSliceMs = 50;

int LandPlacesShown(const QImage& image) {
    int shown = 0;
    for (const auto& [lon, lat] : kLandPlaces) {
        const double y = std::log(std::tan(std::numbers::pi / 4 + lat * std::numbers::pi / 360));
        const QColor color =
            image.pixelColor(static_cast<int>((lon + 180) / 360 * kWorldPixels),
                             static_cast<int>((1 - y / std::numbers::pi) / 2 * kWorldPixels));
        shown += std::abs(color.red() - kLand.red()) <= kTolerance &&
                 std::abs(color.green() - kLand.green()) <= kTolerance &&
                 std::abs(color.blue() - kLand.blue()) <= kTolerance;
    }
    return shown;
}

class RenderSecurityTest : public IntegrationSupport::TestServersFixture {
protected:
    void SetUp() override {
        IntegrationSupport::TestServersFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        const QString port = QString::number(m_servers->mapboxPort);
        m_provider = MapProvider::Create(
            {{QStringLiteral("class"), QStringLiteral("MapboxVector")},
             {QStringLiteral("server"), QStringLiteral("http://127.0.0.1")},
             {QStringLiteral("port"), port},
             {QStringLiteral("url"), QStringLiteral("styles/v1")},
             {QStringLiteral("data-url"), QStringLiteral("v4")},
             {QStringLiteral("params-url"),
              QStringLiteral("http://127.0.0.1:%1/params/tests@security.json").arg(port)}});
    }

    // A renderer of the whole world, background and country fill; with a callback it draws on
    // this thread as data arrives, without one each render is a deferred one.
    std::shared_ptr<MapRenderer> WorldRenderer(std::function<void()> callback) const {
        auto layers = MakeRefCnt<MapLayers>();
        for (const char* name : {"background", "country-fill"}) {
            layers->GetLayers().emplace_back(
                AttributeMap{{QStringLiteral("name"), QLatin1String(name)},
                             {QStringLiteral("type"), QStringLiteral("features")}});
        }
        const DataValueRect bbox(DataValue::Real(-kWorldEdge), DataValue::Real(kWorldEdge),
                                 DataValue::Real(-kWorldEdge), DataValue::Real(kWorldEdge));
        MapSceneSpec scene;
        scene.query =
            MakeRefCnt<MapQuery>(layers, QStringLiteral("EPSG:3857"), bbox, kWorldPixels,
                                 kWorldPixels, QString(), QStringLiteral("Light"), false, false);
        scene.visibleDomainBounds = bbox;
        scene.projector = m_provider->GetDefaultSpatialProjector();
        std::shared_ptr<MapRenderer> renderer =
            m_provider->AsVector().CreateMapRenderer(scene, std::move(callback));
        renderer->Update(scene);
        return renderer;
    }

    // Draws until the map is complete, at most kCompleteWithin.
    static QImage Draw(MapRenderer& renderer) {
        const auto deadline = std::chrono::steady_clock::now() + kCompleteWithin;
        QImage image(kWorldPixels, kWorldPixels, QImage::Format_ARGB32);
        while (true) {
            image.fill(Qt::magenta);
            QPainter painter(&image);
            renderer.Render(painter, image.rect(), QRectF());
            if (dynamic_cast<MapboxVectorRenderer&>(renderer).WasLastRenderFullyLoaded() ||
                std::chrono::steady_clock::now() > deadline) {
                return image;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, kEventSliceMs);
        }
    }

    std::shared_ptr<MapProvider> m_provider;
};

} // namespace

TEST_F(RenderSecurityTest, TheMapFetchesNothingFromADeniedAddress) {
    // The style comes through the library's own HTTP requests, read before the rule changes.
    ASSERT_NE(m_provider->GetFeatureLayers(QStringLiteral("Light")), nullptr);
    const OptionGuard deny("ConnectionIpBlacklist");
    Options::Set(QStringLiteral("ConnectionIpBlacklist"), QStringLiteral("127.0.0.1/32"));
    // The map's own requests go nowhere, and its render fails.
    EXPECT_THROW(Draw(*WorldRenderer({})), std::runtime_error);

    Options::Set(QStringLiteral("ConnectionIpBlacklist"), std::nullopt);
    EXPECT_EQ(LandPlacesShown(Draw(*WorldRenderer({}))), 3);
}

// Maps share what fetches their data, and with it one checker of what they fetch: when the map
// made last goes, the maps made before it still fetch their tiles.
TEST_F(RenderSecurityTest, AMapStillFetchesAfterAMapMadeLaterIsGone) {
    const std::shared_ptr<MapRenderer> first = WorldRenderer([] {});
    std::shared_ptr<MapRenderer> second = WorldRenderer([] {});
    Draw(*second);
    second.reset();
    MapboxVectorRenderer::Sweep();
    EXPECT_EQ(LandPlacesShown(Draw(*first)), 3);
}
