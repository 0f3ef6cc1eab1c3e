#pragma once
// The one image of a map view, composed from its tiles as they arrive: a canvas of the view's
// pixel size into which each tile is drawn at its place (and, on a wrapping projection, at
// every world copy the view shows), with a wait colour where a tile is still coming. It answers
// use counting, errors and URLs for all its tiles at once. Its lock (level 12) is taken before
// the tiles' own.
//
// MappedImageCollection is what a provider hands back for one view: its composite images and
// its legend images, each as a use.

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
    // hadErrors ends true only when every tile had errors (or there are no tiles); the walk
    // stops at the first tile without errors.
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
