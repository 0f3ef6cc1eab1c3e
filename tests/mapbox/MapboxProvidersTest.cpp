#include <cmath>
#include <gtest/gtest.h>

#include <lmxmaps/MapDiskCache.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/MapboxProviders.h>
#include <lmxmaps/MapboxUtils.h>
#include <lmxmaps/host/Styles.h>

#include "mapbox/MapboxTestSupport.h"
#include "providers/QStringPrinter.h"

namespace {

MapLayer DataLayer(const char* quintiles, const char* palette = "Blues") {
    return MapLayer(AttributeMap{{QStringLiteral("data-id"), QStringLiteral("pop")},
                                 {QStringLiteral("quintiles"), QString::fromUtf8(quintiles)},
                                 {QStringLiteral("palette"), QString::fromUtf8(palette)},
                                 {QStringLiteral("long-display-name"), QStringLiteral("People")}});
}

std::vector<QString> Labels(const RefCntPtr<ILegendItems>& legend) {
    std::vector<QString> labels;
    for (const ILegendItems::Item& item : legend->GetItems()) {
        labels.push_back(item.label);
    }
    return labels;
}

std::shared_ptr<MapProvider> Provider(const char16_t* className, AttributeMap attributes = {}) {
    attributes[QStringLiteral("class")] = TStr(className);
    return MapProvider::Create(attributes);
}

} // namespace

TEST(MapboxDataLayers, QuintileBreaksAreTheFirstLowThenEveryHighToThreeSignificantDigits) {
    const struct {
        const char* quintiles;
        std::vector<double> breaks;
    } cases[] = {
        {"[[1234, 5678]]", {1230, 5680}},
        {"[[0, 10], [10, 20], [20, 35]]", {0, 10, 20, 35}},
        {"[[12345, 12345], [12355, 12355]]", {12300, 12300, 12400}},
        {"[[12355, 20000]]", {12300, 20000}},
        {"[[-1234.5, 999.7]]", {-1240, 999.7}},
        {"[7, [1, 2], \"x\", [3, 4]]", {1, 2, 4}},
        {"[]", {}},
        {"{\"a\": [1, 2]}", {}},
        {"[[1, 2]", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MapboxVectorProvider::ReadQuintileBreaks(QString::fromUtf8(c.quintiles)),
                  c.breaks)
            << c.quintiles;
    }
    const std::vector<double> partial =
        MapboxVectorProvider::ReadQuintileBreaks(QStringLiteral(R"([["low", 5], [6]])"));
    ASSERT_EQ(partial.size(), 3u);
    EXPECT_TRUE(std::isnan(partial[0]));
    EXPECT_EQ(partial[1], 5.0);
    EXPECT_TRUE(std::isnan(partial[2]));
}

TEST(MapboxDataLayers, LegendsStepThroughThePaletteWithLocalizedRanges) {
    MapboxVectorProvider provider(
        AttributeMap{{QStringLiteral("class"), QStringLiteral("MapboxVector")}});
    const ColorPaletteLookup palettes;
    const ColorPalette& blues = *palettes.Find(QStringLiteral("Blues"));

    const RefCntPtr<ILegendItems> legend = provider.CreateLegendItems(
        DataLayer("[[0, 10], [10, 20], [20, 35]]"), LanguageCode(QStringLiteral("en")), palettes);
    ASSERT_NE(legend, nullptr);
    EXPECT_EQ(legend->GetCaption(), QStringLiteral("People"));
    EXPECT_EQ(Labels(legend),
              (std::vector<QString>{QStringLiteral("0 \u2013 10"), QStringLiteral("10 \u2013 20"),
                                    QStringLiteral("20 \u2013 35")}));
    const std::vector<ILegendItems::Item> items = legend->GetItems();
    EXPECT_EQ(items.front().color, blues.GetColors().front());
    EXPECT_EQ(items[1].color, blues.GetNormalizedColor(0.5));
    EXPECT_EQ(items.back().color, blues.GetColors().back());

    const struct {
        const char* quintiles;
        const char* language;
        std::vector<QString> labels;
    } cases[] = {
        // 0.5 needs three decimals for three significant digits, 12.25 two: the most wins.
        {"[[0.5, 12.25]]", "en", {QStringLiteral("0.500 \u2013 12.250")}},
        {"[[0.5, 12.25]]", "de_DE", {QStringLiteral("0,500 \u2013 12,250")}},
        {"[[0, 1234567]]", "en", {QStringLiteral("0 \u2013 1,230,000")}},
        {"[[0, 1234567]]", "fr", {QStringLiteral("0 \u2013 1\u202f230\u202f000")}},
        {"[[-999999999, 5], [5, -666666666]]",
         "en",
         {QStringLiteral("n/a \u2013 5"), QStringLiteral("5 \u2013 n/a")}},
    };
    for (const auto& c : cases) {
        const RefCntPtr<ILegendItems> localized = provider.CreateLegendItems(
            DataLayer(c.quintiles), LanguageCode(QString::fromLatin1(c.language)), palettes);
        ASSERT_NE(localized, nullptr) << c.quintiles;
        EXPECT_EQ(Labels(localized), c.labels) << c.quintiles << " " << c.language;
    }

    EXPECT_EQ(provider.CreateLegendItems(DataLayer("[[0, 10]]", "NoSuchPalette"), LanguageCode(),
                                         palettes),
              nullptr);
    EXPECT_EQ(provider.CreateLegendItems(DataLayer("[]"), LanguageCode(), palettes), nullptr);
}

