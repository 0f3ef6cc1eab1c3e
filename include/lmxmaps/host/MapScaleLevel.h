#pragma once
// Map scales and scale levels.
//
// The scale of a view is its pixels per CRS unit. Scale level L has
// pixelsPerCRSUnitAtZoomLevel1 x 2^L pixels per CRS unit: level 0 (the whole world in one tile
// on a tiled service) uses that value unchanged and every further level doubles it.
//
// Choosing a level for a scale: with Lc = log2(scale / pixelsPerCRSUnitAtZoomLevel1) and k
// intermediate levels, the level is the multiple of 1/k nearest to Lc (halves go to the finer
// level), lowered where needed so that the view never shows tiles shrunk below minShrink
// (at most Lc - log2(minShrink)), and clamped to [0, maxLevel]. Inside that range tiles are
// drawn at a magnification between 2^(-1/2k) and 2^(1/2k), within the usual limits of
// 1/sqrt(2) and sqrt(2). Example: a 1024 px view of the whole Web Mercator world with 256 px
// tiles has Lc = 2 and is level 2.
//
// A service whose tile size is adjustable serves only whole levels: a level L with a fraction
// keeps the tile grid of floor(L) and draws its tiles at floor(2^(L - floor(L)) x tileSize + 0.5)
// pixels.

struct MapScaleLevel {
    // The zoom level; -1 when no level was computed.
    double level = -1.0;
    // Edge length of a (square) tile in pixels; -1 when no level was computed.
    int tileSize = -1;
    // Image pixels per CRS unit at this level; -1 when no level was computed.
    double pixelsPerCRSUnit = -1.0;

    bool IsSet() const { return tileSize > 0; }
    bool operator==(const MapScaleLevel&) const = default;
};

namespace MapUtil {

// Pixels per CRS unit of a view: the larger of the horizontal and vertical scales, so tiles are
// fine enough along both axes. NaN for a degenerate view (a pixel size not above zero, a
// negative or NaN CRS size); a CRS size of zero gives an infinite scale, which is passed on.
double ComputeScale(double crsWidth, double crsHeight, int pixelWidth, int pixelHeight);

// The level for a scale as described above. An infinite scale gives maxLevel, a zero scale
// level 0, a NaN scale an unset level (IsSet() false); intermediateLevels below 1 count as 1.
MapScaleLevel ComputeScaleLevel(double scale, double pixelsPerCRSUnitAtZoomLevel1,
                                int intermediateLevels, int tileSize, double maxLevel,
                                bool tileSizeAdjustable, double minShrink);

} // namespace MapUtil
