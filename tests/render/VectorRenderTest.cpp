// Vector maps drawn by the real QMapboxGL from the loopback Mapbox stand-in, checked by the
// colours of known places.

#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapboxProviders.h>
#include <lmxmaps/MapboxVectorRenderer.h>
#include <lmxmaps/QMapboxGLWrapper.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/Tracing.h>

#include "host/OptionGuard.h"
#include "integration/IntegrationSupport.h"
#include "mapbox/MapboxTestSupport.h"
#include "render/RenderTestSupport.h"

namespace {

using namespace RenderTestSupport;

QColor Blend(const QColor& over, const QColor& under, double alpha) {
    const auto mix = [&](int a, int b) {
        return static_cast<int>(std::lround(a * alpha + b * (1 - alpha)));
    };
    return QColor(mix(over.red(), under.red()), mix(over.green(), under.green()),
                  mix(over.blue(), under.blue()));
}

std::string Describe(const QColor& color) {
    return color.name().toStdString();
}

class VectorRenderTest : public IntegrationSupport::TestServersFixture {
protected:
    std::shared_ptr<MapProvider> Provider(const char* tag) const {
        return MapProvider::Create(MapboxTestSupport::VectorSource(m_servers->mapboxPort, tag));
    }

    // One render into an image of the view's size, first filled with fill.
    static QImage Draw(MapRenderer& renderer, const View& view, float ratio = 1.0f,
                       const QRectF& clip = QRectF(), const QColor& fill = Qt::magenta) {
        QImage image(view.size * ratio, QImage::Format_ARGB32);
        image.setDevicePixelRatio(ratio);
        image.fill(fill);
        QPainter painter(&image);
        renderer.Render(painter, QRect(QPoint(0, 0), view.size), clip);
        return image;
    }

    QImage RenderOnce(const MapProvider& provider, const View& view, RefCntPtr<MapLayers> layers,
                      float ratio = 1.0f) {
        auto& vector = const_cast<MapProvider&>(provider).AsVector();
        const MapSceneSpec scene = Scene(provider, view, std::move(layers), ratio);
        const std::shared_ptr<MapRenderer> renderer = vector.CreateMapRenderer(scene, {});
        renderer->Update(scene);
        return Draw(*renderer, view, ratio);
    }
};

} // namespace

TEST_F(VectorRenderTest, CountriesAndOceanAtTheirPlacesInEveryKindOfView) {
    const auto provider = Provider("places");
    const struct {
        const char* name;
        View view;
        float ratio;
        std::vector<std::pair<double, double>> land;
        std::vector<std::pair<double, double>> ocean;
    } views[] = {
        {"world",
         LonLatView(-180, -85.0511, 180, 85.0511, 512),
         1.0f,
         {{-55, -10}, {134, -25}, {20, 10}},
         {{-150, 0}, {-30, -30}, {80, -20}}},
        {"region",
         LonLatView(-10, 35, 30, 60, 600),
         1.0f,
         {{2.5, 46.5}, {10, 51}, {-4, 40}},
         {{-8, 45}, {18, 35.5}}},
        {"antimeridian",
         LonLatView(120, -50, 240, 70, 600),
         1.0f,
         {{134, -25}, {210, 64}},
         {{200, 0}, {160, -40}}},
        {"high DPI", LonLatView(-10, 35, 30, 60, 300), 2.0f, {{2.5, 46.5}, {10, 51}}, {{-8, 45}}},
    };
    for (const auto& v : views) {
        SCOPED_TRACE(v.name);
        const QImage image =
            RenderOnce(*provider, v.view, Layers({"background", "country-fill"}), v.ratio);
        ASSERT_EQ(image.size(), v.view.size * v.ratio);
        for (const auto& [lon, lat] : v.land) {
            const QColor color = image.pixelColor(PixelOf(v.view, lon, lat, v.ratio));
            EXPECT_TRUE(Near(color, kLand)) << lon << "," << lat << " " << Describe(color);
        }
        for (const auto& [lon, lat] : v.ocean) {
            const QColor color = image.pixelColor(PixelOf(v.view, lon, lat, v.ratio));
            EXPECT_TRUE(Near(color, kOcean)) << lon << "," << lat << " " << Describe(color);
        }
    }
}

