// Mapbox vector and raster sources against the loopback stand-in for the Mapbox web API.

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/MapboxParams.h>
#include <lmxmaps/MapboxProviders.h>
#include <lmxmaps/MapboxUtils.h>
#include <lmxmaps/MapboxVectorConnection.h>
#include <lmxmaps/host/HostClock.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/Tracing.h>

#include "host/OptionGuard.h"
#include "integration/IntegrationSupport.h"
#include "mapbox/MapboxTestSupport.h"
#include "providers/QStringPrinter.h"

namespace {

constexpr const char* kParamsToken = "pk.fixture.lumivextoken";
constexpr const char* kUserToken = "pk.fixture.usertoken";

struct Expected {
    const char* name;
    const char* defaultEnabled;
    const char* group;
    const char* order;
    const char* groupDe;
    const char* minZoom;
};

class MapboxServices : public IntegrationSupport::TestServersFixture {
protected:
    QString Origin() const {
        return QStringLiteral("http://127.0.0.1:%1").arg(m_servers->mapboxPort);
    }

    AttributeMap VectorSource(const char* tag) const {
        return MapboxTestSupport::VectorSource(m_servers->mapboxPort, tag);
    }

    AttributeMap UserSource(const char* user, const char* token) const {
        return {{QStringLiteral("class"), QStringLiteral("CustomMapbox")},
                {QStringLiteral("server"), QStringLiteral("http://127.0.0.1")},
                {QStringLiteral("port"), QString::number(m_servers->mapboxPort)},
                {QStringLiteral("url"), QStringLiteral("styles/v1")},
                {QStringLiteral("username"), QString::fromLatin1(user)},
                {QStringLiteral("api-key"), QString::fromLatin1(token)}};
    }

    static QString ParamsPath(const char* tag) {
        return QStringLiteral("/params/tests@%1.json").arg(QLatin1String(tag));
    }

    static RefCntPtr<MapboxVectorConnection> Connect(const AttributeMap& source) {
        return RefCntDynamicCast<MapboxVectorConnection>(MapProvider::Create(source)->Connect());
    }

    static MapProviderException StyleFailure(const MapboxVectorConnection& connection,
                                             const char* style) {
        try {
            connection.GetStyleLayers(QString::fromLatin1(style));
        } catch (const MapProviderException& e) {
            return e;
        }
        ADD_FAILURE() << style << " did not fail";
        return MapProviderException(MapProviderException::eNotFound, QString(), {});
    }
};

std::map<QString, MapLayer> ByName(const RefCntPtr<MapLayers>& layers) {
    std::map<QString, MapLayer> byName;
    for (const MapLayer& layer : layers->GetLayers()) {
        byName.emplace(layer.GetName(), layer);
    }
    return byName;
}

bool AnyLogMentions(const std::vector<TLog::Record>& records, const QString& text) {
    return std::any_of(records.begin(), records.end(), [&](const TLog::Record& record) {
        return record.message.contains(text) || record.logSite.contains(text);
    });
}

} // namespace

