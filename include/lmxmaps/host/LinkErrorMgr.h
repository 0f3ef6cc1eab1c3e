#pragma once
// Where the host hears of data and map connections that failed, so it can tell the user once.

#include <lmxmaps/host/TString.h>

class ILinkErrorHandler {
public:
    virtual ~ILinkErrorHandler() = default;
    // kind: what failed (2 for a map source); source: its class; message: the failure.
    virtual void ReportLinkError(int kind, const TString& source, const TString& message) = 0;
};

namespace LinkErrorMgr {
// The installed handler, or null.
ILinkErrorHandler* GetHandler();
// Installs a handler (null removes it); the caller keeps it alive while installed.
void SetHandler(ILinkErrorHandler* handler);
} // namespace LinkErrorMgr
