// Tiles over https from a loopback server whose self-signed certificate only HttpCaBundleFile
// makes trusted, and a redirect from there to plain http, which a tile must never follow.

#include <QImage>
#include <gtest/gtest.h>

#include <lmxmaps/host/Options.h>

#include "TlsFixtureServer.h"
#include "host/OptionGuard.h"
#include "integration/IntegrationSupport.h"
#include "providers/TileServerFixture.h"

namespace {

using namespace IntegrationSupport;

const QString kTilePath = QStringLiteral("/tiles/{Z}/{X}/{Y}.png");

class TlsRedirectTest : public TileServerTest {
protected:
    OptionGuard m_caBundle{"HttpCaBundleFile"};
    // Stopped after TearDown closed the idle connections, so no kept-alive one holds it up.
    const TlsFixtureServer m_https{m_server.TilePng()};
};

} // namespace

TEST_F(TlsRedirectTest, HttpsTilesArriveWithTheCaBundleAndNeverFollowARedirectToHttp) {
    // The system's authorities do not know the server's certificate.
    const Rendered untrusted = RenderTwoTiles(m_https.BaseUrl(), kTilePath);
    ASSERT_NE(untrusted.composite, nullptr);
    const std::vector<QString> untrustedErrors = TileErrors(*untrusted.composite);
    ASSERT_EQ(untrustedErrors.size(), 2u);
    EXPECT_TRUE(untrustedErrors[0].contains(QStringLiteral("certificate")))
        << untrustedErrors[0].toStdString();

    Options::Set(QStringLiteral("HttpCaBundleFile"), TlsFixtureServer::CertificateFile());
    const Rendered trusted = RenderTwoTiles(m_https.BaseUrl(), kTilePath);
    ASSERT_NE(trusted.composite, nullptr);
    EXPECT_TRUE(TileErrors(*trusted.composite).empty());
    const QPoint centre(FixtureServer::kTileSize / 2, FixtureServer::kTileSize / 2);
    EXPECT_EQ(CompositePixels(*trusted.composite).pixel(centre),
              QImage::fromData(m_server.TilePng()).pixel(centre));

    // The same tiles sent on to the http server fail before it hears the request.
    m_server.ClearLog();
    const Rendered redirected =
        RenderTwoTiles(m_https.BaseUrl(),
                       QStringLiteral("/redirect?to=%1/tiles/{Z}/{X}/{Y}.png&access_token=tok123")
                           .arg(m_server.BaseUrl()));
    ASSERT_NE(redirected.composite, nullptr);
    const std::vector<QString> redirectErrors = TileErrors(*redirected.composite);
    ASSERT_EQ(redirectErrors.size(), 2u);
    for (const QString& error : redirectErrors) {
        EXPECT_TRUE(error.contains(QStringLiteral("a redirect from https to http is not allowed")))
            << error.toStdString();
        EXPECT_FALSE(error.contains(QStringLiteral("tok123"))) << error.toStdString();
    }
    EXPECT_EQ(m_server.RequestCount(), 0u);
}
