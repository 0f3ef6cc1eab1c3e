#pragma once
// Map layers: the record every provider uses to describe one layer of its map, the ordered
// shared list of them, and the groups the layer panel shows as one entry each.
//
// Numeric attributes ("min-zoom", "max-zoom", "min-scale-denom", "max-scale-denom",
// "presentation-order") count whenever they are present, and their text is read as the host
// reads numbers (MapSourceAttributeRules::ReadHostNumber, ReadHostInteger): empty or malformed
// text is 0, not "absent". An empty "max-scale-denom" therefore hides the layer at every
// positive scale denominator, and an unreadable "presentation-order" sorts its group as 0.

#include <cstdint>
#include <limits>
#include <vector>

#include <lmxmaps/host/LanguageCode.h>
#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/TString.h>

// One layer: an open attribute set. Keys and fixed values are the statics below.
class MapLayer {
public:
    // Layer kind: valueFeatures or valueData.
    static constexpr const char16_t* attrType = u"type";
    // Part of the base map itself (roads, water, labels, ...).
    static constexpr const char16_t* valueFeatures = u"features";
    // A data (indicator) layer.
    static constexpr const char16_t* valueData = u"data";
    // Identifier of the layer within its source.
    static constexpr const char16_t* attrName = u"name";
    // Localizable.
    static constexpr const char16_t* attrDisplayName = u"display-name";
    // Localizable.
    static constexpr const char16_t* attrLongDisplayName = u"long-display-name";
    // Name of the layer-panel group; localizable.
    static constexpr const char16_t* attrGroup = u"group";
    // Integer: where the group this layer opens sorts among the groups (ascending).
    static constexpr const char16_t* attrPresentationOrder = u"presentation-order";
    // On only when the value is exactly valueTrue.
    static constexpr const char16_t* attrEnabled = u"enabled";
    // The enabled state the source itself proposes.
    static constexpr const char16_t* attrDefaultEnabled = u"default-enabled";
    // The text naming the layer in a request; the name when absent or empty.
    static constexpr const char16_t* attrRequestString = u"request-string";
    static constexpr const char16_t* attrRequestFormat = u"request-format";
    // Number: the layer shows only from this zoom level up.
    static constexpr const char16_t* attrMinZoom = u"min-zoom";
    // Number: when above 0, the layer shows only up to this zoom level.
    static constexpr const char16_t* attrMaxZoom = u"max-zoom";
    // Number: the layer shows only at scale denominators of at least this.
    static constexpr const char16_t* attrMinScaleDenom = u"min-scale-denom";
    // Number: the layer shows only at scale denominators of at most this.
    static constexpr const char16_t* attrMaxScaleDenom = u"max-scale-denom";
    // Comma-separated area types the layer can show.
    static constexpr const char16_t* attrGeometries = u"geometries";
    // valueTrue: the long display name starts with the year.
    static constexpr const char16_t* attrPrependDate = u"prepend-date";
    static constexpr const char16_t* attrYear = u"year";
    // WMS only: the CRS code the layer is requested in.
    static constexpr const char16_t* attrCRS = u"crs";
    static constexpr const char16_t* attrDataId = u"data-id";
    // Which source layer of the vector tiles this layer draws.
    static constexpr const char16_t* attrSourceLayer = u"source-layer";
    static constexpr const char16_t* attrStyleName = u"style-name";
    // A data layer goes directly below the style layer named here.
    static constexpr const char16_t* attrInsertAbove = u"insert-above";
    static constexpr const char16_t* attrPaintColor = u"paint-color";
    static constexpr const char16_t* attrPaintOpacity = u"paint-opacity";
    // Identifier in the host palette table.
    static constexpr const char16_t* attrPalette = u"palette";
    // A data layer's class breaks, as JSON: [1.5, 4, 10, ...].
    static constexpr const char16_t* attrQuintiles = u"quintiles";
    static constexpr const char16_t* attrLanguage = u"language";
    static constexpr const char16_t* attrRegionCode = u"region-code";
    static constexpr const char16_t* attrLocalizeRequest = u"localize-request";
    // valueFalse hides the layer from the layer panel.
    static constexpr const char16_t* attrShowUI = u"show-ui";
    static constexpr const char16_t* attrAreaType = u"area-type";
    static constexpr const char16_t* attrCurrentId = u"current-id";
    static constexpr const char16_t* attrLayerGroup = u"layer-group";
    static constexpr const char16_t* valueTrue = u"true";
    static constexpr const char16_t* valueFalse = u"false";

