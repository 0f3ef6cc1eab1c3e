// Query strings and request URLs as the HTTP requestors build them; no request is sent.

#include <gtest/gtest.h>

#include <lmxmaps/host/net/HTTPRequestor.h>

namespace {

using HTTPRequest::ParameterMap;
using HTTPRequest::RequestInfo;

TString FullUrl(const TString& server, unsigned int port, const RequestInfo& info) {
    return MakeRefCnt<BinaryHTTPRequestor>(server, port, QStringLiteral("GET"), info)->GetFullUrl();
}

} // namespace

TEST(URLFormatParams, KeysAreSortedUnreservedCharactersStayAndTheRestIsEscapedAsUtf8) {
    EXPECT_EQ(HTTPRequestor::URLFormatParams(ParameterMap{}), QString());
    const AttributeMap unordered = {{QStringLiteral("width"), QStringLiteral("256")},
                                    {QStringLiteral("bbox"), QStringLiteral("1,2,3,4")},
                                    {QStringLiteral("LAYERS"), QStringLiteral("roads")},
                                    {QStringLiteral("format"), QStringLiteral("image/png")}};
    // Upper case sorts before lower case: the order is by UTF-16 code unit.
    const TString expected =
        QStringLiteral("LAYERS=roads&bbox=1%2C2%2C3%2C4&format=image%2Fpng&width=256");
    EXPECT_EQ(HTTPRequestor::URLFormatParams(unordered), expected);
    EXPECT_EQ(HTTPRequestor::URLFormatParams(ParameterMap(unordered.begin(), unordered.end())),
              expected);

    const std::pair<ParameterMap, QString> cases[] = {
        {{{QStringLiteral("k"), QStringLiteral("AZaz09-._~")}}, QStringLiteral("k=AZaz09-._~")},
        {{{QStringLiteral("a key"), QStringLiteral(" &=?/#+%:@!$'()*,;[]\"<>\\^`{|}")}},
         QStringLiteral("a%20key=%20%26%3D%3F%2F%23%2B%25%3A%40%21%24%27%28%29%2A%2C%3B%5B%5D"
                        "%22%3C%3E%5C%5E%60%7B%7C%7D")},
        {{{QStringLiteral("q"), QString::fromUtf8("K\xC3\xB6ln \xE6\x9D\xB1")},
          {QStringLiteral("smile"), QString::fromUtf8("\xF0\x9F\x98\x80")}},
         QStringLiteral("q=K%C3%B6ln%20%E6%9D%B1&smile=%F0%9F%98%80")},
        {{{QString(), QStringLiteral("v")}, {QStringLiteral("STYLES"), QString()}},
         QStringLiteral("=v&STYLES=")},
    };
    for (const auto& [parameters, escaped] : cases) {
        EXPECT_EQ(HTTPRequestor::URLFormatParams(parameters), escaped);
    }
}

TEST(HttpFullUrl, SchemeHostAndPortAndPathsKeepTheirEscapesAndGainParameters) {
    struct Case {
        const char* server;
        unsigned int port;
        bool https;
        const char* expected;
    };
    const Case cases[] = {
        {"tiles.example", 0, false, "http://tiles.example"},
        {"tiles.example", 80, false, "http://tiles.example"},
        {"tiles.example", 8080, false, "http://tiles.example:8080"},
        {"https://tiles.example/", 443, false, "https://tiles.example"},
        {"https://tiles.example", 80, false, "https://tiles.example:80"},
        {"tiles.example", 0, true, "https://tiles.example"},
        // A server's own scheme beats the request's.
        {"http://tiles.example", 0, true, "http://tiles.example"},
        {"::1", 8080, false, "http://[::1]:8080"},
        {"[::1]", 0, false, "http://[::1]"},
        // A port inside the server string serves when no port is given, and yields to one that
        // is.
        {"http://127.0.0.1:8081", 0, false, "http://127.0.0.1:8081"},
        {"127.0.0.1:8081", 9000, false, "http://127.0.0.1:9000"},
        {"https://[::1]:8443/", 0, false, "https://[::1]:8443"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.server << " port " << c.port << " https " << c.https);
        RequestInfo tile(QStringLiteral("/tiles/1/2/3.png"));
        if (c.https) {
            tile.scheme = HTTPRequest::Scheme::Https;
        }
        EXPECT_EQ(FullUrl(QLatin1String(c.server), c.port, tile),
                  QLatin1String(c.expected) + QStringLiteral("/tiles/1/2/3.png"));
    }

    // The caller's own escapes go out unchanged; a percent sign that starts none is escaped.
    EXPECT_EQ(FullUrl(QStringLiteral("h"), 0,
                      RequestInfo(QString::fromUtf8("/a%2Fb/100%?x=%41&y=%4&z=%\xD9\xA4\xD9\xA1"))),
              QStringLiteral("http://h/a%2Fb/100%25?x=%41&y=%254&z=%25%D9%A4%D9%A1"));
    // What may not appear in a URL at all is escaped as UTF-8.
    EXPECT_EQ(FullUrl(QStringLiteral("h"), 0,
                      RequestInfo(QString::fromUtf8("/my tiles/K\xC3\xB6ln.png"))),
              QStringLiteral("http://h/my%20tiles/K%C3%B6ln.png"));
    EXPECT_EQ(FullUrl(QStringLiteral("h"), 0, RequestInfo(QStringLiteral("wms"))),
              QStringLiteral("http://h/wms"));
    const ParameterMap parameters = {{QStringLiteral("SERVICE"), QStringLiteral("WMS")},
                                     {QStringLiteral("request"), QStringLiteral("GetMap")}};
    EXPECT_EQ(FullUrl(QStringLiteral("h"), 0, RequestInfo(QStringLiteral("/wms"), parameters)),
              QStringLiteral("http://h/wms?SERVICE=WMS&request=GetMap"));
    EXPECT_EQ(
        FullUrl(QStringLiteral("h"), 0, RequestInfo(QStringLiteral("/wms?map=x"), parameters)),
        QStringLiteral("http://h/wms?map=x&SERVICE=WMS&request=GetMap"));
}
