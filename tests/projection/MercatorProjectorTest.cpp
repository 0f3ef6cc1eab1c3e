#include <cmath>
#include <gtest/gtest.h>
#include <limits>

#include <lmxmaps/Projectors.h>

#include "ProjOracle.h"
#include "RandomPoints.h"

namespace {

constexpr double kH = 20037508.342789244;
constexpr double kMercatorMaxY = 21396567.252405364;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// PROJ computes the same spherical formulas in another order: agreement to a micrometre on a
// plane 40,000 km wide, and to 1e-11 degrees (about a micrometre) back.
constexpr double kPlaneToleranceMetres = 1e-6;
constexpr double kAngleToleranceDegrees = 1e-11;

// Projectors are compared through the base, as callers hold them.
bool Equal(const MapProjector& a, const MapProjector& b) {
    return a == b;
}

bool NotEqual(const MapProjector& a, const MapProjector& b) {
    return a != b;
}

} // namespace

TEST(WebMercatorProjector, EdgesOfTheSquareWorld) {
    const WebMercatorProjector p(QStringLiteral("EPSG:3857"));
    EXPECT_NEAR(p.GetY(0, 85.0511287798066), kH, 1e-6);
    EXPECT_EQ(p.GetY(0, 89), kH);
    EXPECT_EQ(p.GetY(0, 90), kH);
    EXPECT_EQ(p.GetY(0, -90), -kH);
    EXPECT_EQ(p.GetY(0, -400), -kH);
    EXPECT_EQ(p.GetX(180, 0), kH);
    EXPECT_EQ(p.GetX(-180, 0), -kH);
    EXPECT_EQ(p.GetX(190, 0), p.GetX(-170, 0));
    EXPECT_EQ(p.GetX(540, 0), kH);

    const MapExtent bounds = p.GetWorldBounds();
    EXPECT_EQ(bounds.minX, -kH);
    EXPECT_EQ(bounds.maxX, kH);
    EXPECT_EQ(bounds.minY, -kH);
    EXPECT_EQ(bounds.maxY, kH);
    const MapExtent extent = p.GetDefaultExtent();
    EXPECT_EQ(extent.maxY, kH);
}

TEST(MercatorProjector, LatitudeIsLimitedToThatOf86DegreesAndTheInverseKeepsOrFoldsTurns) {
    const MercatorProjector p(QStringLiteral("Mercator"), 0.0);
    EXPECT_EQ(p.GetY(0, 90), kMercatorMaxY);
    EXPECT_EQ(p.GetY(0, -90), -kMercatorMaxY);
    EXPECT_EQ(p.GetY(0, 86), kMercatorMaxY);
    EXPECT_LT(p.GetY(0, 85.9), kMercatorMaxY);
    EXPECT_EQ(p.GetMaxY(), kMercatorMaxY);
    EXPECT_EQ(p.GetEccentricity(), 0.0);

    const MapExtent bounds = p.GetWorldBounds();
    EXPECT_EQ(bounds.minX, -kH);
    EXPECT_EQ(bounds.maxX, kH);
    EXPECT_EQ(bounds.minY, -kMercatorMaxY);
    EXPECT_EQ(bounds.maxY, kMercatorMaxY);

    EXPECT_EQ(p.GetLongitudeInverseOfXY(kH, 0), 180.0);
    EXPECT_EQ(p.GetLongitudeInverseOfXY(-kH, 0), -180.0);
    EXPECT_EQ(p.GetInverseOfXY(3 * kH, 0).first, 180.0);
    EXPECT_EQ(p.GetUnwrappedInverseOfXY(3 * kH, 0).first, 540.0);
    EXPECT_NEAR(p.GetInverseOfXY(1.5 * kH, 0).first, -90.0, 1e-12);
    EXPECT_NEAR(p.GetUnwrappedInverseOfXY(1.5 * kH, 0).first, 270.0, 1e-12);
    EXPECT_EQ(p.GetLatitudeInverseOfXY(0, 0), 0.0);
    EXPECT_EQ(p.GetYScaleAtPoint(0, 0), 1.0);
    EXPECT_NEAR(p.GetYScaleAtPoint(0, p.GetY(0, 60)), 2.0, 1e-12);
}

