#include <gtest/gtest.h>
#include <initializer_list>
#include <utility>

#include <lmxmaps/MapLayers.h>

namespace {

using Attribute = std::pair<const char16_t*, const char*>;

MapLayer MakeLayer(std::initializer_list<Attribute> attributes) {
    MapLayer layer;
    for (const auto& [key, value] : attributes) {
        layer.SetAttribute(key, QString::fromUtf8(value));
    }
    return layer;
}

LanguageCode Language(const char* code) {
    return LanguageCode(QString::fromUtf8(code));
}

} // namespace

TEST(MapLayer, VisibilityAreaTypesRequestStringAndEnabledOfALayer) {
    EXPECT_TRUE(MapLayer().IsVisible(3.0, 1e6));

    const MapLayer zoomBounded =
        MakeLayer({{MapLayer::attrMinZoom, "2.5"}, {MapLayer::attrMaxZoom, "10"}});
    EXPECT_FALSE(zoomBounded.IsVisible(2.4, 1e6));
    EXPECT_TRUE(zoomBounded.IsVisible(2.5, 1e6));
    EXPECT_TRUE(zoomBounded.IsVisible(10.0, 1e6));
    EXPECT_FALSE(zoomBounded.IsVisible(10.5, 1e6));
    EXPECT_TRUE(zoomBounded.IsVisible(-1.0, 1e6));

    const MapLayer unlimitedZoom = MakeLayer({{MapLayer::attrMaxZoom, "0"}});
    EXPECT_TRUE(unlimitedZoom.IsVisible(22.0, 1e6));

    const MapLayer scaleBounded =
        MakeLayer({{MapLayer::attrMinScaleDenom, "500"}, {MapLayer::attrMaxScaleDenom, "1000"}});
    EXPECT_FALSE(scaleBounded.IsVisible(-1.0, 499.0));
    EXPECT_TRUE(scaleBounded.IsVisible(-1.0, 500.0));
    EXPECT_TRUE(scaleBounded.IsVisible(-1.0, 1000.0));
    EXPECT_FALSE(scaleBounded.IsVisible(-1.0, 1000.5));

    MapLayer named = MakeLayer({{MapLayer::attrName, "boundaries"}});
    EXPECT_TRUE(named.GetValidAreaTypes().empty());
    named.SetAttribute(MapLayer::attrGeometries, QStringLiteral(" state ,county,  zip "));
    const std::vector<TString> expected = {QStringLiteral("state"), QStringLiteral("county"),
                                           QStringLiteral("zip")};
    EXPECT_EQ(named.GetValidAreaTypes(), expected);

    EXPECT_EQ(named.GetRequestString(), QStringLiteral("boundaries"));
    named.SetAttribute(MapLayer::attrRequestString, QString());
    EXPECT_EQ(named.GetRequestString(), QStringLiteral("boundaries"));
    named.SetAttribute(MapLayer::attrRequestString, QStringLiteral("admin:bounds"));
    EXPECT_EQ(named.GetRequestString(), QStringLiteral("admin:bounds"));

    // Enabled only for the exact text "true".
    EXPECT_FALSE(named.IsEnabled());
    for (const char* notTrue : {"TRUE", " true", "1", "yes"}) {
        named.SetAttribute(MapLayer::attrEnabled, QString::fromUtf8(notTrue));
        EXPECT_FALSE(named.IsEnabled()) << notTrue;
    }
    named.SetEnabled(true);
    EXPECT_TRUE(named.IsEnabled());
    EXPECT_EQ(named.GetAttribute(MapLayer::attrEnabled), QStringLiteral("true"));
    named.SetEnabled(false);
    EXPECT_EQ(named.GetAttribute(MapLayer::attrEnabled), QStringLiteral("false"));
}

TEST(MapLayer, BoundsThatArePresentButSpellNoNumberAreTheBoundZeroNotAbsent) {
    struct Case {
        const char16_t* key;
        const char* value;
        double zoom;
        double scaleDenominator;
        bool visible;
    };
    const Case cases[] = {
        {MapLayer::attrMaxScaleDenom, "", -1.0, 1000.0, false},
        {MapLayer::attrMaxScaleDenom, "1000 m", -1.0, 500.0, false},
        {MapLayer::attrMaxScaleDenom, " 1000 ", -1.0, 500.0, true},
        // A bound of 0 is still a bound, though only a negative denominator falls below it.
        {MapLayer::attrMinScaleDenom, "small", -1.0, -1.0, false},
        {MapLayer::attrMinZoom, "high", 0.0, 1e6, true},
        // 0 means no upper zoom limit.
        {MapLayer::attrMaxZoom, "", 22.0, 1e6, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MakeLayer({{c.key, c.value}}).IsVisible(c.zoom, c.scaleDenominator), c.visible)
            << QString::fromUtf16(c.key).toStdString() << " = '" << c.value << "' at zoom "
            << c.zoom << ", 1:" << c.scaleDenominator;
    }
}

