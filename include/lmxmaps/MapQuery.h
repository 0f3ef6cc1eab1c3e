#pragma once
// What to draw for one image: a box in some CRS, the output size in pixels, layers, style and
// the scale level used for tiling. From these the query derives string properties ("LAYERS",
// "CRS", "BBOX", ...), which become URL parameters and identify the image in caches. MapArea,
// below, names an area level a provider can show.
//
// Not locked: whoever builds a query finishes it before handing it to fetch threads, which only
// read it.

#include <memory>

#include <lmxmaps/MapLayers.h>
#include <lmxmaps/host/DataValue.h>
#include <lmxmaps/host/MapScaleLevel.h>
#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/StringTable.h>

class MapQuery : public RefCntObject {
public:
    static constexpr const char16_t* sLayers = u"LAYERS";
    // Providers add this one themselves; the query never does.
    static constexpr const char16_t* sStyles = u"STYLES";
    static constexpr const char16_t* sCRS = u"CRS";
    static constexpr const char16_t* sBBox = u"BBOX";
    static constexpr const char16_t* sWidth = u"WIDTH";
    static constexpr const char16_t* sHeight = u"HEIGHT";
    static constexpr const char16_t* sLegend = u"LEGEND";
    static constexpr const char16_t* sDPR = u"DPR";

    // bbox is in CRS units, ordered x-min, x-max, y-min, y-max. The overloads without a scale
    // level leave it unset. Request properties are derived only when layers is non-null.
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

// The map scale of a view (MapUtil::ComputeScale). A NaN scale raises MapProviderException
// (not found); an infinite one is returned as is.
double GetMapScale(double crsWidth, double crsHeight, int pixelWidth, int pixelHeight);

} // namespace MapQueryUtil

// An area level (states, counties, ...) available from a provider.
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
