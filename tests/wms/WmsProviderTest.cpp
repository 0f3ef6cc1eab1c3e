#include <atomic>
#include <gtest/gtest.h>
#include <latch>
#include <thread>

#include <lmxmaps/MapQuery.h>
#include <lmxmaps/Wms.h>

#include "FixtureServer.h"
#include "providers/QStringPrinter.h"

namespace {

class TilingWmsProvider : public WmsProvider {
public:
    using WmsProvider::ComputeTiles;
    using WmsProvider::WmsProvider;
};

AttributeMap Attributes(std::initializer_list<std::pair<const char*, const char*>> entries) {
    AttributeMap attributes;
    for (const auto& [key, value] : entries) {
        attributes[QString::fromLatin1(key)] = QString::fromLatin1(value);
    }
    return attributes;
}

TString DisplayUrl(std::initializer_list<std::pair<const char*, const char*>> entries) {
    return WmsProvider(Attributes(entries)).GetDisplayUrl();
}

struct Box {
    double minX, maxX, minY, maxY;
    bool operator==(const Box&) const = default;
};

Box BoxOf(const MapQuery& query) {
    const DataValueRect& r = query.GetBBox();
    return {r.MinX().GetReal(), r.MaxX().GetReal(), r.MinY().GetReal(), r.MaxY().GetReal()};
}

MapQueryPtr View(const Box& box, unsigned int width, unsigned int height) {
    return MakeRefCnt<MapQuery>(MakeRefCnt<MapLayers>(), QString(),
                                DataValueRect(DataValue::Real(box.minX), DataValue::Real(box.maxX),
                                              DataValue::Real(box.minY), DataValue::Real(box.maxY)),
                                width, height, TString(), TString(), false, true);
}

} // namespace

TEST(WmsProvider, DisplayUrlAndTheViewInOnePieceOrCutAlongTheWorldGrid) {
    EXPECT_EQ(
        DisplayUrl(
            {{"full-url", "https://given.example/x"}, {"server", "maps.example"}, {"url", "/wms"}}),
        QStringLiteral("https://given.example/x"));
    EXPECT_EQ(
        DisplayUrl(
            {{"service", "https"}, {"server", "maps.example"}, {"port", "443"}, {"url", "/wms"}}),
        QStringLiteral("https://maps.example/wms"));
    EXPECT_EQ(
        DisplayUrl(
            {{"service", "http"}, {"server", "maps.example"}, {"port", "8080"}, {"url", "wms"}}),
        QStringLiteral("http://maps.example:8080/wms"));
    EXPECT_EQ(DisplayUrl({{"server", "maps.example"}, {"port", "80"}, {"url", "/cgi-bin/wms"}}),
              QStringLiteral("http://maps.example/cgi-bin/wms"));
    EXPECT_EQ(DisplayUrl(
                  {{"service", "https"}, {"server", "maps.example"}, {"port", "80"}, {"url", "/"}}),
              QStringLiteral("https://maps.example:80/"));

    WmsProvider described(Attributes({{"server", "maps.example"}, {"description", "Base maps"}}));
    EXPECT_EQ(described.GetDisplayDescription(), QStringLiteral("Base maps"));
    WmsProvider plain(Attributes({{"server", "maps.example"}, {"url", "/wms"}}));
    EXPECT_EQ(plain.GetDisplayDescription(), QStringLiteral("http://maps.example/wms"));

    TilingWmsProvider provider(
        Attributes({{"server", "maps.example"}, {"use-tiled-maps", "false"}}));
    const MapQueryPtr view = View({-60, 20, -10, 10}, 640, 80);
    std::vector<MapQueryPtr> tiles;
    const MapQueryPtr whole = provider.ComputeTiles(MapScaleLevel{2.0, 512, 8.0}, view, tiles);
    ASSERT_EQ(tiles.size(), 1u);
    EXPECT_EQ(tiles[0], view);
    EXPECT_EQ(whole, view);
    EXPECT_FALSE(view->GetRequestMargin());

    // Offline and without a connection class the provider falls back to Plate Carree (world x from
    // -180, y from -90) without asking any server.
    TilingWmsProvider tiled(
        Attributes({{"server", "maps.example"}, {"offline", "1"}, {"use-tiled-maps", "true"}}));
    tiles.clear();
    // 8 pixels per degree: 64-degree tiles.
    const MapQueryPtr grid =
        tiled.ComputeTiles(MapScaleLevel{2.0, 512, 8.0}, View({-60, 20, -10, 10}, 640, 160), tiles);
    ASSERT_EQ(tiles.size(), 3u);
    const Box expected[] = {{-116, -52, -26, 38}, {-52, 12, -26, 38}, {12, 76, -26, 38}};
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        EXPECT_EQ(BoxOf(*tiles[i]), expected[i]) << i;
        EXPECT_EQ(tiles[i]->GetWidth(), 512u);
        EXPECT_EQ(tiles[i]->GetHeight(), 512u);
        EXPECT_TRUE(tiles[i]->GetRequestMargin());
    }
    EXPECT_EQ(BoxOf(*grid), (Box{-116, 76, -26, 38}));
    EXPECT_EQ(grid->GetWidth(), 1536u);
    EXPECT_EQ(grid->GetHeight(), 512u);
}

namespace {

constexpr int kConnectingThreads = 8;

// Threads that connect the provider at once and ask, as the host does for each view it opens:
// a thread that is to warn gives the warning and then switches further warnings off. Answers
// how many warned.
int WarningsFromConcurrentConnects(WmsProvider& provider) {
    std::latch start(kConnectingThreads);
    std::atomic<int> warnings = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < kConnectingThreads; ++i) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            provider.Connect();
            if (provider.ShouldUserBeWarnedAboutInsecureConnection()) {
                ++warnings;
                provider.DisallowFurtherWarningsAboutInsecureConnection();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return warnings;
}

} // namespace

TEST(WmsProvider, TheInsecureConnectionWarningIsGivenInOneRoundOfConnectsHoweverManyThreads) {
    FixtureServer server;
    server.Start();
    const auto source = [&](const char* service) {
        AttributeMap attributes = Attributes(
            {{"class", "OGC-WMS"}, {"server", "127.0.0.1"}, {"url", "/wms/caps?case=v111"}});
        attributes[QStringLiteral("port")] = QString::number(server.Port());
        if (service != nullptr) {
            attributes[QStringLiteral("service")] = QString::fromLatin1(service);
        }
        return std::make_unique<WmsProvider>(attributes);
    };

    const auto http = source("http");
    EXPECT_FALSE(http->ShouldUserBeWarnedAboutInsecureConnection()) << "not connected yet";
    EXPECT_GE(WarningsFromConcurrentConnects(*http), 1);
    EXPECT_EQ(WarningsFromConcurrentConnects(*http), 0);
    http->Disconnect();
    EXPECT_EQ(WarningsFromConcurrentConnects(*http), 0) << "a new connection warns no more";

    // Without the plain "http" scheme every asking thread switches the warning off at once.
    const auto unnamedScheme = source(nullptr);
    EXPECT_EQ(WarningsFromConcurrentConnects(*unnamedScheme), 0);
    HTTPRequestor::CloseIdleConnections();
}
