#include <optional>

#include <lmxmaps/MapLayers.h>
#include <lmxmaps/MapSourceAttributes.h>

namespace {

TString KeyText(const char16_t* key) {
    return TString::fromUtf16(key);
}

// Only an absent attribute means "no bound": text that spells no number is the bound 0.
std::optional<double> ReadBound(const MapLayer& layer, const char16_t* key) {
    if (!layer.HasAttribute(key)) {
        return std::nullopt;
    }
    return MapSourceAttributeRules::ReadHostNumber(layer.GetAttribute(key));
}

} // namespace

MapLayer::MapLayer(AttributeMap attributes) : m_attributes(std::move(attributes)) {}

TString MapLayer::GetAttribute(const TString& key) const {
    const auto found = m_attributes.find(key);
    return found == m_attributes.end() ? TString() : found->second;
}

TString MapLayer::GetAttribute(const char16_t* key) const {
    return GetAttribute(KeyText(key));
}

bool MapLayer::HasAttribute(const TString& key) const {
    return m_attributes.contains(key);
}

bool MapLayer::HasAttribute(const char16_t* key) const {
    return HasAttribute(KeyText(key));
}

void MapLayer::SetAttribute(const TString& key, const TString& value) {
    m_attributes[key] = value;
}

void MapLayer::SetAttribute(const char16_t* key, const TString& value) {
    SetAttribute(KeyText(key), value);
}

void MapLayer::ClearAttribute(const TString& key) {
    m_attributes.erase(key);
}

void MapLayer::ClearAttribute(const char16_t* key) {
    ClearAttribute(KeyText(key));
}

void MapLayer::ClearAttributes() {
    m_attributes.clear();
}

TString MapLayer::GetName() const {
    return GetAttribute(attrName);
}

TString MapLayer::GetDisplayName(const LanguageCode& language) const {
    const TString displayName = GetLocalizedAttr(attrDisplayName, language);
    return displayName.isEmpty() ? GetName() : displayName;
}

TString MapLayer::GetLongDisplayName(const LanguageCode& language) const {
    TString longName = GetLocalizedAttr(attrLongDisplayName, language);
    if (longName.isEmpty()) {
        longName = GetDisplayName(language);
    }
    const TString year = GetAttribute(attrYear);
    if (GetAttribute(attrPrependDate) == KeyText(valueTrue) && !year.isEmpty()) {
        return year + u' ' + longName;
    }
    return longName;
}

TString MapLayer::GetLocalizedAttr(const TString& key, const LanguageCode& language) const {
    const TString candidates[] = {
        key + u'-' + language.GetISOString(),
        key + u'-' + language.GetShortLanguageCode(),
        key,
    };
    for (const TString& candidate : candidates) {
        TString value = GetAttribute(candidate);
        if (!value.isEmpty()) {
            return value;
        }
    }
    return TString();
}

TString MapLayer::GetLocalizedAttr(const char16_t* key, const LanguageCode& language) const {
    return GetLocalizedAttr(KeyText(key), language);
}

TString MapLayer::GetRequestString() const {
    const TString requestString = GetAttribute(attrRequestString);
    return requestString.isEmpty() ? GetName() : requestString;
}

std::vector<TString> MapLayer::GetValidAreaTypes() const {
    const TString geometries = GetAttribute(attrGeometries);
    std::vector<TString> areaTypes;
    if (geometries.isEmpty()) {
        return areaTypes;
    }
    for (const TString& item : geometries.split(u',')) {
        areaTypes.push_back(item.trimmed());
    }
    return areaTypes;
}

bool MapLayer::IsEnabled() const {
    return GetAttribute(attrEnabled) == KeyText(valueTrue);
}

void MapLayer::SetEnabled(bool enabled) {
    SetAttribute(attrEnabled, KeyText(enabled ? valueTrue : valueFalse));
}

bool MapLayer::IsVisible(double zoom, double scaleDenominator) const {
    const bool hasZoom = zoom >= 0.0;
    if (hasZoom) {
        const std::optional<double> minZoom = ReadBound(*this, attrMinZoom);
        if (minZoom && *minZoom > zoom) {
            return false;
        }
    }
    const std::optional<double> maxScaleDenom = ReadBound(*this, attrMaxScaleDenom);
    if (maxScaleDenom && scaleDenominator > *maxScaleDenom) {
        return false;
    }
    if (hasZoom) {
        // A max-zoom of 0 (or below) means "no upper limit".
        const std::optional<double> maxZoom = ReadBound(*this, attrMaxZoom);
        if (maxZoom && *maxZoom > 0.0 && zoom > *maxZoom) {
            return false;
        }
    }
    const std::optional<double> minScaleDenom = ReadBound(*this, attrMinScaleDenom);
    if (minScaleDenom && *minScaleDenom > scaleDenominator) {
        return false;
    }
    return true;
}
