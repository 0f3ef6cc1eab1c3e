#include <atomic>

#include <lmxmaps/host/LinkErrorMgr.h>

namespace LinkErrorMgr {

namespace {

std::atomic<ILinkErrorHandler*> g_handler{nullptr};

} // namespace

ILinkErrorHandler* GetHandler() {
    return g_handler.load();
}

void SetHandler(ILinkErrorHandler* handler) {
    g_handler.store(handler);
}

} // namespace LinkErrorMgr
