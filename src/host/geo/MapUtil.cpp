#include <algorithm>
#include <cmath>
#include <limits>

#include <lmxmaps/host/MapScaleLevel.h>

namespace MapUtil {

namespace {

// Keeps a level computed in floating point from falling just below a step it reaches exactly.
constexpr double kLevelEpsilon = 1e-9;

bool IsDegenerateAxis(double crsSize, int pixelSize) {
    return pixelSize <= 0 || std::isnan(crsSize) || crsSize < 0.0;
}

} // namespace

double ComputeScale(double crsWidth, double crsHeight, int pixelWidth, int pixelHeight) {
    if (IsDegenerateAxis(crsWidth, pixelWidth) || IsDegenerateAxis(crsHeight, pixelHeight)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return std::max(pixelWidth / crsWidth, pixelHeight / crsHeight);
}

MapScaleLevel ComputeScaleLevel(double scale, double pixelsPerCRSUnitAtZoomLevel1,
                                int intermediateLevels, int tileSize, double maxLevel,
                                bool tileSizeAdjustable, double minShrink) {
    if (std::isnan(scale)) {
        return MapScaleLevel();
    }
    const double steps = std::max(intermediateLevels, 1);
    const double continuous = std::log2(scale / pixelsPerCRSUnitAtZoomLevel1);
    const double nearest = std::floor(continuous * steps + 0.5 + kLevelEpsilon) / steps;
    const double finestAllowed =
        std::floor((continuous - std::log2(minShrink)) * steps + kLevelEpsilon) / steps;
    double level = std::min(nearest, finestAllowed);
    level = std::clamp(level, 0.0, std::max(maxLevel, 0.0));

    MapScaleLevel result;
    if (tileSizeAdjustable) {
        const double wholeLevel = std::floor(level);
        result.level = wholeLevel;
        result.tileSize =
            static_cast<int>(std::floor(std::exp2(level - wholeLevel) * tileSize + 0.5));
        result.pixelsPerCRSUnit = pixelsPerCRSUnitAtZoomLevel1 * std::exp2(wholeLevel) *
                                  result.tileSize / static_cast<double>(tileSize);
    } else {
        result.level = level;
        result.tileSize = tileSize;
        result.pixelsPerCRSUnit = pixelsPerCRSUnitAtZoomLevel1 * std::exp2(level);
    }
    return result;
}

} // namespace MapUtil
