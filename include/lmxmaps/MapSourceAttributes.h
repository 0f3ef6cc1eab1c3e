#pragma once
// The keys of a map source's attribute set shared by every provider family, and how their
// values are read. Providers expose the keys as their own statics (MapProvider::attrClass);
// keys that only one class reads belong to that class.

#include <optional>

#include <lmxmaps/host/TString.h>

struct MapSourceAttributeKeys {
    // Name of the source; required when a source is created, and removed before the provider
    // sees the set.
    static constexpr const char16_t* attrName = u"name";
    // Which provider family (factory) serves the source.
    static constexpr const char16_t* attrClass = u"class";
    // Scheme of a WMS address (http or https).
    static constexpr const char16_t* attrService = u"service";
    static constexpr const char16_t* attrServer = u"server";
    // Decimal port number.
    static constexpr const char16_t* attrPort = u"port";
    // Path part of the service URL; combined with server and port.
    static constexpr const char16_t* attrURL = u"url";
    static constexpr const char16_t* attrUsername = u"username";
    // Secret: kept out of logs, and removed by the fallback secure filter.
    static constexpr const char16_t* attrPassword = u"password";
    // Set to anything non-empty: use stored tiles, never the network.
    static constexpr const char16_t* attrOffline = u"offline";
    static constexpr const char16_t* attrAddlServers = u"addl-servers";
    static constexpr const char16_t* attrMaxStretch = u"max-stretch";
    static constexpr const char16_t* attrMinShrink = u"min-shrink";
    static constexpr const char16_t* attrIndicatorServer = u"indicator-server";
    static constexpr const char16_t* attrUrlFormat = u"url-format";
    static constexpr const char16_t* attrLayerSeparator = u"layer-separator";
    static constexpr const char16_t* attrTileSet = u"tileset";
    static constexpr const char16_t* attrIntermediateLevels = u"intermediate-levels";
    static constexpr const char16_t* attrMaxScaleLevel = u"max-scale-level";
    static constexpr const char16_t* attrCopyrightString = u"copyright-string";
    static constexpr const char16_t* attrShortCopyrightString = u"short-copyright-string";
    static constexpr const char16_t* attrCopyrightURL = u"copyright-url";
    static constexpr const char16_t* attrWaitTileFill = u"wait-tile-color";
    static constexpr const char16_t* attrFullURL = u"full-url";
    static constexpr const char16_t* attrDescription = u"description";
    static constexpr const char16_t* attrAPIKey = u"api-key";
    // Exactly "true" marks a source stored inline.
    static constexpr const char16_t* attrInline = u"inline";
};

// Reading rules for the values of the shared keys. The numeric rules take the attribute's
// value, or nullopt when the key is absent: a key that is present but empty or malformed reads
// as the number 0 (ReadHostNumber) and is then clamped, not replaced by the default.
namespace MapSourceAttributeRules {

// The square root of 2: a raster level may be drawn magnified up to this much.
inline constexpr double kDefaultMaxStretch = 1.4142135623730951;
// 1 / sqrt(2): a raster level may be drawn shrunk down to this much.
inline constexpr double kDefaultMinShrink = 0.7071067811865475;
inline constexpr int kDefaultIntermediateLevels = 1;

// How the host turns attribute text into a number: the trimmed text must be one decimal
// number as a whole, else the result is 0. "nan" and "inf" count as numbers.
double ReadHostNumber(const TString& text);
// The same for integers: the trimmed text must be one base-10 integer that fits, else 0.
int ReadHostInteger(const TString& text);

// Any non-empty value, "false" included, means offline.
bool IsOffline(const TString& value);
// Only the exact text "true" marks a source inline.
bool IsInline(const TString& value);
// At least 1.0 (smaller values and NaN become 1.0); the square root of 2 when absent.
double ReadMaxStretch(const std::optional<TString>& value);
// At most 1.0 (larger values and NaN become 1.0); 1 / sqrt(2) when absent.
double ReadMinShrink(const std::optional<TString>& value);
// A base-10 integer of at least 1 (smaller values become 1); 1 when absent.
int ReadIntermediateLevels(const std::optional<TString>& value);
// The number as it reads; providerDefault when absent.
double ReadMaxScaleLevel(const std::optional<TString>& value, double providerDefault);

} // namespace MapSourceAttributeRules
