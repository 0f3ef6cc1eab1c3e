#pragma once
// Connection for Mapbox vector sources. It builds the service URLs of the source's style and
// tilesets, downloads them (the token travels only as the "access_token" query parameter) and
// maps service errors to MapProviderExceptions worded for the user. Styles become feature
// layers, groups, languages and demographic settings; tilesets become data layers. Parsed
// results stay in memory until they expire, and the raw JSON is also written to the
// "MapboxFetch" disk cache, the fallback when the network is down.
//
// A source is configured either through a parameters URL ("params-url": token, account, named
// styles and tilesets) or as a user's own style ("username", "api-key", a style id or URL).
// Any thread may ask; two threads that miss the same document both fetch it, the last one's
// parse stays cached.

#include <QDateTime>
#include <functional>
#include <memory>

#include <lmxmaps/MapConnection.h>
#include <lmxmaps/MapboxCaching.h>
#include <lmxmaps/host/LanguageCode.h>
#include <lmxmaps/host/net/TUrl.h>

class MapboxParams;
namespace Tracing {
class Activity;
}

class MapboxVectorConnection : public MapConnection {
public:
    // What a fetch is for: picks the not-found wording and whether the parameters are to blame.
    enum class FetchType : int {
        UserStyle = 0,
        ParamsStyle = 1,
        ParamsTileset = 2,
    };

    static constexpr const char16_t* attrParamsUrl = u"params-url";
    static constexpr const char16_t* attrDataUrl = u"data-url";
    static constexpr const char16_t* kDefaultLanguageKey = u"lumivex_default_language";

    static constexpr StringId kConnectionFailedText = 0x4C4D4210u;
    static constexpr StringId kMapboxFailureText = 0x4C4D4211u;
    static constexpr StringId kParamsFailureText = 0x4C4D4212u;
    static constexpr StringId kAccessDeniedText = 3701153844u;
    static constexpr StringId kStyleNotFoundText = 0x4C4D4213u;
    static constexpr StringId kTilesetNotFoundText = 0x4C4D4214u;

    // The tracing activities around fetching and parsing a document.
    static constexpr const char* kStyleActivity = "mapbox-vector-connection.make-feature-style";
    static constexpr const char* kTilesetActivity = "mapbox-vector-connection.make-data-style";

    // Takes the parameters of "params-url" (nothing is fetched yet).
    explicit MapboxVectorConnection(AttributeMap attributes);
    // With caches of the caller's choosing.
    MapboxVectorConnection(AttributeMap attributes,
                           std::unique_ptr<MapboxCaching::IStyleCache> styleCache,
                           std::unique_ptr<MapboxCaching::ITilesetCache> tilesetCache,
                           std::unique_ptr<MapboxCaching::IFetchCache> fetchCache);
    ~MapboxVectorConnection() override;

    // Vector maps are drawn whole, never tile by tile: throws std::runtime_error.
    MapRequestorPtr CreateMapRequestor(SpatialProjectorPtr projector, MapQueryPtr query) override;

    // "api-key", else the parameters' token, else empty.
    TString GetAccessToken() const;
    TString GetStyleJsonUrl(const TString& styleName) const;

    // The style getters fetch and parse the style when it is not cached; they throw
    // MapProviderException: type 2 when it cannot be had at all, 18 for a document that is not
    // a style, 19 for a refused token, 17 for denied access, 3 when it does not exist.
    TString GetStyleJson(const TString& styleName) const;
    RefCntPtr<MapLayers> GetStyleLayers(const TString& styleName) const;
    QDateTime GetStyleTimestamp(const TString& styleName) const;
    // The style's text-field for the language: its ISO string, then its language alone, then
    // the style's default; empty when the style has no languages.
    TString GetLanguageString(const TString& styleName, const LanguageCode& language) const;
    void GetDataLayerInfo(const TString& styleName, TString& insertAbove, double& opacity) const;
    // The data layers of a tileset the parameters name; empty for an unknown tileset or when
    // the tileset cannot be had. Throws as the style getters for refusals and bad documents.
    RefCntPtr<MapLayers> GetTilesetLayers(const TString& tilesetName) const;

    // The service refused the parameters: they are fetched again.
    void HandleMapboxParamsFailure() const;
    const std::shared_ptr<MapboxParams>& GetParams() const { return m_params; }

    // Removes every attribute except these eight: "class", "server", "url", "port",
    // "username", "api-key", "params-url", "data-url".
    static void FilterRequiredAttributes(AttributeMap& attributes);
    // The same without "api-key".
    static void FilterSecureAttributes(AttributeMap& attributes);
    static AttributeMap ExtractKeychainAttributes(AttributeMap& attributes);

private:
    TString GetAccountName(bool isUserStyle) const;
    std::pair<TString, bool> GetStyleJsonUrlAndIsUserStyle(const TString& styleName) const;
    void DoWithStyle(const TString& styleName,
                     const std::function<void(const MapboxCaching::StyleEntry&)>& use) const;
    void DoWithTileset(const TString& tilesetName,
                       const std::function<void(const MapboxCaching::TilesetEntry&)>& use) const;
    // The document's text, else the last one fetched from url, else empty; throws for
    // refusals and missing documents.
    TString Fetch(const TString& url, FetchType fetchType) const;
    // Fetch inside a tracing activity, which records the URL and a failure.
    TString FetchTraced(Tracing::Activity& activity, const TString& url, FetchType fetchType) const;
    // server + port + "/" + the segments joined by "/".
    TString MakeUrl(const QStringList& segments) const;

    std::unique_ptr<MapboxCaching::IStyleCache> m_styleCache;
    std::unique_ptr<MapboxCaching::ITilesetCache> m_tilesetCache;
    std::unique_ptr<MapboxCaching::IFetchCache> m_fetchCache;
    std::shared_ptr<MapboxParams> m_params;
};
