#pragma once
// Offline tile providers, tiled like MapTileServerProvider. BlankMapProvider draws one plain
// image file for every tile; LocalMapProvider reads PNG tiles from
// <host map tiles directory>/[tileset/]level/column/row.png.

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapTileServer.h>

class BlankMapProvider : public MapTileServerProvider {
public:
    static constexpr const char16_t* valueClassAttr = u"blank";

    using MapTileServerProvider::MapTileServerProvider;
    ~BlankMapProvider() override;

    // A legend with just a caption (GetLongDisplayName of the layer), no entries.
    RefCntPtr<ILegendItems> CreateLegendItems(const MapLayer& layer, const LanguageCode& language,
                                              const ColorPaletteLookup& palettes) override;
    void PrepareDataLayer(MapLayer& layer, const LanguageCode& language,
                          const ColorPaletteLookup& palettes) override;
    bool SupportsHighDPI() const override { return false; }

protected:
    // Intentionally empty: blank tiles skip the image-cache lookup.
    void FetchTileFromCache(MappedImageInstancePtr instance, MapQueryPtr tile,
                            const ColorObject& waitColor) override;
    bool MapboxVectorFlagOffSupportsClientFetchedMapTiles() const override { return false; }
};

class LocalMapProvider : public MapTileServerProvider {
public:
    static constexpr const char16_t* valueClassAttr = u"local";

    using MapTileServerProvider::MapTileServerProvider;
    ~LocalMapProvider() override;

    bool SupportsHighDPI() const override { return false; }

protected:
    // Intentionally empty: local tiles skip the image-cache lookup.
    void FetchTileFromCache(MappedImageInstancePtr instance, MapQueryPtr tile,
                            const ColorObject& waitColor) override;
    bool MapboxVectorFlagOffSupportsClientFetchedMapTiles() const override { return false; }
};

class BlankMapConnection : public MapConnection {
public:
    using MapConnection::MapConnection;

    MapRequestorPtr CreateMapRequestor(SpatialProjectorPtr projector, MapQueryPtr query) override;

    // Keep only "class" and "tileset".
    static void FilterRequiredAttributes(AttributeMap& attributes);
    static void FilterSecureAttributes(AttributeMap& attributes);
    static AttributeMap ExtractKeychainAttributes(AttributeMap& attributes);
};

class LocalMapConnection : public MapConnection {
public:
    using MapConnection::MapConnection;

    MapRequestorPtr CreateMapRequestor(SpatialProjectorPtr projector, MapQueryPtr query) override;

    // Keep only "class" and "tileset".
    static void FilterRequiredAttributes(AttributeMap& attributes);
    static void FilterSecureAttributes(AttributeMap& attributes);
    static AttributeMap ExtractKeychainAttributes(AttributeMap& attributes);
};

// Reads one tile file; fails with the given exception type when it is missing.
class MapTileFileRequestor : public MapRequestor {
public:
    // The message of a missing tile file (%1: its path).
    static constexpr StringId kMissingFileText = 0x4C4D5401u;

    const TString& GetPath() const { return m_path; }
    TString GetResultUrl() const override { return m_path; }

protected:
    MapTileFileRequestor(MapQueryPtr query, TString path, MapProviderException::Type missingType,
                         std::uint32_t missingSite);

    void ExecuteImpl() override;

private:
    TString m_path;
    MapProviderException::Type m_missingType;
    std::uint32_t m_missingSite;
};

class BlankMapRequestor : public MapTileFileRequestor {
public:
    static constexpr const char16_t* kBlankTileFile = u"Blank256x256.png";

    BlankMapRequestor(RefCntPtr<BlankMapConnection> connection, MapQueryPtr query);
    RefCntPtr<MapRequestor> Clone() const override;

private:
    RefCntPtr<BlankMapConnection> m_connection;
};

class LocalMapRequestor : public MapTileFileRequestor {
public:
    LocalMapRequestor(RefCntPtr<LocalMapConnection> connection, MapQueryPtr query);
    RefCntPtr<MapRequestor> Clone() const override;

    // [tileset/]level/column/row.png for the query, relative to the map tiles directory.
    static TString RelativeTilePath(const TString& tileSet, const MapQuery& query);

private:
    RefCntPtr<LocalMapConnection> m_connection;
};