TEST(MapLayer, LocalizedValuesFallBackToPlainKeyAndTheLongNameTakesTheYearWhenAsked) {
    const MapLayer layer = MakeLayer({{u"display-name-de-AT", "Strassen AT"},
                                      {u"display-name-de", "Strassen"},
                                      {u"display-name-fr-FR", ""},
                                      {u"display-name", "Roads"},
                                      {MapLayer::attrName, "roads"}});
    EXPECT_EQ(layer.GetDisplayName(Language("de-AT")), QStringLiteral("Strassen AT"));
    EXPECT_EQ(layer.GetDisplayName(Language("de-CH")), QStringLiteral("Strassen"));
    EXPECT_EQ(layer.GetDisplayName(Language("de")), QStringLiteral("Strassen"));
    EXPECT_EQ(layer.GetDisplayName(Language("fr-FR")), QStringLiteral("Roads"));
    EXPECT_EQ(layer.GetLocalizedAttr(QStringLiteral("display-name"), Language("it-IT")),
              QStringLiteral("Roads"));
    EXPECT_TRUE(layer.GetLocalizedAttr(MapLayer::attrGroup, Language("de-AT")).isEmpty());

    const MapLayer unnamed = MakeLayer({{MapLayer::attrName, "water"}});
    EXPECT_EQ(unnamed.GetDisplayName(Language("de-DE")), QStringLiteral("water"));
    EXPECT_EQ(unnamed.GetLongDisplayName(Language("de-DE")), QStringLiteral("water"));
    EXPECT_EQ(layer.GetLongDisplayName(Language("de-CH")), QStringLiteral("Strassen"));

    MapLayer population = MakeLayer({{MapLayer::attrName, "pop"},
                                     {MapLayer::attrLongDisplayName, "Population"},
                                     {MapLayer::attrPrependDate, "true"},
                                     {MapLayer::attrYear, "2020"}});
    const LanguageCode english = Language("en-US");
    EXPECT_EQ(population.GetLongDisplayName(english), QStringLiteral("2020 Population"));
    EXPECT_EQ(population.GetDisplayName(english), QStringLiteral("pop"));

    population.SetAttribute(MapLayer::attrPrependDate, QStringLiteral("TRUE"));
    EXPECT_EQ(population.GetLongDisplayName(english), QStringLiteral("Population"));

    population.SetAttribute(MapLayer::attrPrependDate, QStringLiteral("true"));
    population.SetAttribute(MapLayer::attrYear, QString());
    EXPECT_EQ(population.GetLongDisplayName(english), QStringLiteral("Population"));

    population.ClearAttribute(MapLayer::attrLongDisplayName);
    population.SetAttribute(MapLayer::attrYear, QStringLiteral("2019"));
    EXPECT_EQ(population.GetLongDisplayName(english), QStringLiteral("2019 pop"));
}

TEST(MapLayers, AsStringJoinsTheEnabledRequestStringsAndACloneIsIndependent) {
    auto layers = MakeRefCnt<MapLayers>(std::vector<MapLayer>{
        MakeLayer({{MapLayer::attrName, "a"}, {MapLayer::attrEnabled, "true"}}),
        MakeLayer({{MapLayer::attrName, "b"}, {MapLayer::attrEnabled, "false"}}),
        MakeLayer({{MapLayer::attrName, "c"},
                   {MapLayer::attrRequestString, "c-request"},
                   {MapLayer::attrEnabled, "true"}})});
    EXPECT_TRUE(layers->HasAnyEnabledLayers());
    EXPECT_EQ(layers->AsString(QStringLiteral(",")), QStringLiteral("a,c-request"));

    layers->GetLayers()[0].SetEnabled(false);
    EXPECT_EQ(layers->AsString(QStringLiteral(", ")), QStringLiteral("c-request"));
    layers->GetLayers()[2].SetEnabled(false);
    EXPECT_FALSE(layers->HasAnyEnabledLayers());
    EXPECT_TRUE(layers->AsString(QStringLiteral(",")).isEmpty());

    auto original = MakeRefCnt<MapLayers>(std::vector<MapLayer>{
        MakeLayer({{MapLayer::attrName, "a"}}), MakeLayer({{MapLayer::attrName, "b"}})});
    const RefCntPtr<MapLayers> clone = original->Clone();
    ASSERT_NE(clone.get(), original.get());
    EXPECT_EQ(clone->GetRefCount(), 1);
    ASSERT_EQ(clone->GetLayers().size(), 2u);
    EXPECT_EQ(clone->GetLayers()[1].GetName(), QStringLiteral("b"));

    clone->GetLayers()[0].SetEnabled(true);
    clone->GetLayers().push_back(MakeLayer({{MapLayer::attrName, "c"}}));
    EXPECT_FALSE(original->HasAnyEnabledLayers());
    EXPECT_EQ(original->GetLayers().size(), 2u);
}
