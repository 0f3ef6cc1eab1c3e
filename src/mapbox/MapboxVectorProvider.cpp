#include <cmath>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapboxProviders.h>
#include <lmxmaps/MapboxVectorConnection.h>
#include <lmxmaps/MapboxVectorRenderer.h>
#include <lmxmaps/host/DataValueDisplayFormatter.h>
#include <lmxmaps/host/TLog.h>

#include "host/core/Json.h"
#include "host/core/SignificantDigits.h"

namespace {

constexpr std::uint32_t kNotAVectorConnectionAssertId = 0x4C4D4203;
constexpr std::uint32_t kInvalidTokenSite = 0x1A93DDF9;
constexpr std::uint32_t kStyleLayersSite = 0xB15E2CBE;
constexpr std::uint32_t kTilesetLayersSite = 0xB537FB58;
constexpr std::uint32_t kDataLayerInfoSite = 0x5F30B229;
constexpr const char16_t* kProjectorName = u"EPSG:3857";
constexpr double kEarthRadiusMeters = 6378137.0;

struct Area {
    const char16_t* objectName;
    const char16_t* requestString;
    StringId displayName;
};

constexpr Area kAreas[] = {
    {u"State", u"demographics-state", 1072972447u},
    {u"County", u"demographics-county", 3840415781u},
    {u"Zip Code", u"demographics-zip", 2926090300u},
    {u"Tract", u"demographics-tract", 0x4C4D4216u},
};

TString SiteName(const char* name, std::uint32_t id) {
    return TError::LogSite(QLatin1String(name), id).logSite;
}

bool IsMissingValue(double value) {
    if (std::isnan(value)) {
        return true;
    }
    for (const double missing : MapboxVectorProvider::kMissingValueBreaks) {
        if (value == missing) {
            return true;
        }
    }
    return false;
}

// Decimals that show three significant digits of the smallest non-integer break.
int LegendPrecision(const std::vector<double>& breaks) {
    int precision = 0;
    for (const double value : breaks) {
        if (IsMissingValue(value) || !std::isfinite(value) || value == std::trunc(value)) {
            continue;
        }
        precision = std::max(precision, SignificantDigits::DecimalsToShow(value));
    }
    return precision;
}

// A JSON string literal of text.
TString JsonString(const TString& text) {
    const QByteArray utf8 = text.toUtf8();
    rapidjson::Value value;
    value.SetString(utf8.constData(), static_cast<rapidjson::SizeType>(utf8.size()));
    return QString::fromStdString(Json::Write(value));
}

} // namespace

MapboxVectorProvider::MapboxVectorProvider(AttributeMap attributes)
    : VectorMapProvider(std::move(attributes)) {
    for (const Area& area : kAreas) {
        AddArea(MapArea(TStr(area.objectName), TStr(area.requestString), area.displayName));
    }
    const TString url = LookupTStr(kAttributionUrl);
    SetAttribution({LookupTStr(kAttributionText), LookupTStr(kAttributionShortText), url});
    SetAttribution2({LookupTStr(kAttribution2Text), LookupTStr(kAttribution2ShortText), url});
}

SpatialProjectorPtr MapboxVectorProvider::CreateSpatialProjector(const FieldName& uField,
                                                                 const FieldName& vField) const {
    return SpatialProjector::WebMercatorFactory(uField, vField, TStr(kProjectorName));
}

double MapboxVectorProvider::GetPixelsPerCRSUnitAtZoomLevel1() const {
    return kWorldPixelsAtZoomLevel1 / (2.0 * M_PI * kEarthRadiusMeters);
}

RefCntPtr<MapboxVectorConnection> MapboxVectorProvider::VectorConnection() {
    return RefCntDynamicCast<MapboxVectorConnection>(ConnectNoThrow());
}

void MapboxVectorProvider::AddError(const TString& message) {
    std::lock_guard lock(m_errorsMutex);
    m_errors.push_back(
        MakeRefCnt<WarningMsg>(message, kMapServiceWarningType, kMapServiceProblemText));
}

std::vector<RefCntPtr<WarningMsg>> MapboxVectorProvider::FetchErrors() {
    std::lock_guard lock(m_errorsMutex);
    return std::exchange(m_errors, {});
}

