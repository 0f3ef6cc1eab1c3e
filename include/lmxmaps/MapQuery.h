#pragma once
// One request for map imagery: a rectangle in a CRS, the pixel size wanted, the layers and
// style to draw and the scale level tiles are cut at, plus the request properties derived from
// them ("LAYERS", "CRS", "BBOX", ...) that serve as URL parameters and as the identity of an
// image request. Also the geographic area levels a provider offers.
//
// A query is filled in by its creator and then shared read-only between the threads that fetch
// its tiles; it has no lock of its own.

#include <memory>

#include <lmxmaps/MapLayers.h>
#include <lmxmaps/host/DataValue.h>
#include <lmxmaps/host/MapScaleLevel.h>
#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/StringTable.h>

class MapQuery : public RefCntObject {
public:
    static constexpr const char16_t* sLayers = u"LAYERS";
    // Never set by the query itself; for providers that add it.
    static constexpr const char16_t* sStyles = u"STYLES";
    static constexpr const char16_t* sCRS = u"CRS";
    static constexpr const char16_t* sBBox = u"BBOX";
    static constexpr const char16_t* sWidth = u"WIDTH";
    static constexpr const char16_t* sHeight = u"HEIGHT";
    static constexpr const char16_t* sLegend = u"LEGEND";
    static constexpr const char16_t* sDPR = u"DPR";

    // bbox: x-min, x-max, y-min, y-max in CRS units. Without a scale level the query carries
    // an unset MapScaleLevel. The properties exist exactly when layers is not null.
    MapQuery(RefCntPtr<MapLayers> layers, const TString& crs, const DataValueRect& bbox,
             unsigned int width, unsigned int height, const TString& layerGroup,
             const TString& styleName, bool highDPI, bool requestMargin);
    MapQuery(RefCntPtr<MapLayers> layers, const TString& crs, const DataValueRect& bbox,
             unsigned int width, unsigned int height, const TString& layerGroup,
             const TString& styleName, bool highDPI, bool requestMargin,
             const MapScaleLevel& scaleLevel);
    // A deep copy, properties included.
    MapQuery(const MapQuery& other);
    MapQuery& operator=(const MapQuery&) = delete;

    const DataValueRect& GetBBox() const;
    const TString& GetCRS() const;
    unsigned int GetWidth() const;
    unsigned int GetHeight() const;
    const TString& GetLayerGroup() const;
    const TString& GetStyleName() const;
    bool GetRequestMargin() const;
    bool GetLegendFetch() const;
    bool IsHighDPI() const;
    RefCntPtr<MapLayers> GetLayers() const;
    MapScaleLevel GetScaleLevel() const;
    const AttributeMap& GetProperties() const;

    // Plain setters: the properties are left as they are.
    void SetLayerGroup(const TString& layerGroup);
    void SetStyleName(const TString& styleName);
    void SetRequestMargin(bool requestMargin);
    void SetLegendFetch(bool legendFetch);
    // Replaces the layers; non-null layers regenerate the properties.
    void SetLayers(RefCntPtr<MapLayers> layers);

    // The properties as a URL query string.
    TString GetAsUrlQueryString() const;
    // A copy of the properties asking for the legend ("LEGEND" = "TRUE").
    AttributeMap GetLegendProperties() const;
    // Pixels per CRS unit of the view; throws MapProviderException (not found) when that is NaN.
    double GetScale() const;

protected:
    ~MapQuery() override;

private:
    struct Record;

    void GenerateProperties();

    std::unique_ptr<Record> m_record;
};

using MapQueryPtr = RefCntPtr<MapQuery>;

namespace MapQueryUtil {

// MapUtil::ComputeScale of the four values; throws MapProviderException (not found) when that is
// NaN. An infinite scale is passed on.
double GetMapScale(double crsWidth, double crsHeight, int pixelWidth, int pixelHeight);

} // namespace MapQueryUtil

// One geographic area level a provider offers (a state, a county, ...).
class MapArea {
public:
    MapArea() = default;
    // The display name is the localized string for displayNameId.
    MapArea(const TString& objectName, const TString& requestString, StringId displayNameId);
    MapArea(const MapArea&) = default;
    MapArea& operator=(const MapArea&) = default;
    virtual ~MapArea() = default;

    const TString& GetObjectName() const { return m_objectName; }
    const TString& GetDisplayName() const { return m_displayName; }
    const TString& GetRequestString() const { return m_requestString; }

private:
    TString m_objectName;
    TString m_displayName;
    TString m_requestString;
};
