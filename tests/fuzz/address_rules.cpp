// Network rule lists as the options "ConnectionIpBlacklist" and "MapConnectionIpAllowList" give
// them. Input: the deny list, a newline, the allow list, a newline, an address. Answers for a
// few fixed addresses must not depend on how often or in which way the lists are read, a list
// of two parts matches what either part matches, and an address literal reads back from its
// own text and is matched by a rule of that text.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/net/TNetworkRules.h>

#include "FuzzSupport.h"

namespace {

const char* const kAskedAbout[] = {
    "127.0.0.1", "10.1.2.3", "169.254.169.254",           "255.255.255.255", "0.0.0.0",   "::1",
    "fe80::1",   "::",       "2001:db8::8:800:200c:417a", "::ffff:10.1.2.3", "::10.1.2.3"};

void CheckAddressLiteral(const TString& text) {
    const std::optional<TIpAddress> address = TIpAddress::Parse(text);
    if (!address)
        return;
    // Only the characters of an address literal (and its brackets) make one.
    for (const QChar c : text.trimmed())
        if (!(c.isDigit() && c.unicode() < 0x80) && !QStringLiteral("abcdefABCDEF.:[]").contains(c))
            std::abort();
    const std::optional<TIpAddress> again = TIpAddress::Parse(address->ToString());
    const TNetworkRules exact = TNetworkRules::Parse(address->ToString());
    if (again != address || exact.GetRuleCount() != 1 || !exact.Matches(*address))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::SetOptions();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const QStringList lines = text.split(u'\n');
    const TString denyText = lines.value(0);
    const TString allowText = lines.value(1);
    const TNetworkRules deny = TNetworkRules::Parse(denyText);
    const TNetworkRules allow = TNetworkRules::Parse(allowText);
    const TNetworkRules both = TNetworkRules::Parse(denyText + u',' + allowText);
    if (both.GetRuleCount() != deny.GetRuleCount() + allow.GetRuleCount())
        std::abort();

    const TNetworkRules denyAgain = TNetworkRules::Parse(denyText);
    Options::Set(QLatin1String(TNetworkRules::kDenyOption), denyText);
    Options::Set(QLatin1String(TNetworkRules::kAllowOption), allowText);
    for (const char* literal : kAskedAbout) {
        const TIpAddress address = *TIpAddress::Parse(QLatin1String(literal));
        const bool allowed = TNetworkRules::IsAllowed(address, deny, allow);
        if (both.Matches(address) != (deny.Matches(address) || allow.Matches(address)) ||
            denyAgain.Matches(address) != deny.Matches(address) ||
            TNetworkRules::IsAllowedByOptions(address) != allowed)
            std::abort();
    }
    CheckAddressLiteral(lines.value(2));
    return 0;
}