RefCntPtr<MapLayers> MapboxVectorProvider::GetFeatureLayers(const TString& styleName) {
    const MapConnectionPtr connection = Connect();
    if (!connection) {
        return MakeRefCnt<MapLayers>();
    }
    const auto vectorConnection = RefCntDynamicCast<MapboxVectorConnection>(connection);
    LMX_LOGIC_ASSERT_ID(vectorConnection != nullptr, kNotAVectorConnectionAssertId);
    try {
        return vectorConnection->GetStyleLayers(styleName);
    } catch (const MapProviderException& e) {
        const bool tokenRefused = e.GetType() == MapProviderException::eTokenRejected;
        TLog::LogMessage(
            TLog::Severity::Warn,
            tokenRefused ? SiteName("MapboxInvalidTokenError", kInvalidTokenSite)
                         : SiteName("MapboxStyleLayersError", kStyleLayersSite),
            QStringLiteral("Problem getting Mapbox layers for style '%1'. Errors: (%2)")
                .arg(styleName, e.GetMessage()));
        AddError(e.GetMessage());
        return MakeRefCnt<MapLayers>();
    }
}

RefCntPtr<MapLayers> MapboxVectorProvider::GetDataLayers(const TString& areaName) {
    const RefCntPtr<MapboxVectorConnection> connection = VectorConnection();
    if (!connection) {
        return MakeRefCnt<MapLayers>();
    }
    TString tilesetName;
    for (const MapArea& area : GetAreas()) {
        if (area.GetObjectName() == areaName) {
            tilesetName = area.GetRequestString();
            break;
        }
    }
    if (tilesetName.isEmpty() && !GetAreas().empty()) {
        tilesetName = GetAreas().front().GetRequestString();
    }
    try {
        return connection->GetTilesetLayers(tilesetName);
    } catch (const MapProviderException& e) {
        TLog::LogMessage(
            TLog::Severity::Error, SiteName("MapboxTilesetLayersError", kTilesetLayersSite),
            QStringLiteral("Problem getting Mapbox Tileset Layers. TilesetName: %1. Errors: %2")
                .arg(tilesetName, e.GetMessage()));
        AddError(e.GetMessage());
        return MakeRefCnt<MapLayers>();
    }
}

void MapboxVectorProvider::PrepareFeatureLayer(MapLayer& layer, const LanguageCode& language) {
    const TString styleName = layer.GetAttribute(MapLayer::attrStyleName);
    layer.SetAttribute(MapLayer::attrRegionCode, GetRegionCode(language));
    layer.SetAttribute(MapLayer::attrLanguage, GetLanguageString(language, styleName));
}

void MapboxVectorProvider::PrepareDataLayer(MapLayer& layer, const LanguageCode&,
                                            const ColorPaletteLookup& palettes) {
    const std::vector<double> breaks =
        ReadQuintileBreaks(layer.GetAttribute(MapLayer::attrQuintiles));
    const ColorPalette* palette = palettes.Find(layer.GetAttribute(MapLayer::attrPalette));
    const RefCntPtr<MapboxVectorConnection> connection =
        breaks.size() >= 2 && palette != nullptr ? VectorConnection() : nullptr;
    if (!connection) {
        layer.ClearAttributes();
        return;
    }
    const TString styleName = layer.GetAttribute(MapLayer::attrStyleName);
    TString insertAbove;
    double opacity = 1.0;
    try {
        connection->GetDataLayerInfo(styleName, insertAbove, opacity);
    } catch (const MapProviderException& e) {
        TLog::LogMessage(
            TLog::Severity::Error, SiteName("MapboxDataLayerInfoError", kDataLayerInfoSite),
            QStringLiteral("Problem getting Mapbox data layer info. StyleName: %1. Errors: %2")
                .arg(styleName, e.GetMessage()));
        layer.ClearAttributes();
        AddError(e.GetMessage());
        return;
    }
    const auto colorCount = static_cast<int>(breaks.size()) - 1;
    const std::vector<ColorObject> colors = SamplePalette(*palette, colorCount);
    const TString dataId = JsonString(layer.GetAttribute(MapLayer::attrDataId));
    const TString baseColor = JsonString(colors.front().ToString());
    TString paintColor;
    if (colorCount == 1) {
        // A step needs at least one stop; a single class is one colour.
        paintColor = baseColor;
    } else {
        QStringList stops;
        for (int i = 1; i < colorCount; ++i) {
            stops.append(QStringLiteral("%1,%2").arg(
                TString::number(breaks[static_cast<std::size_t>(i)]),
                JsonString(colors[static_cast<std::size_t>(i)].ToString())));
        }
        paintColor = QStringLiteral("[\"step\",[\"get\",%1],%2,%3]")
                         .arg(dataId, baseColor, stops.join(u','));
    }
    layer.SetAttribute(MapLayer::attrPaintColor, paintColor);
    layer.SetAttribute(
        MapLayer::attrPaintOpacity,
        QStringLiteral("[\"case\",[\"has\",%1],%2,0]").arg(dataId, TString::number(opacity)));
    layer.SetAttribute(MapLayer::attrInsertAbove, insertAbove);
}

