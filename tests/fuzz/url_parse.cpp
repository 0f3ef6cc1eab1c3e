// Server addresses as they arrive in capabilities documents and options: a valid URL reads back
// the same from its own text, and from the request URL built of its parts (scheme, host, port,
// path and query), since the parts stay percent-encoded so that nothing is lost.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <lmxmaps/host/net/HTTPRequestor.h>
#include <lmxmaps/host/net/TUrl.h>

namespace {

bool SameParts(const TUrl& a, const TUrl& b) {
    return a.IsValid() == b.IsValid() && a.GetScheme() == b.GetScheme() &&
           a.GetHost() == b.GetHost() && a.GetPort() == b.GetPort() && a.GetPath() == b.GetPath() &&
           a.GetQuery() == b.GetQuery();
}

// The request URL the HTTP layer makes of the parts, as the WMS and Mapbox fetches pass them.
TString RequestUrlOf(const TUrl& url) {
    const TString host = url.GetHost().contains(u':') ? u'[' + url.GetHost() + u']' : url.GetHost();
    TString path = url.GetPath().isEmpty() ? QStringLiteral("/") : url.GetPath();
    if (!url.GetQuery().isEmpty())
        path += u'?' + url.GetQuery();
    const StringHTTPRequestor request(url.GetScheme() + QStringLiteral("://") + host,
                                      static_cast<unsigned int>(url.GetPort()),
                                      QStringLiteral("GET"), HTTPRequest::RequestInfo(path));
    return request.GetFullUrl();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TUrl url(QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)));
    if (!url.IsValid())
        return 0;
    // Lower case, but for an IPv6 zone (an interface name).
    const TString hostName = url.GetHost().section(u'%', 0, 0);
    if (url.GetScheme() != url.GetScheme().toLower() || hostName != hostName.toLower())
        std::abort();

    const TUrl again(url.ToString());
    if (!SameParts(url, again) || again.ToString() != url.ToString())
        std::abort();

    if (url.GetScheme() != u"http" && url.GetScheme() != u"https")
        return 0;
    const TUrl requested(RequestUrlOf(url));
    const bool emptyPath = url.GetPath().isEmpty();
    if (!requested.IsValid() || requested.GetScheme() != url.GetScheme() ||
        requested.GetHost() != url.GetHost() || requested.GetPort() != url.GetPort() ||
        requested.GetPath() != (emptyPath ? QStringLiteral("/") : url.GetPath()) ||
        requested.GetQuery() != url.GetQuery())
        std::abort();
    return 0;
}