TEST_F(MapboxServices, StyleDocumentsBecomeFeatureLayersGroupsAndLanguages) {
    const auto connection = Connect(VectorSource("parsing"));
    ASSERT_NE(connection, nullptr);
    const std::map<QString, MapLayer> layers =
        ByName(connection->GetStyleLayers(QStringLiteral("Parsing")));
    const Expected expected[] = {
        {"plain", "true", "", "", "", "0"},
        {"hidden", "false", "", "", "", "0"},
        {"grouped", "true", "Roads", "7", "Stra\u00dfen", "0"},
        {"nameless-group", "true", "", "", "", "0"},
        {"unknown-group", "true", "", "", "", "0"},
        {"fade-in", "true", "", "", "", "5"},
        {"dim-start", "true", "", "", "", "3"},
        {"data-driven", "true", "", "", "", "0"},
        {"growing-text", "true", "", "", "", "9"},
        {"widest", "true", "", "", "", "8"},
    };
    ASSERT_EQ(layers.size(), std::size(expected)) << "the layer without an id is skipped";
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        const MapLayer& layer = layers.at(QString::fromLatin1(e.name));
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrDefaultEnabled),
                  QLatin1String(e.defaultEnabled));
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrGroup), QLatin1String(e.group));
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrPresentationOrder), QLatin1String(e.order));
        EXPECT_EQ(layer.GetAttribute(QStringLiteral("group-de")), QString::fromUtf8(e.groupDe));
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrMinZoom), QLatin1String(e.minZoom));
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrType), QStringLiteral("features"));
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrStyleName), QStringLiteral("Parsing"));
    }
    const MapLayer& grouped = layers.at(QStringLiteral("grouped"));
    EXPECT_EQ(grouped.GetAttribute(QStringLiteral("group-category")), QStringLiteral("transport"));
    EXPECT_FALSE(grouped.HasAttribute(QStringLiteral("group-rank"))) << "only string attributes";
    EXPECT_EQ(MapLayerGroup::GetLayerGroupName(grouped, LanguageCode(QStringLiteral("de_AT"))),
              QStringLiteral("Stra\u00dfen"));

    const struct {
        const char* language;
        const char* text;
    } languages[] = {{"de_CH", "{name_de_ch}"},
                     {"de-AT", "{name_de}"},
                     {"fr", "{name}"},
                     {"it", "{name}"},
                     {"", "{name}"}};
    for (const auto& l : languages) {
        EXPECT_EQ(connection->GetLanguageString(QStringLiteral("Parsing"),
                                                LanguageCode(QString::fromLatin1(l.language))),
                  QLatin1String(l.text))
            << l.language;
    }
    TString insertAbove;
    double opacity = 0.0;
    connection->GetDataLayerInfo(QStringLiteral("Parsing"), insertAbove, opacity);
    EXPECT_EQ(insertAbove, QStringLiteral("grouped"));
    EXPECT_EQ(opacity, 0.6);

    // A user's own style by id or by mapbox:// URL. That it reads as the parameters' style does,
    // without minimum zooms, is the style fuzz target's, whose corpus replays as a test.
    const auto user = Connect(UserSource("lumivex", kUserToken));
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->GetStyleJsonUrl(QStringLiteral("parsing")),
              user->GetStyleJsonUrl(QStringLiteral("mapbox://styles/lumivex/parsing")));
    EXPECT_EQ(Connect(UserSource("someuser", kUserToken))
                  ->GetLanguageString(QStringLiteral("mapbox://styles/someuser/userstyle"),
                                      LanguageCode(QStringLiteral("de"))),
              QString())
        << "a style without languages";
}

