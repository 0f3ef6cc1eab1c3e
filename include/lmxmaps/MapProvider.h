#pragma once
// Providers turn a configured map source (an attribute set) into pictures of the map.
//
// MapProvider, the common base, guards its attributes with a reader-writer lock, gets its
// connection from the shared cache and holds areas, styles, languages, stored layers and
// attribution. Create() picks the factory registered for the "class" value.
//
// RasterMapProvider builds views out of tiles: scale levels, the tiling hooks subclasses fill
// in, and GetMappedImages, which looks tiles up in memory and on disk, requests the missing
// ones and composes one image per view. VectorMapProvider is for families that draw vector
// maps on their own.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include <lmxmaps/CompositeMappedImage.h>
#include <lmxmaps/MapConnection.h>
#include <lmxmaps/MapLayers.h>
#include <lmxmaps/MapQuery.h>
#include <lmxmaps/MapSourceAttributes.h>
#include <lmxmaps/MapStyle.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/host/ColorObject.h>
#include <lmxmaps/host/FieldName.h>
#include <lmxmaps/host/LanguageCode.h>
#include <lmxmaps/host/Legends.h>
#include <lmxmaps/host/Locks.h>
#include <lmxmaps/host/MapCode.h>
#include <lmxmaps/host/MapScaleLevel.h>

class IPersistentImageCache;
class MapRenderer;
struct MapSceneSpec;
class RasterMapProvider;
class VectorMapProvider;

// The attribution line of a map, its short form and its link.
struct MapAttribution {
    TString text;
    TString shortText;
    TString url;

    bool IsValid() const { return !text.isEmpty() || !url.isEmpty(); }
};

class MapProvider : public MapSourceAttributeKeys {
public:
    using Factory = std::function<std::shared_ptr<MapProvider>(const AttributeMap&)>;
    using StoredLayerData = std::map<TString, TString>;

    // Localized messages for a class without a provider: in a reader or server, and otherwise.
    static constexpr StringId kUnknownClassReaderText = 1128053594u;
    static constexpr StringId kUnknownClassText = 3421197950u;
    // Failure kind passed to LinkErrorMgr for a source that cannot connect.
    static constexpr int kLinkErrorKindMapSource = 2;

    explicit MapProvider(AttributeMap attributes);
    MapProvider(const MapProvider&) = delete;
    MapProvider& operator=(const MapProvider&) = delete;
    virtual ~MapProvider();

    // The shared connection for the attributes (null when offline); the connection may complete
    // the attributes, which are copied back. Throws MapProviderException.
    virtual MapConnectionPtr Connect();
    // Connects even when "offline" is set and copies nothing back. Returns null on failure;
    // LinkErrorMgr hears of the failure once, and again only after a success in between.
    virtual MapConnectionPtr ConnectNoThrow();

    virtual MapScaleLevel ComputeScaleLevel(const MapQuery& query) const = 0;
    virtual double GetMaxScaleLevel() const = 0;
    virtual SpatialProjectorPtr CreateSpatialProjector(const FieldName& uField,
                                                       const FieldName& vField) const = 0;
    virtual RefCntPtr<MapLayers> GetFeatureLayers(const TString& name) = 0;
    virtual RefCntPtr<MapLayers> GetDataLayers(const TString& name) = 0;
    virtual RefCntPtr<ILegendItems> CreateLegendItems(const MapLayer& layer,
                                                      const LanguageCode& language,
                                                      const ColorPaletteLookup& palettes) = 0;
    virtual void PrepareFeatureLayer(MapLayer& layer, const LanguageCode& language) = 0;
    virtual void PrepareDataLayer(MapLayer& layer, const LanguageCode& language,
                                  const ColorPaletteLookup& palettes) = 0;

    virtual TString GetDisplayDescription();
    virtual TString GetDisplayUrl();
    virtual TString GetServerKey();
    virtual bool HasConnectUI() const { return false; }
    virtual bool HasTransientLayers() const { return true; }
    virtual bool ShowDetailedErrors() const { return false; }
    virtual bool ShowRadialDistance() const { return true; }
    virtual bool SupportsClientFetchedMapTiles() const { return false; }
    virtual bool SupportsHighDPI() const { return false; }
    virtual bool ForceHighDPI() const { return false; }
    virtual bool IsSticky() const { return false; }
    virtual bool ShouldUserBeWarnedAboutInsecureConnection() { return false; }
    virtual void DisallowFurtherWarningsAboutInsecureConnection() {}
    virtual bool IsRaster() const { return false; }
    // Throws std::runtime_error unless IsRaster().
    virtual const RasterMapProvider& AsRaster() const;
    virtual bool IsVector() const { return false; }
    // Throws std::runtime_error unless IsVector().
    virtual const VectorMapProvider& AsVector() const;
    virtual std::vector<RefCntPtr<WarningMsg>> FetchErrors() { return {}; }
    // Equal when both are the same class and agree on "server", "url" and "port".
    virtual bool operator==(const MapProvider& other) const;
    virtual bool operator!=(const MapProvider& other) const { return !(*this == other); }

