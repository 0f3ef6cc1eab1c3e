#include <QDate>
#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

#include <lmxmaps/LocalMapProviders.h>
#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapNamespace.h>
#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/ValidatingConnector.h>
#include <lmxmaps/host/LinkErrorMgr.h>

#include "sources/TestMapProvider.h"

namespace {

constexpr const char16_t* kProviderClass = u"lmx-provider-test";
constexpr const char16_t* kOtherProviderClass = u"lmx-provider-test-other";
constexpr const char16_t* kFailingClass = u"lmx-provider-test-failing";

std::atomic<int> g_connectionsMade{0};
std::atomic<bool> g_failConnects{true};

// Only the provider's own classes matter here, not what it draws.
using PlainProvider = TestMapProvider;

class OtherProvider : public PlainProvider {
public:
    using TestMapProvider::TestMapProvider;
};

// A connection that completes its attributes, as a service's first answer may.
class CompletingConnection : public MapConnection {
public:
    explicit CompletingConnection(AttributeMap attributes) : MapConnection(std::move(attributes)) {
        ++g_connectionsMade;
        SetAttribute(MapProvider::attrDescription, QStringLiteral("completed"));
    }
    MapRequestorPtr CreateMapRequestor(SpatialProjectorPtr, MapQueryPtr) override { return {}; }
};

class RecordingHandler : public ILinkErrorHandler {
public:
    void ReportLinkError(int kind, const TString& source, const TString& message) override {
        reports.push_back({kind, source, message});
    }
    struct Report {
        int kind;
        TString source;
        TString message;
    };
    std::vector<Report> reports;
};

class CountingHandler : public ILinkErrorHandler {
public:
    void ReportLinkError(int, const TString&, const TString&) override { ++reports; }
    std::atomic<int> reports{0};
};

AttributeMap Attributes(const char16_t* className, AttributeMap more = {}) {
    more[TStr(MapProvider::attrClass)] = TStr(className);
    return more;
}

class MapProviderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char16_t* name : {kProviderClass, kFailingClass}) {
            MapProvider::Register(TStr(name), [](const AttributeMap& attributes) {
                return std::make_shared<PlainProvider>(attributes);
            });
        }
        MapProvider::Register(TStr(kOtherProviderClass), [](const AttributeMap& attributes) {
            return std::make_shared<OtherProvider>(attributes);
        });
        MapConnection::Register(TStr(kProviderClass), [](const AttributeMap& attributes) {
            return MapConnectionPtr(new CompletingConnection(attributes));
        });
        MapConnection::Register(TStr(kFailingClass), [](const AttributeMap& attributes) {
            if (g_failConnects) {
                throw MapProviderException(MapProviderException::eServiceUnavailable,
                                           QStringLiteral("down"),
                                           MapProviderException::Site(0x7E570101));
            }
            return MapConnectionPtr(new CompletingConnection(attributes));
        });
    }

    void TearDown() override {
        MapConnection::CloseAll();
        LinkErrorMgr::SetHandler(nullptr);
    }
};

TEST_F(MapProviderTest, CreateUsesTheClassFactoryAndNamesAnUnknownClass) {
    const auto provider = MapProvider::Create(Attributes(kOtherProviderClass));
    EXPECT_NE(dynamic_cast<OtherProvider*>(provider.get()), nullptr);
    EXPECT_TRUE(MapProvider::IsRegistered(TStr(kProviderClass)));
    EXPECT_FALSE(MapProvider::IsRegistered(QStringLiteral("lmx-no-such-class")));

    for (const AttributeMap& attributes :
         {Attributes(u"lmx-no-such-class"),
          AttributeMap{{QStringLiteral("name"), QStringLiteral("x")}}}) {
        try {
            MapProvider::Create(attributes);
            FAIL() << "no provider can be made";
        } catch (const MapProviderException& e) {
            EXPECT_EQ(e.GetType(), MapProviderException::eUnknownClass);
            EXPECT_EQ(e.GetErrorInfo().logSite,
                      QStringLiteral("MapProviderException_AutoGen_0xF158430A"));
            if (const auto named = attributes.find(QStringLiteral("class"));
                named != attributes.end()) {
                EXPECT_TRUE(e.GetMessage().contains(named->second));
            }
        }
    }
}

