// A Mapbox style document as a vector connection reads one it fetched. Fetches go to a loopback
// port nothing listens on, so the document comes from the fetch cache as after a network
// failure. The same document read as a style the parameters name and as a user's own style
// must give the same layers, apart from the style name and the minimum zooms only the former
// carry; a document refused is refused both ways as not a style.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapboxParams.h>
#include <lmxmaps/MapboxVectorConnection.h>

#include "FuzzSupport.h"

namespace {

const QString kParamsStyle = QStringLiteral("Fuzzed");
const QString kUserStyle = QStringLiteral("mapbox://styles/fuzzer/own");
const QString kMinZoom = QString::fromUtf16(MapLayer::attrMinZoom);
const QString kStyleName = QString::fromUtf16(MapLayer::attrStyleName);

// Registered under FuzzSupport::kMapboxParamsUrl, where each connection finds it.
std::shared_ptr<MapboxParams> g_params;

std::optional<std::vector<MapLayer>> Layers(const MapboxVectorConnection& connection,
                                            const TString& style) {
    try {
        return connection.GetStyleLayers(style)->GetLayers();
    } catch (const MapProviderException& e) {
        if (e.GetType() != MapProviderException::eInvalidDocument &&
            !(e.GetType() == MapProviderException::eServiceUnavailable &&
              FuzzSupport::g_servedDocument.isEmpty()))
            std::abort();
        return std::nullopt;
    }
}

AttributeMap Without(AttributeMap attributes, const QString& key) {
    attributes.erase(key);
    attributes.erase(kStyleName);
    return attributes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_params = FuzzSupport::OfflineMapboxParams(
        QStringLiteral(R"("styles": {"Fuzzed": {"id": "fuzzed"}})"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSupport::g_servedDocument =
        QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const AttributeMap attributes = {
        {QStringLiteral("server"), QStringLiteral("http://127.0.0.1")},
        {QStringLiteral("port"), QStringLiteral("1")},
        {QStringLiteral("url"), QStringLiteral("styles/v1")},
        {QStringLiteral("username"), QStringLiteral("fuzzer")},
        {QString::fromUtf16(MapboxVectorConnection::attrParamsUrl), FuzzSupport::kMapboxParamsUrl}};
    const auto connection = MakeRefCnt<MapboxVectorConnection>(
        attributes, MapboxCaching::MakeDefaultStyleCache(),
        MapboxCaching::MakeDefaultTilesetCache(), std::make_unique<FuzzSupport::ServedDocument>());
    const auto named = Layers(*connection, kParamsStyle);
    const auto own = Layers(*connection, kUserStyle);
    if (named.has_value() != own.has_value() || (named && named->size() != own->size()))
        std::abort();
    if (!named)
        return 0;
    for (std::size_t i = 0; i < named->size(); ++i) {
        const MapLayer& layer = (*named)[i];
        bool isNumber = false;
        const double minZoom = layer.GetAttribute(MapLayer::attrMinZoom).toDouble(&isNumber);
        if (!isNumber || !(minZoom >= 0) || layer.GetAttribute(kStyleName) != kParamsStyle ||
            (*own)[i].GetAttribute(kStyleName) != kUserStyle ||
            layer.GetAttribute(MapLayer::attrType) != MapLayer::valueFeatures ||
            Without(layer.GetAttributes(), kMinZoom) != Without((*own)[i].GetAttributes(), {}))
            std::abort();
    }
    if (connection->GetStyleJson(kParamsStyle) != FuzzSupport::g_servedDocument)
        std::abort();
    connection->GetLanguageString(kParamsStyle, LanguageCode(QStringLiteral("de_CH")));
    return 0;
}
