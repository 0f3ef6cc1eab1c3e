#include <cmath>
#include <gtest/gtest.h>
#include <limits>

#include <lmxmaps/Projectors.h>

#include "ProjOracle.h"
#include "RandomPoints.h"

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Unit-sphere plane units: 1e-12 is about 6 micrometres on the earth.
constexpr double kPlaneTolerance = 1e-12;
constexpr double kAngleToleranceDegrees = 1e-10;

bool Equal(const MapProjector& a, const MapProjector& b) {
    return a == b;
}
} // namespace

TEST(CylindricEqualAreaProjector, EquatorialStandardParallelAndTheScaleAtPoint) {
    const CylindricEqualAreaProjector p(QStringLiteral("Lambert"), 1.0);
    const MapExtent bounds = p.GetWorldBounds();
    EXPECT_DOUBLE_EQ(bounds.minX, -kPi);
    EXPECT_DOUBLE_EQ(bounds.maxX, kPi);
    EXPECT_EQ(bounds.minY, -1.0);
    EXPECT_EQ(bounds.maxY, 1.0);
    EXPECT_EQ(p.GetY(0, 90), 1.0);
    EXPECT_EQ(p.GetY(0, 120), 1.0);
    EXPECT_EQ(p.GetY(0, -200), -1.0);
    EXPECT_TRUE(std::isnan(p.GetY(0, kNaN)));
    EXPECT_EQ(p.GetDefaultExtent().maxY, 1.0);
    EXPECT_TRUE(std::isnan(p.GetLatitudeInverseOfXY(0, 1.5)));

    const CylindricEqualAreaProjector half(QStringLiteral("cea"), 0.5);
    EXPECT_DOUBLE_EQ(half.GetYScaleAtPoint(0, 0), 2.0);
    // At the standard parallel (60 degrees for c = 0.5) the scale is one.
    EXPECT_NEAR(half.GetYScaleAtPoint(0, half.GetY(0, 60)), 1.0, 1e-12);
}

TEST(CylindricEqualAreaProjector, RejectsCosinesOutsideZeroToOneAndNeverFoldsLongitude) {
    for (const double c : {1.5, -0.1, 1.0000001, kNaN}) {
        try {
            CylindricEqualAreaProjector p(QStringLiteral("bad"), c);
            ADD_FAILURE() << "accepted c = " << c;
        } catch (const MapProjectorException& e) {
            EXPECT_EQ(e.GetErrorCase(), MapProjectorException::eInvalidStandardParallel);
            EXPECT_TRUE(e.GetErrorInfo().logSite.startsWith(
                QStringLiteral("MapProjectorException_AutoGen_0x")));
            const auto clone = e.Clone();
            EXPECT_THROW(clone->Throw(), MapProjectorException);
        }
    }
    // Zero is allowed: every X collapses to 0.
    const CylindricEqualAreaProjector zero(QStringLiteral("zero"), 0.0);
    EXPECT_EQ(zero.GetX(120, 0), 0.0);
    EXPECT_TRUE(std::isinf(zero.GetUnwrappedInverseOfXY(1.0, 0).first));

    const CylindricEqualAreaProjector p(QStringLiteral("cea"), std::cos(30 * kPi / 180));
    EXPECT_DOUBLE_EQ(p.GetX(540, 0), 3 * p.GetX(180, 0));
    EXPECT_NEAR(p.GetUnwrappedInverseOfXY(p.GetX(540, 0), 0).first, 540.0, 1e-12);
    EXPECT_NEAR(p.GetUnwrappedInverseOfXY(p.GetX(-700, 0), 0).first, -700.0, 1e-12);
    EXPECT_NEAR(p.GetInverseOfXY(p.GetX(540, 0), 0).first, 540.0, 1e-12);
    EXPECT_EQ(p.GetUnwrappedInverseOfXY(p.GetX(180, 0), 0).first, 180.0);
    // Far and non-finite X values end the folding instead of looping.
    EXPECT_TRUE(
        std::isinf(p.GetUnwrappedInverseOfXY(std::numeric_limits<double>::infinity(), 0).first));
    EXPECT_TRUE(std::isnan(p.GetUnwrappedInverseOfXY(kNaN, 0).first));
    EXPECT_TRUE(std::isfinite(p.GetUnwrappedInverseOfXY(1e300, 0).first));
    EXPECT_NEAR(p.GetUnwrappedInverseOfXY(p.GetX(360.0 * 1000 + 10, 0), 0).first, 360010.0, 1e-8);
}

TEST(CylindricEqualAreaProjector, EqualityComparesOnlyTheCosineAndSmythHasItsOwnWorld) {
    const double c = std::sqrt(2.0 / kPi);
    const CylindricEqualAreaProjector a(QStringLiteral("a"), c);
    const CylindricEqualAreaProjector b(QStringLiteral("b"), c);
    const SmythEqualSurfaceProjector smyth(QStringLiteral("Smyth"));
    const CylindricEqualAreaProjector other(QStringLiteral("a"), 0.5);
    EXPECT_TRUE(Equal(a, b));
    EXPECT_TRUE(Equal(smyth, a));
    EXPECT_TRUE(Equal(a, smyth));
    EXPECT_FALSE(Equal(a, other));
    EXPECT_FALSE(Equal(a, PlateCarreeProjector()));

    const MapExtent bounds = smyth.GetWorldBounds();
    EXPECT_EQ(bounds.minX, -2.5066282746310007);
    EXPECT_EQ(bounds.maxX, 2.5066282746310007);
    EXPECT_EQ(bounds.minY, -1.2533141373155001);
    EXPECT_EQ(bounds.maxY, 1.2533141373155001);
    EXPECT_EQ(smyth.GetCosStandardParallel(), 0.7978845608028654);
}

TEST(CylindricEqualAreaProjector, AgreesWithProjOnRandomPoints) {
    for (const double standardParallel : {0.0, 30.0, 45.0, 37.0714}) {
        const CylindricEqualAreaProjector p(QStringLiteral("cea"),
                                            std::cos(standardParallel * kPi / 180));
        const ProjOracle proj("+proj=cea +R=1 +lat_ts=" + std::to_string(standardParallel));
        ASSERT_NO_FATAL_FAILURE(ExpectAgreesWithProj(p, proj,
                                                     RandomPoints(1000, -180, 180, -90, 90, 11),
                                                     kPlaneTolerance, kAngleToleranceDegrees))
            << standardParallel;
    }
}
