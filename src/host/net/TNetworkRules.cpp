#include <QRegularExpression>
#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/TNetworkRules.h>

namespace {

constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
constexpr int kMappedPrefixBits = 96;

TIpAddress FromIPv4Bytes(const std::uint8_t* ipv4) {
    TIpAddress::Bytes bytes{};
    std::memcpy(bytes.data(), kMappedPrefix, sizeof kMappedPrefix);
    std::memcpy(bytes.data() + 12, ipv4, 4);
    return TIpAddress(bytes);
}

// inet_pton rather than QHostAddress: it takes only the standard forms ("1.2.3.4", never
// "1.2.3" or "0x7f.1"), so what a rule means is never in doubt.
std::optional<TIpAddress> ParseLiteral(const TString& text, bool* isIPv4) {
    TString literal = text;
    if (literal.startsWith(u'[') && literal.endsWith(u']')) {
        literal = literal.mid(1, literal.size() - 2);
    }
    const QByteArray latin = literal.toLatin1();
    // inet_pton stops at a NUL: "127.0.0.1\0.example" must not pass for 127.0.0.1.
    if (latin.isEmpty() || literal.size() != latin.size() || latin.contains('\0')) {
        return std::nullopt;
    }
    std::uint8_t buffer[16];
    if (inet_pton(AF_INET, latin.constData(), buffer) == 1) {
        *isIPv4 = true;
        return FromIPv4Bytes(buffer);
    }
    if (inet_pton(AF_INET6, latin.constData(), buffer) == 1) {
        *isIPv4 = false;
        TIpAddress::Bytes bytes;
        std::memcpy(bytes.data(), buffer, bytes.size());
        return TIpAddress(bytes);
    }
    return std::nullopt;
}

bool PrefixEquals(const TIpAddress::Bytes& a, const TIpAddress::Bytes& b, int prefixLength) {
    const int wholeBytes = prefixLength / 8;
    if (std::memcmp(a.data(), b.data(), static_cast<std::size_t>(wholeBytes)) != 0) {
        return false;
    }
    const int restBits = prefixLength % 8;
    if (restBits == 0) {
        return true;
    }
    const auto mask = static_cast<std::uint8_t>(0xFF << (8 - restBits));
    return (a[wholeBytes] & mask) == (b[wholeBytes] & mask);
}

TIpAddress::Bytes MaskTo(TIpAddress::Bytes bytes, int prefixLength) {
    for (int bit = prefixLength; bit < 128; ++bit) {
        bytes[bit / 8] &= static_cast<std::uint8_t>(~(0x80 >> (bit % 8)));
    }
    return bytes;
}

void WarnMalformed(const TString& entry) {
    TLog::LogMessage(TLog::Severity::Warn,
                     TError::LogSite(QStringLiteral("NetworkRules"), 0x4E455431).logSite,
                     QStringLiteral("Ignoring malformed network rule '%1'").arg(entry));
}

// The rules of the two options, parsed from the texts they had when last asked.
struct OptionRules {
    TString denyText;
    TString allowText;
    TNetworkRules deny;
    TNetworkRules allow;
    bool parsed = false;
};

} // namespace

TIpAddress TIpAddress::FromIPv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t ipv4[4] = {a, b, c, d};
    return FromIPv4Bytes(ipv4);
}

std::optional<TIpAddress> TIpAddress::Parse(const TString& text) {
    bool isIPv4 = false;
    return ParseLiteral(text.trimmed(), &isIPv4);
}

std::optional<TIpAddress> TIpAddress::FromSocketAddress(const sockaddr* address,
                                                        std::size_t length) {
    if (address == nullptr) {
        return std::nullopt;
    }
    if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
        return FromIPv4Bytes(reinterpret_cast<const std::uint8_t*>(&ipv4->sin_addr));
    }
    if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(address);
        Bytes bytes;
        std::memcpy(bytes.data(), &ipv6->sin6_addr, bytes.size());
        return TIpAddress(bytes);
    }
    return std::nullopt;
}

bool TIpAddress::IsIPv4() const {
    return std::memcmp(m_bytes.data(), kMappedPrefix, sizeof kMappedPrefix) == 0;
}

