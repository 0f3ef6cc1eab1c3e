// The fixture server checked with cpp-httplib's own client, so that the HTTP tests can trust
// what it serves and what its log says. Routes whose content a library test pins down itself
// (status codes, /garbage, the WMS capabilities cases and the GetMap replies that a WMS test
// tells apart) are checked there, not here.

#include "fixture/FixtureServer.h"

#include <QImage>
#include <chrono>
#include <gtest/gtest.h>
#include <httplib.h>
#include <string>
#include <thread>

namespace {

constexpr int kNearWhiteMinimum = 232;
constexpr std::chrono::seconds kGenerousWait{10};
constexpr std::chrono::milliseconds kStopBound{3000};

QImage Decode(const std::string& bytes) {
    return QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()),
                            static_cast<int>(bytes.size()));
}

class FixtureServerTest : public ::testing::Test {
protected:
    void SetUp() override { m_server.Start(); }

    httplib::Client MakeClient() const { return httplib::Client("127.0.0.1", m_server.Port()); }

    FixtureServer m_server;
};

} // namespace

TEST_F(FixtureServerTest, RoutesServeWhatTheyPromise) {
    httplib::Client client = MakeClient();
    const auto coloured = client.Get("/tile.png");
    ASSERT_TRUE(coloured);
    EXPECT_EQ(coloured->status, 200);
    EXPECT_EQ(coloured->get_header_value("Content-Type"), "image/png");
    const QImage tile = Decode(coloured->body);
    ASSERT_FALSE(tile.isNull());
    EXPECT_EQ(tile.size(), QSize(FixtureServer::kTileSize, FixtureServer::kTileSize));
    EXPECT_NE(tile.pixel(0, 0), tile.pixel(200, 100));

    const QImage white = Decode(client.Get("/white.png")->body);
    ASSERT_FALSE(white.isNull());
    for (const QPoint corner : {QPoint(0, 0), QPoint(255, 255), QPoint(128, 7)}) {
        const QColor colour = white.pixelColor(corner);
        EXPECT_GT(colour.red(), kNearWhiteMinimum);
        EXPECT_LT(colour.red(), 255);
        EXPECT_EQ(colour.red(), colour.green());
        EXPECT_EQ(colour.green(), colour.blue());
    }

    // The gzip route's tile is compressed on the wire, once.
    const auto decompressed = client.Get("/gzip/tile.png");
    ASSERT_TRUE(decompressed);
    EXPECT_EQ(QByteArray::fromStdString(decompressed->body), m_server.TilePng());
    client.set_decompress(false);
    const auto compressed = client.Get("/gzip/tile.png");
    ASSERT_TRUE(compressed);
    EXPECT_EQ(compressed->get_header_value("Content-Encoding"), "gzip");
    EXPECT_TRUE(compressed->body.starts_with("\x1f\x8b"));
    EXPECT_NE(QByteArray::fromStdString(compressed->body), m_server.TilePng());

    // The WMS GetMap gradient and a transparent image; a size out of range gets a report.
    const QImage gradient = Decode(client.Get("/wms/getmap?WIDTH=600&height=300")->body);
    ASSERT_EQ(gradient.size(), QSize(600, 300));
    EXPECT_EQ(gradient.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(gradient.pixel(513, 7), qRgb(1, 7, 32));
    EXPECT_EQ(gradient.pixel(599, 299), FixtureServer::GetMapPixel(599, 299));
    const QImage transparent =
        Decode(client.Get("/wms/getmap/transparent?WIDTH=64&HEIGHT=32")->body);
    ASSERT_EQ(transparent.size(), QSize(64, 32));
    EXPECT_EQ(qAlpha(transparent.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(transparent.pixel(63, 31)), 0);
    EXPECT_NE(client.Get("/wms/getmap?WIDTH=0")->body.find("InvalidDimensionValue"),
              std::string::npos);
}

TEST_F(FixtureServerTest, LogRecordsRequestsAndTellsConnectionsApart) {
    {
        httplib::Client keptAlive = MakeClient();
        keptAlive.set_keep_alive(true);
        ASSERT_TRUE(keptAlive.Get("/echo?x=%41", {{"X-Probe", "one"}}));
        ASSERT_TRUE(keptAlive.Get("/tile.png"));
        ASSERT_TRUE(keptAlive.Post("/echo", "payload", "text/plain"));
    }
    ASSERT_TRUE(MakeClient().Get("/tile.png"));

    const std::vector<FixtureRequest> requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/echo?x=%41");
    EXPECT_EQ(requests[0].path, "/echo");
    EXPECT_EQ(requests[0].Header("x-PROBE"), "one");
    EXPECT_EQ(requests[2].method, "POST");
    EXPECT_EQ(requests[0].clientPort, requests[1].clientPort);
    EXPECT_EQ(requests[1].clientPort, requests[2].clientPort);
    EXPECT_NE(requests[2].clientPort, requests[3].clientPort);
    EXPECT_EQ(m_server.ConnectionCount(), 2u);

    m_server.ClearLog();
    EXPECT_EQ(m_server.RequestCount(), 0u);

    // Stopping ends a slow body in progress.
    std::thread client([this] { MakeClient().Get("/slow"); });
    ASSERT_TRUE(m_server.WaitForRequest("/slow", kGenerousWait));
    const auto start = std::chrono::steady_clock::now();
    m_server.Stop();
    client.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, kStopBound);
}
