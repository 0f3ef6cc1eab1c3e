#include <QString>
#include <gtest/gtest.h>
#include <set>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/DOMParser.h>

#include "providers/QStringPrinter.h"

namespace {

int Order(const char* current, const char* candidate) {
    return WmsConnection::OrderProjections(QString::fromLatin1(current),
                                           QString::fromLatin1(candidate));
}

} // namespace

TEST(WmsConnection, SupportedCRSsAndTheirOrder) {
    EXPECT_EQ(Order("EPSG:4326", "EPSG:4326"), 0);
    EXPECT_EQ(Order("", "EPSG:27700"), -1);
    EXPECT_EQ(Order("EPSG:4326", "EPSG:27700"), -1);
    EXPECT_EQ(Order("", "EPSG:4269"), 1);
    EXPECT_EQ(Order("EPSG:102100", "EPSG:3857"), 1);
    EXPECT_EQ(Order("EPSG:4326", "EPSG:3857"), 1);
    EXPECT_EQ(Order("EPSG:3857", "EPSG:102100"), -1);
    EXPECT_EQ(Order("EPSG:4326", "EPSG:102100"), 1);
    EXPECT_EQ(Order("EPSG:4269", "EPSG:102100"), 1);
    EXPECT_EQ(Order("EPSG:3857", "EPSG:4326"), -1);
    EXPECT_EQ(Order("EPSG:102100", "EPSG:4326"), -1);
    EXPECT_EQ(Order("EPSG:4269", "EPSG:4326"), 1);
    // Among the other geographic codes the first one offered stays.
    EXPECT_EQ(Order("EPSG:4326", "EPSG:4269"), 0);
    EXPECT_EQ(Order("EPSG:4258", "EPSG:4269"), 0);
    EXPECT_EQ(Order("EPSG:3857", "EPSG:4269"), 0);
    // IsSupportedCRS takes "epsg:3857" as supported, so it must rank as Web Mercator too.
    EXPECT_EQ(Order("EPSG:4326", "epsg:3857"), 1);
    EXPECT_EQ(Order("epsg:3857", "EPSG:4326"), -1);

    const std::vector<TString>& codes = WmsConnection::SupportedCRSs();
    ASSERT_EQ(codes.size(), 64u);
    EXPECT_EQ(codes[0], QStringLiteral("EPSG:3857"));
    EXPECT_EQ(codes[1], QStringLiteral("EPSG:102100"));
    EXPECT_EQ(codes[2], QStringLiteral("EPSG:4326"));
    EXPECT_EQ(std::set<TString>(codes.begin(), codes.end()).size(), codes.size());
    for (const TString& code : codes) {
        EXPECT_TRUE(WmsConnection::IsSupportedCRS(code)) << code.toStdString();
    }
    EXPECT_TRUE(WmsConnection::IsSupportedCRS(QStringLiteral("epsg:4326")));
    EXPECT_FALSE(WmsConnection::IsSupportedCRS(QStringLiteral("EPSG:27700")));
    EXPECT_FALSE(WmsConnection::IsSupportedCRS(QStringLiteral("CRS:84")));
    EXPECT_FALSE(WmsConnection::IsSupportedCRS(QString()));
}

TEST(WmsConnection, FilterRequiredAttributesDeniesLinkLocalHostsAndCutsLongExceptionTexts) {
    AttributeMap attributes;
    for (const char* key : {"class", "service", "server", "port", "url", "name", "username",
                            "password", "full-url", "description", "use-tiled-maps"}) {
        attributes[QString::fromLatin1(key)] = QStringLiteral("v-") + QString::fromLatin1(key);
    }
    WmsConnection::FilterRequiredAttributes(attributes);
    const AttributeMap expected = {{QStringLiteral("class"), QStringLiteral("v-class")},
                                   {QStringLiteral("service"), QStringLiteral("v-service")},
                                   {QStringLiteral("server"), QStringLiteral("v-server")},
                                   {QStringLiteral("port"), QStringLiteral("v-port")},
                                   {QStringLiteral("url"), QStringLiteral("v-url")}};
    EXPECT_EQ(attributes, expected);

    for (const char* host : {"169.254.169.254", "https://169.254.169.254", "http://169.254.1.1",
                             "fe80::1", "[fe80::1]", "https://[fe80::1]"}) {
        EXPECT_FALSE(WmsConnection::IsAllowedIpAddress(QString::fromLatin1(host))) << host;
    }
    for (const char* host : {"127.0.0.1", "https://127.0.0.1", "localhost", "::1"}) {
        EXPECT_TRUE(WmsConnection::IsAllowedIpAddress(QString::fromLatin1(host))) << host;
    }

    const std::string longText(3000, 'x');
    const DOMDocument document = DOMParser::Parse(QByteArray::fromStdString(
        "<ServiceExceptionReport version=\"1.1.1\"><ServiceException>" + longText +
        "</ServiceException><ServiceException code=\"LayerNotDefined\">No layer b"
        "</ServiceException></ServiceExceptionReport>"));
    const std::vector<TString> messages = WmsConnection::ParseWMSExceptions(document);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], QString(WmsConnection::kMaxExceptionLength, u'x'));
    EXPECT_EQ(messages[1], QStringLiteral("No layer b"));

    EXPECT_TRUE(
        WmsConnection::ParseWMSExceptions(DOMParser::Parse("<WMT_MS_Capabilities/>")).empty());
}
