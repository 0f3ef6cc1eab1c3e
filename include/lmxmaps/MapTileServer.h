#pragma once
// XYZ tile servers: Web Mercator tiles identified by zoom, x and y, requested through a URL
// template from one server or several.
//
// MapTileServerProvider cuts a view into tiles and gives new tiles a provisional image from
// cached tiles of nearby levels. MapTileServerConnection holds the servers (used round-robin)
// and the template, turned into a format string once. MapTileServerRequestor fetches one tile,
// rejects near-white solid tiles and keeps good ones in the disk cache as a private HTTP cache
// would: for the lifetime the server gives them, revalidated with their ETag or Last-Modified
// date once that is over.

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/host/net/HTTPRequestor.h>
#include <lmxmaps/host/storage/PersistentImageCache.h>

class MapNamespace;
class MapSource;
class IAuthenticator;

// Where one tile query lies on the XYZ grid.
struct MapTileIndex {
    double level = 0.0;
    // From the north.
    int row = 0;
    // From the west.
    int column = 0;
    int tileSize = 0;

    // The "INDEX" property: level (6 significant digits), column, row and tile size.
    TString ToString() const;
};

class MapTileServerProvider : public RasterMapProvider {
public:
    static constexpr const char16_t* valueClassAttr = u"OpenStreetMap";
    static constexpr const char16_t* attrDataKey = u"data-apikey";
    static constexpr const char16_t* attrApiVersion = u"api-version";
    static constexpr const char16_t* attrImplicitBaseLayer = u"implicit-base";
    // The tile-cache key property that names a tile.
    static constexpr const char16_t* sIndexProperty = u"INDEX";
    static constexpr int kTileSize = 256;
    static constexpr double kDefaultMaxScaleLevel = 16.0;
    static constexpr double kScaleDenominatorConversionFactor = 3571.428571428571;
    // Localized attribution text and link.
    static constexpr StringId kAttributionText = 3037148607u;
    static constexpr StringId kAttributionLink = 2160945986u;

    explicit MapTileServerProvider(AttributeMap attributes);

    static MapTileIndex ComputeTileIndex(const MapQuery& tile);

    SpatialProjectorPtr CreateSpatialProjector(const FieldName& uField,
                                               const FieldName& vField) const override;
    RefCntPtr<MapLayers> GetFeatureLayers(const TString& name) override;
    RefCntPtr<MapLayers> GetDataLayers(const TString& name) override;
    RefCntPtr<ILegendItems> CreateLegendItems(const MapLayer& layer, const LanguageCode& language,
                                              const ColorPaletteLookup& palettes) override;
    void PrepareFeatureLayer(MapLayer& layer, const LanguageCode& language) override;
    void PrepareDataLayer(MapLayer& layer, const LanguageCode& language,
                          const ColorPaletteLookup& palettes) override;
    TString GetServerKey() override;
    bool HasTransientLayers() const override { return false; }
    bool SupportsHighDPI() const override;
    int GetTileSize() const override { return kTileSize; }
    bool IsTileSizeAdjustable() const override { return true; }
    double GetDefaultMaxScaleLevel() const override { return kDefaultMaxScaleLevel; }
    double GetPixelsPerCRSUnitAtZoomLevel1() const override;
    double GetScaleDenominatorConversionFactor() const override {
        return kScaleDenominatorConversionFactor;
    }

protected:
    MapQueryPtr ComputeTiles(const MapScaleLevel& level, MapQueryPtr query,
                             std::vector<MapQueryPtr>& tiles) override;
    void GenerateIndexProperty(AttributeMap& key, MapQueryPtr tile) override;
    void FetchTileFromCache(MappedImageInstancePtr instance, MapQueryPtr tile,
                            const ColorObject& waitColor) override;
    bool MapboxVectorFlagOffSupportsClientFetchedMapTiles() const override { return true; }

private:
    // The tile size of a level: the provider's at whole levels, scaled by 2^fraction between.
    int TileSizeForLevel(double level) const;
    AttributeMap TileCacheBaseKey(const MapQuery& tile) const;
    std::unique_ptr<QtImageObject> FindLowerResolutionImage(const MapQuery& tile,
                                                            const MapTileIndex& index,
                                                            const AttributeMap& baseKey) const;
    std::unique_ptr<QtImageObject> FindHigherResolutionImage(const MapQuery& tile,
                                                             const MapTileIndex& index,
                                                             const AttributeMap& baseKey,
                                                             const ColorObject& waitColor) const;
};

class MapTileServerConnection : public MapConnection {
public:
    // The message when neither "server" nor "addl-servers" names a server.
    static constexpr StringId kNoServerText = 1670990866u;

    // Throws MapProviderException (service error) without any server.
    explicit MapTileServerConnection(AttributeMap attributes);

