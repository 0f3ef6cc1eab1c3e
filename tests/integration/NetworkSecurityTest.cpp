// The network rules and the size limits as a user meets them: tile views whose tiles are sent
// to denied or unresolvable addresses, bodies and images over their limits, and the lmxmaps
// tool drawing such a source. Everything listens on loopback addresses.

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <lmxmaps/Wms.h>
#include <lmxmaps/host/Options.h>

#include "DocumentServer.h"
#include "host/OptionGuard.h"
#include "integration/IntegrationSupport.h"
#include "providers/TileServerFixture.h"
#include "tools/ToolProcess.h"

namespace {

using namespace IntegrationSupport;

const QString kDenyOption = QStringLiteral("ConnectionIpBlacklist");
const QString kAllowOption = QStringLiteral("MapConnectionIpAllowList");
// A label over 63 characters: the resolver refuses the name without asking any DNS server.
const QString kUnresolvableHost = QString(64, u'a') + QStringLiteral(".lmx-test");

QString RefusalOf(const char* address) {
    return QStringLiteral("the address %1 is not allowed by the network rules")
        .arg(QLatin1String(address));
}

class NetworkSecurityTest : public TileServerTest {
protected:
    NetworkSecurityTest()
        : m_deny("ConnectionIpBlacklist"), m_allow("MapConnectionIpAllowList"),
          m_bodyLimit("HttpMaxBodyBytes"), m_pixelBudget("ImageMaxPixels") {}

    // Tiles that the fixture redirects to the document server on 127.0.0.2.
    QString RedirectFormat() const {
        return QStringLiteral("/redirect?to=http://127.0.0.2:%1/wms/getmap&t={Z}-{X}-{Y}&"
                              "access_token=tok123")
            .arg(m_target.Port());
    }
    static std::vector<QString> TwoTileErrors(const QString& server, const QString& urlFormat) {
        const Rendered rendered = RenderTwoTiles(server, urlFormat);
        return rendered.composite ? TileErrors(*rendered.composite) : std::vector<QString>{};
    }

    // The tool drawing a tile source with the URL template and attributes, the options as
    // LMX_ variables; its disk cache is in m_dir.
    ToolRun RenderWithTool(const QString& urlFormat, const AttributeMap& attributes,
                           const AttributeMap& options) const {
        QJsonObject json{{QStringLiteral("name"), QStringLiteral("Secured")},
                         {QStringLiteral("class"), QStringLiteral("OpenStreetMap")},
                         {QStringLiteral("server"), m_server.BaseUrl()},
                         {QStringLiteral("port"), QString()},
                         {QStringLiteral("url-format"), urlFormat}};
        for (const auto& [key, value] : attributes) {
            json.insert(key, value);
        }
        const QString source = m_dir.filePath(QStringLiteral("source.json"));
        QFile file(source);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(json).toJson());
        file.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LMX_ImageCacheDirectory"), CacheDirectory());
        for (const auto& [name, value] : options) {
            environment.insert(QStringLiteral("LMX_") + name, value);
        }
        return RunTool({QStringLiteral("render"), QStringLiteral("--source"), source,
                        QStringLiteral("--size"), QStringLiteral("256x256"),
                        QStringLiteral("--out"), m_dir.filePath(QStringLiteral("map.png"))},
                       environment);
    }
    QString CacheDirectory() const { return m_dir.filePath(QStringLiteral("cache")); }

    DocumentServer m_target{"127.0.0.2"};
    OptionGuard m_deny, m_allow, m_bodyLimit, m_pixelBudget;
    QTemporaryDir m_dir;
};

} // namespace

// Every hop meets the rules as the options hold them now; the denied address hears nothing.
TEST_F(NetworkSecurityTest, TilesSentToADeniedAddressFailAndThatAddressHearsNothing) {
    ASSERT_GT(m_target.Port(), 0) << "cannot listen on 127.0.0.2";
    const struct {
        const char* deny;
        const char* allow;
        bool redirected;
        const char* refused;
        std::size_t fixtureRequests;
    } cases[] = {
        {"127.0.0.2/32", "", true, "127.0.0.2", 2},
        {"127.0.0.0/8", "127.0.0.1", true, "127.0.0.2", 2},
        {"127.0.0.1/32", "", false, "127.0.0.1", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deny);
        Options::Set(kDenyOption, QLatin1String(c.deny));
        Options::Set(kAllowOption, QLatin1String(c.allow));
        m_server.ClearLog();
        const std::vector<QString> errors = TwoTileErrors(
            m_server.BaseUrl(),
            c.redirected ? RedirectFormat() : QStringLiteral("/tiles/{Z}/{X}/{Y}.png"));
        ASSERT_EQ(errors.size(), 2u);
        for (const QString& error : errors) {
            EXPECT_TRUE(error.contains(RefusalOf(c.refused))) << error.toStdString();
            EXPECT_FALSE(error.contains(QStringLiteral("tok123"))) << error.toStdString();
        }
        EXPECT_EQ(m_server.RequestCount(), c.fixtureRequests);
    }
    EXPECT_EQ(m_target.Requests(), 0);

    // Without the rules the same tiles arrive from there.
    Options::Set(kDenyOption, std::nullopt);
    Options::Set(kAllowOption, std::nullopt);
    EXPECT_TRUE(TwoTileErrors(m_server.BaseUrl(), RedirectFormat()).empty());
    EXPECT_EQ(m_target.Requests(), 2);
}

