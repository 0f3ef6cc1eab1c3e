#pragma once
// Which server addresses the map connections may reach.
//
// A rule set lists addresses and CIDR ranges, IPv4 and IPv6 alike. IPv4 addresses are kept
// mapped into IPv6 (::ffff:a.b.c.d), so an IPv4 rule also covers that mapped form and one
// rule set serves both families. The option "ConnectionIpBlacklist" holds the ranges never to
// connect to (link-local, which includes the cloud metadata address 169.254.169.254) and
// "MapConnectionIpAllowList" exceptions to it.
//
// Every connection the HTTP layer opens is held to those options (IsAllowedByOptions), and so
// is what the vector map fetches itself.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <lmxmaps/host/TString.h>

struct sockaddr;

// An IPv6 address, or an IPv4 address mapped into IPv6.
class TIpAddress {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    // All zeros ("::").
    TIpAddress() = default;
    explicit TIpAddress(const Bytes& bytes) : m_bytes(bytes) {}
    static TIpAddress FromIPv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
    // A literal address: "a.b.c.d", an IPv6 address, either with or without brackets ("[::1]").
    // Host names are not looked up; see TNetworkRules::ResolveHost.
    static std::optional<TIpAddress> Parse(const TString& text);
    // The address of an IPv4 or IPv6 socket address of length bytes; nullopt for any other.
    static std::optional<TIpAddress> FromSocketAddress(const sockaddr* address, std::size_t length);

    const Bytes& GetBytes() const { return m_bytes; }
    // Whether this is a mapped IPv4 address.
    bool IsIPv4() const;
    // 127.0.0.0/8 or ::1.
    bool IsLoopback() const;
    // "a.b.c.d" for IPv4, the usual compressed form for IPv6.
    TString ToString() const;

    auto operator<=>(const TIpAddress&) const = default;

private:
    Bytes m_bytes{};
};

class TNetworkRules {
public:
    static constexpr const char* kDenyOption = "ConnectionIpBlacklist";
    static constexpr const char* kAllowOption = "MapConnectionIpAllowList";

    // No rules: matches nothing.
    TNetworkRules() = default;

    // Entries separated by commas, semicolons or blanks: an address ("10.1.2.3", "::1") or a
    // range ("169.254.0.0/16", "fe80::/10"; an IPv4 prefix length is 0 to 32). Host bits set in
    // a range are ignored. A malformed entry is left out with a warning in the log.
    static TNetworkRules Parse(const TString& text);
    // The rules in a registered option (see Options.h).
    static TNetworkRules FromOption(const TString& optionName);

    bool IsEmpty() const { return m_ranges.empty(); }
    std::size_t GetRuleCount() const { return m_ranges.size(); }
    bool Matches(const TIpAddress& address) const;

    // Every address of a host, in resolver order without repeats; a literal address is
    // returned as it is, without asking DNS. Empty when the host cannot be resolved, with the
    // reason in *error when given.
    static std::vector<TIpAddress> ResolveHost(const TString& host, TString* error = nullptr);

    // Allowed when the allow rules match; otherwise denied when the deny rules match; otherwise
    // allowed.
    static bool IsAllowed(const TIpAddress& address, const TNetworkRules& denyRules,
                          const TNetworkRules& allowRules);
    // IsAllowed with the rules the options kDenyOption and kAllowOption hold now. The rules
    // are parsed again only when an option's text changed. Thread-safe.
    static bool IsAllowedByOptions(const TIpAddress& address);

private:
    struct Range {
        TIpAddress network;
        // In the 128-bit space: an IPv4 /16 is 112.
        int prefixLength = 128;
    };
    std::vector<Range> m_ranges;
};
