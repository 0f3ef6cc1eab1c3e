#include <cmath>
#include <gtest/gtest.h>
#include <string>

#include <lmxmaps/AlbersEqualAreaProjector.h>
#include <lmxmaps/Projectors.h>
#include <lmxmaps/SpatialProjector.h>

#include "ProjOracle.h"
#include "RandomPoints.h"

namespace {

// Clarke 1866, the radius the inverse searches on, and its eccentricity.
constexpr double kClarkeA = 6378206.44;
constexpr double kClarkeE = 0.0822718542230038;
constexpr double kLambda0 = -96.0;
constexpr double kPhi0 = 23.0;
constexpr double kPhi1 = 29.5;
constexpr double kPhi2 = 45.5;
// Forward: the same closed form as PROJ, to a micrometre.
constexpr double kForwardToleranceMetres = 1e-6;
// Inverse on the solver's own radius: the search ends when the simplex has collapsed, well
// below 1e-9 degrees (0.1 mm).
constexpr double kInverseToleranceDegrees = 1e-9;

AlbersEqualAreaProjector MakeUsAlbers(double a = kClarkeA, double e = kClarkeE) {
    return AlbersEqualAreaProjector(QStringLiteral("US Albers"), kLambda0, kPhi0, kPhi1, kPhi2, a,
                                    e);
}

std::string ProjDefinition(double a, double e) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer,
                  "+proj=aea +lon_0=%.17g +lat_0=%.17g +lat_1=%.17g +lat_2=%.17g +a=%.17g +e=%.17g",
                  kLambda0, kPhi0, kPhi1, kPhi2, a, e);
    return buffer;
}

} // namespace

TEST(AlbersEqualAreaProjector, ForwardAndInverseAgreeWithProj) {
    const AlbersEqualAreaProjector p = MakeUsAlbers();
    const ProjOracle proj(ProjDefinition(kClarkeA, kClarkeE));
    for (const auto& [lon, lat] : RandomPoints(4000, -179, 179, -80, 85, 3)) {
        const XYPair xy = p.GetXY(lon, lat);
        const auto expected = proj.Forward(lon, lat);
        ASSERT_NEAR(xy.first, expected.first, kForwardToleranceMetres) << lon << " " << lat;
        ASSERT_NEAR(xy.second, expected.second, kForwardToleranceMetres) << lon << " " << lat;
        ASSERT_EQ(p.GetX(lon, lat), xy.first);
        ASSERT_EQ(p.GetY(lon, lat), xy.second);
    }

    ASSERT_NO_FATAL_FAILURE(
        ExpectAgreesWithProj(MakeUsAlbers(), ProjOracle(ProjDefinition(kClarkeA, kClarkeE)),
                             RandomPoints(1000, -125, -67, 25, 49, 5), kForwardToleranceMetres,
                             kInverseToleranceDegrees));
}

TEST(AlbersEqualAreaProjector, InverseOnAnotherRadiusIsAcceptedWithin1000Metres) {
    // The search runs on 6378206.44 m; the projector's own radius only decides acceptance.
    const double a = 6378137.0;
    const AlbersEqualAreaProjector p = MakeUsAlbers(a);
    const ProjOracle proj(ProjDefinition(a, kClarkeE));
    for (const auto& [lon, lat] : RandomPoints(200, -125, -67, 25, 49, 9)) {
        const auto xy = proj.Forward(lon, lat);
        const XYPair back = p.GetInverseOfXY(xy.first, xy.second);
        ASSERT_FALSE(std::isnan(back.first + back.second)) << lon << " " << lat;
        const XYPair again = p.GetXY(back.first, back.second);
        ASSERT_LT(std::fabs(again.first - xy.first), 1000.0);
        ASSERT_LT(std::fabs(again.second - xy.second), 1000.0);
        // The radius mismatch shifts the answer, but by far less than a kilometre.
        ASSERT_NEAR(back.first, lon, 0.01);
        ASSERT_NEAR(back.second, lat, 0.01);
    }

    // On a radius far from the solver's the answers miss by more than 1000 m and are refused.
    const AlbersEqualAreaProjector small = MakeUsAlbers(1000000.0);
    const XYPair xy = small.GetXY(-80.0, 40.0);
    const XYPair back = small.GetInverseOfXY(xy.first, xy.second);
    EXPECT_TRUE(std::isnan(back.first));
    EXPECT_TRUE(std::isnan(back.second));
}