TEST_F(MapProviderTest, ConnectCompletesAttributesOfflineNeverConnectsAndFailuresReportOnce) {
    const int before = g_connectionsMade;
    PlainProvider offline(
        Attributes(kProviderClass, {{TStr(MapProvider::attrOffline), QStringLiteral("false")}}));
    EXPECT_EQ(offline.Connect(), nullptr);
    EXPECT_EQ(g_connectionsMade, before);

    PlainProvider provider(Attributes(kProviderClass));
    EXPECT_FALSE(provider.IsConnected());
    ASSERT_NE(provider.Connect(), nullptr);
    EXPECT_EQ(provider.GetAttribute(MapProvider::attrDescription), QStringLiteral("completed"));
    EXPECT_TRUE(provider.IsConnected());
    // The completed attribute set still finds the same cached connection.
    EXPECT_NE(provider.Connect(), nullptr);
    EXPECT_EQ(g_connectionsMade, before + 1);
    provider.Disconnect();
    EXPECT_FALSE(provider.IsConnected());

    RecordingHandler handler;
    LinkErrorMgr::SetHandler(&handler);
    g_failConnects = true;
    PlainProvider failing(Attributes(kFailingClass));
    EXPECT_THROW(failing.Connect(), MapProviderException);
    // Connect's failure counts as reported, so the no-throw form stays quiet.
    EXPECT_EQ(failing.ConnectNoThrow(), nullptr);
    EXPECT_TRUE(handler.reports.empty());

    PlainProvider fresh(Attributes(kFailingClass));
    EXPECT_EQ(fresh.ConnectNoThrow(), nullptr);
    EXPECT_EQ(fresh.ConnectNoThrow(), nullptr);
    ASSERT_EQ(handler.reports.size(), 1u);
    EXPECT_EQ(handler.reports[0].kind, MapProvider::kLinkErrorKindMapSource);
    EXPECT_EQ(handler.reports[0].source, TStr(kFailingClass));
    EXPECT_EQ(handler.reports[0].message, QStringLiteral("down"));

    g_failConnects = false;
    EXPECT_NE(fresh.ConnectNoThrow(), nullptr);
    MapConnection::CloseAll();
    g_failConnects = true;
    EXPECT_EQ(fresh.ConnectNoThrow(), nullptr);
    EXPECT_EQ(handler.reports.size(), 2u);
}

// Rendering threads connect the same provider at once; run under ThreadSanitizer too.
TEST_F(MapProviderTest, ConcurrentConnectsOfOneProviderReportAFailureOnce) {
    CountingHandler handler;
    LinkErrorMgr::SetHandler(&handler);
    g_failConnects = true;
    PlainProvider failing(Attributes(kFailingClass));
    PlainProvider working(Attributes(kProviderClass));
    constexpr int kThreads = 4;
    constexpr int kRounds = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                EXPECT_EQ(failing.ConnectNoThrow(), nullptr);
                EXPECT_NE(t % 2 == 0 ? working.Connect() : working.ConnectNoThrow(), nullptr);
                // Reads the connection-cache hint while the other threads' connects write it.
                working.IsConnected();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(handler.reports, 1);
}

TEST_F(MapProviderTest, EqualityIsTypeServerUrlAndPortAndMatchingTakesMissingKeysAsEmpty) {
    const AttributeMap address = {{QStringLiteral("server"), QStringLiteral("tiles.example")},
                                  {QStringLiteral("url"), QStringLiteral("/base")},
                                  {QStringLiteral("port"), QStringLiteral("8080")}};
    PlainProvider a(Attributes(kProviderClass, address));
    AttributeMap withDescription = address;
    withDescription[QStringLiteral("description")] = QStringLiteral("other");
    PlainProvider b(Attributes(kProviderClass, withDescription));
    OtherProvider c(Attributes(kProviderClass, address));
    EXPECT_TRUE(static_cast<const MapProvider&>(a) == b);
    EXPECT_FALSE(static_cast<const MapProvider&>(a) == c);
    b.SetAttribute(MapProvider::attrPort, u"8081");
    EXPECT_TRUE(static_cast<const MapProvider&>(a) != b);

    PlainProvider provider(Attributes(kProviderClass, {{QStringLiteral("url"), QString()}}));
    EXPECT_TRUE(provider.MatchesAttributes(
        {{QStringLiteral("class"), TStr(kProviderClass)}, {QStringLiteral("port"), QString()}}));
    EXPECT_FALSE(provider.MatchesAttributes({{QStringLiteral("class"), TStr(kProviderClass)}}));
    EXPECT_FALSE(provider.MatchesAttributes({{QStringLiteral("class"), TStr(kProviderClass)},
                                             {QStringLiteral("url"), QStringLiteral("/")}}));
}

