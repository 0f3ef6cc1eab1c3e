#pragma once
// Synchronous GETs to the Mapbox service and to parameters servers, as every Mapbox fetch makes
// them: the option "ForceNoConnectionMap" sends them to a loopback port nothing listens on.

#include <lmxmaps/host/net/HTTPRequestor.h>
#include <lmxmaps/host/net/TUrl.h>

namespace MapboxHttp {

// The text of the response to a GET of url (its path and query) with the parameters added to
// its query. Throws HTTPException (with the status and body for an error response),
// AsyncTask::CancelException, or another LumivexException.
TString Get(const TUrl& url, const HTTPRequest::ParameterMap& parameters = {});

// The Mapbox web API: the option "MapboxApiUrl" (scheme, host and optional port).
TUrl ApiBase();
// "scheme://host", the form map-source "server" attributes take.
TString ServerOf(const TUrl& url);

} // namespace MapboxHttp