// Through a proxy the connection opened is the proxy's, so its address is the one judged.
TEST_F(NetworkSecurityTest, AProxyIsJudgedByItsOwnAddress) {
    const OptionGuard proxy("HttpProxy");
    Options::Set(QStringLiteral("HttpProxy"), m_server.BaseUrl());
    const auto fetch = [](const char* deny) {
        Options::Set(kDenyOption, QLatin1String(deny));
        const auto request =
            MakeRefCnt<BinaryHTTPRequestor>(QStringLiteral("127.0.0.2"), 80, QStringLiteral("GET"),
                                            HTTPRequest::RequestInfo(QStringLiteral("/tile.png")));
        request->Execute();
        try {
            request->CheckExceptions();
        } catch (const HTTPException& error) {
            return std::make_pair(error.GetCode(), error.GetMessage());
        }
        return std::make_pair(200, QString());
    };
    // The fixture, as the proxy, wants credentials: 407 shows it was reached.
    EXPECT_EQ(fetch("127.0.0.2/32").first, 407);
    const auto [code, message] = fetch("127.0.0.1/32");
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(message.contains(RefusalOf("127.0.0.1"))) << message.toStdString();
    EXPECT_EQ(m_server.RequestCount(), 1u);
}

TEST_F(NetworkSecurityTest, ANameThatDoesNotResolveFailsClosed) {
    const std::vector<QString> errors = TwoTileErrors(QStringLiteral("http://") + kUnresolvableHost,
                                                      QStringLiteral("/{Z}/{X}/{Y}.png"));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("resolve"))) << errors[0].toStdString();
    EXPECT_FALSE(WmsConnection::IsAllowedIpAddress(kUnresolvableHost));
    EXPECT_FALSE(WmsConnection::IsAllowedIpAddress(QStringLiteral("http://") + kUnresolvableHost));
}

// A body over the limit fails, however it comes, and nothing of it is handed out or written.
TEST_F(NetworkSecurityTest, BodiesOverTheLimitFailWhetherDeclaredCountedOrGzipped) {
    const QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("body"));
    const auto fetch = [&](const QString& query) {
        const auto request = MakeRefCnt<FileHTTPRequestor>(
            m_server.BaseUrl(), 0, QStringLiteral("GET"),
            HTTPRequest::RequestInfo(QStringLiteral("/security/body?") + query), file);
        request->Execute();
        try {
            request->CheckExceptions();
        } catch (const HTTPException& error) {
            EXPECT_EQ(error.GetCode(), 0);
            return error.GetMessage();
        }
        return QString();
    };
    const QString overDefault = fetch(QStringLiteral("bytes=33554433&declared=1"));
    EXPECT_TRUE(overDefault.contains(QStringLiteral("larger than 33554432 bytes")))
        << overDefault.toStdString();

    Options::Set(QStringLiteral("HttpMaxBodyBytes"), QStringLiteral("100000"));
    for (const char* query : {"bytes=100001", "bytes=100001&declared=1", "bytes=100001&gzip=1"}) {
        SCOPED_TRACE(query);
        QFile::remove(file);
        EXPECT_TRUE(
            fetch(QLatin1String(query)).contains(QStringLiteral("larger than 100000 bytes")));
        EXPECT_FALSE(QFile::exists(file));
    }
    for (const char* query : {"bytes=100000", "bytes=100000&gzip=1"}) {
        SCOPED_TRACE(query);
        EXPECT_EQ(fetch(QLatin1String(query)), QString());
        EXPECT_EQ(QFileInfo(file).size(), 100000);
    }
}

