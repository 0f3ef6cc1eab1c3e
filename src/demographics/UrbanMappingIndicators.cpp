#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>

#include <lmxmaps/UrbanMappingIndicators.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/TLog.h>

#include "host/core/Json.h"
#include "host/core/SignificantDigits.h"

namespace {

using AreaInfos = UrbanMappingIndicator::AreaInfos;

constexpr std::size_t kBreakCount = 6;
// The deciles that bound the five quintiles: the 20th, 40th, 60th, 80th and 100th percentile.
constexpr std::array<rapidjson::SizeType, 5> kQuintileDeciles = {1, 3, 5, 7, 9};
constexpr std::uint32_t kCatalogLogSiteId = 0xB48B25F7u;

double ReadRounded(const rapidjson::Value& number, SignificantDigits::Direction direction) {
    return SignificantDigits::Round(Json::RequireNumber(number), direction);
}

std::int32_t DecimalsToShow(const std::vector<double>& breaks) {
    std::int32_t decimals = 0;
    for (const double value : breaks) {
        if (value != std::floor(value)) {
            decimals = std::max(decimals, SignificantDigits::DecimalsToShow(value));
        }
    }
    return decimals;
}

std::uint64_t ReadStatisticsId(const rapidjson::Value::Member& entry) {
    const TString name = Json::NameOf(entry);
    bool isNumber = false;
    const qulonglong id = name.toULongLong(&isNumber, 10);
    if (!isNumber) {
        throw Json::TypeError("expected decimal statistics id, found \"" + ToUtf8(name) + "\"");
    }
    return id;
}

// entry: the area's first statistics entry, its name the id and its value min, max, deciles.
UMAreaInfo ReadAreaInfo(const rapidjson::Value::Member& entry) {
    UMAreaInfo info;
    info.statisticsId = ReadStatisticsId(entry);
    const rapidjson::Value& values = Json::RequireObject(entry.value);
    info.breaks.assign(kBreakCount,
                       ReadRounded(Json::Member(values, "max"), SignificantDigits::Up));
    info.breaks.front() = ReadRounded(Json::Member(values, "min"), SignificantDigits::Down);
    const rapidjson::Value& deciles = Json::RequireArray(Json::Member(values, "deciles"));
    for (std::size_t i = 0; i < kQuintileDeciles.size() && kQuintileDeciles[i] < deciles.Size();
         ++i) {
        info.breaks[i + 1] = ReadRounded(deciles[kQuintileDeciles[i]], SignificantDigits::Nearest);
    }
    info.decimals = DecimalsToShow(info.breaks);
    return info;
}

const MapArea* FindAreaByRequestString(const std::vector<MapArea>& areas,
                                       const TString& requestString) {
    const auto found = std::find_if(areas.begin(), areas.end(), [&](const MapArea& area) {
        return area.GetRequestString() == requestString;
    });
    return found == areas.end() ? nullptr : &*found;
}

// Object members are visited in key order: that decides which entry of an area is its first.
AreaInfos ReadAreaInfos(const rapidjson::Value& layer, const std::vector<MapArea>& areas) {
    const rapidjson::Value& statistics = Json::RequireObject(Json::Member(layer, "statistics"));
    AreaInfos infos;
    for (const rapidjson::Value::Member* member : Json::SortedMembers(statistics)) {
        const TString requestString = Json::NameOf(*member);
        const MapArea* area = FindAreaByRequestString(areas, requestString);
        if (area == nullptr || Json::RequireObject(member->value).ObjectEmpty()) {
            continue;
        }
        UMAreaInfo info = ReadAreaInfo(*Json::SortedMembers(member->value).front());
        info.statisticsKey = requestString;
        infos[area->GetObjectName()] = std::move(info);
    }
    return infos;
}

// Empty, after a warning, when the layer's statistics cannot be read.
std::optional<AreaInfos> ReadLayerStatistics(const TString& layerName,
                                             const rapidjson::Value& layer,
                                             const std::vector<MapArea>& areas) {
    try {
        return ReadAreaInfos(layer, areas);
    } catch (const Json::TypeError& error) {
        TLog::LogMessage(
            TLog::Severity::Warn,
            FormatPlaceholders(QStringLiteral("Error parsing statistics for data layer '%1': %2\n"),
                               {layerName, QString::fromUtf8(error.what())}));
        return std::nullopt;
    }
}

RefCntPtr<UrbanMappingIndicator> MakeIndicator(AreaInfos infos) {
    return MakeRefCnt<UrbanMappingIndicator>(std::move(infos));
}

} // namespace

UrbanMappingIndicator::UrbanMappingIndicator(AreaInfos areas) : m_areas(std::move(areas)) {}

UrbanMappingIndicator::~UrbanMappingIndicator() = default;

const UMAreaInfo* UrbanMappingIndicator::GetAreaInfo(const TString& areaObjectName) const {
    const auto found = m_areas.find(areaObjectName);
    return found == m_areas.end() ? nullptr : &found->second;
}

UrbanMappingIndicators::~UrbanMappingIndicators() = default;

RefCntPtr<UrbanMappingIndicator>
UrbanMappingIndicators::GetIndicator(const TString& layerName) const {
    const auto found = m_indicators.find(layerName);
    return found == m_indicators.end() ? nullptr : found->second;
}

void UrbanMappingIndicators::ParseColumnMetadata(const TString& layerName, const TString& jsonText,
                                                 const std::vector<MapArea>& areas) {
    rapidjson::Document document;
    if (!Json::Parse(jsonText.toUtf8(), document)) {
        return;
    }
    std::optional<AreaInfos> infos = ReadLayerStatistics(layerName, document, areas);
    m_indicators[layerName] = infos ? MakeIndicator(std::move(*infos)) : nullptr;
}

void UrbanMappingIndicators::ParseOldCatalog(const TString& jsonText,
                                             const std::vector<MapArea>& areas) {
    rapidjson::Document document;
    if (!Json::Parse(jsonText.toUtf8(), document)) {
        return;
    }
    try {
        const rapidjson::Value& columns =
            Json::RequireArray(Json::Member(Json::Member(document, "data"), "columns"));
        for (const rapidjson::Value& column : columns.GetArray()) {
            const TString codeName = Json::RequireString(Json::Member(column, "code_name"));
            std::optional<AreaInfos> infos = ReadLayerStatistics(codeName, column, areas);
            if (!infos) {
                continue;
            }
            // Only a JSON true counts: "true" as a string does not.
            const rapidjson::Value* flag = Json::Find(column, "suppress_thousands");
            const bool suppressThousands = flag != nullptr && flag->IsTrue();
            for (auto& [objectName, info] : *infos) {
                info.suppressThousands = suppressThousands;
            }
            m_indicators[codeName] = MakeIndicator(std::move(*infos));
        }
    } catch (const Json::TypeError& error) {
        TLog::LogMessage(
            TLog::Severity::Debug,
            TError::LogSite(QStringLiteral("AutoGen"), kCatalogLogSiteId).logSite,
            FormatPlaceholders(QStringLiteral("Error parsing data layer statistics: %1\n"),
                               {QString::fromUtf8(error.what())}));
    }
}
