// The loopback map servers of the lmx_servers fixture: what the tile, cache and WMS tests rely
// on, checked here once so that a broken server set-up shows up as such.

#include <QFile>
#include <QImage>
#include <algorithm>
#include <cstddef>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include <lmxmaps/host/HTTPRequestor.h>

#include "integration/IntegrationSupport.h"

namespace {

using HTTPRequest::RequestInfo;

struct Response {
    int status = 0;
    std::vector<unsigned char> body;
    RefCntPtr<BinaryHTTPRequestor> request;
};

Response Get(int port, const std::string& path) {
    Response response;
    response.request = MakeRefCnt<BinaryHTTPRequestor>(
        QStringLiteral("127.0.0.1"), static_cast<unsigned int>(port), QStringLiteral("GET"),
        RequestInfo(QString::fromStdString(path)));
    response.request->Execute();
    response.status = response.request->GetStatusCode();
    try {
        response.request->GetBytes(response.body, true);
    } catch (const HTTPException&) {
        // The status says it; an error body is not needed here.
    }
    return response;
}

std::string Header(const Response& response, const char* name) {
    return response.request->GetHeader(QString::fromLatin1(name)).toStdString();
}

// The body decoded as a PNG image (in RGB32); null when it is no PNG.
QImage Png(const Response& response) {
    const QByteArray body(reinterpret_cast<const char*>(response.body.data()),
                          static_cast<int>(response.body.size()));
    return body.startsWith("\x89PNG\r\n\x1a\n")
               ? QImage::fromData(body, "PNG").convertToFormat(QImage::Format_RGB32)
               : QImage();
}

using TestServersTest = IntegrationSupport::TestServersFixture;

} // namespace

TEST_F(TestServersTest, StaticPrefixesServeTilesWithTheirOwnCacheControl) {
    const std::pair<const char*, const char*> prefixes[] = {
        {"/max-age/", "public, max-age=86400"},
        {"/short/", "public, max-age=5"},
        {"/no-store/", "no-store"},
    };
    const std::size_t logStart = AccessLogSize(m_servers->staticAccessLog);
    for (const auto& [prefix, cacheControl] : prefixes) {
        SCOPED_TRACE(prefix);
        const Response tile = Get(m_servers->staticPort, std::string(prefix) + "2/1/1.png");
        EXPECT_EQ(tile.status, 200);
        EXPECT_EQ(Png(tile).size(), QSize(256, 256));
        EXPECT_EQ(Header(tile, "Cache-Control"), cacheControl);
        EXPECT_EQ(Header(tile, "Content-Type"), "image/png");
        const std::string etag = Header(tile, "ETag");
        EXPECT_TRUE(etag.size() > 2 && etag.starts_with('"') && etag.ends_with('"')) << etag;
        EXPECT_TRUE(Header(tile, "Last-Modified").ends_with(" GMT"));
        EXPECT_EQ(CountRequestsSince(m_servers->staticAccessLog, logStart,
                                     std::string(prefix) + "2/1/1.png"),
                  1);
    }
    // The pyramid ends at level 4.
    EXPECT_EQ(Get(m_servers->staticPort, "/max-age/5/0/0.png").status, 404);
}

TEST_F(TestServersTest, MapServerDrawsTilesAtTheStaticServersPaths) {
    const std::size_t logStart = AccessLogSize(m_servers->mapServerAccessLog);
    const Response tile = Get(m_servers->mapServerPort, "/max-age/1/0/0.png");
    ASSERT_EQ(tile.status, 200);
    const QImage image = Png(tile);
    ASSERT_EQ(image.size(), QSize(256, 256));
    // Blue Marble imagery has thousands of colours; the country outlines are pure yellow,
    // which the imagery never is.
    EXPECT_GT(IntegrationSupport::DistinctColours(image, image.rect()), 1000);
    const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
    EXPECT_GT(std::count(pixels, pixels + 256 * 256, qRgb(255, 255, 0)), 50);
    EXPECT_EQ(CountRequestsSince(m_servers->mapServerAccessLog, logStart, "/max-age/1/0/0.png"), 1);
}

TEST_F(TestServersTest, MapDataHoldsTheMapTilesDirectory) {
    const std::string tiles = m_servers->mapDataDir + "/maptiles/";
    QImage grey(256, 256, QImage::Format_RGB32);
    grey.fill(qRgb(224, 224, 224));
    EXPECT_EQ(QImage(QString::fromStdString(tiles + "Blank256x256.png"))
                  .convertToFormat(QImage::Format_RGB32),
              grey);
    for (const char* tile : {"0/0/0.png", "4/0/0.png", "4/15/15.png"}) {
        const QImage image(QString::fromStdString(tiles + "default/normal/" + tile));
        EXPECT_EQ(image.size(), QSize(256, 256)) << tile;
    }
}

TEST_F(TestServersTest, MapDataHoldsUncompressedVectorTiles) {
    for (const char* layer : {"countries", "demographics"}) {
        QFile tile(QString::fromStdString(m_servers->mapDataDir) +
                   QStringLiteral("/vector-tiles/%1/0/0/0.pbf").arg(QLatin1String(layer)));
        ASSERT_TRUE(tile.open(QIODevice::ReadOnly)) << tile.fileName().toStdString();
        const QByteArray bytes = tile.readAll();
        // Not gzip: the first field is a layer (field 3, length-delimited), named as expected.
        ASSERT_FALSE(bytes.isEmpty());
        EXPECT_EQ(bytes[0], '\x1A') << layer;
        EXPECT_TRUE(bytes.contains(layer)) << layer;
    }
}