TEST_F(VectorRenderTest, DataLayerStepsThroughItsPaletteDirectlyAboveItsInsertAboveLayer) {
    const auto provider = Provider("data");
    const ColorPaletteLookup palettes;
    MapLayer population;
    const RefCntPtr<MapLayers> state = provider->GetDataLayers(QStringLiteral("State"));
    for (const MapLayer& layer : state->GetLayers()) {
        if (layer.GetAttribute(MapLayer::attrDataId) == u"pop_est") {
            population = layer;
        }
    }
    ASSERT_TRUE(population.IsValid());
    population.SetAttribute(MapLayer::attrStyleName, QStringLiteral("Light"));
    provider->PrepareDataLayer(population, LanguageCode(), palettes);
    ASSERT_EQ(population.GetAttribute(MapLayer::attrInsertAbove),
              QStringLiteral("country-borders"));
    const std::vector<ColorObject> blues =
        MapboxVectorProvider::SamplePalette(*palettes.Find(QStringLiteral("Blues")), 5);
    const View world = LonLatView(-180, -85.0511, 180, 85.0511, 768);

    // China is in the top class, Mongolia in the second, Iceland in the first; the layer is
    // drawn with opacity 0.8 over the country fill.
    auto layers = Layers({"background", "country-fill", "country-borders"});
    layers->GetLayers().push_back(population);
    const QImage image = RenderOnce(*provider, world, layers);
    const struct {
        const char* name;
        double lon, lat;
        std::size_t colorIndex;
    } places[] = {{"China", 103, 35, 4}, {"Mongolia", 103, 46.5, 1}, {"Iceland", -18.5, 64.9, 0}};
    for (const auto& place : places) {
        const QColor color = image.pixelColor(PixelOf(world, place.lon, place.lat));
        EXPECT_TRUE(Near(color, Blend(blues[place.colorIndex].ToQColor(), kLand, 0.8)))
            << place.name << " " << Describe(color);
    }
    EXPECT_TRUE(Near(image.pixelColor(PixelOf(world, -150, 0)), kOcean)) << "no data over the sea";

    // Inserted above a layer the style lacks, it lands just above the bottom layer, under the
    // country fill, which hides it.
    population.SetAttribute(MapLayer::attrInsertAbove, QStringLiteral("no-such-layer"));
    layers->GetLayers().back() = population;
    const QImage hidden = RenderOnce(*provider, world, layers);
    EXPECT_TRUE(Near(hidden.pixelColor(PixelOf(world, 103, 35)), kLand));
}

TEST_F(VectorRenderTest, LayersShowWhenRequestedAndLabelsFollowTheLanguage) {
    const auto provider = Provider("layers");
    const View region = LonLatView(-10, 35, 30, 60, 600);
    const QImage noFill = RenderOnce(*provider, region, Layers({"background"}));
    EXPECT_TRUE(Near(noFill.pixelColor(PixelOf(region, 2.5, 46.5)), kOcean))
        << "land without its fill layer shows the background";

    // One label in the view: "Australia" in English, the ISO code "AUS" in German.
    const View australia = LonLatView(112, -44, 155, -12, 400);
    const auto labelWidth = [&](const char* language) {
        MapLayer labels(AttributeMap{{QStringLiteral("name"), QStringLiteral("country-labels")},
                                     {QStringLiteral("style-name"), QStringLiteral("Light")}});
        provider->PrepareFeatureLayer(labels, LanguageCode(QLatin1String(language)));
        auto layers = MakeRefCnt<MapLayers>(std::vector<MapLayer>{labels});
        layers->GetLayers().emplace_back(
            AttributeMap{{QStringLiteral("name"), QStringLiteral("background")}});
        const QImage image = RenderOnce(*provider, australia, layers);
        // The widest run of text in any row, letters less than a few pixels apart joined.
        constexpr int kLetterGap = 6;
        constexpr int kTextLightness = 170;
        int widest = 0;
        for (int y = 0; y < image.height(); ++y) {
            int start = -1;
            int last = -kLetterGap - 1;
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y).lightness() >= kTextLightness) {
                    continue;
                }
                if (x - last > kLetterGap) {
                    start = x;
                }
                last = x;
                widest = std::max(widest, last - start + 1);
            }
        }
        return widest;
    };
    const int english = labelWidth("en");
    const int german = labelWidth("de");
    EXPECT_GT(german, 10);
    EXPECT_LT(german, english / 2) << "AUS is much narrower than Australia";
}

