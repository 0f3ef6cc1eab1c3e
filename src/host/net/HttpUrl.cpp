#include "HttpUrl.h"

#include <QUrl>
#include <algorithm>

namespace HttpUrl {

namespace {

constexpr unsigned int kHttpPort = 80;
constexpr unsigned int kHttpsPort = 443;

// Characters a path keeps as they are besides the unreserved ones: the reserved set of
// RFC 3986 and '%', so that the caller's own escapes survive.
const QByteArray kPathKeeps = QByteArrayLiteral("!$&'()*+,;=:@/?#[]%");

bool IsLoopback(const TString& host) {
    const TString lower = host.toLower();
    if (lower == u"localhost" || lower == u"::1") {
        return true;
    }
    const bool dottedDecimal = std::all_of(
        lower.begin(), lower.end(), [](QChar c) { return c == u'.' || (c >= u'0' && c <= u'9'); });
    return dottedDecimal && lower.startsWith(u"127.");
}

// An IPv6 address with a zone ("fe80::1%eth0") is written with the zone's '%' escaped
// ("fe80::1%25eth0"), as a URL must; a zone escaped already stays as it is.
TString EncodeZone(const TString& address) {
    const qsizetype zone = address.indexOf(u'%');
    if (zone < 0 || address.mid(zone, 3) == u"%25") {
        return address;
    }
    return address.left(zone) + QStringLiteral("%25") + address.mid(zone + 1);
}

// ASCII only: QChar::isDigit() also takes other scripts' digits, which start no escape.
bool IsHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// A '%' that starts no escape ("50%", "%zz") is written as "%25": a server would otherwise
// read it together with the characters that follow.
TString EscapeStrayPercents(const TString& path) {
    TString escaped;
    escaped.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const bool startsEscape =
            i + 2 < path.size() && IsHexDigit(path.at(i + 1)) && IsHexDigit(path.at(i + 2));
        if (path.at(i) == u'%' && !startsEscape) {
            escaped += QStringLiteral("%25");
        } else {
            escaped += path.at(i);
        }
    }
    return escaped;
}

} // namespace

Target MakeTarget(const TString& server, unsigned int port, const HTTPRequest::RequestInfo& info) {
    TString scheme = info.scheme == HTTPRequest::Scheme::Https ? QStringLiteral("https")
                                                               : QStringLiteral("http");
    TString host = server.trimmed();
    const qsizetype schemeEnd = host.indexOf(u"://");
    if (schemeEnd > 0) {
        scheme = host.left(schemeEnd).toLower();
        host = host.mid(schemeEnd + 3);
    }
    while (host.endsWith(u'/')) {
        host.chop(1);
    }
    // "host:port" or "[v6]:port": a port in the server string serves when none is given.
    const qsizetype portColon = host.lastIndexOf(u':');
    const bool bracketed = host.startsWith(u'[');
    if (portColon > 0 && (bracketed ? host.at(portColon - 1) == u']' : host.count(u':') == 1)) {
        bool numeric = false;
        const unsigned int named = host.mid(portColon + 1).toUInt(&numeric);
        if (numeric) {
            if (port == 0) {
                port = named;
            }
            host.truncate(portColon);
        }
    }
    if (host.startsWith(u'[') && host.endsWith(u']')) {
        host = host.mid(1, host.size() - 2);
    }
    const unsigned int defaultPort = scheme == u"https" ? kHttpsPort : kHttpPort;

    Target target;
    target.loopback = IsLoopback(host);
    const TString hostInUrl = host.contains(u':') ? u'[' + EncodeZone(host) + u']' : host;
    target.origin = scheme + QStringLiteral("://") + hostInUrl;
    if (port != 0 && port != defaultPort) {
        target.origin += u':' + TString::number(port);
    }

    TString path =
        QString::fromLatin1(QUrl::toPercentEncoding(EscapeStrayPercents(info.path), kPathKeeps));
    if (!path.startsWith(u'/')) {
        path.prepend(u'/');
    }
    if (!info.parameters.empty()) {
        path += path.contains(u'?') ? u'&' : u'?';
        path += FormatParams(info.parameters);
    }
    target.fullUrl = target.origin + path;
    return target;
}

TString FormatParams(const HTTPRequest::ParameterMap& parameters) {
    QByteArray query;
    for (const auto& [key, value] : parameters) {
        if (!query.isEmpty()) {
            query += '&';
        }
        query += QUrl::toPercentEncoding(key);
        query += '=';
        query += QUrl::toPercentEncoding(value);
    }
    return QString::fromLatin1(query);
}

} // namespace HttpUrl
