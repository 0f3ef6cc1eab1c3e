#include <set>
#include <stdexcept>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapboxParams.h>
#include <lmxmaps/MapboxVectorConnection.h>
#include <lmxmaps/host/HostClock.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/Tracing.h>
#include <lmxmaps/host/net/Secrets.h>

#include "mapbox/MapboxDocuments.h"
#include "mapbox/MapboxHttp.h"

namespace {

constexpr std::uint32_t kNoStyleTextSite = 0x30E79003;
constexpr std::uint32_t kInvalidStyleSite = 0x085E1DA6;
constexpr std::uint32_t kInvalidTilesetSite = 0x05DE1766;
constexpr std::uint32_t kParamsTokenRefusedSite = 0xE7A7AACF;
constexpr std::uint32_t kTokenRefusedSite = 0xCA49D255;
constexpr std::uint32_t kAccessDeniedSite = 0xCFA90F2F;
constexpr std::uint32_t kNotFoundSite = 0x4CC3529E;

constexpr int kHttpUnauthorized = 401;
constexpr int kHttpForbidden = 403;
constexpr int kHttpNotFound = 404;
constexpr int kHttpProxyAuthenticationRequired = 407;

constexpr const char* kStyleTtlOption = "MapboxVectorLayerCacheTTLSecs";
constexpr const char* kUserStyleTtlOption = "MapboxVectorLayerCacheUserStyleTTLSecs";
constexpr const char16_t* kAccessTokenParameter = u"access_token";
constexpr const char16_t* kUserStylePrefix = u"mapbox://styles/%1/";
constexpr const char16_t* kTilesetDocumentSuffix = u".json";
constexpr const char16_t* kHttpsScheme = u"https";

const std::vector<const char16_t*>& RequiredKeys() {
    static const std::vector<const char16_t*> keys = {MapProvider::attrClass,
                                                      MapProvider::attrServer,
                                                      MapProvider::attrURL,
                                                      MapProvider::attrPort,
                                                      MapProvider::attrUsername,
                                                      MapProvider::attrAPIKey,
                                                      MapboxVectorConnection::attrParamsUrl,
                                                      MapboxVectorConnection::attrDataUrl};
    return keys;
}

void KeepOnly(AttributeMap& attributes, const std::set<TString>& keep) {
    std::erase_if(attributes, [&](const auto& entry) { return keep.count(entry.first) == 0; });
}

QDateTime UtcNow() {
    return HostClock::NowUtc();
}

void WarnMapboxFailure() {
    TLog::LogMessage(TLog::Severity::Warn, LookupTStr(MapboxVectorConnection::kMapboxFailureText));
}

} // namespace

MapboxVectorConnection::MapboxVectorConnection(AttributeMap attributes)
    : MapboxVectorConnection(std::move(attributes), MapboxCaching::MakeDefaultStyleCache(),
                             MapboxCaching::MakeDefaultTilesetCache(),
                             MapboxCaching::MakeDefaultFetchCache()) {}

MapboxVectorConnection::MapboxVectorConnection(
    AttributeMap attributes, std::unique_ptr<MapboxCaching::IStyleCache> styleCache,
    std::unique_ptr<MapboxCaching::ITilesetCache> tilesetCache,
    std::unique_ptr<MapboxCaching::IFetchCache> fetchCache)
    : MapConnection(std::move(attributes)), m_styleCache(std::move(styleCache)),
      m_tilesetCache(std::move(tilesetCache)), m_fetchCache(std::move(fetchCache)) {
    if (HasAttribute(attrParamsUrl)) {
        m_params = MapboxParams::GetInstance(GetAttribute(attrParamsUrl));
    }
}

MapboxVectorConnection::~MapboxVectorConnection() = default;

MapRequestorPtr MapboxVectorConnection::CreateMapRequestor(SpatialProjectorPtr, MapQueryPtr) {
    throw std::runtime_error("not implemented");
}