TEST_F(MapboxServices, ServiceFailuresBecomeTypedErrorsWithoutTheToken) {
    TLog::ScopedCapture log;
    const auto connection = Connect(VectorSource("failures"));
    ASSERT_NE(connection, nullptr);
    const QString params = ParamsPath("failures");

    // 401 with the parameters' own token, and 404 of a style they name: they are fetched anew.
    const struct {
        const char* style;
        MapProviderException::Type type;
        StringId text;
    } refetching[] = {
        {"Unauthorized", MapProviderException::eTokenRejected,
         MapboxVectorConnection::kParamsFailureText},
        {"Missing", MapProviderException::eNotFound, MapboxVectorConnection::kStyleNotFoundText},
    };
    std::int64_t shift = 0;
    for (const auto& failure : refetching) {
        SCOPED_TRACE(failure.style);
        const MapProviderException e = StyleFailure(*connection, failure.style);
        EXPECT_EQ(e.GetType(), failure.type);
        EXPECT_EQ(e.GetMessage(), LookupTStr(failure.text));
        // Past the back-off of the report (and of the refetch before).
        shift += MapboxParams::kFailureWindowSeconds;
        HostClock::ScopedShift later(shift);
        const int before = CountMapboxRequests(params.toStdString());
        EXPECT_EQ(connection->GetAccessToken(), QLatin1String(kParamsToken));
        EXPECT_EQ(CountMapboxRequests(params.toStdString()), before + 1);
    }

    const MapProviderException denied = StyleFailure(*connection, "Forbidden");
    EXPECT_EQ(denied.GetType(), MapProviderException::eAccessDenied);
    EXPECT_TRUE(
        denied.GetMessage().startsWith(LookupTStr(MapboxVectorConnection::kConnectionFailedText)));
    EXPECT_TRUE(denied.GetMessage().contains(QStringLiteral("127.0.0.1")));
    EXPECT_EQ(StyleFailure(*connection, "ProxyAuth").GetType(),
              MapProviderException::eAccessDenied);

    // 500: the last copy fetched from that URL, else "cannot connect".
    const MapProviderException unavailable = StyleFailure(*connection, "ServerError");
    EXPECT_EQ(unavailable.GetType(), MapProviderException::eServiceUnavailable);
    const QString light = connection->GetStyleJson(QStringLiteral("Light"));
    MapboxCaching::MakeDefaultFetchCache()->Put(
        connection->GetStyleJsonUrl(QStringLiteral("ServerError")), light);
    EXPECT_EQ(connection->GetStyleJson(QStringLiteral("ServerError")), light);

    const struct {
        const char* style;
        const char* site;
    } invalid[] = {{"Broken", nullptr},
                   {"NoName", "LogSite_MapboxStyleJSONLacksName_0xDFBF8ACC"},
                   {"NoLanguages", "LogSite_MapboxStyleJSONLacksLmxLangs_0xDA556269"}};
    for (const auto& document : invalid) {
        EXPECT_EQ(StyleFailure(*connection, document.style).GetType(),
                  MapProviderException::eInvalidDocument)
            << document.style;
        if (document.site != nullptr) {
            EXPECT_TRUE(AnyLogMentions(log.Records(), QLatin1String(document.site)))
                << document.site;
        }
    }

    EXPECT_TRUE(connection->GetTilesetLayers(QStringLiteral("no-such-name"))->GetLayers().empty());
    try {
        connection->GetTilesetLayers(QStringLiteral("demographics-tract"));
        ADD_FAILURE() << "a tileset without propertyStash must fail";
    } catch (const MapProviderException& e) {
        EXPECT_EQ(e.GetType(), MapProviderException::eInvalidDocument);
        EXPECT_TRUE(AnyLogMentions(
            log.Records(), QStringLiteral("Mapbox tileset JSON lacks `propertyStash` property.")));
    }

    // A user's token that the service refuses is not the parameters' fault.
    const auto stranger = Connect(UserSource("lumivex", "pk.fixture.unknown"));
    const MapProviderException refused = StyleFailure(*stranger, "parsing");
    EXPECT_EQ(refused.GetType(), MapProviderException::eTokenRejected);
    EXPECT_EQ(refused.GetMessage(), LookupTStr(MapboxVectorConnection::kMapboxFailureText));

    for (const char* token : {kParamsToken, kUserToken, "pk.fixture.unknown"}) {
        EXPECT_FALSE(AnyLogMentions(log.Records(), QLatin1String(token))) << token;
    }
}

TEST_F(MapboxServices, DocumentsAreFetchedOnceUntilTheyExpire) {
    const auto connection = Connect(VectorSource("caching"));
    ASSERT_NE(connection, nullptr);
    const QString url = connection->GetStyleJsonUrl(QStringLiteral("Dark"));
    EXPECT_FALSE(url.contains(QStringLiteral("access_token")));
    const std::string path = "/styles/v1/lumivex/dark";
    const int before = CountMapboxRequests(path);

    Tracing::ScopedCapture spans;
    const QDateTime first = connection->GetStyleTimestamp(QStringLiteral("Dark"));
    const QString json = connection->GetStyleJson(QStringLiteral("Dark"));
    EXPECT_EQ(connection->GetStyleTimestamp(QStringLiteral("Dark")), first);
    EXPECT_EQ(CountMapboxRequests(path), before + 1);
    ASSERT_EQ(spans.Spans().size(), 1u);
    EXPECT_EQ(spans.Spans()[0].name, MapboxVectorConnection::kStyleActivity);
    // The raw text is kept for a failing network, under the URL without the token.
    EXPECT_EQ(MapboxCaching::MakeDefaultFetchCache()->Get(url), json);

    HostClock::ScopedShift expired(
        Options::GetInt(QStringLiteral("MapboxVectorLayerCacheTTLSecs")) + 1);
    EXPECT_GT(connection->GetStyleTimestamp(QStringLiteral("Dark")), first);
    EXPECT_EQ(CountMapboxRequests(path), before + 2);

    const auto state = connection->GetTilesetLayers(QStringLiteral("demographics-state"));
    connection->GetTilesetLayers(QStringLiteral("demographics-state"));
    ASSERT_EQ(spans.Spans().size(), 3u);
    EXPECT_EQ(spans.Spans()[2].name, MapboxVectorConnection::kTilesetActivity);
    ASSERT_FALSE(state->GetLayers().empty());
    for (const MapLayer& layer : state->GetLayers()) {
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrType), QStringLiteral("data"));
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrSourceLayer), QStringLiteral("demographics"));
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrRequestString),
                  QStringLiteral("mapbox://lumivex.demographics-state"));
    }
}

