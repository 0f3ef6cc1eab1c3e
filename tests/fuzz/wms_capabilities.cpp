// A GetCapabilities answer as a WMS connection reads it. A document that is accepted must be
// usable: a supported version, a preferred image format, an http(s) GetMap address on a real
// port when one is named, and at least one layer, each named once, in a code we can project.
#include <QByteArray>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/DOMParser.h>

#include "FuzzSupport.h"

namespace {

constexpr int kMaxPort = 65535;

bool IsPreferredFormat(const TString& format) {
    return format == u"image/png" || format == u"image/jpeg" || format == u"image/gif";
}

// What the connection's own check would see before the layers are read; the connection then
// resolves the host, which a fuzzer must not.
void CheckGetMap(const WmsCapabilities& capabilities) {
    const auto& versions = WmsConnection::SupportedVersions();
    if (std::find(versions.begin(), versions.end(), capabilities.version) == versions.end() ||
        capabilities.title.isEmpty() || !IsPreferredFormat(capabilities.imageFormat))
        std::abort();
    if (capabilities.getMapHost.isEmpty())
        return;
    const bool https = capabilities.getMapScheme == u"https";
    if ((!https && capabilities.getMapScheme != u"http") ||
        https != capabilities.getMapHost.startsWith(u"https://") ||
        !capabilities.getMapPath.startsWith(u'/') || capabilities.getMapPort < 0 ||
        capabilities.getMapPort > kMaxPort)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::SetOptions();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const DOMDocument document =
        DOMParser::Parse(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    WmsCapabilities capabilities;
    try {
        capabilities = WmsCapabilities::Read(document, CheckGetMap);
    } catch (const MapProviderException&) {
        return 0;
    }
    if (!capabilities.layers || capabilities.layers->GetLayers().empty())
        std::abort();
    std::set<TString> names;
    for (const MapLayer& layer : capabilities.layers->GetLayers()) {
        if (!names.insert(layer.GetName()).second ||
            !WmsConnection::IsSupportedCRS(layer.GetAttribute(MapLayer::attrCRS)) ||
            layer.GetAttribute(MapLayer::attrType) != MapLayer::valueFeatures)
            std::abort();
    }
    return 0;
}
