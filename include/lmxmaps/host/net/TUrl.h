#pragma once
// An absolute URL as a server address is given (a WMS base URL), read with QUrl.

#include <QUrl>

#include <lmxmaps/host/TString.h>

class TUrl {
public:
    TUrl() = default;
    explicit TUrl(const TString& text);

    // An absolute URL with a scheme and a host, and a port other than 0 when it names one; any
    // scheme ("ftp://h/x" is valid).
    bool IsValid() const;
    // Lower case ("HTTP://H/p" gives "http").
    TString GetScheme() const;
    // Lower case, but for the zone of an IPv6 address; an IPv6 address without its brackets
    // ("::1", "fe80::1%eth0").
    TString GetHost() const;
    // The explicit port, else the scheme's own (80 for http, 443 for https), else -1.
    int GetPort() const;
    bool HasExplicitPort() const;
    // Path and query stay percent-encoded, so that putting them back together loses nothing.
    // The path may be empty; the query has no leading '?' and is empty when there is none.
    TString GetPath() const;
    TString GetQuery() const;
    // The whole URL, percent-encoded.
    TString ToString() const;

private:
    QUrl m_url;
};