TEST_F(MapboxServices, VectorProvidersServeDataLayersPaintAndWarnings) {
    const std::shared_ptr<MapProvider> provider = MapProvider::Create(VectorSource("provider"));
    const ColorPaletteLookup palettes;
    EXPECT_FALSE(provider->GetFeatureLayers(QStringLiteral("Light"))->GetLayers().empty());

    const RefCntPtr<MapLayers> state = provider->GetDataLayers(QStringLiteral("State"));
    EXPECT_EQ(provider->GetDataLayers(QStringLiteral("Nowhere"))->GetLayers().size(),
              state->GetLayers().size())
        << "an unknown area is the first one";
    const auto population = std::find_if(
        state->GetLayers().begin(), state->GetLayers().end(), [](const MapLayer& layer) {
            return layer.GetAttribute(MapLayer::attrDataId) == u"pop_est";
        });
    ASSERT_NE(population, state->GetLayers().end());

    MapLayer prepared = *population;
    prepared.SetAttribute(MapLayer::attrStyleName, QStringLiteral("Light"));
    provider->PrepareDataLayer(prepared, LanguageCode(), palettes);
    const std::vector<double> breaks =
        MapboxVectorProvider::ReadQuintileBreaks(population->GetAttribute(MapLayer::attrQuintiles));
    ASSERT_EQ(breaks.size(), 6u);
    const std::vector<ColorObject> blues =
        MapboxVectorProvider::SamplePalette(*palettes.Find(QStringLiteral("Blues")), 5);
    QJsonArray step = {QStringLiteral("step"),
                       QJsonArray{QStringLiteral("get"), QStringLiteral("pop_est")},
                       blues[0].ToString()};
    for (std::size_t i = 1; i < 5; ++i) {
        step.append(breaks[i]);
        step.append(blues[i].ToString());
    }
    EXPECT_EQ(
        QJsonDocument::fromJson(prepared.GetAttribute(MapLayer::attrPaintColor).toUtf8()).array(),
        step);
    EXPECT_EQ(
        QJsonDocument::fromJson(prepared.GetAttribute(MapLayer::attrPaintOpacity).toUtf8()).array(),
        (QJsonArray{QStringLiteral("case"),
                    QJsonArray{QStringLiteral("has"), QStringLiteral("pop_est")}, 0.8, 0}));
    EXPECT_EQ(prepared.GetAttribute(MapLayer::attrInsertAbove), QStringLiteral("country-borders"));

    MapLayer feature(AttributeMap{{QStringLiteral("style-name"), QStringLiteral("Light")}});
    provider->PrepareFeatureLayer(feature, LanguageCode(QStringLiteral("fr_CA")));
    EXPECT_EQ(feature.GetAttribute(MapLayer::attrRegionCode), QStringLiteral("default"));
    EXPECT_EQ(feature.GetAttribute(MapLayer::attrLanguage), QStringLiteral("name"));
    EXPECT_TRUE(provider->FetchErrors().empty());

    // Failures become empty results, cleared layers and one warning each.
    TLog::ScopedCapture log;
    EXPECT_TRUE(provider->GetFeatureLayers(QStringLiteral("Unauthorized"))->GetLayers().empty());
    EXPECT_TRUE(AnyLogMentions(log.Records(),
                               QStringLiteral("LogSite_MapboxInvalidTokenError_0x1A93DDF9")));
    EXPECT_TRUE(provider->GetDataLayers(QStringLiteral("Zip Code"))->GetLayers().empty());
    MapLayer unstyled = *population;
    unstyled.SetAttribute(MapLayer::attrStyleName, QStringLiteral("Missing"));
    provider->PrepareDataLayer(unstyled, LanguageCode(), palettes);
    EXPECT_TRUE(unstyled.GetAttributes().empty());
    MapLayer unknownPalette = *population;
    unknownPalette.SetAttribute(MapLayer::attrPalette, QStringLiteral("Plaid"));
    provider->PrepareDataLayer(unknownPalette, LanguageCode(), palettes);
    EXPECT_TRUE(unknownPalette.GetAttributes().empty());
    const std::vector<RefCntPtr<WarningMsg>> warnings = provider->FetchErrors();
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[1]->GetMessage(), LookupTStr(MapboxVectorConnection::kTilesetNotFoundText));
    EXPECT_EQ(warnings[0]->GetWarningType(), MapboxVectorProvider::kMapServiceWarningType);
    EXPECT_TRUE(provider->FetchErrors().empty());
}

