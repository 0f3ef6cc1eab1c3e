#include <cmath>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapQuery.h>
#include <lmxmaps/host/net/HTTPRequestor.h>

namespace {

// Significant digits of the BBOX values.
constexpr int kBBoxPrecision = 6;
constexpr StringId kScaleNotComputableText = 635519938u;
constexpr std::uint32_t kScaleNotComputableSite = 0x9F50B7EA;

TString Key(const char16_t* key) {
    return TString::fromUtf16(key);
}

TString FormatBBoxValue(const DataValue& value) {
    return TString::number(value.GetReal(), 'g', kBBoxPrecision);
}

} // namespace

struct MapQuery::Record {
    RefCntPtr<MapLayers> layers;
    TString crs;
    DataValueRect bbox;
    unsigned int width = 0;
    unsigned int height = 0;
    TString layerGroup;
    TString styleName;
    bool requestMargin = false;
    MapScaleLevel scaleLevel;
    bool legendFetch = false;
    AttributeMap properties;
    bool highDPI = false;
};

MapQuery::MapQuery(RefCntPtr<MapLayers> layers, const TString& crs, const DataValueRect& bbox,
                   unsigned int width, unsigned int height, const TString& layerGroup,
                   const TString& styleName, bool highDPI, bool requestMargin)
    : MapQuery(std::move(layers), crs, bbox, width, height, layerGroup, styleName, highDPI,
               requestMargin, MapScaleLevel()) {}

MapQuery::MapQuery(RefCntPtr<MapLayers> layers, const TString& crs, const DataValueRect& bbox,
                   unsigned int width, unsigned int height, const TString& layerGroup,
                   const TString& styleName, bool highDPI, bool requestMargin,
                   const MapScaleLevel& scaleLevel)
    : m_record(std::make_unique<Record>()) {
    m_record->crs = crs;
    m_record->bbox = bbox;
    m_record->width = width;
    m_record->height = height;
    m_record->layerGroup = layerGroup;
    m_record->styleName = styleName;
    m_record->requestMargin = requestMargin;
    m_record->scaleLevel = scaleLevel;
    m_record->highDPI = highDPI;
    SetLayers(std::move(layers));
}

MapQuery::MapQuery(const MapQuery& other)
    : RefCntObject(other), m_record(std::make_unique<Record>(*other.m_record)) {}

MapQuery::~MapQuery() = default;

const DataValueRect& MapQuery::GetBBox() const {
    return m_record->bbox;
}

const TString& MapQuery::GetCRS() const {
    return m_record->crs;
}

unsigned int MapQuery::GetWidth() const {
    return m_record->width;
}

unsigned int MapQuery::GetHeight() const {
    return m_record->height;
}

const TString& MapQuery::GetLayerGroup() const {
    return m_record->layerGroup;
}

const TString& MapQuery::GetStyleName() const {
    return m_record->styleName;
}

bool MapQuery::GetRequestMargin() const {
    return m_record->requestMargin;
}

bool MapQuery::GetLegendFetch() const {
    return m_record->legendFetch;
}

bool MapQuery::IsHighDPI() const {
    return m_record->highDPI;
}

RefCntPtr<MapLayers> MapQuery::GetLayers() const {
    return m_record->layers;
}

MapScaleLevel MapQuery::GetScaleLevel() const {
    return m_record->scaleLevel;
}

const AttributeMap& MapQuery::GetProperties() const {
    return m_record->properties;
}

void MapQuery::SetLayerGroup(const TString& layerGroup) {
    m_record->layerGroup = layerGroup;
}

void MapQuery::SetStyleName(const TString& styleName) {
    m_record->styleName = styleName;
}

void MapQuery::SetRequestMargin(bool requestMargin) {
    m_record->requestMargin = requestMargin;
}

void MapQuery::SetLegendFetch(bool legendFetch) {
    m_record->legendFetch = legendFetch;
}

void MapQuery::SetLayers(RefCntPtr<MapLayers> layers) {
    m_record->layers = std::move(layers);
    if (m_record->layers) {
        GenerateProperties();
    }
}

void MapQuery::GenerateProperties() {
    AttributeMap& properties = m_record->properties;
    const DataValueRect& bbox = m_record->bbox;
    properties[Key(sLayers)] = m_record->layers->AsString(QStringLiteral(","));
    properties[Key(sCRS)] = m_record->crs;
    properties[Key(sBBox)] = QStringLiteral("%1,%2,%3,%4")
                                 .arg(FormatBBoxValue(bbox.MinX()), FormatBBoxValue(bbox.MinY()),
                                      FormatBBoxValue(bbox.MaxX()), FormatBBoxValue(bbox.MaxY()));
    properties[Key(sWidth)] = TString::number(m_record->width);
    properties[Key(sHeight)] = TString::number(m_record->height);
    properties[Key(sLegend)] = QStringLiteral("FALSE");
    if (m_record->highDPI) {
        properties[Key(sDPR)] = QStringLiteral("2");
    }
}

TString MapQuery::GetAsUrlQueryString() const {
    return HTTPRequestor::URLFormatParams(m_record->properties);
}

AttributeMap MapQuery::GetLegendProperties() const {
    AttributeMap properties = m_record->properties;
    properties[Key(sLegend)] = QStringLiteral("TRUE");
    return properties;
}

double MapQuery::GetScale() const {
    return MapQueryUtil::GetMapScale(m_record->bbox.Width(), m_record->bbox.Height(),
                                     static_cast<int>(m_record->width),
                                     static_cast<int>(m_record->height));
}

namespace MapQueryUtil {

double GetMapScale(double crsWidth, double crsHeight, int pixelWidth, int pixelHeight) {
    const double scale = MapUtil::ComputeScale(crsWidth, crsHeight, pixelWidth, pixelHeight);
    if (std::isnan(scale)) {
        throw MapProviderException(MapProviderException::eNotFound,
                                   LookupTStr(kScaleNotComputableText),
                                   MapProviderException::Site(kScaleNotComputableSite));
    }
    return scale;
}

} // namespace MapQueryUtil

MapArea::MapArea(const TString& objectName, const TString& requestString, StringId displayNameId)
    : m_objectName(objectName), m_displayName(LookupTStr(displayNameId)),
      m_requestString(requestString) {}
