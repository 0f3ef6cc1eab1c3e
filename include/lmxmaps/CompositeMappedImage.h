#pragma once
// A whole map view assembled from tiles as they arrive: a canvas the size of the view, each tile
// painted where it belongs (on a wrapping projection once per visible world copy) and the wait
// colour wherever a tile is still missing. Uses, errors and URLs are handled for the tiles
// collectively. Lock order: this image's lock (level 12) before any tile's.
//
// MappedImageCollection: the result a provider returns per view, holding a use of each
// composite and of each legend image.

#include <vector>

#include <lmxmaps/MapQuery.h>
#include <lmxmaps/MappedImageInstance.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/host/ColorObject.h>

class CompositeMappedImage : public MappedImageInstance {
public:
    static constexpr int kLockLevel = MappedImageInstance::kLockLevel + 1;

    // With composeWhenComplete the tiles are drawn only once none is pending.
    CompositeMappedImage(MapQueryPtr wholeQuery, const QtImageObject::BitmapOptions& bitmapOptions,
                         bool composeWhenComplete, SpatialProjectorPtr projector);

    void SetWaitTileFill(const ColorObject& color);
    // Adds the tiles and draws those already there.
    void AddTiles(const std::vector<MappedImageInstancePtr>& tiles);
    const MapQueryPtr& GetWholeQuery() const { return m_wholeQuery; }
    std::vector<MappedImageInstancePtr> GetTiles() const;

    void CheckUpdateState(bool& pending, int& count) override;
    // hadErrors: true if every tile failed (and for no tiles at all). Tiles are asked in order,
    // up to and including the first one that did not fail.
    void GetErrors(WarningList& errors, bool& hadErrors) const override;
    void ClearErrors() override;
    std::vector<TString> GetTileUrls() const override;
    std::vector<TileInfo> GetTileInfos() const override;
    // Uses are counted by the tiles, not by the composite. Tiles that a use restarts are polled
    // and drawn again.
    void AddUse() override;
    void RemoveUse() override;

private:
    void DrawTileLocked(MappedImageInstance& tile, bool pending);
    void DrawAllTilesLocked();

    mutable TRecursiveMutex m_compositeLock;
    bool m_updatePending = false;
    bool m_composeWhenComplete;
    ColorObject m_waitTileFill;
    MapQueryPtr m_wholeQuery;
    std::vector<MappedImageUse> m_tiles;
    SpatialProjectorPtr m_projector;
};

using CompositeMappedImagePtr = RefCntPtr<CompositeMappedImage>;

class MappedImageCollection : public RefCntObject {
public:
    std::vector<MappedImageUse> images;
    std::vector<MappedImageUse> legends;
};

using MappedImageCollectionPtr = RefCntPtr<MappedImageCollection>;