TEST_F(MapboxServices, MapboxGLRasterSourcesFetchTilesWithoutLoggingTheToken) {
    TLog::ScopedCapture log;
    const std::shared_ptr<MapSource> source =
        MapboxUtils::CreateNewMapboxMapSource(QStringLiteral("lumivex"), QStringLiteral("Raster"),
                                              QLatin1String(kUserToken), {}, QString());
    AttributeMap attributes = source->GetMapProvider()->GetAttributes();
    attributes[QStringLiteral("class")] = QStringLiteral("MapBox");
    attributes[QStringLiteral("server")] = QStringLiteral("http://127.0.0.1");
    attributes[QStringLiteral("port")] = QString::number(m_servers->mapboxPort);
    attributes[QStringLiteral("name")] = QStringLiteral("Raster");
    const std::shared_ptr<MapSource> raster = MapSourceFactory(attributes);
    raster->Connect();
    auto& provider = raster->GetMapProvider()->AsRaster();
    auto layers = MakeRefCnt<MapLayers>(std::vector<MapLayer>{
        MapLayer(AttributeMap{{QStringLiteral("name"), QStringLiteral("light")},
                              {QStringLiteral("enabled"), QStringLiteral("true")}})});
    // The whole world in 512 pixels is one 512-pixel tile.
    const std::string tile = "/styles/v1/lumivex/light/tiles/0/0/0";
    const int before = CountMapboxRequests(tile);
    const IntegrationSupport::Rendered rendered = IntegrationSupport::Render(
        provider, TileGrid::View(TileGrid::TileRect(0, 0, 0), 512, 512, layers));
    ASSERT_NE(rendered.composite, nullptr);
    EXPECT_TRUE(IntegrationSupport::TileErrors(*rendered.composite).empty());
    EXPECT_EQ(CountMapboxRequests(tile), before + 1);
    EXPECT_FALSE(AnyLogMentions(log.Records(), QLatin1String(kUserToken)));
    EXPECT_TRUE(AnyLogMentions(log.Records(), QStringLiteral("access_token=***")));
}

TEST_F(MapboxServices, AccountChecksAskTheServiceForEachId) {
    OptionGuard api("MapboxApiUrl");
    Options::Set(QStringLiteral("MapboxApiUrl"), Origin());
    MapboxUtils::ServerInfo info;
    EXPECT_TRUE(MapboxUtils::ValidateMapboxServerInfo(
        QStringLiteral("lumivex"), QLatin1String(kParamsToken),
        {QStringLiteral("light"), QStringLiteral("dark")}, info));
    EXPECT_EQ(info[QStringLiteral("light")][QStringLiteral("version")], QStringLiteral("8"));
    EXPECT_FALSE(info[QStringLiteral("dark")][QStringLiteral("name")].isEmpty());

    info.clear();
    EXPECT_FALSE(MapboxUtils::ValidateMapboxServerInfo(
        QStringLiteral("lumivex"), QLatin1String(kParamsToken),
        {QStringLiteral("light"), QStringLiteral("nosuchstyle")}, info));
    EXPECT_EQ(info[QStringLiteral("error-msg")][QStringLiteral("message")],
              QStringLiteral("Not Found"));
    info.clear();
    EXPECT_FALSE(MapboxUtils::ValidateMapboxServerInfo(QStringLiteral("lumivex"),
                                                       QStringLiteral("pk.wrong.token"),
                                                       {QStringLiteral("light")}, info));
    EXPECT_EQ(info[QStringLiteral("error-msg")][QStringLiteral("message")],
              QStringLiteral("Not Authorized - Invalid Token"));
}
