#pragma once
// A visual variant of a map source (light, dark, satellite, ...): an id, a user-facing name with
// translations, the fill used for tiles still loading and an optional background colour.
// GetLumivexEnterpriseMapStyleProperties lists the styles our own map service ships with.

#include <map>
#include <unordered_map>

#include <lmxmaps/host/ColorObject.h>
#include <lmxmaps/host/TString.h>

class MapStyle {
public:
    using LocalizedNames = std::map<TString, TString>;

    MapStyle() = default;
    MapStyle(TString name, TString displayName, ColorObject waitTileFill,
             ColorObject backgroundColor, LocalizedNames localizedNames);
    // A style without a background colour of its own.
    MapStyle(TString name, TString displayName, ColorObject waitTileFill,
             LocalizedNames localizedNames);

    const TString& GetName() const { return m_name; }
    const TString& GetDisplayName() const { return m_displayName; }
    const ColorObject& GetWaitTileFill() const { return m_waitTileFill; }
    // The default colour when the style has none.
    const ColorObject& GetBackgroundColor() const { return m_backgroundColor; }
    bool HasBackgroundColor() const { return m_hasBackgroundColor; }
    // Display names by language code.
    const LocalizedNames& GetLocalizedNames() const { return m_localizedNames; }

    // Our map service's six styles, keyed "light", "normal", "dark", "streets", "outdoors"
    // and "satellite"; display names come from the string table on every call. Their previews
    // are images in the library's Qt resources, kPreviewImageSize pixels square.
    static std::unordered_map<TString, struct MapStyleProperties>
    GetLumivexEnterpriseMapStyleProperties();

private:
    TString m_name;
    TString m_displayName;
    ColorObject m_waitTileFill;
    ColorObject m_backgroundColor;
    bool m_hasBackgroundColor = false;
    LocalizedNames m_localizedNames;
};

struct MapStyleProperties {
    MapStyleProperties(TString styleKey, TString styleName, TString displayName,
                       TString previewResource)
        : styleKey(std::move(styleKey)), styleName(std::move(styleName)),
          displayName(std::move(displayName)), previewResource(std::move(previewResource)) {}
    // The name is the key; no preview.
    MapStyleProperties(const TString& styleKey, TString displayName)
        : styleKey(styleKey), styleName(styleKey), displayName(std::move(displayName)) {}

    TString styleKey;
    TString styleName;
    TString displayName;
    // Side of the square preview images of the built-in styles, in pixels.
    static constexpr int kPreviewImageSize = 64;

    // Resource path of the style's preview image (QImage loads it); empty when there is none.
    TString previewResource;
};