// An image over the pixel budget fails as an undecodable tile would; the header alone decides.
TEST_F(NetworkSecurityTest, TilesOverThePixelBudgetFailBeforeTheyAreDecoded) {
    const TLog::ScopedCapture log;
    EXPECT_EQ(TwoTileErrors(m_server.BaseUrl(),
                            QStringLiteral("/security/png-header?width=10000&height=10000&t={X}"))
                  .size(),
              2u);
    EXPECT_EQ(CountLogLines(log, QStringLiteral("Refusing an image of 10000x10000 pixels")), 2);

    Options::Set(QStringLiteral("ImageMaxPixels"), QString::number(256 * 256));
    EXPECT_TRUE(TwoTileErrors(m_server.BaseUrl(),
                              QStringLiteral("/security/png?width=256&height=256&t={X}"))
                    .empty());
    EXPECT_EQ(TwoTileErrors(m_server.BaseUrl(),
                            QStringLiteral("/security/png?width=257&height=256&t={X}"))
                  .size(),
              2u);
}

// Secrets of a source (in its URL template and its attributes) and of a request (its
// Authorization header) stay out of what the tool prints with every log line on, of errors and
// logs in the process, and of the disk cache. The tool names a refusal and exits with 1.
TEST_F(NetworkSecurityTest, SecretsStayOutOfLogsErrorsAndTheDiskCacheAndTheToolNamesARefusal) {
    ASSERT_GT(m_target.Port(), 0) << "cannot listen on 127.0.0.2";
    const QString query = QStringLiteral(
        "key=Secret1&apikey=Secret2&api_key=Secret3&access_token=Secret4&token=Secret5&"
        "password=Secret6&t={X}");
    const AttributeMap attributes = {{QStringLiteral("password"), QStringLiteral("Secret7")},
                                     {QStringLiteral("api-key"), QStringLiteral("Secret8")}};
    const QString authorization = QStringLiteral("Bearer Secret9");
    const auto expectNoSecret = [](const QString& text) {
        EXPECT_FALSE(text.contains(QStringLiteral("Secret"))) << text.toStdString();
    };
    // Tiles stored on disk, then tiles sent on to a denied address.
    const struct {
        QString path;
        int exitCode;
        QString deny;
    } runs[] = {{QStringLiteral("/caching/tile.png?cc=max-age%3D600&z={Z}&y={Y}&"), 0, {}},
                {RedirectFormat() + u'&', 1, QStringLiteral("127.0.0.2/32")}};
    for (const auto& r : runs) {
        SCOPED_TRACE(r.path.toStdString());
        const ToolRun run =
            RenderWithTool(r.path + query, attributes,
                           {{QStringLiteral("LogLevel"), QStringLiteral("debug")},
                            {QStringLiteral("LogDetailTags"), QStringLiteral("30,31")},
                            {kDenyOption, r.deny}});
        EXPECT_EQ(run.exitCode, r.exitCode) << run.err.toStdString();
        EXPECT_EQ(run.err.contains(RefusalOf("127.0.0.2")), !r.deny.isEmpty())
            << run.err.toStdString();
        // The URLs are there, masked.
        EXPECT_TRUE(run.err.contains(QStringLiteral("access_token=***"))) << run.err.toStdString();
        expectNoSecret(run.out + run.err);
    }
    EXPECT_EQ(m_target.Requests(), 0);
    QString cached;
    for (QDirIterator files(CacheDirectory(), QDir::Files, QDirIterator::Subdirectories);
         files.hasNext();) {
        QFile file(files.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        cached += QString::fromLatin1(bytes.constData(), bytes.size());
    }
    // The tiles are stored under their URL template with digests for the secrets.
    EXPECT_TRUE(cached.contains(QRegularExpression(QStringLiteral("access_token=#[0-9a-f]{16}"))));
    expectNoSecret(cached);

    const OptionGuard retries("HttpRetryAttempts");
    Options::Set(QStringLiteral("HttpRetryAttempts"), QStringLiteral("1"));
    const TLog::ScopedCapture log;
    const auto request = MakeRefCnt<BinaryHTTPRequestor>(
        m_server.BaseUrl(), 0, QStringLiteral("GET"),
        HTTPRequest::RequestInfo(QStringLiteral("/status/503?") + query, {},
                                 {{QStringLiteral("Authorization"), authorization}}));
    request->Execute();
    EXPECT_THROW(
        try { request->CheckExceptions(); } catch (const HTTPException& error) {
            expectNoSecret(error.GetMessage() + QString::fromUtf8(error.what()));
            throw;
        },
        HTTPException);
    ASSERT_EQ(m_server.Requests().back().Header("Authorization"), authorization.toStdString());
    EXPECT_EQ(CountLogLines(log, QStringLiteral("Retrying")), 1);
    for (const TLog::Record& record : log.Records()) {
        expectNoSecret(record.message);
    }
}