TEST_F(MapProviderTest, StylesAttributionAndKindOfAPlainProvider) {
    PlainProvider provider(Attributes(kProviderClass));
    EXPECT_EQ(provider.GetMapStyle(QStringLiteral("a")), nullptr);
    provider.AddMapStyle(MapStyle(QStringLiteral("a"), QStringLiteral("A"), ColorObject(), {}));
    EXPECT_EQ(provider.GetMapStyle(QStringLiteral("b")), nullptr);
    provider.AddMapStyle(MapStyle(QString(), QStringLiteral("first"), ColorObject(), {}));
    provider.AddMapStyle(MapStyle(QString(), QStringLiteral("last"), ColorObject(), {}));
    EXPECT_EQ(provider.GetMapStyle(QStringLiteral("a"))->GetDisplayName(), QStringLiteral("A"));
    // An empty name is a name: the first unnamed style matches it exactly.
    EXPECT_EQ(provider.GetMapStyle(QString())->GetDisplayName(), QStringLiteral("first"));
    EXPECT_EQ(provider.GetMapStyle(QStringLiteral("b"))->GetDisplayName(), QStringLiteral("last"));

    // Attribution fills in the year and prefers the short texts when asked.
    TString first = QStringLiteral("untouched");
    TString second = QStringLiteral("untouched");
    EXPECT_FALSE(provider.GetAttributionStrings(false, first, second));
    EXPECT_EQ(first, QStringLiteral("untouched"));

    provider.SetAttribution({QStringLiteral("(c) %1 Maps"), QStringLiteral("%1"), QString()});
    provider.SetAttribution2({QStringLiteral("Data %1"), QString(), QString()});
    const TString year = TString::number(QDate::currentDate().year());
    ASSERT_TRUE(provider.GetAttributionStrings(false, first, second));
    EXPECT_EQ(first, QStringLiteral("(c) ") + year + QStringLiteral(" Maps"));
    EXPECT_EQ(second, QStringLiteral("Data ") + year);
    ASSERT_TRUE(provider.GetAttributionStrings(true, first, second));
    EXPECT_EQ(first, year);
    EXPECT_EQ(second, QStringLiteral("Data ") + year);

    EXPECT_FALSE(provider.IsRaster());
    try {
        provider.AsRaster();
        FAIL() << "a plain provider is no raster provider";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "MapProvider::AsRaster: not a RasterMapProvider");
    }
    EXPECT_THROW(provider.AsVector(), std::runtime_error);
}

TEST(BuiltInMapClasses, AreRegisteredWhenTheLibraryLoads) {
    for (const char16_t* className :
         {MapTileServerProvider::valueClassAttr, BlankMapProvider::valueClassAttr,
          LocalMapProvider::valueClassAttr}) {
        EXPECT_TRUE(MapProvider::IsRegistered(TStr(className)));
        EXPECT_TRUE(ValidatingConnector::sMapSourceValidators.IsRegistered(TStr(className)));
    }
    const auto local = MapProvider::Create(Attributes(LocalMapProvider::valueClassAttr));
    EXPECT_NE(dynamic_cast<LocalMapProvider*>(local.get()), nullptr);

    // Blank and local connections are identified by class and tile set alone.
    AttributeMap attributes = Attributes(BlankMapProvider::valueClassAttr,
                                         {{QStringLiteral("tileset"), QStringLiteral("a")},
                                          {QStringLiteral("server"), QStringLiteral("b")}});
    MapConnectionAttributes::FilterRequiredAttributes(attributes);
    EXPECT_EQ(attributes.size(), 2u);
    EXPECT_EQ(attributes.count(QStringLiteral("server")), 0u);

    // Reopening a stored tile source keeps the source as it is.
    auto source = std::make_shared<MapSource>(QStringLiteral("Tiles"), local);
    MapNamespace mapNamespace;
    AttributeMap stored = local->GetAttributes();
    EXPECT_EQ(ValidatingConnector::ValidateMapSource(mapNamespace, stored, source, nullptr),
              source);
}

} // namespace