TEST(MapboxProviders, ClassesAreRegisteredWithTheirTraits) {
    const auto vector = Provider(MapboxVectorProvider::valueClassAttr);
    ASSERT_NE(dynamic_cast<MapboxVectorProvider*>(vector.get()), nullptr);
    EXPECT_TRUE(vector->IsVector());
    EXPECT_TRUE(vector->HasTransientLayers());
    EXPECT_TRUE(vector->SupportsClientFetchedMapTiles());
    EXPECT_EQ(vector->AsVector().GetMaxScaleLevel(), 22.0);
    EXPECT_EQ(vector->GetAreas().size(), 4u);
    EXPECT_EQ(vector->GetAttribution2().url, vector->GetAttribution().url);
    EXPECT_EQ(vector->GetDefaultSpatialProjector()->GetName(), QStringLiteral("EPSG:3857"));

    const auto custom = Provider(CustomMapboxProvider::valueClassAttr);
    ASSERT_NE(dynamic_cast<CustomMapboxProvider*>(custom.get()), nullptr);
    EXPECT_FALSE(custom->HasTransientLayers());
    EXPECT_TRUE(custom->IsSticky());

    const auto classic = Provider(MapboxProvider::valueClassAttr,
                                  {{QStringLiteral("server"), QStringLiteral("https://h")}});
    EXPECT_EQ(classic->AsRaster().GetTileSize(), 256);
    EXPECT_FALSE(classic->ForceHighDPI());
    const auto gl = Provider(MapboxProvider::valueClassAttr,
                             {{QStringLiteral("server"), QStringLiteral("https://h")},
                              {QStringLiteral("username"), QStringLiteral("someone")}});
    EXPECT_EQ(gl->AsRaster().GetTileSize(), 512);
    EXPECT_TRUE(gl->ForceHighDPI());
    EXPECT_TRUE(gl->IsSticky());

    // Tiles go to disk under keys with only a digest of the token their URL template carries.
    AttributeMap key = {{QStringLiteral("class"), QStringLiteral("MapBox")},
                        {QStringLiteral("url-format"),
                         QStringLiteral("/v4/{L}/{Z}/{X}/{Y}.png256?access_token=pk.secret.key")},
                        {QStringLiteral("api-key"), QStringLiteral("pk.secret.key")},
                        {QStringLiteral("INDEX"), QStringLiteral("1/0/1/256")}};
    MapDiskCache::FilterKey(key);
    const TString urlFormat = key[QStringLiteral("url-format")];
    EXPECT_TRUE(urlFormat.startsWith(QStringLiteral("/v4/{L}/{Z}/{X}/{Y}.png256?access_token=#")))
        << urlFormat.toStdString();
    EXPECT_FALSE(urlFormat.contains(QStringLiteral("secret")));
    key.erase(QStringLiteral("url-format"));
    EXPECT_EQ(key, (AttributeMap{{QStringLiteral("class"), QStringLiteral("MapBox")},
                                 {QStringLiteral("INDEX"), QStringLiteral("1/0/1/256")}}));
}