TString MapboxVectorConnection::GetAccessToken() const {
    if (const TString key = GetAttribute(MapProvider::attrAPIKey); !key.isEmpty()) {
        return key;
    }
    return m_params ? m_params->GetToken() : TString();
}

TString MapboxVectorConnection::GetAccountName(bool isUserStyle) const {
    if (!isUserStyle && m_params) {
        return m_params->GetMapboxAccount();
    }
    return GetAttribute(MapProvider::attrUsername);
}

TString MapboxVectorConnection::MakeUrl(const QStringList& segments) const {
    TString server = GetAttribute(MapProvider::attrServer);
    if (!server.contains(QStringLiteral("://"))) {
        server = TStr(kHttpsScheme) + QStringLiteral("://") + server;
    }
    QUrl url(server);
    bool portOk = false;
    const int port = GetAttribute(MapProvider::attrPort).toInt(&portOk);
    if (portOk) {
        url.setPort(port);
    }
    TString basePath = url.path();
    while (basePath.endsWith(u'/')) {
        basePath.chop(1);
    }
    url.setPath(basePath + u'/' + segments.join(u'/'));
    return url.toString();
}

std::pair<TString, bool>
MapboxVectorConnection::GetStyleJsonUrlAndIsUserStyle(const TString& styleName) const {
    TString styleId;
    bool isUserStyle = true;
    if (m_params) {
        const MapboxParams::MapboxIDs styles = m_params->GetStyleIDs();
        if (const auto found = styles.find(styleName); found != styles.end()) {
            styleId = found->second.id;
            isUserStyle = false;
        }
    }
    if (isUserStyle) {
        styleId = styleName;
        styleId.remove(TStr(kUserStylePrefix).arg(GetAttribute(MapProvider::attrUsername)));
    }
    const TString url =
        MakeUrl({GetAttribute(MapProvider::attrURL), GetAccountName(isUserStyle), styleId});
    return {url, isUserStyle};
}

TString MapboxVectorConnection::GetStyleJsonUrl(const TString& styleName) const {
    return GetStyleJsonUrlAndIsUserStyle(styleName).first;
}

void MapboxVectorConnection::DoWithStyle(
    const TString& styleName,
    const std::function<void(const MapboxCaching::StyleEntry&)>& use) const {
    const auto [url, isUserStyle] = GetStyleJsonUrlAndIsUserStyle(styleName);
    if (m_styleCache->TryUse(url, use)) {
        return;
    }
    Tracing::Activity activity(kStyleActivity);
    activity.SetAttribute("user-style", isUserStyle ? "true" : "false");
    const TString text =
        FetchTraced(activity, url, isUserStyle ? FetchType::UserStyle : FetchType::ParamsStyle);
    if (text.isEmpty()) {
        activity.SetFailed("no style document");
        throw MapProviderException(MapProviderException::eServiceUnavailable,
                                   LookupTStr(kConnectionFailedText),
                                   MapProviderException::Site(kNoStyleTextSite));
    }
    rapidjson::Document document;
    if (!MapboxDocuments::ReadStyle(text, document)) {
        WarnMapboxFailure();
        activity.SetFailed("invalid style document");
        throw MapProviderException(MapProviderException::eInvalidDocument,
                                   LookupTStr(kMapboxFailureText),
                                   MapProviderException::Site(kInvalidStyleSite));
    }
    MapboxCaching::StyleEntry entry;
    entry.styleJson = text;
    entry.timestamp = UtcNow();
    entry.layers = MapboxDocuments::StyleLayers(document, styleName, isUserStyle);
    MapboxDocuments::ReadStyleSettings(document, entry);
    const long long ttl =
        Options::GetInt(QLatin1String(isUserStyle ? kUserStyleTtlOption : kStyleTtlOption));
    entry.expires = entry.timestamp.addSecs(ttl);
    use(entry);
    m_styleCache->Put(url, entry);
}