    // className empty: the fallback factory for classes without one.
    static void Register(const TString& className, Factory factory);
    static bool IsRegistered(const TString& className);
    // The provider the "class" factory makes; MapProviderException of type unknown class when
    // there is none.
    static std::shared_ptr<MapProvider> Create(const AttributeMap& attributes);

    // Empty when absent.
    TString GetAttribute(const char16_t* key) const;
    bool HasAttribute(const char16_t* key) const;
    AttributeMap GetAttributes() const;
    void SetAttribute(const char16_t* key, const char16_t* value);
    void SetAttribute(const char16_t* key, const TString& value);
    void SetAttributes(AttributeMap attributes);
    void UpdateAttributes(const AttributeMap& attributes);
    // See MapConnection::MatchesAttributes: same size, our values found there, a key missing
    // on their side matching an empty value of ours.
    bool MatchesAttributes(const AttributeMap& attributes) const;

    bool IsOffline() const;
    bool IsConnected() const;
    void Disconnect();
    // The connection offered a secure replacement and the display URL names no port.
    bool CanReplaceWithSecureConnection();
    // The projector of CreateSpatialProjector with default fields, made once.
    SpatialProjectorPtr GetDefaultSpatialProjector() const;

    void AddArea(const MapArea& area);
    void SetAreas(std::vector<MapArea> areas);
    const std::vector<MapArea>& GetAreas() const { return m_areas; }

    void AddMapStyle(const MapStyle& style);
    void SetMapStyles(std::vector<MapStyle> styles);
    const std::vector<MapStyle>& GetMapStyles() const { return m_mapStyles; }
    // The style with that name; else the last unnamed style; else null.
    const MapStyle* GetMapStyle(const TString& name) const;

    void AddSupportedLanguage(const TString& language);
    void SetSupportedLanguages(std::set<TString> languages);
    const std::set<TString>& GetSupportedLanguages() const { return m_supportedLanguages; }

    void SetStoredLayers(RefCntPtr<MapLayers> layers);
    RefCntPtr<MapLayers> GetStoredLayers() const { return m_storedLayers; }
    // Appends to the stored layers, which must have been set.
    void AddStoredLayer(const MapLayer& layer);
    void AddStoredLayerData(const TString& layer, const TString& key, const TString& value);
    // Data for this layer; falls back to the entry with an empty layer name, then null.
    const StoredLayerData* GetStoredLayerData(const TString& layer) const;
    const std::unordered_map<TString, StoredLayerData>& GetStoredLayerDatas() const {
        return m_storedLayerData;
    }

    void SetAttribution(const MapAttribution& attribution) { m_attribution = attribution; }
    void SetAttribution2(const MapAttribution& attribution) { m_attribution2 = attribution; }
    const MapAttribution& GetAttribution() const { return m_attribution; }
    const MapAttribution& GetAttribution2() const { return m_attribution2; }
    // The attribution texts (short ones when preferShort and present) with %1 as the current
    // year; false, outputs untouched, when the first text is empty.
    bool GetAttributionStrings(bool preferShort, TString& first, TString& second) const;

    RasterMapProvider& AsRaster();
    VectorMapProvider& AsVector();

private:
    mutable TReadWriteLock m_attributeLock;
    AttributeMap m_attributes;
    // Connects run on several threads at once.
    std::atomic<unsigned int> m_connectionCacheHint{0};
    std::atomic<bool> m_connectErrorReported{false};
    std::vector<MapStyle> m_mapStyles;
    RefCntPtr<MapLayers> m_storedLayers;
    std::unordered_map<TString, StoredLayerData> m_storedLayerData;
    MapAttribution m_attribution;
    MapAttribution m_attribution2;
    std::set<TString> m_supportedLanguages;
    std::vector<MapArea> m_areas;
    // Its own lock: making a projector may connect, which reads and writes the attributes.
    mutable std::mutex m_defaultProjectorMutex;
    mutable SpatialProjectorPtr m_defaultProjector;
    std::atomic<bool> m_canReplaceWithSecureConnection{false};
};

class RasterMapProvider : public MapProvider {
public:
    // The log-detail tags of per-tile logging, and the one that adds URLs to it.
    static constexpr int kTileLogTag = 30;
    static constexpr int kTileUrlLogTag = 31;
    // The path element after the map code in "tileset".
    static constexpr const char16_t* kTileSetVariant = u"normal";

