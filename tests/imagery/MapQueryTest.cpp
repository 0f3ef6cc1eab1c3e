#include <cmath>
#include <gtest/gtest.h>
#include <limits>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapQuery.h>

namespace {

TString Key(const char16_t* key) {
    return TString::fromUtf16(key);
}

DataValueRect Rect(double minX, double maxX, double minY, double maxY) {
    return DataValueRect(DataValue::Real(minX), DataValue::Real(maxX), DataValue::Real(minY),
                         DataValue::Real(maxY));
}

RefCntPtr<MapLayers> Layers(std::initializer_list<std::pair<const char*, bool>> layers) {
    RefCntPtr<MapLayers> list = MakeRefCnt<MapLayers>();
    for (const auto& [name, enabled] : layers) {
        MapLayer layer;
        layer.SetAttribute(MapLayer::attrName, QString::fromUtf8(name));
        layer.SetEnabled(enabled);
        list->GetLayers().push_back(layer);
    }
    return list;
}

MapQueryPtr Query(RefCntPtr<MapLayers> layers, bool highDPI = false,
                  DataValueRect bbox = Rect(0, 10, 20, 30)) {
    return MakeRefCnt<MapQuery>(std::move(layers), QStringLiteral("EPSG:3857"), bbox, 256u, 128u,
                                QStringLiteral("roads"), QStringLiteral("light"), highDPI, false);
}

} // namespace

TEST(MapQuery, PropertiesComeFromTheFieldsOnlyWhenLayersExistAndCopiesAreIndependent) {
    const MapQueryPtr none = Query(nullptr);
    EXPECT_TRUE(none->GetProperties().empty());
    EXPECT_TRUE(none->GetAsUrlQueryString().isEmpty());
    EXPECT_FALSE(none->GetScaleLevel().IsSet());

    const MapQueryPtr query = Query(Layers({{"roads", true}, {"rivers", false}, {"towns", true}}));
    const AttributeMap& properties = query->GetProperties();
    EXPECT_EQ(properties.at(Key(MapQuery::sLayers)), QStringLiteral("roads,towns"));
    EXPECT_EQ(properties.at(Key(MapQuery::sCRS)), QStringLiteral("EPSG:3857"));
    EXPECT_EQ(properties.at(Key(MapQuery::sBBox)), QStringLiteral("0,20,10,30"));
    EXPECT_EQ(properties.at(Key(MapQuery::sWidth)), QStringLiteral("256"));
    EXPECT_EQ(properties.at(Key(MapQuery::sHeight)), QStringLiteral("128"));
    EXPECT_EQ(properties.at(Key(MapQuery::sLegend)), QStringLiteral("FALSE"));
    EXPECT_EQ(properties.count(Key(MapQuery::sDPR)), 0u);
    EXPECT_EQ(properties.count(Key(MapQuery::sStyles)), 0u);
    EXPECT_EQ(properties.size(), 6u);

    const TString url = query->GetAsUrlQueryString();
    EXPECT_TRUE(url.contains(QStringLiteral("LAYERS=roads%2Ctowns")));
    EXPECT_TRUE(url.contains(QStringLiteral("WIDTH=256")));

    // A legend query differs in its legend flag; a high-density one adds the pixel ratio.
    const AttributeMap legend = query->GetLegendProperties();
    EXPECT_EQ(legend.at(Key(MapQuery::sLegend)), QStringLiteral("TRUE"));
    EXPECT_EQ(properties.at(Key(MapQuery::sLegend)), QStringLiteral("FALSE"));
    EXPECT_EQ(Query(Layers({{"a", true}}), true)->GetProperties().at(Key(MapQuery::sDPR)),
              QStringLiteral("2"));

    // Setters leave the properties alone.
    none->SetLayerGroup(QStringLiteral("water"));
    none->SetRequestMargin(true);
    EXPECT_TRUE(none->GetProperties().empty());
    none->SetLayers(nullptr);
    EXPECT_TRUE(none->GetProperties().empty());

    const MapQueryPtr original = Query(Layers({{"a", true}}));
    const MapQueryPtr copy = MakeRefCnt<MapQuery>(*original);
    copy->SetStyleName(QStringLiteral("dark"));
    copy->SetLegendFetch(true);
    copy->SetLayers(Layers({{"b", true}}));
    EXPECT_EQ(original->GetStyleName(), QStringLiteral("light"));
    EXPECT_FALSE(original->GetLegendFetch());
    EXPECT_EQ(original->GetProperties().at(Key(MapQuery::sLayers)), QStringLiteral("a"));
    EXPECT_EQ(copy->GetProperties().at(Key(MapQuery::sLayers)), QStringLiteral("b"));
    EXPECT_EQ(copy->GetLayerGroup(), QStringLiteral("roads"));

    const double h = 20037508.34;
    const MapQueryPtr bboxQuery = Query(Layers({}), false, Rect(-h, h, -0.000123456789, 1.5));
    EXPECT_EQ(bboxQuery->GetProperties().at(Key(MapQuery::sBBox)),
              QStringLiteral("-2.00375e+07,-0.000123457,2.00375e+07,1.5"));
    EXPECT_EQ(bboxQuery->GetProperties().at(Key(MapQuery::sLayers)), QString());
}

TEST(MapQuery, ScaleOfTheViewAndItsFailureAndAreaNamesAreLocalized) {
    EXPECT_DOUBLE_EQ(Query(nullptr)->GetScale(), 25.6);
    const MapQueryPtr flat = Query(nullptr, false, Rect(0, 0, 0, 10));
    EXPECT_TRUE(std::isinf(flat->GetScale()));
    const MapQueryPtr broken = Query(nullptr, false, Rect(0, std::nan(""), 0, 10));
    try {
        broken->GetScale();
        FAIL() << "a NaN scale was returned";
    } catch (const MapProviderException& e) {
        EXPECT_EQ(e.GetType(), MapProviderException::eNotFound);
        EXPECT_EQ(e.GetErrorInfo().logSite,
                  QStringLiteral("MapProviderException_AutoGen_0x9F50B7EA"));
        EXPECT_FALSE(e.GetMessage().startsWith(QStringLiteral("[missing")));
    }
    EXPECT_THROW(MapQueryUtil::GetMapScale(10, 10, 0, 10), MapProviderException);

    // The object name differs from the localized "State", so that a name copied through shows.
    const MapArea area(QStringLiteral("states"), QStringLiteral("us_census00.state_geom"),
                       1072972447u);
    EXPECT_EQ(area.GetDisplayName(), QStringLiteral("State"));
    EXPECT_TRUE(MapArea().GetDisplayName().isEmpty());
}
