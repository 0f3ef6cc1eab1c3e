#include <lmxmaps/host/net/TUrl.h>

// Tolerant: a blank or non-ASCII character typed into a server address is percent-encoded
// rather than making the address invalid.
TUrl::TUrl(const TString& text) : m_url(text.trimmed(), QUrl::TolerantMode) {}

bool TUrl::IsValid() const {
    return m_url.isValid() && !m_url.scheme().isEmpty() && !m_url.host().isEmpty();
}

TString TUrl::GetScheme() const {
    return m_url.scheme().toLower();
}

TString TUrl::GetHost() const {
    return m_url.host().toLower();
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
