#include <cmath>
#include <gtest/gtest.h>

#include <lmxmaps/MapLayersModel.h>
#include <lmxmaps/MapTileServer.h>
#include <lmxmaps/MapboxProviders.h>

namespace {

// The tile server serves whole levels only; with tiles of one fixed size it serves the levels
// in between too, as services that cannot resize their tiles do.
class FixedTileSizeServer : public MapTileServerProvider {
public:
    using MapTileServerProvider::MapTileServerProvider;
    bool IsTileSizeAdjustable() const override { return false; }
};

// The whole Web Mercator world in 1448 pixels: with two levels per doubling that is level 2.5
// (zoom 2), scale denominator 3571.43 x 40075017 m / 1448 px = 9.88e7.
RefCntPtr<MapQuery> WorldViewAtLevelTwoAndAHalf() {
    constexpr double kHalfWorld = 20037508.342789244;
    const DataValueRect world(DataValue::Real(-kHalfWorld), DataValue::Real(kHalfWorld),
                              DataValue::Real(-kHalfWorld), DataValue::Real(kHalfWorld));
    return MakeRefCnt<MapQuery>(nullptr, QStringLiteral("EPSG:3857"), world, 1448, 1448, TString(),
                                TString(), false, false);
}

std::vector<bool> EnabledStates(const MapLayers& layers) {
    std::vector<bool> states;
    for (const MapLayer& layer : layers.GetLayers()) {
        states.push_back(layer.IsEnabled());
    }
    return states;
}

TEST(MapLayersModelTest, ZoomFactorsStayWithinLevelsZeroToThirty) {
    struct Case {
        double zoomLevel, factor, clamped;
    };
    const Case cases[] = {
        {29, 4, 2}, {28, 4, 4}, {1, 0.25, 0.5}, {2, 0.125, 0.25},          {30, 2, 1}, {0, 0.5, 1},
        {0, 1, 1},  {17, 1, 1}, {30, 1, 1},     {29.5, 4, std::sqrt(2.0)}, {1, 2, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.zoomLevel << " x " << c.factor);
        EXPECT_DOUBLE_EQ(MapLayersModel::ClampMapZoomFactorForValidZoomLevel(c.zoomLevel, c.factor),
                         c.clamped);
    }
}

TEST(MapLayersModelTest, RasterViewsSwitchOffCopiesOfHiddenLayersVectorViewsKeepThemAll) {
    const struct {
        const char16_t* key;
        const char* value;
        bool visible;
    } cases[] = {{MapLayer::attrMinZoom, "2", true},
                 {MapLayer::attrMinZoom, "2.5", false},
                 {MapLayer::attrMaxZoom, "2.2", true},
                 {MapLayer::attrMaxZoom, "1", false},
                 {MapLayer::attrMaxScaleDenom, "1.1e8", true},
                 {MapLayer::attrMaxScaleDenom, "9e7", false},
                 {MapLayer::attrMinScaleDenom, "9e7", true},
                 {MapLayer::attrMinScaleDenom, "1.1e8", false}};
    auto layers = MakeRefCnt<MapLayers>();
    std::vector<bool> expected;
    for (const auto& c : cases) {
        layers->GetLayers().emplace_back(AttributeMap{{TStr(c.key), QString::fromLatin1(c.value)}});
        layers->GetLayers().back().SetEnabled(true);
        expected.push_back(c.visible);
    }
    const MapLayersModel::LayersMap all = {{"roads", layers}, {"none", nullptr}};
    auto model = MakeRefCnt<MapLayersModel>(all, nullptr, nullptr, MapLayersModel::Warnings{});
    const FixedTileSizeServer raster(
        {{QStringLiteral("class"), QStringLiteral("OpenStreetMap")},
         {QStringLiteral("server"), QStringLiteral("127.0.0.1")},
         {QStringLiteral("intermediate-levels"), QStringLiteral("2")}});
    const MapboxVectorProvider vector(
        AttributeMap{{QStringLiteral("class"), QStringLiteral("MapboxVector")}});
    EXPECT_EQ(model->GetLayersVisibleAtCurrentZoom(raster), all);

    model->SetMapQuery(WorldViewAtLevelTwoAndAHalf());
    const MapLayersModel::LayersMap visible = model->GetLayersVisibleAtCurrentZoom(raster);
    ASSERT_EQ(visible.size(), 2u);
    EXPECT_EQ(EnabledStates(*visible.at("roads")), expected);
    EXPECT_EQ(visible.at("none"), nullptr);
    EXPECT_EQ(model->GetLayers(), all);
    EXPECT_EQ(EnabledStates(*layers), std::vector<bool>(expected.size(), true));
    EXPECT_EQ(model->GetLayersVisibleAtCurrentZoom(vector), all);

    EXPECT_TRUE(model->HasAnyEnabledLayers());
    for (MapLayer& layer : layers->GetLayers()) {
        layer.SetEnabled(false);
    }
    EXPECT_FALSE(model->HasAnyEnabledLayers());
}

TEST(MapLayersModelTest, ErrorsAreAppendedAndFlagged) {
    const auto earlier = MakeRefCnt<WarningMsg>(QStringLiteral("earlier"), 1);
    const MapLayersModel::Warnings loaded = {MakeRefCnt<WarningMsg>(QStringLiteral("a"), 1),
                                             MakeRefCnt<WarningMsg>(QStringLiteral("b"), 2)};
    auto model = MakeRefCnt<MapLayersModel>(MapLayersModel::LayersMap{}, nullptr, nullptr, loaded);

    MapLayersModel::Warnings errors = {earlier};
    bool hasErrors = false;
    model->GetErrors(errors, hasErrors);
    EXPECT_TRUE(hasErrors);
    EXPECT_EQ(errors, (MapLayersModel::Warnings{earlier, loaded[0], loaded[1]}));

    model->ClearErrors();
    errors = {earlier};
    model->GetErrors(errors, hasErrors);
    EXPECT_FALSE(hasErrors);
    EXPECT_EQ(errors, MapLayersModel::Warnings{earlier});
}

} // namespace
