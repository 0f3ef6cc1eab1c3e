#pragma once
// Building request URLs: query strings, the origin and the full URL of a request.

#include <lmxmaps/host/net/HTTPRequestor.h>

namespace HttpUrl {

struct Target {
    // "http://host:port" (port left out when it is the scheme's own); the key of remembered
    // server credentials.
    TString origin;
    // origin + path + query, every character one that may appear in a URL.
    TString fullUrl;
    // Whether the host is a loopback name or address.
    bool loopback = false;
};

// server: "host", "http://host" or "https://host" (an IPv6 address with or without brackets);
// port 0: the scheme's own.
Target MakeTarget(const TString& server, unsigned int port, const HTTPRequest::RequestInfo& info);

TString FormatParams(const HTTPRequest::ParameterMap& parameters);

} // namespace HttpUrl
