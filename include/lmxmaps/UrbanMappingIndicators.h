#pragma once
// Class breaks for the demographic data layers, one indicator (population, income, ...) per
// layer. For every kind of area on the map (state, county, tract, ...) an indicator keeps six
// quintile boundaries from the layer's statistics document, rounded to three significant
// digits, and how many decimals printing them takes.
//
// Unreadable statistics are logged rather than thrown; such a layer is drawn without class
// breaks.

#include <cstdint>
#include <map>
#include <vector>

#include <lmxmaps/MapQuery.h>
#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/TString.h>

// One indicator's breaks for one kind of area.
struct UMAreaInfo {
    // Six numbers: the lowest value, then the top of each fifth. Empty before reading.
    std::vector<double> breaks;
    // The name of the first (by key) statistics entry of the area, as a number.
    std::uint64_t statisticsId = 0;
    // The area's request string the statistics stood under.
    TString statisticsKey;
    // How many decimals printing the breaks takes.
    std::int32_t decimals = 0;
    // Only the old catalogue sets it.
    bool suppressThousands = false;
};

class UrbanMappingIndicator : public RefCntObject {
public:
    // By area object name.
    using AreaInfos = std::map<TString, UMAreaInfo>;

    UrbanMappingIndicator() = default;
    explicit UrbanMappingIndicator(AreaInfos areas);

    // Null for an area without statistics.
    const UMAreaInfo* GetAreaInfo(const TString& areaObjectName) const;

protected:
    ~UrbanMappingIndicator() override;

private:
    AreaInfos m_areas;
};

class UrbanMappingIndicators : public RefCntObject {
public:
    UrbanMappingIndicators() = default;

    // Null when the layer is unknown or its statistics could not be read.
    RefCntPtr<UrbanMappingIndicator> GetIndicator(const TString& layerName) const;

    // One layer's statistics document; replaces what the layer had. Text that is not JSON
    // changes nothing; unreadable statistics leave the layer with a null indicator.
    void ParseColumnMetadata(const TString& layerName, const TString& jsonText,
                             const std::vector<MapArea>& areas);
    // A catalogue of many layers ("data" / "columns"). A column with unreadable statistics is
    // skipped; a catalogue of the wrong shape stops the reading, keeping the columns read.
    void ParseOldCatalog(const TString& jsonText, const std::vector<MapArea>& areas);

protected:
    ~UrbanMappingIndicators() override;

private:
    std::map<TString, RefCntPtr<UrbanMappingIndicator>> m_indicators;
};
