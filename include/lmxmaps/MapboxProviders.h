#pragma once
// Providers for Mapbox sources, by "class" value:
//
//   MapboxVectorProvider  "MapboxVector"  vector base map set up by a parameters URL; offers
//                                         demographic data layers
//   CustomMapboxProvider  "CustomMapbox"  vector map from a style the user owns ("username",
//                                         "api-key")
//   MapboxProvider        "MapBox"        raster tiles, fetched like any tile server; with a
//                                         "username" ("Mapbox GL") tiles are 512 pixels and
//                                         high DPI
//
// For vector sources the provider lists the style's layers for the layer panel, sets language,
// region and data colours on each layer before rendering, builds data-layer legends and
// creates the renderer for a view. Layer fetch failures do not throw: callers get empty lists
// and the warnings come through FetchErrors.

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

    // Parses "quintiles" ([[low, high], ...]) into breaks: the first low, rounded down to
    // three significant digits, followed by each high rounded to nearest (missing-data
    // markers untouched). Anything but a JSON array gives no breaks.
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

    // True when a "username" is set, i.e. tiles come rendered from that user's style.
    bool IsMapboxGL() const;
};