RefCntPtr<ILegendItems>
MapboxVectorProvider::CreateLegendItems(const MapLayer& layer, const LanguageCode& language,
                                        const ColorPaletteLookup& palettes) {
    const std::vector<double> breaks =
        ReadQuintileBreaks(layer.GetAttribute(MapLayer::attrQuintiles));
    const ColorPalette* palette = palettes.Find(layer.GetAttribute(MapLayer::attrPalette));
    if (breaks.size() < 2 || palette == nullptr) {
        return nullptr;
    }
    const auto colorCount = static_cast<int>(breaks.size()) - 1;
    const std::vector<ColorObject> colors = SamplePalette(*palette, colorCount);
    auto legend = MakeRefCnt<SimpleLegendItems>(layer.GetLongDisplayName(language));
    const DataValueDisplayFormatter formatter(language, LegendPrecision(breaks));
    const auto label = [&](double value) {
        return IsMissingValue(value) ? TStr(kNotAvailableLabel) : formatter.Format(value);
    };
    for (std::size_t i = 0; i + 1 < breaks.size(); ++i) {
        legend->AddItem(colors[i],
                        LookupTFmtStr(kLegendRangeFormat, label(breaks[i]), label(breaks[i + 1])));
    }
    return legend;
}

std::shared_ptr<MapRenderer>
MapboxVectorProvider::CreateMapRenderer(const MapSceneSpec& scene, std::function<void()> onChange) {
    const auto connection = RefCntDynamicCast<MapboxVectorConnection>(Connect());
    LMX_LOGIC_ASSERT_ID(connection != nullptr, kNotAVectorConnectionAssertId);
    return std::make_shared<MapboxVectorRenderer>(connection, scene, std::move(onChange));
}

bool MapboxVectorProvider::IsMapRendererUsable(const MapRenderer& renderer,
                                               const MapSceneSpec& scene) {
    const auto* vector = dynamic_cast<const MapboxVectorRenderer*>(&renderer);
    return vector != nullptr && vector->GetConnection() == VectorConnection() &&
           renderer.IsUsable(scene);
}

TString MapboxVectorProvider::GetAccessToken() {
    if (const RefCntPtr<MapboxVectorConnection> connection = VectorConnection()) {
        return connection->GetAccessToken();
    }
    return GetAttribute(attrAPIKey);
}

TString MapboxVectorProvider::GetStyleJsonUrl(const TString& styleName) {
    const RefCntPtr<MapboxVectorConnection> connection = VectorConnection();
    return connection ? connection->GetStyleJsonUrl(styleName) : TString();
}

TString MapboxVectorProvider::GetLanguageString(const LanguageCode& language,
                                                const TString& styleName) {
    const RefCntPtr<MapboxVectorConnection> connection = VectorConnection();
    return connection ? connection->GetLanguageString(styleName, language) : TString();
}

TString MapboxVectorProvider::GetRegionCode(const LanguageCode& language) const {
    return MapCodeString(LanguageMapCode(language));
}

void MapboxVectorProvider::HandleMapboxParamsFailure() {
    if (const RefCntPtr<MapboxVectorConnection> connection = VectorConnection()) {
        connection->HandleMapboxParamsFailure();
    }
}

std::vector<double> MapboxVectorProvider::ReadQuintileBreaks(const TString& quintiles) {
    std::vector<double> breaks;
    rapidjson::Document document;
    if (!Json::Parse(quintiles.toUtf8(), document) || !document.IsArray()) {
        return breaks;
    }
    // Markers of missing data are kept as they are, so that legends can still tell them.
    const auto bound = [](const rapidjson::Value& pair, rapidjson::SizeType index,
                          SignificantDigits::Direction direction) {
        const double value =
            index < pair.Size() && pair[index].IsNumber() ? pair[index].GetDouble() : NAN;
        return IsMissingValue(value) ? value : SignificantDigits::Round(value, direction);
    };
    for (const rapidjson::Value& pair : document.GetArray()) {
        if (!pair.IsArray()) {
            continue;
        }
        if (breaks.empty()) {
            breaks.push_back(bound(pair, 0, SignificantDigits::Down));
        }
        breaks.push_back(bound(pair, 1, SignificantDigits::Nearest));
    }
    return breaks;
}

std::vector<ColorObject> MapboxVectorProvider::SamplePalette(const ColorPalette& palette,
                                                             int count) {
    std::vector<ColorObject> colors;
    for (int i = 0; i < count; ++i) {
        colors.push_back(palette.GetNormalizedColor(count == 1 ? 0.0 : double(i) / (count - 1)));
    }
    return colors;
}

CustomMapboxProvider::CustomMapboxProvider(AttributeMap attributes)
    : MapboxVectorProvider(std::move(attributes)) {}