    MapLayer() = default;
    explicit MapLayer(AttributeMap attributes);

    // An empty string when the attribute is absent.
    TString GetAttribute(const TString& key) const;
    TString GetAttribute(const char16_t* key) const;
    bool HasAttribute(const TString& key) const;
    bool HasAttribute(const char16_t* key) const;
    // Inserts or overwrites.
    void SetAttribute(const TString& key, const TString& value);
    void SetAttribute(const char16_t* key, const TString& value);
    void ClearAttribute(const TString& key);
    void ClearAttribute(const char16_t* key);
    void ClearAttributes();
    const AttributeMap& GetAttributes() const { return m_attributes; }

    TString GetName() const;
    // The localized display name; the name when there is none.
    TString GetDisplayName(const LanguageCode& language) const;
    // The localized long name, falling back to the display name. With "prepend-date" "true"
    // and a non-empty "year" the result reads "<year> <name>".
    TString GetLongDisplayName(const LanguageCode& language) const;
    // The first non-empty value of "key-<ISO string>", "key-<short code>" and "key"; empty when
    // all three are empty or absent.
    TString GetLocalizedAttr(const TString& key, const LanguageCode& language) const;
    TString GetLocalizedAttr(const char16_t* key, const LanguageCode& language) const;
    // How requests name the layer: "request-string" if set, otherwise the name.
    TString GetRequestString() const;
    // The comma-separated "geometries" entries, blanks trimmed; none for a missing or empty
    // value.
    std::vector<TString> GetValidAreaTypes() const;

    // Only the exact text "true" enables a layer.
    bool IsEnabled() const;
    void SetEnabled(bool enabled);
    // A layer without any attribute describes nothing.
    bool IsValid() const { return !m_attributes.empty(); }
    // Checks min-zoom, max-scale-denom, max-zoom and min-scale-denom in that order. A negative
    // zoom means the caller has no zoom level and skips both zoom checks.
    bool IsVisible(double zoom, double scaleDenominator) const;

private:
    AttributeMap m_attributes;
};

// Layers in the order requests list them and the layer panel shows them; reference counted and
// shared.
class MapLayers : public RefCntObject {
public:
    MapLayers() = default;
    explicit MapLayers(std::vector<MapLayer> layers);

    // A new list (reference count one) with copies of every layer.
    RefCntPtr<MapLayers> Clone() const;
    bool HasAnyEnabledLayers() const;
    // What GetRequestString gives for each enabled layer, in list order, separator between;
    // empty if none is enabled.
    TString AsString(const TString& separator) const;

    std::vector<MapLayer>& GetLayers() { return m_layers; }
    const std::vector<MapLayer>& GetLayers() const { return m_layers; }

protected:
    // Released only through RefCntPtr.
    ~MapLayers() override;

private:
    std::vector<MapLayer> m_layers;
};

// The layers that the layer panel shows as one entry.
class MapLayerGroup {
public:
    // The order of a group whose first layer has no "presentation-order": after all others.
    static constexpr std::int32_t kUnorderedPresentationOrder =
        std::numeric_limits<std::int32_t>::max();

    // layers must not be null. The group is enabled when any of its layers is.
    MapLayerGroup(TString name, RefCntPtr<MapLayers> layers, std::int32_t order);

    const TString& GetName() const { return m_name; }
    const RefCntPtr<MapLayers>& GetLayers() const { return m_layers; }
    std::int32_t GetOrder() const { return m_order; }
    bool IsEnabled() const { return m_enabled; }

    // Switches every layer of the group, in the shared list itself.
    void SetEnabled(bool enabled);

    static bool IsAnyLayerVisible(const MapLayerGroup& group, double zoom, double scaleDenominator);
    // The layer's localized "group", else its display name in that language.
    static TString GetLayerGroupName(const MapLayer& layer, const LanguageCode& language);
    // Groups layers by their exact (case-sensitive) group name. Each group takes its order from
    // its first layer; the groups are sorted by order, ties kept in first-appearance order.
    static std::vector<MapLayerGroup> MakeLayerGroupsByLanguage(const std::vector<MapLayer>& layers,
                                                                const LanguageCode& language);
    // All layers of the groups in one new list, keeping the group order and the order within
    // each group.
    static RefCntPtr<MapLayers> MergeGroups(const std::vector<MapLayerGroup>& groups);

private:
    TString m_name;
    RefCntPtr<MapLayers> m_layers;
    std::int32_t m_order;
    bool m_enabled = false;
};