    MapRequestorPtr CreateMapRequestor(SpatialProjectorPtr projector, MapQueryPtr query) override;
    bool SupportsHighDPI() const override { return m_supportsHighDPI; }

    const std::vector<TString>& GetServers() const { return m_servers; }
    // The template as a format string with %1 (column) to %7 (density suffix).
    const TString& GetUrlFormat() const { return m_urlFormat; }

    static AttributeMap ExtractKeychainAttributes(AttributeMap& attributes);
    static void FilterSecureAttributes(AttributeMap& attributes);
    static void FilterRequiredAttributes(AttributeMap& attributes);

private:
    std::vector<TString> m_servers;
    std::atomic<int> m_serverCounter{0};
    TString m_urlFormat;
    bool m_supportsHighDPI = false;
};

// The disk cache follows the response's caching headers (a private cache): "no-store" is never
// stored; the lifetime is max-age, else Expires minus Date, else zero; "no-cache" makes it zero.
// A tile with an ETag or a Last-Modified date is stored even with a zero lifetime and kept
// after it expired: its next fetch asks only whether it changed, and a 304 answer renews its
// lifetime without a body. A tile without either is stored only while it is fresh.
//
// A server that cannot be reached, times out or answers 5xx fails as eServiceUnavailable, so
// that an out-of-date copy can stand in for the tile (MappedImageInstance::SetOutOfDateImage).
class MapTileServerRequestor : public MapRequestor {
public:
    // A zero lifetime: only a tile that can be revalidated is stored, asked for again before
    // each use.
    static constexpr std::chrono::seconds m_sDoNotCache{0};
    // The log-detail tag of per-tile request logging.
    static constexpr int kRequestLogTag = 30;
    // Red, green and blue all above this make a solid tile count as blank.
    static constexpr int kNearWhiteThreshold = 231;
    static constexpr StringId kInvalidImageText = 1700363849u;

    MapTileServerRequestor(RefCntPtr<MapTileServerConnection> connection, const TString& server,
                           unsigned int port, const TString& path, MapQueryPtr query);

    RefCntPtr<MapRequestor> Clone() const override;
    // Builds the request without sending it when the URL is not known yet.
    TString GetResultUrl() const override;

protected:
    // The tile's request, conditional when a stored copy has validators.
    RefCntPtr<HTTPRequestor> PrepareFetch() override;
    // Reads the answer and stores the tile on disk as its caching headers allow.
    void CompleteFetch(const RefCntPtr<HTTPRequestor>& request) override;
    virtual RefCntPtr<BinaryHTTPRequestor> CreateRequest() const;
    // Sends the request unless it was sent already, then reads the answer; a 304 takes the
    // stored copy this fetch revalidated as the result.
    virtual void SendAndProcessResponse(RefCntPtr<BinaryHTTPRequestor> request);
    // The response's freshness lifetime (for a 304, its headers over the stored ones); nullopt
    // when it must not be stored at all.
    virtual std::optional<std::chrono::seconds>
    GetTileMaxCacheAge(RefCntPtr<BinaryHTTPRequestor> request) const;
    // Stores the result for maxAge with the response's validators and caching headers.
    virtual void CacheTile(std::chrono::seconds maxAge) const;

private:
    AttributeMap DiskCacheKey() const;
    // The caching headers of the response, over those of the stored copy for a 304.
    AttributeMap CachingHeadersOf(const BinaryHTTPRequestor& request) const;
    // Asks only for a change of the stored copy, when it has validators.
    void MakeConditional(BinaryHTTPRequestor& request) const;
    // Inside a catch block; always throws.
    [[noreturn]] void HandleFetchFailure();
    [[noreturn]] void LogAndHandleFetchFailure();

    RefCntPtr<MapTileServerConnection> m_connection;
    TString m_server;
    unsigned int m_port;
    TString m_path;
    mutable std::mutex m_resultUrlMutex;
    mutable TString m_resultUrl;
    // Set while the fetch runs: the request, the disk copy it revalidates, and the caching
    // headers of the response.
    RefCntPtr<BinaryHTTPRequestor> m_request;
    RefCntPtr<IPersistentImageCache::Data> m_storedTile;
    AttributeMap m_responseCaching;
};

// The connect hooks of tile-server sources: nothing to authenticate or revalidate.
class ConnectMapTileServerDummy {
public:
    static bool AuthenticateProperties(AttributeMap& attributes);
    static std::shared_ptr<MapSource> Reconnect(const MapNamespace& mapNamespace,
                                                std::shared_ptr<MapSource> source);
    static std::shared_ptr<MapSource> ValidateConnectionImpl(const MapNamespace& mapNamespace,
                                                             AttributeMap& attributes,
                                                             std::shared_ptr<MapSource> source);
};
