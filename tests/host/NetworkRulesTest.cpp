#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/TNetworkRules.h>

#include "OptionGuard.h"

namespace {

TIpAddress Ip(const char* text) {
    const std::optional<TIpAddress> address = TIpAddress::Parse(QString::fromLatin1(text));
    EXPECT_TRUE(address.has_value()) << text;
    return address.value_or(TIpAddress());
}

TNetworkRules Rules(const char* text) {
    return TNetworkRules::Parse(QString::fromLatin1(text));
}

} // namespace

TEST(TNetworkRules, RangesMatchUpToTheirEdgesInBothFamiliesAndMalformedOnesAreSkipped) {
    const TNetworkRules rules = Rules("169.254.0.0/16 10.0.0.0/9;192.0.2.7, fe80::/10");
    EXPECT_TRUE(rules.Matches(Ip("169.254.0.0")));
    EXPECT_TRUE(rules.Matches(Ip("169.254.255.255")));
    EXPECT_FALSE(rules.Matches(Ip("169.255.0.0")));
    EXPECT_TRUE(rules.Matches(Ip("10.127.255.255")));
    EXPECT_FALSE(rules.Matches(Ip("10.128.0.0")));
    EXPECT_FALSE(rules.Matches(Ip("192.0.2.8")));
    EXPECT_TRUE(rules.Matches(Ip("febf:ffff::1")));
    EXPECT_FALSE(rules.Matches(Ip("fec0::1")));
    // The IPv4-mapped IPv6 spelling meets the IPv4 rule; the IPv4-compatible one does not.
    EXPECT_TRUE(rules.Matches(Ip("::ffff:169.254.169.254")));
    EXPECT_FALSE(rules.Matches(Ip("::169.254.169.254")));
    // An IPv4 /0 covers every IPv4 address and no IPv6 one.
    EXPECT_FALSE(Rules("0.0.0.0/0").Matches(Ip("2001:db8::1")));
    EXPECT_EQ(Ip("[2001:DB8::1]").ToString(), QStringLiteral("2001:db8::1"));
    EXPECT_EQ(Ip("::ffff:10.0.0.1").ToString(), QStringLiteral("10.0.0.1"));

    // Malformed entries are skipped with a warning.
    const TLog::ScopedCapture capture;
    const TNetworkRules skipping = Rules(
        "192.0.2.1,,bogus; 10.0.0.0/33 fe80::/129 1.2.3/8 1.2.3.4/ 5.6.7.8/-1 198.51.100.0/24");
    EXPECT_EQ(skipping.GetRuleCount(), 2u);
    EXPECT_TRUE(skipping.Matches(Ip("198.51.100.200")));
    EXPECT_FALSE(skipping.Matches(Ip("10.0.0.1")));
    const std::vector<TLog::Record> records = capture.Records();
    EXPECT_EQ(
        std::count_if(records.begin(), records.end(),
                      [](const TLog::Record& r) { return r.severity == TLog::Severity::Warn; }),
        6);
}

TEST(TNetworkRules, AllowListBeatsDenyListDefaultsKeepLoopbackAndLocalhostResolvesToIt) {
    const TNetworkRules deny = Rules("169.254.0.0/16");
    const TNetworkRules allow = Rules("169.254.10.0/24");
    EXPECT_TRUE(TNetworkRules::IsAllowed(Ip("169.254.10.20"), deny, allow));
    EXPECT_FALSE(TNetworkRules::IsAllowed(Ip("169.254.169.254"), deny, allow));
    EXPECT_TRUE(TNetworkRules::IsAllowed(Ip("203.0.113.1"), deny, allow));

    const OptionGuard denyGuard("ConnectionIpBlacklist");
    const OptionGuard allowGuard("MapConnectionIpAllowList");
    const auto allowed = [](const char* address) {
        return TNetworkRules::IsAllowed(
            Ip(address), TNetworkRules::FromOption(QStringLiteral("ConnectionIpBlacklist")),
            TNetworkRules::FromOption(QStringLiteral("MapConnectionIpAllowList")));
    };
    EXPECT_FALSE(allowed("169.254.169.254"));
    EXPECT_FALSE(allowed("fe80::1"));
    EXPECT_TRUE(allowed("127.0.0.1"));
    EXPECT_TRUE(allowed("::1"));
    ::setenv("LMX_MapConnectionIpAllowList", "169.254.169.254", 1);
    EXPECT_TRUE(allowed("169.254.169.254"));

    EXPECT_EQ(TNetworkRules::ResolveHost(QStringLiteral("127.0.0.1")),
              (std::vector<TIpAddress>{TIpAddress::FromIPv4(127, 0, 0, 1)}));
    TString error;
    const std::vector<TIpAddress> local =
        TNetworkRules::ResolveHost(QStringLiteral("localhost"), &error);
    ASSERT_FALSE(local.empty()) << error.toStdString();
    EXPECT_TRUE(std::all_of(local.begin(), local.end(),
                            [](const TIpAddress& a) { return a.IsLoopback(); }));
    EXPECT_TRUE(TNetworkRules::ResolveHost(QString(), &error).empty());
}
