// A tileset (TileJSON) document as a vector connection reads one it fetched for a tileset the
// parameters name. Fetches go to a loopback port nothing listens on, so the document comes
// from the fetch cache as after a network failure. Every data layer read must be requested by
// the tileset's mapbox:// URL and name a source layer; a document refused is refused as not a
// tileset.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapboxParams.h>
#include <lmxmaps/MapboxVectorConnection.h>

#include "FuzzSupport.h"

namespace {

const QString kTileset = QStringLiteral("Fuzzed");
const QString kTilesetUrl = QStringLiteral("mapbox://lumivex.fuzzed");

// Registered under FuzzSupport::kMapboxParamsUrl, where each connection finds it.
std::shared_ptr<MapboxParams> g_params;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_params = FuzzSupport::OfflineMapboxParams(
        QStringLiteral(R"("tilesets": {"Fuzzed": {"id": "lumivex.fuzzed"}})"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSupport::g_servedDocument =
        QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const AttributeMap attributes = {
        {QStringLiteral("server"), QStringLiteral("http://127.0.0.1")},
        {QStringLiteral("port"), QStringLiteral("1")},
        {QString::fromUtf16(MapboxVectorConnection::attrDataUrl), QStringLiteral("v4")},
        {QString::fromUtf16(MapboxVectorConnection::attrParamsUrl), FuzzSupport::kMapboxParamsUrl}};
    const auto connection = MakeRefCnt<MapboxVectorConnection>(
        attributes, MapboxCaching::MakeDefaultStyleCache(),
        MapboxCaching::MakeDefaultTilesetCache(), std::make_unique<FuzzSupport::ServedDocument>());
    RefCntPtr<MapLayers> layers;
    try {
        layers = connection->GetTilesetLayers(kTileset);
    } catch (const MapProviderException& e) {
        if (e.GetType() != MapProviderException::eInvalidDocument)
            std::abort();
        return 0;
    }
    if (!layers || (FuzzSupport::g_servedDocument.isEmpty() && !layers->GetLayers().empty()))
        std::abort();
    for (const MapLayer& layer : layers->GetLayers()) {
        if (layer.GetAttribute(MapLayer::attrType) != MapLayer::valueData ||
            layer.GetAttribute(MapLayer::attrRequestString) != kTilesetUrl ||
            !layer.HasAttribute(MapLayer::attrSourceLayer) ||
            !layer.HasAttribute(MapLayer::attrDataId))
            std::abort();
    }
    return 0;
}