TEST_F(VectorRenderTest, RendersOncePerSceneAndWashesAndClipsWhatItDraws) {
    const auto provider = Provider("renderer");
    const View region = LonLatView(-10, 35, 30, 60, 400);
    const MapSceneSpec scene = Scene(*provider, region, Layers({"background", "country-fill"}));
    const std::shared_ptr<MapRenderer> renderer = provider->AsVector().CreateMapRenderer(scene, {});
    EXPECT_TRUE(provider->AsVector().IsMapRendererUsable(*renderer, scene));
    EXPECT_FALSE(Provider("other")->AsVector().IsMapRendererUsable(*renderer, scene))
        << "another source's connection";

    Tracing::ScopedCapture spans;
    renderer->Update(scene);
    const std::uint32_t before = renderer->GetRequestToken();
    const QImage first = Draw(*renderer, region);
    const QImage second = Draw(*renderer, region);
    EXPECT_EQ(renderer->GetRequestToken(), before + 2);
    EXPECT_EQ(first, second);
    EXPECT_EQ(renderer->GetModelToken(), scene.modelToken);
    std::size_t renders = 0;
    for (const Tracing::Span& span : spans.Spans()) {
        renders += span.name == MapboxVectorRenderer::kRenderActivity ? 1 : 0;
    }
    EXPECT_EQ(renders, 1u) << "the second Render draws the kept image";

    // A clip covering the western half of the view draws only that part, in the clip's place.
    const DataValueRect& bbox = scene.query->GetBBox();
    const double middle = (bbox.MinX().GetReal() + bbox.MaxX().GetReal()) / 2.0;
    const QRectF west(QPointF(bbox.MinX().GetReal(), bbox.MaxY().GetReal()),
                      QPointF(middle, bbox.MinY().GetReal()));
    const QImage clipped = Draw(*renderer, region, 1.0f, west);
    EXPECT_EQ(clipped.pixelColor(300, 150), QColor(Qt::magenta));
    EXPECT_EQ(clipped.pixelColor(50, 150), first.pixelColor(50, 150));

    const QPoint sea = PixelOf(region, -8, 45);
    for (const float wash : {0.5f, 1.0f}) {
        MapSceneSpec washed = scene;
        washed.washOpacity = wash;
        renderer->Update(washed);
        const QColor color = Draw(*renderer, region).pixelColor(sea);
        const QColor expected =
            wash == 1.0f ? QColor(Qt::white) : Blend(Qt::white, kOcean, 127.0 / 255.0);
        EXPECT_TRUE(Near(color, expected, 2)) << wash << " " << Describe(color);
    }
    // Debugging: each rendered frame is dumped as a JPEG named after the request token.
    OptionGuard dump("DumpMapFrames");
    OptionGuard dumpPath("DumpMapFramesPath");
    QTemporaryDir frames;
    Options::Set(QStringLiteral("DumpMapFrames"), QStringLiteral("true"));
    Options::Set(QStringLiteral("DumpMapFramesPath"), frames.path());
    Draw(*renderer, region);
    EXPECT_EQ(
        QImage(frames.filePath(QStringLiteral("%1.jpg").arg(renderer->GetRequestToken()))).size(),
        region.size);
    Options::Set(QStringLiteral("DumpMapFrames"), QStringLiteral("false"));

    // A scene without a query paints nothing (the magenta stays).
    MapSceneSpec empty = scene;
    empty.query = nullptr;
    renderer->Update(empty);
    EXPECT_EQ(Draw(*renderer, region).pixelColor(sea), QColor(Qt::magenta));
}