TEST(MapboxUtils, NewSourcesFromAUsersAccount) {
    MapboxUtils::ServerInfo info = {
        {QStringLiteral("mapbox.streets"), {}},
        {QStringLiteral("ckstyle"),
         {{QStringLiteral("name"), QStringLiteral("My Style")},
          {QStringLiteral("description"), QStringLiteral("Mine")}}},
    };
    const auto tiles = MapboxUtils::CreateNewMapboxMapSource(QString(), QStringLiteral("Tiles"),
                                                             QStringLiteral("pk.key.part"), info,
                                                             QStringLiteral("https://full"));
    const std::shared_ptr<MapProvider> provider = tiles->GetMapProvider();
    ASSERT_NE(dynamic_cast<CustomMapboxProvider*>(provider.get()), nullptr);
    EXPECT_EQ(tiles->GetName(), QStringLiteral("Tiles"));
    EXPECT_EQ(provider->GetAttribute(MapProvider::attrUrlFormat),
              QStringLiteral("/v4/{L}/{Z}/{X}/{Y}{D}.png256?access_token=pk.key.part"));
    EXPECT_EQ(provider->GetAttribute(MapProvider::attrServer),
              QStringLiteral("https://api.mapbox.com"));
    EXPECT_EQ(provider->GetAttribute(MapProvider::attrPort), QStringLiteral("443"));
    EXPECT_TRUE(tiles->GetInline());
    QStringList description =
        provider->GetAttribute(MapProvider::attrDescription).split(QStringLiteral(", "));
    description.sort();
    EXPECT_EQ(description, QStringList({QStringLiteral("Mapbox Streets"), QStringLiteral("Mine")}));

    const auto styled =
        MapboxUtils::CreateNewMapboxMapSource(QStringLiteral("someone"), QStringLiteral("Styled"),
                                              QStringLiteral("pk.key.part"), {}, QString());
    EXPECT_EQ(
        styled->GetMapProvider()->GetAttribute(MapProvider::attrUrlFormat),
        QStringLiteral("/styles/v1/someone/{L}/tiles/{Z}/{X}/{Y}{D}?access_token=pk.key.part"));

    // One style id: the style is named after its mapbox:// URL.
    MapboxUtils::ServerInfo one = {
        {QStringLiteral("ckstyle"), {{QStringLiteral("name"), QStringLiteral("My Style")}}}};
    MapboxUtils::CreateMapboxStyles(styled, {QStringLiteral("ckstyle")}, QStringLiteral("Shown"),
                                    one);
    const std::vector<MapStyle>& styles = styled->GetMapProvider()->GetMapStyles();
    ASSERT_EQ(styles.size(), 1u);
    EXPECT_EQ(styles[0].GetName(), QStringLiteral("mapbox://styles/someone/ckstyle"));
    EXPECT_EQ(styles[0].GetDisplayName(), QStringLiteral("Shown"));
    EXPECT_EQ(styles[0].GetWaitTileFill(), ColorObject(0xdd, 0xdd, 0xdd));
    const auto* stored = styled->GetMapProvider()->GetStoredLayerData(styles[0].GetName());
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->at(QStringLiteral("My Style")), QStringLiteral("ckstyle"));

    const RefCntPtr<MapLayers> layers = MapboxUtils::CreateMapboxServerLayers(
        {QStringLiteral("ckstyle"), QStringLiteral("unknown")}, one);
    ASSERT_EQ(layers->GetLayers().size(), 2u);
    EXPECT_EQ(layers->GetLayers()[0].GetAttribute(MapLayer::attrDisplayName),
              QStringLiteral("My Style"));
    EXPECT_EQ(layers->GetLayers()[1].GetAttribute(MapLayer::attrDisplayName),
              QStringLiteral("unknown"));
    EXPECT_EQ(layers->GetLayers()[1].GetAttribute(MapLayer::attrType), QStringLiteral("features"));
    EXPECT_EQ(one.count(QStringLiteral("unknown")), 1u);

    MapboxUtils::SetMapboxMapSourceDefaults(styled, QStringLiteral("pane"));
    const auto& defaults = dynamic_cast<const StyleSet&>(styled->GetDefaults());
    EXPECT_EQ(defaults.GetStyle(QStringLiteral("pane.map-style")),
              QStringLiteral("mapbox://styles/someone/ckstyle"));
    EXPECT_EQ(defaults.GetStyle(QStringLiteral("pane.map-washout")), QStringLiteral("0"));
    EXPECT_THROW(MapboxUtils::SetMapboxMapSourceDefaults(tiles, QString()), LogicException);
}

