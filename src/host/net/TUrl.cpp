#include <lmxmaps/host/net/TUrl.h>

// Tolerant: a blank or non-ASCII character typed into a server address is percent-encoded
// rather than making the address invalid.
TUrl::TUrl(const TString& text) : m_url(text.trimmed(), QUrl::TolerantMode) {}

bool TUrl::IsValid() const {
    // Port 0 names no server, and the HTTP layer would take it for the scheme's own port.
    return m_url.isValid() && !m_url.scheme().isEmpty() && !m_url.host().isEmpty() &&
           m_url.port() != 0;
}

TString TUrl::GetScheme() const {
    return m_url.scheme().toLower();
}

TString TUrl::GetHost() const {
    const TString host = m_url.host();
    // An IPv6 zone ("fe80::1%eth0") names a network interface, whose name keeps its case.
    const qsizetype zone = host.indexOf(u'%');
    return zone < 0 ? host.toLower() : host.left(zone).toLower() + host.mid(zone);
}

int TUrl::GetPort() const {
    if (m_url.port() != -1) {
        return m_url.port();
    }
    const TString scheme = GetScheme();
    if (scheme == u"http") {
        return 80;
    }
    if (scheme == u"https") {
        return 443;
    }
    return -1;
}

bool TUrl::HasExplicitPort() const {
    return m_url.port() != -1;
}

TString TUrl::GetPath() const {
    return m_url.path(QUrl::FullyEncoded);
}

TString TUrl::GetQuery() const {
    return m_url.query(QUrl::FullyEncoded);
}

TString TUrl::ToString() const {
    return m_url.toString(QUrl::FullyEncoded);
}
