#include <QtGlobal>

#include <lmxmaps/MapStyle.h>
#include <lmxmaps/host/StringTable.h>

namespace {

struct BuiltInStyle {
    const char* key;
    const char* name;
    StringId displayName;
};

// Display names live in the string table under these ids.
constexpr BuiltInStyle kBuiltInStyles[] = {
    {"light", "Light", 0x4C4D5301u},       {"normal", "Normal", 0x4C4D5302u},
    {"dark", "Dark", 0x4C4D5303u},         {"streets", "Streets", 0x4C4D5304u},
    {"outdoors", "Outdoors", 0x4C4D5305u}, {"satellite", "Satellite", 0x4C4D5306u},
};

} // namespace

MapStyle::MapStyle(TString name, TString displayName, ColorObject waitTileFill,
                   ColorObject backgroundColor, LocalizedNames localizedNames)
    : m_name(std::move(name)), m_displayName(std::move(displayName)), m_waitTileFill(waitTileFill),
      m_backgroundColor(backgroundColor), m_hasBackgroundColor(true),
      m_localizedNames(std::move(localizedNames)) {}

MapStyle::MapStyle(TString name, TString displayName, ColorObject waitTileFill,
                   LocalizedNames localizedNames)
    : m_name(std::move(name)), m_displayName(std::move(displayName)), m_waitTileFill(waitTileFill),
      m_localizedNames(std::move(localizedNames)) {}

std::unordered_map<TString, MapStyleProperties> MapStyle::GetLumivexEnterpriseMapStyleProperties() {
    // The previews are compiled into the library; a static build has to register them itself.
    [[maybe_unused]] static const bool previewsRegistered = [] {
        Q_INIT_RESOURCE(lmxmaps_style_previews);
        return true;
    }();
    std::unordered_map<TString, MapStyleProperties> styles;
    for (const BuiltInStyle& style : kBuiltInStyles) {
        const TString key = QString::fromLatin1(style.key);
        styles.emplace(key, MapStyleProperties(key, QString::fromLatin1(style.name),
                                               LookupTStr(style.displayName),
                                               QStringLiteral(":/lmxmaps/styles/%1.png").arg(key)));
    }
    return styles;
}