TEST(MapboxUtils, PastedStyleUrlsAndInputChecksThatNeedNoNetwork) {
    TString version, user, token, style;
    MapboxUtils::GetMapboxParametersFromURL(
        QStringLiteral("https://api.mapbox.com/styles/v1/someone/ck123.html?access_token=pk.a.b"
                       "&fresh=true&access_token=pk.c.d"),
        version, user, token, style);
    EXPECT_EQ(version, QStringLiteral("v1"));
    EXPECT_EQ(user, QStringLiteral("someone"));
    EXPECT_EQ(style, QStringLiteral("ck123"));
    EXPECT_EQ(token, QStringLiteral("pk.c.d"));
    for (const char* untouched : {"https://example.com/styles/v1/someone/ck123.html",
                                  "https://api.mapbox.com/styles/v1/someone"}) {
        TString a = QStringLiteral("a"), b = a, c = a, d = a;
        MapboxUtils::GetMapboxParametersFromURL(QString::fromLatin1(untouched), a, b, c, d);
        EXPECT_EQ(QStringList({a, b, c, d}).join(u','), QStringLiteral("a,a,a,a")) << untouched;
    }

    EXPECT_EQ(MapboxUtils::CreateMapboxVectorStyleUrl(QStringLiteral("acct"), QStringLiteral("s1")),
              QStringLiteral("mapbox://styles/acct/s1"));
    const QString longPart(494, u'x');
    MapboxUtils::ServerInfo info;
    // No ids: only the forms are checked. "pk." + 494 + "." + "y" is 499 characters.
    EXPECT_TRUE(MapboxUtils::ValidateMapboxServerInfo(
        QString(), QStringLiteral("pk.") + longPart + QStringLiteral(".y"), {}, info));
    EXPECT_FALSE(MapboxUtils::ValidateMapboxServerInfo(
        QString(), QStringLiteral("pk.") + longPart + QStringLiteral(".yz"), {}, info));
    EXPECT_FALSE(
        MapboxUtils::ValidateMapboxServerInfo(QString(), QStringLiteral("sk.a.b"), {}, info));
    EXPECT_FALSE(MapboxUtils::ValidateMapboxServerInfo(QStringLiteral("bad user"),
                                                       QStringLiteral("pk.a.b"), {}, info));
    EXPECT_FALSE(MapboxUtils::ValidateMapboxServerInfo(
        QStringLiteral("user-1"), QStringLiteral("pk.a.b"), {QStringLiteral("with-dash")}, info));
    EXPECT_TRUE(info.empty());

    std::unordered_map<TString, TString> flat = {{QStringLiteral("kept"), QStringLiteral("old")}};
    MapboxUtils::FlattenJsonObject(
        QStringLiteral(R"({"s": "text", "i": -3, "u": 18446744073709551615,
        "r": 3.14159265, "b": true, "n": null, "o": {}, "a": [], "kept": "new"})"),
        flat);
    EXPECT_EQ(flat, (std::unordered_map<TString, TString>{
                        {QStringLiteral("s"), QStringLiteral("text")},
                        {QStringLiteral("i"), QStringLiteral("-3")},
                        {QStringLiteral("u"), QStringLiteral("18446744073709551615")},
                        {QStringLiteral("r"), QStringLiteral("3.14159")},
                        {QStringLiteral("kept"), QStringLiteral("new")}}));
    MapboxUtils::FlattenJsonObject(QStringLiteral("not json"), flat);
    EXPECT_EQ(flat.size(), 5u);
    EXPECT_THROW(MapboxUtils::FlattenJsonObject(QStringLiteral("[1]"), flat), std::runtime_error);
}
