#pragma once
// The Mapbox map providers, registered with the map-source factory by their "class":
//
//   MapboxVectorProvider  "MapboxVector"  a vector base map configured through a Mapbox
//                                         parameters URL, with demographic data layers
//   CustomMapboxProvider  "CustomMapbox"  a user's own Mapbox vector style ("username",
//                                         "api-key")
//   MapboxProvider        "MapBox"        raster Mapbox tiles through the tile-server machinery;
//                                         a "Mapbox GL" source (with a "username") has 512-pixel
//                                         tiles drawn at high DPI
//
// The vector providers hand the style's layers to the layer panel, prepare each layer for the
// renderer (language, region, the data layer's colours), build data-layer legends and make the
// renderer that draws a whole view. Failures to fetch layers never escape them: they become
// empty lists and warnings (FetchErrors).

#include <mutex>
#include <vector>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MapTileServer.h>

class MapboxVectorConnection;

class MapboxVectorProvider : public VectorMapProvider {
public:
    static constexpr const char16_t* valueClassAttr = u"MapboxVector";
    static constexpr double kDefaultMaxScaleLevel = 22.0;
    // Mapbox GL draws the world in 512-pixel tiles.
    static constexpr double kWorldPixelsAtZoomLevel1 = 512.0;
    // Breaks that stand for missing data in statistics.
    static constexpr double kMissingValueBreaks[] = {-666666666.0, -999999999.0};
    static constexpr const char16_t* kNotAvailableLabel = u"n/a";
    // The warning type of a map-service problem.
    static constexpr int kMapServiceWarningType = 9;

    static constexpr StringId kMapServiceProblemText = 0x4C4D4215u;
    static constexpr StringId kLegendRangeFormat = 0x4C4D4230u;
    static constexpr StringId kAttributionText = 0x4C4D4220u;
    static constexpr StringId kAttributionShortText = 0x4C4D4221u;
    static constexpr StringId kAttributionUrl = 0x4C4D4222u;
    static constexpr StringId kAttribution2Text = 0x4C4D4223u;
    static constexpr StringId kAttribution2ShortText = 0x4C4D4224u;

    explicit MapboxVectorProvider(AttributeMap attributes);

    // Web Mercator, "EPSG:3857".
    SpatialProjectorPtr CreateSpatialProjector(const FieldName& uField,
                                               const FieldName& vField) const override;
    // The style's feature layers; a connection failure propagates, a style failure gives an
    // empty list and a warning.
    RefCntPtr<MapLayers> GetFeatureLayers(const TString& styleName) override;
    // The data layers of the area's tileset (the first area's for an unknown name); empty with a
    // warning when the tileset fails.
    RefCntPtr<MapLayers> GetDataLayers(const TString& areaName) override;
    // A stepped legend of the layer's "quintiles" in its "palette"; null without at least two
    // breaks or with an unknown palette.
    RefCntPtr<ILegendItems> CreateLegendItems(const MapLayer& layer, const LanguageCode& language,
                                              const ColorPaletteLookup& palettes) override;
    // Sets "region-code" and "language".
    void PrepareFeatureLayer(MapLayer& layer, const LanguageCode& language) override;
    // Sets "insert-above", "paint-color" (a step expression over the data id) and
    // "paint-opacity"; clears every attribute of a layer that cannot be drawn.
    void PrepareDataLayer(MapLayer& layer, const LanguageCode& language,
                          const ColorPaletteLookup& palettes) override;
    bool SupportsClientFetchedMapTiles() const override { return true; }
    std::vector<RefCntPtr<WarningMsg>> FetchErrors() override;

    // A MapboxVectorRenderer over this provider's connection; a connection failure propagates.
    std::shared_ptr<MapRenderer> CreateMapRenderer(const MapSceneSpec& scene,
                                                   std::function<void()> onChange) override;
    // The renderer is one of ours, over this provider's connection, and can draw the scene.
    bool IsMapRendererUsable(const MapRenderer& renderer, const MapSceneSpec& scene) override;
    double GetDefaultMaxScaleLevel() const override { return kDefaultMaxScaleLevel; }
    double GetPixelsPerCRSUnitAtZoomLevel1() const override;

    // The connection's, else the "api-key" attribute.
    TString GetAccessToken();
    // Empty without a connection.
    TString GetStyleJsonUrl(const TString& styleName);
    TString GetLanguageString(const LanguageCode& language, const TString& styleName);
    TString GetRegionCode(const LanguageCode& language) const;
    void HandleMapboxParamsFailure();

    // The class breaks of a data layer's "quintiles" ([[low, high], ...]): the first low
    // rounded down to three significant digits, then every high rounded to nearest (markers of
    // missing data stay as they are); empty for text that is not a JSON array.
    static std::vector<double> ReadQuintileBreaks(const TString& quintiles);
    // count colours from 0 to 1 of the palette (the first one alone for a count of 1).
    static std::vector<ColorObject> SamplePalette(const ColorPalette& palette, int count);

protected:
    // The live vector connection, or null.
    RefCntPtr<MapboxVectorConnection> VectorConnection();

private:
    void AddError(const TString& message);

    std::mutex m_errorsMutex;
    std::vector<RefCntPtr<WarningMsg>> m_errors;
};

class CustomMapboxProvider : public MapboxVectorProvider {
public:
    static constexpr const char16_t* valueClassAttr = u"CustomMapbox";

    explicit CustomMapboxProvider(AttributeMap attributes);

    bool HasTransientLayers() const override { return false; }
    bool IsSticky() const override { return true; }
};

class MapboxProvider : public MapTileServerProvider {
public:
    static constexpr const char16_t* valueClassAttr = u"MapBox";
    static constexpr int kMapboxGLTileSize = 512;

    explicit MapboxProvider(AttributeMap attributes);

    bool ForceHighDPI() const override { return IsMapboxGL(); }
    int GetTileSize() const override { return IsMapboxGL() ? kMapboxGLTileSize : kTileSize; }
    bool IsSticky() const override { return true; }

    // Tiles rendered from a user's Mapbox style: the source names a "username".
    bool IsMapboxGL() const;
};