TEST(MercatorProjector, EccentricityOnlyMovesTheLatitudeLimitAndNaNPassesAsTheUpperBound) {
    const MercatorProjector spherical(QStringLiteral("a"), 0.0);
    const MercatorProjector ellipsoidal(QStringLiteral("b"), 0.0818191908426);
    EXPECT_LT(ellipsoidal.GetMaxY(), spherical.GetMaxY());
    EXPECT_EQ(ellipsoidal.GetEccentricity(), 0.0);
    EXPECT_EQ(ellipsoidal.GetY(0, 45), spherical.GetY(0, 45));
    EXPECT_EQ(ellipsoidal.GetY(0, 89), ellipsoidal.GetMaxY());

    const MercatorProjector mercator(QStringLiteral("Mercator"), 0.0);
    const WebMercatorProjector web(QStringLiteral("EPSG:3857"));
    EXPECT_EQ(mercator.GetY(0, kNaN), kMercatorMaxY);
    EXPECT_EQ(web.GetY(0, kNaN), kH);
    EXPECT_TRUE(std::isnan(mercator.GetX(kNaN, 0)));
    EXPECT_EQ(web.GetX(kNaN, 0), -kH);
}

TEST(MercatorProjector, AllMercatorsAreEqualWhateverTheirNames) {
    const MercatorProjector a(QStringLiteral("EPSG:3857"), 0.0);
    const MercatorProjector b(QStringLiteral("other"), 0.5);
    const WebMercatorProjector web(QStringLiteral("web"));
    const PlateCarreeProjector plate;
    EXPECT_TRUE(Equal(a, b));
    EXPECT_FALSE(NotEqual(a, b));
    EXPECT_TRUE(Equal(a, web));
    EXPECT_TRUE(Equal(web, a));
    EXPECT_FALSE(Equal(a, plate));
    EXPECT_TRUE(NotEqual(a, plate));
}

TEST(PlateCarreeProjector, FoldsLongitudeAndHasWorldBoundsWhileIdentityKeepsTheEdgesAndNaN) {
    const PlateCarreeProjector plate;
    const IdentitySpatialProjector identity;
    EXPECT_EQ(plate.GetX(200, 10), -160.0);
    EXPECT_EQ(plate.GetY(200, 10), 10.0);
    EXPECT_EQ(plate.GetName(), QStringLiteral("plate carree"));
    const MapExtent bounds = plate.GetWorldBounds();
    EXPECT_EQ(bounds.minX, -180.0);
    EXPECT_EQ(bounds.maxX, 180.0);
    EXPECT_EQ(bounds.minY, -90.0);
    EXPECT_EQ(bounds.maxY, 90.0);
    EXPECT_FALSE(Equal(plate, identity));
    EXPECT_FALSE(Equal(identity, plate));
    EXPECT_TRUE(Equal(plate, PlateCarreeProjector()));

    EXPECT_EQ(identity.GetX(180, 0), 180.0);
    EXPECT_EQ(identity.GetX(-180, 0), -180.0);
    EXPECT_EQ(identity.GetX(540, 0), 180.0);
    EXPECT_EQ(identity.GetX(-540, 0), -180.0);
    EXPECT_EQ(identity.GetX(190, 0), -170.0);
    EXPECT_EQ(identity.GetX(-190, 0), 170.0);
    EXPECT_EQ(identity.GetX(720.5, 0), 0.5);
    EXPECT_TRUE(std::isnan(identity.GetX(kNaN, 0)));
    EXPECT_TRUE(std::isnan(identity.GetX(std::numeric_limits<double>::infinity(), 0)));
    EXPECT_EQ(identity.GetInverseOfXY(400, 3), (XYPair{400, 3}));
    const MapExtent identityBounds = identity.GetWorldBounds();
    EXPECT_TRUE(std::isnan(identityBounds.minX) && std::isnan(identityBounds.maxX) &&
                std::isnan(identityBounds.minY) && std::isnan(identityBounds.maxY));
    EXPECT_EQ(identity.GetDefaultExtent().maxX, 180.0);
}

TEST(MercatorProjector, WebAndSphericalMercatorsAgreeWithProjOnRandomPoints) {
    EXPECT_NO_FATAL_FAILURE(ExpectAgreesWithProj(
        WebMercatorProjector(QStringLiteral("EPSG:3857")), ProjOracle("+proj=webmerc +datum=WGS84"),
        RandomPoints(4000, -180, 180, -85, 85), kPlaneToleranceMetres, kAngleToleranceDegrees));
    EXPECT_NO_FATAL_FAILURE(ExpectAgreesWithProj(
        MercatorProjector(QStringLiteral("Mercator"), 0.0), ProjOracle("+proj=merc +R=6378137"),
        RandomPoints(4000, -180, 180, -86, 86, 7), kPlaneToleranceMetres, kAngleToleranceDegrees));
}
