#include <gtest/gtest.h>

#include <lmxmaps/host/VersionNumber.h>
#include <lmxmaps/host/net/TUrl.h>

TEST(TUrl, SplitsAbsoluteUrlsAndOnlyThoseWithAHostAreValid) {
    const TUrl plain(QStringLiteral("http://h/x?a=b"));
    ASSERT_TRUE(plain.IsValid());
    EXPECT_EQ(plain.GetHost(), QStringLiteral("h"));
    EXPECT_EQ(plain.GetPort(), 80);
    EXPECT_FALSE(plain.HasExplicitPort());
    EXPECT_EQ(plain.GetPath(), QStringLiteral("/x"));
    EXPECT_EQ(plain.GetQuery(), QStringLiteral("a=b"));
    EXPECT_EQ(plain.ToString(), QStringLiteral("http://h/x?a=b"));

    const TUrl secure(QStringLiteral("https://h:8443/p"));
    EXPECT_EQ(secure.GetPort(), 8443);
    EXPECT_TRUE(secure.HasExplicitPort());
    EXPECT_EQ(TUrl(QStringLiteral("https://h")).GetPort(), 443);
    EXPECT_EQ(TUrl(QStringLiteral("https://h")).GetPath(), QString());

    const TUrl upper(QStringLiteral("HTTP://H/p"));
    EXPECT_EQ(upper.GetScheme(), QStringLiteral("http"));
    EXPECT_EQ(upper.GetHost(), QStringLiteral("h"));

    const TUrl ipv6(QStringLiteral("http://[::1]:8080/w"));
    ASSERT_TRUE(ipv6.IsValid());
    EXPECT_EQ(ipv6.GetHost(), QStringLiteral("::1"));
    EXPECT_EQ(ipv6.GetPort(), 8080);

    // Encoded characters stay encoded, so parts can be put back together unchanged.
    const TUrl encoded(QStringLiteral("http://h/a%2Fb/c d?q=x%26y&r=%C3%A9"));
    EXPECT_EQ(encoded.GetPath(), QStringLiteral("/a%2Fb/c%20d"));
    EXPECT_EQ(encoded.GetQuery(), QStringLiteral("q=x%26y&r=%C3%A9"));

    const TUrl ftp(QStringLiteral("ftp://h/x"));
    EXPECT_TRUE(ftp.IsValid());
    EXPECT_EQ(ftp.GetScheme(), QStringLiteral("ftp"));
    EXPECT_EQ(ftp.GetPort(), -1);
    for (const char* text :
         {"", "h/x", "/x?a=b", "//h/x", "http:/x", "mailto:a@h", "http://h:99999/"}) {
        EXPECT_FALSE(TUrl(QString::fromLatin1(text)).IsValid()) << text;
    }
}

TEST(VersionNumber, ParsesWithTheGivenSeparatorsAndComparesNumericallyWithMissingPartsAsZero) {
    const VersionNumber dotted = VersionNumber::Parse(QStringLiteral("1.1.1"));
    EXPECT_EQ(dotted.GetParts(), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(dotted.ToString(), QStringLiteral("1.1.1"));
    const VersionNumber dashed =
        VersionNumber::Parse(QStringLiteral(" 1-3-0 "), QStringLiteral(".-"));
    EXPECT_EQ(dashed.GetParts(), (std::vector<int>{1, 3, 0}));
    EXPECT_EQ(dashed.ToString(), QStringLiteral("1.3.0"));
    for (const char* text : {"", "1.", "1..1", "1.x", "-1.0", "+1", "1 .1", "1-3", "99999999999"}) {
        EXPECT_FALSE(VersionNumber::Parse(QString::fromLatin1(text)).IsValid()) << text;
    }
    EXPECT_FALSE(VersionNumber(std::vector<int>{1, -1}).IsValid());

    const auto v = [](const char* text) {
        return VersionNumber::Parse(QString::fromLatin1(text));
    };
    EXPECT_EQ(v("1.1"), v("1.1.0"));
    EXPECT_EQ(v("1.1.0.0"), VersionNumber(1, 1, 0));
    EXPECT_LT(v("1.1"), v("1.1.1"));
    EXPECT_LT(v("1.1.1"), v("1.3.0"));
    EXPECT_LT(v("1.9"), v("1.10"));
    EXPECT_GT(v("2"), v("1.99.99"));
    // Invalid numbers sort first, so a missing version never wins a "highest" choice.
    EXPECT_LT(VersionNumber(), v("0"));
}
