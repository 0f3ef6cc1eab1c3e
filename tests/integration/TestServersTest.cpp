// The loopback map servers of the lmx_servers fixture: what the tile, cache and WMS tests rely
// on, checked here once so that a broken server set-up shows up as such.

#include <QColor>
#include <QImage>
#include <QSet>
#include <algorithm>
#include <cstddef>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <utility>
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

// Width and height from the PNG signature and IHDR chunk, or 0x0 when it is no PNG.
std::pair<unsigned, unsigned> PngSize(const std::vector<unsigned char>& bytes) {
    static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (bytes.size() < 24 ||
        !std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin()) ||
        std::string(bytes.begin() + 12, bytes.begin() + 16) != "IHDR") {
        return {0, 0};
    }
    const auto be32 = [&bytes](std::size_t at) {
        return (unsigned{bytes[at]} << 24) | (unsigned{bytes[at + 1]} << 16) |
               (unsigned{bytes[at + 2]} << 8) | unsigned{bytes[at + 3]};
    };
    return {be32(16), be32(20)};
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
        EXPECT_EQ(PngSize(tile.body), std::make_pair(256u, 256u));
        EXPECT_EQ(Header(tile, "Cache-Control"), cacheControl);
        EXPECT_EQ(Header(tile, "Content-Type"), "image/png");
        const std::string etag = Header(tile, "ETag");
        EXPECT_TRUE(etag.size() > 2 && etag.starts_with('"') && etag.ends_with('"')) << etag;
        EXPECT_TRUE(Header(tile, "Last-Modified").ends_with(" GMT"));
        EXPECT_EQ(CountRequestsSince(m_servers->staticAccessLog, logStart,
                                     std::string(prefix) + "2/1/1.png"),
                  1);
    }
}

TEST_F(TestServersTest, StaticServerAnswersMissingTilesWith404) {
    // The pyramid ends at level 4.
    const Response missing = Get(m_servers->staticPort, "/max-age/5/0/0.png");
    EXPECT_EQ(missing.status, 404);
}

TEST_F(TestServersTest, MapServerDrawsTilesAtTheStaticServersPaths) {
    const std::size_t logStart = AccessLogSize(m_servers->mapServerAccessLog);
    const Response tile = Get(m_servers->mapServerPort, "/max-age/1/0/0.png");
    ASSERT_EQ(tile.status, 200);
    ASSERT_EQ(PngSize(tile.body), std::make_pair(256u, 256u));

    const QImage image = QImage::fromData(tile.body.data(), static_cast<int>(tile.body.size()))
                             .convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(image.isNull());
    QSet<QRgb> colours;
    int outline = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            colours.insert(pixel);
            outline += pixel == qRgb(255, 255, 0) ? 1 : 0;
        }
    }
    // Blue Marble imagery has thousands of colours; the country outlines are pure yellow,
    // which the imagery never is.
    EXPECT_GT(colours.size(), 1000);
    EXPECT_GT(outline, 50);
    EXPECT_EQ(CountRequestsSince(m_servers->mapServerAccessLog, logStart, "/max-age/1/0/0.png"), 1);
}

TEST_F(TestServersTest, MapDataHoldsTheMapTilesDirectory) {
    const std::string tiles = m_servers->mapDataDir + "/maptiles/";
    const QImage blank(QString::fromStdString(tiles + "Blank256x256.png"));
    ASSERT_EQ(blank.size(), QSize(256, 256));
    for (int y = 0; y < blank.height(); ++y) {
        for (int x = 0; x < blank.width(); ++x) {
            ASSERT_EQ(blank.pixel(x, y), qRgb(224, 224, 224)) << x << "," << y;
        }
    }
    for (const char* tile : {"0/0/0.png", "4/0/0.png", "4/15/15.png"}) {
        const QImage image(QString::fromStdString(tiles + "default/normal/" + tile));
        EXPECT_EQ(image.size(), QSize(256, 256)) << tile;
    }
}