bool TIpAddress::IsLoopback() const {
    if (IsIPv4()) {
        return m_bytes[12] == 127;
    }
    TIpAddress::Bytes ipv6Loopback{};
    ipv6Loopback[15] = 1;
    return m_bytes == ipv6Loopback;
}

TString TIpAddress::ToString() const {
    char text[INET6_ADDRSTRLEN];
    const bool ok = IsIPv4() ? inet_ntop(AF_INET, m_bytes.data() + 12, text, sizeof text)
                             : inet_ntop(AF_INET6, m_bytes.data(), text, sizeof text);
    return ok ? QString::fromLatin1(text) : TString();
}

TNetworkRules TNetworkRules::Parse(const TString& text) {
    static const QRegularExpression kSeparators(QStringLiteral("[,;\\s]+"));
    TNetworkRules rules;
    for (const TString& entry : text.split(kSeparators, Qt::SkipEmptyParts)) {
        const int slash = entry.indexOf(u'/');
        bool isIPv4 = false;
        const std::optional<TIpAddress> address =
            ParseLiteral(slash < 0 ? entry : entry.left(slash), &isIPv4);
        if (!address) {
            WarnMalformed(entry);
            continue;
        }
        const int maxLength = isIPv4 ? 32 : 128;
        int length = maxLength;
        if (slash >= 0) {
            const TString lengthText = entry.mid(slash + 1);
            bool ok = !lengthText.isEmpty() && lengthText.size() <= 3 &&
                      std::all_of(lengthText.begin(), lengthText.end(),
                                  [](QChar c) { return c >= u'0' && c <= u'9'; });
            length = ok ? lengthText.toInt() : -1;
            if (length < 0 || length > maxLength) {
                WarnMalformed(entry);
                continue;
            }
        }
        const int prefixLength = isIPv4 ? kMappedPrefixBits + length : length;
        rules.m_ranges.push_back(
            Range{TIpAddress(MaskTo(address->GetBytes(), prefixLength)), prefixLength});
    }
    return rules;
}

TNetworkRules TNetworkRules::FromOption(const TString& optionName) {
    return Parse(Options::GetString(optionName));
}

bool TNetworkRules::Matches(const TIpAddress& address) const {
    return std::any_of(m_ranges.begin(), m_ranges.end(), [&](const Range& range) {
        return PrefixEquals(address.GetBytes(), range.network.GetBytes(), range.prefixLength);
    });
}

std::vector<TIpAddress> TNetworkRules::ResolveHost(const TString& host, TString* error) {
    if (const std::optional<TIpAddress> literal = TIpAddress::Parse(host)) {
        return {*literal};
    }
    const QByteArray name = host.trimmed().toUtf8();
    if (name.isEmpty()) {
        if (error) {
            *error = QStringLiteral("empty host name");
        }
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    // One entry per address rather than one per socket type. No AI_ADDRCONFIG: on a machine
    // with only loopback interfaces it would hide the loopback addresses too.
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(name.constData(), nullptr, &hints, &found);
    if (status != 0) {
        if (error) {
            *error = QString::fromLocal8Bit(gai_strerror(status));
        }
        return {};
    }
    std::vector<TIpAddress> addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        const std::optional<TIpAddress> address =
            TIpAddress::FromSocketAddress(entry->ai_addr, entry->ai_addrlen);
        if (address && std::find(addresses.begin(), addresses.end(), *address) == addresses.end()) {
            addresses.push_back(*address);
        }
    }
    freeaddrinfo(found);
    return addresses;
}

bool TNetworkRules::IsAllowed(const TIpAddress& address, const TNetworkRules& denyRules,
                              const TNetworkRules& allowRules) {
    return allowRules.Matches(address) || !denyRules.Matches(address);
}

bool TNetworkRules::IsAllowedByOptions(const TIpAddress& address) {
    static std::mutex mutex;
    static OptionRules rules;
    const TString denyText = Options::GetString(QLatin1String(kDenyOption));
    const TString allowText = Options::GetString(QLatin1String(kAllowOption));
    std::lock_guard lock(mutex);
    if (!rules.parsed || denyText != rules.denyText || allowText != rules.allowText) {
        rules = OptionRules{denyText, allowText, Parse(denyText), Parse(allowText), true};
    }
    return IsAllowed(address, rules.deny, rules.allow);
}
