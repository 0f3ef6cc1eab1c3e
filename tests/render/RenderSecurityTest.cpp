// What the vector map fetches itself (its style's sources and tiles) meets the network rules.

#include <QCoreApplication>
#include <QPainter>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MapboxVectorRenderer.h>
#include <lmxmaps/host/Options.h>

#include "host/OptionGuard.h"
#include "integration/IntegrationSupport.h"
#include "mapbox/MapboxTestSupport.h"
#include "render/RenderTestSupport.h"

namespace {

using namespace RenderTestSupport;

constexpr auto kCompleteWithin = std::chrono::seconds(20);
constexpr int kEventSliceMs = 50;
const View kWorld = LonLatView(-180, -85.0511, 180, 85.0511, 512);

// Brazil, Australia and the Sahara.
int LandPlacesShown(const QImage& image) {
    int shown = 0;
    for (const auto& [lon, lat] : {std::pair{-55, -10}, {134, -25}, {20, 20}}) {
        shown += Near(image.pixelColor(PixelOf(kWorld, lon, lat)), kLand) ? 1 : 0;
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
        m_provider =
            MapProvider::Create(MapboxTestSupport::VectorSource(m_servers->mapboxPort, "security"));
    }

    // A renderer of the whole world, background and country fill; with a callback it draws on
    // this thread as data arrives, without one each render is a deferred one.
    std::shared_ptr<MapRenderer> WorldRenderer(std::function<void()> callback) const {
        const MapSceneSpec scene =
            Scene(*m_provider, kWorld, Layers({"background", "country-fill"}));
        std::shared_ptr<MapRenderer> renderer =
            m_provider->AsVector().CreateMapRenderer(scene, std::move(callback));
        renderer->Update(scene);
        return renderer;
    }

    // Draws until the map is complete, at most kCompleteWithin.
    static QImage Draw(MapRenderer& renderer) {
        const auto deadline = std::chrono::steady_clock::now() + kCompleteWithin;
        QImage image(kWorld.size, QImage::Format_ARGB32);
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