TEST_F(VectorRenderTest, ImmediateRenderersFollowTheirTokenAndTheirThread) {
    const auto provider = Provider("immediate");
    const View region = LonLatView(-10, 35, 30, 60, 300);
    const MapSceneSpec scene = Scene(*provider, region, Layers({"background", "country-fill"}));
    std::atomic<int> changes{0};
    std::shared_ptr<MapRenderer> renderer =
        provider->AsVector().CreateMapRenderer(scene, [&changes] { ++changes; });
    auto* vector = dynamic_cast<MapboxVectorRenderer*>(renderer.get());
    ASSERT_NE(vector, nullptr);
    ASSERT_TRUE(vector->IsImmediate());
    renderer->Update(scene);
    Draw(*renderer, region);
    renderer->Update(scene);
    std::string failure;
    std::thread([&] {
        try {
            Draw(*renderer, region);
        } catch (const std::runtime_error& e) {
            failure = e.what();
        }
    }).join();
    EXPECT_EQ(failure, "render thread affinity violated");

    // A renderer dropped on another thread leaves its map to be swept on this one.
    std::thread([moved = std::move(renderer)]() mutable { moved.reset(); }).join();
    MapboxVectorRenderer::Sweep();
    EXPECT_EQ(MapboxVectorRenderer::WaitingForRetirement(), 0u);
}

TEST(VectorRenderWrapper, DeferredRenderOfTilesThatNeverComeStopsWithTimeout) {
    OptionGuard timeout("MapboxVectorRenderTimeoutSecs");
    Options::Set(QStringLiteral("MapboxVectorRenderTimeoutSecs"), QStringLiteral("2"));
    // A port that takes connections and never answers.
    IntegrationSupport::SilentPort silent;
    silent.Listen();
    const QString style =
        QStringLiteral(
            R"({"version": 8, "name": "unreachable", "sources": {"nowhere": {"type": "vector",
            "tiles": ["http://127.0.0.1:%1/{z}/{x}/{y}.pbf"]}},
            "layers": [{"id": "background", "type": "background",
                        "paint": {"background-color": "#00ff00"}},
                       {"id": "land", "type": "fill", "source": "nowhere", "source-layer": "x"}]})")
            .arg(silent.Port());
    QMapboxGLWrapper wrapper(
        QMapboxGLWrapper::Deferred, [&](const TString&) { return style; },
        QStringLiteral("pk.test.token"), QStringLiteral("http://127.0.0.1:1"), 1.0f);
    const SpatialProjectorPtr projector = SpatialProjector::WebMercatorFactory(
        FieldName(QStringLiteral("x")), FieldName(QStringLiteral("y")),
        QStringLiteral("EPSG:3857"));
    const View world = LonLatView(-180, -85.0511, 180, 85.0511, 256);
    wrapper.Apply(QStringLiteral("unreachable"), QDateTime::currentDateTimeUtc(), nullptr,
                  QRectF(QPointF(world.minX, world.maxY), QPointF(world.maxX, world.minY)),
                  world.size, *projector);
    EXPECT_GT(wrapper.GetZoom(), -1.0);
    const QImage image = wrapper.RenderToImage();
    EXPECT_TRUE(wrapper.DidTimeOut());
    ASSERT_EQ(image.size(), world.size) << "rendered larger, returned at the requested size";
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor color = image.pixelColor(x, y);
            red += color.red() > 200 && color.green() < 80 && color.blue() < 80 ? 1 : 0;
        }
    }
    EXPECT_GT(red, 0) << "\"Timeout!\" is written over the image";
    wrapper.Cleanup();

    QPoint point(10, 0);
    EXPECT_EQ(WrapMapUtil::OffsetPointClosestToPoint(point, QPoint(370, 0), QRect(0, 0, 360, 10)),
              1);
    EXPECT_EQ(point.x(), 370);
}