TEST(AlbersEqualAreaProjector, DegenerateParametersAndTheSpatialProjectorIsNotSeparable) {
    const AlbersEqualAreaProjector p = MakeUsAlbers(kClarkeA, 0.0);
    const XYPair xy = p.GetXY(-100.0, 40.0);
    EXPECT_TRUE(std::isnan(xy.first));
    EXPECT_TRUE(std::isnan(xy.second));
    EXPECT_TRUE(std::isnan(p.GetInverseOfXY(0.0, 0.0).first));

    // One parallel given twice (cone constant 0 / 0) or two opposite ones (0): refused, not NaN
    // everywhere.
    const FieldName lon(QStringLiteral("lon"));
    const FieldName lat(QStringLiteral("lat"));
    for (const double phi2 : {40.0, -40.0}) {
        EXPECT_THROW(SpatialProjector::AlbersFactory(lon, lat, QStringLiteral("cone"), kLambda0,
                                                     kPhi0, 40.0, phi2, kClarkeA, kClarkeE),
                     MapProjectorException);
    }

    const SpatialProjectorPtr spatial = SpatialProjector::AlbersFactory(
        lon, lat, QStringLiteral("US Albers"), kLambda0, kPhi0, kPhi1, kPhi2, kClarkeA, kClarkeE);
    EXPECT_TRUE(std::isnan(spatial->GetX(-100.0)));
    EXPECT_TRUE(std::isnan(spatial->GetY(40.0)));
    EXPECT_TRUE(std::isnan(spatial->GetUnwrappedInverseOfX(0.0)));
    EXPECT_TRUE(std::isnan(spatial->GetInverseOfY(0.0)));
    // No separability test here: the longitude of x at y = 0 is defined.
    EXPECT_FALSE(std::isnan(spatial->GetInverseOfX(100000.0)));
}

TEST(AlbersEqualAreaProjector, FixedAnswersFarPointsFoldsAndEqualityOfTheFamily) {
    const AlbersEqualAreaProjector p = MakeUsAlbers();
    EXPECT_FALSE(p.DoesWrap());
    EXPECT_FALSE(p.XIsFunctionOfUOnly());
    EXPECT_FALSE(p.YIsFunctionOfVOnly());
    EXPECT_EQ(p.GetEccentricity(), kClarkeE);
    EXPECT_EQ(p.ProjectionUnitsPerUV(), 111319.49079327358);
    EXPECT_EQ(p.UVPerProjectionUnits(), 8.983152841195214e-06);
    EXPECT_EQ(p.GetDefaultExtent().minX, -180.0);
    EXPECT_EQ(p.GetDefaultExtent().maxY, 90.0);
    EXPECT_TRUE(std::isnan(p.GetWorldBounds().minX));
    const XYPair xy = p.GetXY(-90.0, 35.0);
    EXPECT_EQ(p.GetUnwrappedInverseOfXY(xy.first, xy.second),
              p.GetInverseOfXY(xy.first, xy.second));

    // Far points fail and the scale falls back to one.
    const XYPair far = p.GetInverseOfXY(1e9, 0.0);
    EXPECT_TRUE(std::isnan(far.first));
    EXPECT_TRUE(std::isnan(far.second));
    EXPECT_TRUE(std::isnan(p.GetLongitudeInverseOfXY(1e9, 0.0)));
    EXPECT_TRUE(std::isnan(p.GetLatitudeInverseOfXY(1e9, 0.0)));
    EXPECT_EQ(p.GetYScaleAtPoint(1e9, 0.0), 1.0);
    EXPECT_TRUE(std::isnan(p.GetInverseOfXY(std::nan(""), 0.0).first));

    // One plane metre along y is about one metre on the ground inside the projected area.
    const XYPair inside = p.GetXY(-100.0, 40.0);
    EXPECT_NEAR(p.GetYScaleAtPoint(inside.first, inside.second), 1.0, 0.02);

    // Longitude folds around the central meridian, latitude around zero.
    const XYPair east = p.GetXY(kLambda0 + 180.0, 40.0);
    const XYPair west = p.GetXY(kLambda0 - 180.0, 40.0);
    EXPECT_EQ(east, west);
    EXPECT_EQ(p.GetXY(kLambda0 + 200.0, 40.0), p.GetXY(kLambda0 - 160.0, 40.0));
    EXPECT_EQ(p.GetXY(-100.0, 90.0), p.GetXY(-100.0, -90.0));
    EXPECT_EQ(p.GetXY(-100.0, 100.0), p.GetXY(-100.0, -80.0));
    // Values too large for the fold's whole turns stay defined instead of overflowing.
    EXPECT_NO_THROW(p.GetXY(1e300, 1e300));

    // Equality needs the name and every parameter.
    const MapProjector& base = p;
    EXPECT_TRUE(base == MakeUsAlbers());
    EXPECT_FALSE(base == MakeUsAlbers(kClarkeA, 0.08));
    EXPECT_FALSE(base == AlbersEqualAreaProjector(QStringLiteral("other"), kLambda0, kPhi0, kPhi1,
                                                  kPhi2, kClarkeA, kClarkeE));
    EXPECT_FALSE(base == AlbersEqualAreaProjector(QStringLiteral("US Albers"), kLambda0, kPhi0,
                                                  kPhi1, 45.0, kClarkeA, kClarkeE));
    EXPECT_FALSE(base == PlateCarreeProjector());
}