void MapboxVectorConnection::DoWithTileset(
    const TString& tilesetName,
    const std::function<void(const MapboxCaching::TilesetEntry&)>& use) const {
    if (!m_params) {
        return;
    }
    const MapboxParams::MapboxIDs tilesets = m_params->GetTilesetIDs();
    const auto tileset = tilesets.find(tilesetName);
    if (tileset == tilesets.end()) {
        return;
    }
    const TString url =
        MakeUrl({GetAttribute(attrDataUrl), tileset->second.id + TStr(kTilesetDocumentSuffix)});
    if (m_tilesetCache->TryUse(url, use)) {
        return;
    }
    Tracing::Activity activity(kTilesetActivity);
    const TString text = FetchTraced(activity, url, FetchType::ParamsTileset);
    if (text.isEmpty()) {
        activity.SetFailed("no tileset document");
        return;
    }
    rapidjson::Document document;
    if (!MapboxDocuments::ReadTileset(text, document)) {
        WarnMapboxFailure();
        activity.SetFailed("invalid tileset document");
        throw MapProviderException(MapProviderException::eInvalidDocument,
                                   LookupTStr(kMapboxFailureText),
                                   MapProviderException::Site(kInvalidTilesetSite));
    }
    MapboxCaching::TilesetEntry entry;
    entry.layers = MapboxDocuments::TilesetLayers(document, tileset->second.url);
    entry.expires = UtcNow().addSecs(Options::GetInt(QLatin1String(kStyleTtlOption)));
    use(entry);
    m_tilesetCache->Put(url, entry);
}

TString MapboxVectorConnection::FetchTraced(Tracing::Activity& activity, const TString& url,
                                            FetchType fetchType) const {
    activity.SetAttribute("url", ToUtf8(Secrets::RedactUrl(url)));
    try {
        return Fetch(url, fetchType);
    } catch (const LumivexException& e) {
        activity.SetFailed(ToUtf8(e.GetMessage()));
        throw;
    }
}

TString MapboxVectorConnection::Fetch(const TString& url, FetchType fetchType) const {
    const TString token = GetAccessToken();
    const TString displayUrl = Secrets::RedactUrl(url);
    try {
        const TString text = MapboxHttp::Get(TUrl(url), {{TStr(kAccessTokenParameter), token}});
        m_fetchCache->Put(url, text);
        return text;
    } catch (const HTTPException& e) {
        if (e.GetCode() == 0) {
            TLog::LogMessage(
                TLog::Severity::Warn,
                QStringLiteral("Failure contacting %1: %2").arg(displayUrl, e.GetMessage()));
            return m_fetchCache->Get(url);
        }
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("Mapbox HTTP request failure message: %1")
                             .arg(Secrets::RedactUrl(QString::fromUtf8(e.GetResponseBody()))));
        switch (e.GetCode()) {
        case kHttpUnauthorized:
            if (m_params && m_params->GetToken() == token) {
                HandleMapboxParamsFailure();
                throw MapProviderException(MapProviderException::eTokenRejected,
                                           LookupTStr(kParamsFailureText),
                                           MapProviderException::Site(kParamsTokenRefusedSite));
            }
            throw MapProviderException(MapProviderException::eTokenRejected,
                                       LookupTStr(kMapboxFailureText),
                                       MapProviderException::Site(kTokenRefusedSite));
        case kHttpForbidden:
        case kHttpProxyAuthenticationRequired:
            throw MapProviderException(
                MapProviderException::eAccessDenied,
                std::vector<TStringCore>{LookupTStr(kConnectionFailedText),
                                         LookupTFmtStr(kAccessDeniedText, TUrl(url).GetHost())},
                MapProviderException::Site(kAccessDeniedSite));
        case kHttpNotFound:
            if (fetchType != FetchType::UserStyle) {
                HandleMapboxParamsFailure();
            }
            throw MapProviderException(MapProviderException::eNotFound,
                                       LookupTStr(fetchType == FetchType::ParamsTileset
                                                      ? kTilesetNotFoundText
                                                      : kStyleNotFoundText),
                                       MapProviderException::Site(kNotFoundSite));
        default:
            TLog::LogMessage(TLog::Severity::Warn, QStringLiteral("Failure contacting %1: %2 - %3")
                                                       .arg(displayUrl)
                                                       .arg(e.GetCode())
                                                       .arg(e.GetMessage()));
            return m_fetchCache->Get(url);
        }
    } catch (const AsyncTask::CancelException&) {
        throw;
    } catch (const LumivexException& e) {
        TLog::LogMessage(
            TLog::Severity::Warn,
            QStringLiteral("Failure contacting %1: %2").arg(displayUrl, e.GetMessage()));
        return m_fetchCache->Get(url);
    }
}

