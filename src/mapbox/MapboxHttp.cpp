#include "mapbox/MapboxHttp.h"

#include <algorithm>

#include <lmxmaps/host/Options.h>

namespace MapboxHttp {

namespace {

constexpr const char* kForceNoConnectionOption = "ForceNoConnectionMap";
constexpr const char* kApiUrlOption = "MapboxApiUrl";
// Refused at once, and never leaves the machine.
constexpr const char16_t* kUnreachableServer = u"http://127.0.0.1";
constexpr unsigned int kUnreachablePort = 1;

} // namespace

TString Get(const TUrl& url, const HTTPRequest::ParameterMap& parameters) {
    TString server = ServerOf(url);
    auto port = static_cast<unsigned int>(std::max(url.GetPort(), 0));
    if (Options::GetBool(QLatin1String(kForceNoConnectionOption))) {
        server = TStr(kUnreachableServer);
        port = kUnreachablePort;
    }
    TString path = url.GetPath().isEmpty() ? QStringLiteral("/") : url.GetPath();
    if (!url.GetQuery().isEmpty()) {
        path += u'?' + url.GetQuery();
    }
    auto request = MakeRefCnt<StringHTTPRequestor>(server, port, QStringLiteral("GET"),
                                                   HTTPRequest::RequestInfo(path, parameters));
    request->Execute();
    return request->GetString();
}

TUrl ApiBase() {
    return TUrl(Options::GetString(QLatin1String(kApiUrlOption)));
}

TString ServerOf(const TUrl& url) {
    TString host = url.GetHost();
    if (host.contains(u':')) {
        host = u'[' + host + u']';
    }
    return url.GetScheme() + QStringLiteral("://") + host;
}

} // namespace MapboxHttp
