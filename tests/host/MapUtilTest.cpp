#include <cmath>
#include <gtest/gtest.h>
#include <limits>

#include <lmxmaps/host/MapScaleLevel.h>

namespace {

constexpr double kPi = 3.141592653589793;
// A Web Mercator world is 2 pi R metres wide; 256 px tiles show it whole at level 0.
constexpr double kWorldWidth = 2 * kPi * 6378137.0;
constexpr int kTileSize = 256;
constexpr double kPixelsPerMetreAtLevel0 = kTileSize / kWorldWidth;
constexpr double kMinShrink = 0.7071067811865475;
constexpr double kMaxLevel = 16.0;

MapScaleLevel LevelForWorldView(int viewPixels, int intermediateLevels = 1, bool adjustable = false,
                                double minShrink = kMinShrink) {
    const double scale = MapUtil::ComputeScale(kWorldWidth, kWorldWidth, viewPixels, viewPixels);
    return MapUtil::ComputeScaleLevel(scale, kPixelsPerMetreAtLevel0, intermediateLevels, kTileSize,
                                      kMaxLevel, adjustable, minShrink);
}

} // namespace

TEST(MapUtilComputeScale, PixelsPerUnitOfTheFinerAxis) {
    EXPECT_DOUBLE_EQ(MapUtil::ComputeScale(100.0, 50.0, 1000, 1000), 20.0);
    EXPECT_DOUBLE_EQ(MapUtil::ComputeScale(100.0, 100.0, 1000, 500), 10.0);
    EXPECT_TRUE(std::isnan(MapUtil::ComputeScale(100.0, 100.0, 0, 500)));
    EXPECT_TRUE(std::isnan(MapUtil::ComputeScale(-1.0, 100.0, 10, 10)));
    EXPECT_TRUE(std::isnan(MapUtil::ComputeScale(std::nan(""), 100.0, 10, 10)));
    EXPECT_TRUE(std::isinf(MapUtil::ComputeScale(0.0, 100.0, 10, 10)));
}

TEST(MapUtilComputeScaleLevel, WholeAndAdjustedLevelsLimitsAndTheMagnificationOfEveryLevel) {
    EXPECT_EQ(LevelForWorldView(1024).level, 2.0);
    EXPECT_EQ(LevelForWorldView(1024).tileSize, kTileSize);
    EXPECT_DOUBLE_EQ(LevelForWorldView(1024).pixelsPerCRSUnit, 4 * kPixelsPerMetreAtLevel0);
    EXPECT_EQ(LevelForWorldView(256).level, 0.0);
    EXPECT_DOUBLE_EQ(LevelForWorldView(256).pixelsPerCRSUnit, kPixelsPerMetreAtLevel0);
    EXPECT_EQ(LevelForWorldView(100).level, 0.0);
    // Level 1 is taken once level-0 tiles would be stretched by sqrt(2) or more.
    EXPECT_EQ(LevelForWorldView(362).level, 0.0);
    EXPECT_EQ(LevelForWorldView(363).level, 1.0);
    EXPECT_EQ(LevelForWorldView(1448).level, 2.0);
    EXPECT_EQ(LevelForWorldView(1449).level, 3.0);
    EXPECT_EQ(LevelForWorldView(1 << 30).level, kMaxLevel);

    // 2^2.3 x 256 px: the nearest half level is 2.5.
    const int pixels = static_cast<int>(std::exp2(2.3) * 256);
    EXPECT_EQ(LevelForWorldView(pixels, 2).level, 2.5);
    const MapScaleLevel adjusted = LevelForWorldView(pixels, 2, true);
    EXPECT_EQ(adjusted.level, 2.0);
    EXPECT_EQ(adjusted.tileSize, 362);
    EXPECT_DOUBLE_EQ(adjusted.pixelsPerCRSUnit, kPixelsPerMetreAtLevel0 * 4 * 362 / 256);
    // A whole level keeps the tile size.
    EXPECT_EQ(LevelForWorldView(1024, 2, true).tileSize, kTileSize);

    const double infinite = std::numeric_limits<double>::infinity();
    EXPECT_EQ(MapUtil::ComputeScaleLevel(infinite, 1.0, 1, 256, 12.0, false, kMinShrink).level,
              12.0);
    EXPECT_EQ(MapUtil::ComputeScaleLevel(0.0, 1.0, 1, 256, 12.0, false, kMinShrink).level, 0.0);
    EXPECT_FALSE(
        MapUtil::ComputeScaleLevel(std::nan(""), 1.0, 1, 256, 12.0, false, kMinShrink).IsSet());
    EXPECT_EQ(MapUtil::ComputeScaleLevel(8.0, 1.0, 0, 256, 12.0, false, 1.0).level, 3.0);
    EXPECT_EQ(MapUtil::ComputeScaleLevel(8.0, 1.0, -2, 256, 12.0, false, 1.0).level, 3.0);
    // With a min shrink of 1 tiles are never shrunk: 7.9 is still level 2, not the nearer 3.
    EXPECT_EQ(MapUtil::ComputeScaleLevel(7.9, 1.0, 1, 256, 12.0, false, 1.0).level, 2.0);
    EXPECT_EQ(MapUtil::ComputeScaleLevel(7.9, 1.0, 1, 256, 12.0, false, kMinShrink).level, 3.0);
    EXPECT_FALSE(MapScaleLevel().IsSet());

    for (int viewPixels = 256; viewPixels < 256 * 4096; viewPixels = viewPixels * 9 / 8 + 1) {
        for (const int steps : {1, 2, 3}) {
            const MapScaleLevel scaleLevel = LevelForWorldView(viewPixels, steps);
            const double viewScale = viewPixels / kWorldWidth;
            const double magnification = viewScale / scaleLevel.pixelsPerCRSUnit;
            EXPECT_GE(magnification, std::exp2(-0.5 / steps) * (1 - 1e-12)) << viewPixels;
            EXPECT_LE(magnification, std::exp2(0.5 / steps) * (1 + 1e-12)) << viewPixels;
            EXPECT_DOUBLE_EQ(scaleLevel.level * steps, std::round(scaleLevel.level * steps));
        }
    }
}