TString MapboxVectorConnection::GetStyleJson(const TString& styleName) const {
    TString json;
    DoWithStyle(styleName, [&](const MapboxCaching::StyleEntry& entry) { json = entry.styleJson; });
    return json;
}

RefCntPtr<MapLayers> MapboxVectorConnection::GetStyleLayers(const TString& styleName) const {
    auto layers = MakeRefCnt<MapLayers>();
    DoWithStyle(styleName, [&](const MapboxCaching::StyleEntry& entry) {
        layers->GetLayers() = entry.layers;
    });
    return layers;
}

QDateTime MapboxVectorConnection::GetStyleTimestamp(const TString& styleName) const {
    QDateTime timestamp;
    DoWithStyle(styleName,
                [&](const MapboxCaching::StyleEntry& entry) { timestamp = entry.timestamp; });
    return timestamp;
}

TString MapboxVectorConnection::GetLanguageString(const TString& styleName,
                                                  const LanguageCode& language) const {
    TString text;
    DoWithStyle(styleName, [&](const MapboxCaching::StyleEntry& entry) {
        if (entry.languages.empty()) {
            return;
        }
        const TString iso = language.GetRegion().isEmpty()
                                ? language.GetShortLanguageCode()
                                : language.GetShortLanguageCode() + u'_' + language.GetRegion();
        TString base = iso.section(u'_', 0, 0).section(u'-', 0, 0);
        if (base.isEmpty()) {
            base = TStr(kDefaultLanguageKey);
        }
        for (const TString& key : {iso, base, TStr(kDefaultLanguageKey)}) {
            if (const auto found = entry.languages.find(key); found != entry.languages.end()) {
                text = found->second;
                return;
            }
        }
    });
    return text;
}

void MapboxVectorConnection::GetDataLayerInfo(const TString& styleName, TString& insertAbove,
                                              double& opacity) const {
    DoWithStyle(styleName, [&](const MapboxCaching::StyleEntry& entry) {
        insertAbove = entry.demographicsInsertAbove;
        opacity = entry.demographicsOpacity;
    });
}

RefCntPtr<MapLayers> MapboxVectorConnection::GetTilesetLayers(const TString& tilesetName) const {
    auto layers = MakeRefCnt<MapLayers>();
    DoWithTileset(tilesetName, [&](const MapboxCaching::TilesetEntry& entry) {
        layers->GetLayers() = entry.layers;
    });
    return layers;
}

void MapboxVectorConnection::HandleMapboxParamsFailure() const {
    if (m_params) {
        m_params->ReportParamsFailure();
    }
}

void MapboxVectorConnection::FilterRequiredAttributes(AttributeMap& attributes) {
    std::set<TString> keep;
    for (const char16_t* key : RequiredKeys()) {
        keep.insert(TStr(key));
    }
    KeepOnly(attributes, keep);
}

void MapboxVectorConnection::FilterSecureAttributes(AttributeMap& attributes) {
    FilterRequiredAttributes(attributes);
    attributes.erase(TStr(MapProvider::attrAPIKey));
}

AttributeMap MapboxVectorConnection::ExtractKeychainAttributes(AttributeMap&) {
    return {};
}
