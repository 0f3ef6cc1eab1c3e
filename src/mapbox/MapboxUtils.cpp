#include <QUrlQuery>
#include <array>
#include <regex>

#include <lmxmaps/MapSource.h>
#include <lmxmaps/MapboxUtils.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/Styles.h>

#include "host/core/Json.h"
#include "mapbox/MapboxHttp.h"

namespace MapboxUtils {

namespace {

constexpr std::uint32_t kNoMapStylesAssertId = 0x4C4D4202;
constexpr const char16_t* kStyleUrlFormat = u"mapbox://styles/%1/%2";
constexpr const char16_t* kTilesetCheckPath = u"/v4/%1.json?access_token=%2";
constexpr const char16_t* kStyleCheckPath = u"/styles/v1/%1/%2?access_token=%3";
constexpr const char16_t* kTilesetUrlFormat = u"/v4/{L}/{Z}/{X}/{Y}{D}.png256?access_token=";
constexpr const char16_t* kStyleTilesUrlFormat =
    u"/styles/v1/%1/{L}/tiles/{Z}/{X}/{Y}{D}?access_token=";
constexpr const char16_t* kCustomMapboxClass = u"CustomMapbox";
constexpr const char16_t* kStylesUrl = u"styles/v1";
constexpr const char16_t* kTrue = u"true";
constexpr const char16_t* kNameKey = u"name";
constexpr const char16_t* kWashoutDefault = u"0";
constexpr int kStyleUrlSegments = 4;
constexpr int kRealDigits = 6;

struct ClassicStyle {
    const char16_t* id;
    StringId displayName;
};

constexpr std::array<ClassicStyle, 15> kClassicStyles = {{
    {u"mapbox.streets", 0x4C4D4240u},
    {u"mapbox.basic", 0x4C4D4241u},
    {u"mapbox.comic", 0x4C4D4242u},
    {u"mapbox.dark", 0x4C4D4243u},
    {u"mapbox.emerald", 0x4C4D4244u},
    {u"mapbox.pencil", 0x4C4D4245u},
    {u"mapbox.pirates", 0x4C4D4246u},
    {u"mapbox.high-contrast", 0x4C4D4247u},
    {u"mapbox.run-bike-hike", 0x4C4D4248u},
    {u"mapbox.outdoors", 0x4C4D4249u},
    {u"mapbox.streets-basic", 0x4C4D4241u},
    {u"mapbox.wheatpaste", 0x4C4D424Au},
    {u"mapbox.streets-satellite", 0x4C4D424Bu},
    {u"mapbox.satellite", 0x4C4D424Cu},
    {u"mapbox.light", 0x4C4D424Du},
}};

// Compiled once, on first use, by whichever thread gets there first.
const std::regex& TokenPattern() {
    static const std::regex pattern(R"(^pk\.[-_a-zA-Z0-9]+\.[-_a-zA-Z0-9]+$)");
    return pattern;
}

const std::regex& UsernamePattern() {
    static const std::regex pattern(R"(^[A-Za-z0-9\-]+$)");
    return pattern;
}

const std::regex& IdPattern() {
    static const std::regex pattern("^[A-Za-z0-9]+$");
    return pattern;
}

bool IsWellFormed(const TString& text, const std::regex& pattern) {
    return text.size() < kMaxInputLength && std::regex_match(ToUtf8(text), pattern);
}

// The API's base address with a path: "https://api.host" + "/v4/...".
TString ApiUrl(const TString& path) {
    TString base = Options::GetString(QStringLiteral("MapboxApiUrl")).trimmed();
    while (base.endsWith(u'/')) {
        base.chop(1);
    }
    return base + path;
}

TString DisplayNameOf(const TString& id, const ServerInfo& info) {
    const auto entry = info.find(id);
    if (entry != info.end()) {
        const auto name = entry->second.find(TStr(kNameKey));
        if (name != entry->second.end()) {
            return name->second;
        }
    }
    return id;
}

TString Description(const ServerInfo& info) {
    QStringList pieces;
    for (const auto& [key, attributes] : info) {
        const auto description = attributes.find(TStr(MapSourceAttributeKeys::attrDescription));
        if (description != attributes.end() && !description->second.isEmpty()) {
            pieces.append(description->second);
        } else if (const TString classic = ClassicStyleDisplayName(key); !classic.isEmpty()) {
            pieces.append(LookupTFmtStr(kMapboxStyleNameFormat, classic));
        }
    }
    return pieces.join(QStringLiteral(", "));
}

TString StyleEntryName(const TString& scope, const TString& entry) {
    return scope.isEmpty() ? entry : scope + u'.' + entry;
}

} // namespace

TString CreateMapboxVectorStyleUrl(const TString& account, const TString& styleId) {
    return TStr(kStyleUrlFormat).arg(account, styleId);
}

void GetMapboxParametersFromURL(const TString& url, TString& apiVersion, TString& username,
                                TString& accessToken, TString& styleId) {
    const QUrl parsed(url);
    const QStringList segments = parsed.path().split(u'/', Qt::SkipEmptyParts);
    if (parsed.host() != MapboxHttp::ApiBase().GetHost() || segments.size() < kStyleUrlSegments) {
        return;
    }
    apiVersion = segments[1];
    username = segments[2];
    if (!segments[3].isEmpty()) {
        styleId = segments[3].section(u'.', 0, 0);
    }
    for (const auto& [key, value] : QUrlQuery(parsed).queryItems(QUrl::FullyDecoded)) {
        if (key == u"access_token") {
            accessToken = value;
        }
    }
}

void FlattenJsonObject(const TString& text, std::unordered_map<TString, TString>& values) {
    rapidjson::Document document;
    if (!Json::Parse(text.toUtf8(), document)) {
        return;
    }
    for (const auto& member : Json::RequireObject(document).GetObject()) {
        const rapidjson::Value& value = member.value;
        TString flat;
        if (value.IsString()) {
            flat = Json::ToTString(value);
        } else if (value.IsInt64()) {
            flat = TString::number(value.GetInt64());
        } else if (value.IsUint64()) {
            flat = TString::number(value.GetUint64());
        } else if (value.IsDouble()) {
            flat = TString::number(value.GetDouble(), 'g', kRealDigits);
        } else {
            continue;
        }
        values.insert_or_assign(Json::NameOf(member), flat);
    }
}

bool ValidateMapboxServerInfo(const TString& username, const TString& accessToken,
                              const std::vector<TString>& ids, ServerInfo& info) {
    if (!IsWellFormed(accessToken, TokenPattern())) {
        return false;
    }
    if (!username.isEmpty() && !IsWellFormed(username, UsernamePattern())) {
        return false;
    }
    for (const TString& id : ids) {
        if (!IsWellFormed(id, IdPattern())) {
            return false;
        }
        const TString url = username.isEmpty()
                                ? ApiUrl(TStr(kTilesetCheckPath).arg(id, accessToken))
                                : ApiUrl(TStr(kStyleCheckPath).arg(username, id, accessToken));
        try {
            FlattenJsonObject(MapboxHttp::Get(TUrl(url)), info[id]);
        } catch (const HTTPException& e) {
            FlattenJsonObject(QString::fromUtf8(e.GetResponseBody()), info[TStr(kErrorMessageKey)]);
            return false;
        } catch (const LumivexException&) {
            info[TStr(kErrorMessageKey)];
            return false;
        }
    }
    return true;
}

RefCntPtr<MapLayers> CreateMapboxServerLayers(const std::vector<TString>& ids, ServerInfo& info) {
    auto layers = MakeRefCnt<MapLayers>();
    for (const TString& id : ids) {
        const std::unordered_map<TString, TString>& attributes = info[id];
        MapLayer layer(AttributeMap(attributes.begin(), attributes.end()));
        layer.SetAttribute(MapLayer::attrDisplayName, DisplayNameOf(id, info));
        layer.SetAttribute(MapLayer::attrName, id);
        layer.SetAttribute(MapLayer::attrShowUI, TStr(MapLayer::valueTrue));
        layer.SetAttribute(MapLayer::attrType, TStr(MapLayer::valueFeatures));
        layers->GetLayers().push_back(std::move(layer));
    }
    return layers;
}

void CreateMapboxStyles(const std::shared_ptr<MapSource>& source, const std::vector<TString>& ids,
                        const TString& styleName, const ServerInfo& info) {
    const std::shared_ptr<MapProvider> provider = source->GetMapProvider();
    TString name = styleName;
    if (info.size() == 1) {
        name = CreateMapboxVectorStyleUrl(provider->GetAttribute(MapProvider::attrUsername),
                                          info.begin()->first);
    }
    provider->AddMapStyle(MapStyle(name, styleName, *ColorObject::Parse(TStr(kWaitTileColor)), {}));
    for (const TString& id : ids) {
        provider->AddStoredLayerData(name, DisplayNameOf(id, info), id);
    }
}

std::shared_ptr<MapSource> CreateNewMapboxMapSource(const TString& username, const TString& name,
                                                    const TString& apiKey, const ServerInfo& info,
                                                    const TString& fullUrl) {
    const TUrl api = MapboxHttp::ApiBase();
    const TString urlFormat = username.isEmpty()
                                  ? TStr(kTilesetUrlFormat) + apiKey
                                  : TStr(kStyleTilesUrlFormat).arg(username) + apiKey;
    const AttributeMap attributes = {
        {TStr(MapProvider::attrClass), TStr(kCustomMapboxClass)},
        {TStr(MapProvider::attrURL), TStr(kStylesUrl)},
        {TStr(MapProvider::attrServer), MapboxHttp::ServerOf(api)},
        {TStr(MapProvider::attrFullURL), fullUrl},
        {TStr(MapProvider::attrDescription), Description(info)},
        {TStr(MapProvider::attrInline), TStr(kTrue)},
        {TStr(MapProvider::attrPort), TString::number(api.GetPort())},
        {TStr(MapProvider::attrUrlFormat), urlFormat},
        {TStr(MapProvider::attrOffline), TString()},
        {TStr(MapProvider::attrAPIKey), apiKey},
        {TStr(MapProvider::attrWaitTileFill), TStr(kWaitTileColor)},
        {TStr(MapSource::attrName), name},
        {TStr(MapProvider::attrUsername), username},
    };
    return MapSourceFactory(attributes);
}

void SetMapboxMapSourceDefaults(const std::shared_ptr<MapSource>& source, const TString& scope) {
    const std::shared_ptr<MapProvider> provider = source->GetMapProvider();
    auto* styles = dynamic_cast<StyleSet*>(&source->GetDefaults());
    LMX_LOGIC_ASSERT(styles != nullptr);
    if (provider->GetAttribute(MapProvider::attrClass) == TStr(kCustomMapboxClass)) {
        const std::vector<MapStyle>& mapStyles = provider->GetMapStyles();
        LMX_LOGIC_ASSERT_ID(!mapStyles.empty(), kNoMapStylesAssertId);
        styles->SetStyle(StyleEntryName(scope, TStr(kSelectedStyleEntry)),
                         mapStyles.front().GetName());
    } else if (const RefCntPtr<MapLayers> layers = provider->GetStoredLayers()) {
        for (const MapLayer& layer : layers->GetLayers()) {
            if (layer.GetAttribute(MapLayer::attrDefaultEnabled) == TStr(MapLayer::valueTrue)) {
                styles->SetStyle(
                    StyleEntryName(scope, TStr(kSelectedLayerEntryPrefix) + layer.GetName()),
                    TStr(MapLayer::valueTrue));
            }
        }
    }
    styles->SetStyle(StyleEntryName(scope, TStr(kWashoutEntry)), TStr(kWashoutDefault));
}

TString ClassicStyleDisplayName(const TString& styleId) {
    for (const ClassicStyle& style : kClassicStyles) {
        if (styleId == TStr(style.id)) {
            return LookupTStr(style.displayName);
        }
    }
    return TString();
}

} // namespace MapboxUtils