    // Where the tiles of one view came from.
    struct TileCounts {
        int fresh = 0;
        int fromDisk = 0;
        int fromMemory = 0;
        // Neither cached nor fetchable (no connection).
        int missing = 0;

        int Total() const { return fresh + fromDisk + fromMemory + missing; }
    };

    using MapProvider::MapProvider;

    MapScaleLevel ComputeScaleLevel(const MapQuery& query) const override;
    double GetMaxScaleLevel() const override;
    bool SupportsClientFetchedMapTiles() const override { return false; }
    bool IsRaster() const override { return true; }
    const RasterMapProvider& AsRaster() const override { return *this; }

    virtual MapScaleLevel ComputeScaleLevel(double scale) const;
    virtual double GetMaxStretch() const;
    virtual double GetMinShrink() const;
    virtual int GetIntermediateLevels() const;
    virtual int GetTileSize() const = 0;
    virtual bool IsTileSizeAdjustable() const { return false; }
    virtual double GetDefaultMaxScaleLevel() const = 0;
    virtual double GetPixelsPerCRSUnitAtZoomLevel1() const = 0;
    virtual double GetScaleDenominatorConversionFactor() const = 0;
    virtual bool HasBackgroundColor(ColorObject& color) const;
    virtual bool HasBitmapLegends() const { return false; }

    double GetScaleDenominator(const MapScaleLevel& level) const;
    double GetMapTileAdjustedSize(double factor) const;

    // The view's images: one composite image of its tiles (reused when an identical view was
    // composed before) and, for providers with bitmap legends, a legend. Fetches run in the
    // background; the caller polls the images. Never throws for fetch failures. counts, when
    // given, tells where the tiles came from (all from memory for a reused composite).
    RefCntPtr<MappedImageCollection> GetMappedImages(MapQueryPtr query, bool composeWhenComplete,
                                                     MapCode mapCode, int modelNumber,
                                                     const ColorObject& waitColor,
                                                     TileCounts* counts = nullptr);

protected:
    // Cuts the view into tiles (appended to tiles) and returns the query that covers all of
    // them.
    virtual MapQueryPtr ComputeTiles(const MapScaleLevel& level, MapQueryPtr query,
                                     std::vector<MapQueryPtr>& tiles) = 0;
    // Adds the keys that identify a tile to its cache key.
    virtual void GenerateIndexProperty(AttributeMap& key, MapQueryPtr tile);
    // Sets the image a new tile shows until its fetch delivers.
    virtual void FetchTileFromCache(MappedImageInstancePtr instance, MapQueryPtr tile,
                                    const ColorObject& waitColor);
    virtual bool MapboxVectorFlagOffSupportsClientFetchedMapTiles() const { return false; }

private:
    MapQueryPtr ComputeTilesWithWrappedQueries(const MapScaleLevel& level, MapQueryPtr query,
                                               std::vector<MapQueryPtr>& tiles);
    void GetTilesAndALegendForTheFirstFetchedTile(
        IPersistentImageCache* diskCache, const MapConnectionPtr& connection,
        const QtImageObject::BitmapOptions& bitmapOptions, const ColorObject& waitColor,
        int modelNumber, const std::vector<MapQueryPtr>& tiles, const AttributeMap& filtered,
        std::vector<MappedImageInstancePtr>& instances, std::vector<MappedImageUse>& legends,
        TileCounts& counts);
    void GetLegendsFromCache(IPersistentImageCache* diskCache, const MapConnectionPtr& connection,
                             const std::vector<MapQueryPtr>& tiles, const AttributeMap& filtered,
                             std::vector<MappedImageUse>& legends);
    void AddLegendFromFirstTile(const MapConnectionPtr& connection,
                                const std::vector<MapQueryPtr>& tiles, const AttributeMap& filtered,
                                std::vector<MappedImageUse>& legends);
};

class VectorMapProvider : public MapProvider {
public:
    // The tile size vector scale levels are computed for.
    static constexpr int sPseudoTileSize = 512;

    using MapProvider::MapProvider;

    MapScaleLevel ComputeScaleLevel(const MapQuery& query) const override;
    double GetMaxScaleLevel() const override;
    bool IsVector() const override { return true; }
    const VectorMapProvider& AsVector() const override { return *this; }

    virtual std::shared_ptr<MapRenderer> CreateMapRenderer(const MapSceneSpec& scene,
                                                           std::function<void()> onChange) = 0;
    virtual bool IsMapRendererUsable(const MapRenderer& renderer, const MapSceneSpec& scene) = 0;
    virtual double GetDefaultMaxScaleLevel() const = 0;
    virtual double GetPixelsPerCRSUnitAtZoomLevel1() const = 0;
};
