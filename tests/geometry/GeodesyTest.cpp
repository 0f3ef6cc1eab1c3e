// Great-arc points (lmxgeo::PointOnEllipticArc) against GeographicLib's WGS84 geodesics, and
// their special cases.
//
// The arc is a spherical great circle; the reference is the ellipsoidal geodesic midpoint.
// Accepted difference between the two midpoints, by arc length s: s <= 100 km: 5 m;
// s <= 1,000 km: 300 m; s <= 10,000 km: 0.2 % of s (measured worst cases: 1.9 m, 195 m,
// 0.16 %, the sphere-versus-ellipsoid shape). Plumping draws chords of hundreds of kilometres,
// so that is well under a pixel of a 1000-pixel world (40 km per pixel).

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/GeodesicLine.hpp>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

#include <lmxmaps/host/Geodesy.h>

namespace {

using GeographicLib::Geodesic;
using GeographicLib::GeodesicLine;

double AcceptedError(double metres) {
    if (metres <= 100e3) {
        return 5.0;
    }
    if (metres <= 1000e3) {
        return 300.0;
    }
    return 0.002 * metres;
}

double Wrap180(double longitude) {
    return longitude - 360.0 * std::floor((longitude + 180.0) / 360.0);
}

} // namespace

TEST(PointOnEllipticArc, MidpointAgreesWithGeographicLibGeodesic) {
    const Geodesic& wgs84 = Geodesic::WGS84();
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> anyLatitude(-85.0, 85.0);
    std::uniform_real_distribution<double> anyLongitude(-180.0, 180.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double worstRelative = 0.0;
    int compared = 0;
    for (int i = 0; i < 20000; ++i) {
        const double latitude1 = anyLatitude(random);
        const double longitude1 = anyLongitude(random);
        // Arc lengths from metres to thousands of kilometres.
        const double scale = std::pow(10.0, -4.0 + 6.0 * unit(random));
        std::normal_distribution<double> step(0.0, scale);
        const double latitude2 = std::clamp(latitude1 + step(random), -85.0, 85.0);
        const double longitude2 = longitude1 + step(random);
        if (std::fabs(longitude2 - longitude1) > 170.0) {
            continue;
        }
        const GeodesicLine line = wgs84.InverseLine(latitude1, longitude1, latitude2, longitude2);
        const double length = line.Distance();
        if (length > 10000e3) {
            continue; // near-antipodal: great circle and geodesic may take different routes
        }
        double referenceLatitude = 0.0;
        double referenceLongitude = 0.0;
        line.Position(0.5 * length, referenceLatitude, referenceLongitude);

        const lmxgeo::XY middle =
            lmxgeo::PointOnEllipticArc(latitude1, longitude1, latitude2, longitude2)
                .Parametric(0.5);
        double difference = 0.0;
        wgs84.Inverse(referenceLatitude, referenceLongitude, middle.y, middle.x, difference);
        ASSERT_LE(difference, AcceptedError(length))
            << "arc of " << length << " m from (" << latitude1 << ", " << longitude1 << ") to ("
            << latitude2 << ", " << longitude2 << ")";
        // The longitude stays within half a turn of the first point's, whole turns kept.
        EXPECT_LE(std::fabs(middle.x - longitude1), 180.0);
        if (length > 0.0) {
            worstRelative = std::max(worstRelative, difference / length);
        }
        ++compared;
    }
    EXPECT_GT(compared, 15000);
    RecordProperty("worst_relative_difference", std::to_string(worstRelative));
}

TEST(PointOnEllipticArc, SpecialArcs) {
    constexpr double kAnyLongitude = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        double latitude1, longitude1, latitude2, longitude2, t;
        double expectedLongitude, expectedLatitude;
    };
    const Case cases[] = {
        {"start", 10, 20, 40, 60, 0.0, 20, 10},
        {"end", 10, 20, 40, 60, 1.0, 60, 40},
        {"equator", 0, -30, 0, 50, 0.5, 10, 0},
        {"meridian", -20, 7, 60, 7, 0.5, 7, 20},
        // Over the antimeridian the short way, continuous with the first point.
        {"eastward over 180", 0, 179, 0, -179, 0.5, 180, 0},
        {"westward over 180", 0, -179, 0, 179, 0.5, -180, 0},
        // Whole turns of the first point are kept.
        {"turned", 0, 350, 0, 370, 0.5, 360, 0},
        {"turned back", 0, 350, 0, 10, 0.5, 360, 0},
        {"both at the pole", 90, 0, 90, 90, 0.5, 45, 90},
        {"over the pole", 80, 0, 80, 180, 0.5, kAnyLongitude, 90},
        {"the same point", 12.5, 33, 12.5, 33, 0.3, 33, 12.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const lmxgeo::XY p =
            lmxgeo::PointOnEllipticArc(c.latitude1, c.longitude1, c.latitude2, c.longitude2)
                .Parametric(c.t);
        if (!std::isnan(c.expectedLongitude)) {
            EXPECT_NEAR(p.x, c.expectedLongitude, 1e-9);
        }
        EXPECT_NEAR(p.y, c.expectedLatitude, 1e-9);
    }
    // The quarter point is the midpoint of the first half.
    const lmxgeo::PointOnEllipticArc arc(10.0, 20.0, 40.0, 60.0);
    const lmxgeo::XY middle = arc.Parametric(0.5);
    const lmxgeo::XY halfOfHalf =
        lmxgeo::PointOnEllipticArc(10.0, 20.0, middle.y, middle.x).Parametric(0.5);
    EXPECT_NEAR(arc.Parametric(0.25).x, halfOfHalf.x, 1e-9);
    EXPECT_NEAR(arc.Parametric(0.25).y, halfOfHalf.y, 1e-9);
    // Antipodal points have no unique great circle: no NaN either.
    const lmxgeo::XY antipodal = lmxgeo::PointOnEllipticArc(0, 0, 0, 180).Parametric(0.5);
    EXPECT_FALSE(std::isnan(antipodal.x) || std::isnan(antipodal.y));
}

TEST(PointOnEllipticArc, LatitudeAtLongitudeOnTheArc) {
    // From (60 N, 60 W) to (60 N, 60 E): at the meridian 0 the great circle reaches
    // atan(tan 60 / cos 60).
    const lmxgeo::PointOnEllipticArc arc(60, -60, 60, 60);
    const double expected = std::atan(std::tan(M_PI / 3) / std::cos(M_PI / 3)) * 180.0 / M_PI;
    EXPECT_NEAR(arc.LatitudeAtLongitude(0.0), expected, 1e-9);
    EXPECT_NEAR(arc.LatitudeAtLongitude(360.0), expected, 1e-9); // turns do not matter
    EXPECT_NEAR(arc.LatitudeAtLongitude(-60.0), 60.0, 1e-9);
    EXPECT_NEAR(arc.LatitudeAtLongitude(60.0), 60.0, 1e-9);
    // Outside the arc's longitudes: NaN.
    EXPECT_TRUE(std::isnan(arc.LatitudeAtLongitude(90.0)));
    EXPECT_TRUE(std::isnan(arc.LatitudeAtLongitude(180.0)));
    // Along a meridian there is no single crossing.
    EXPECT_TRUE(std::isnan(lmxgeo::PointOnEllipticArc(10, 5, 50, 5).LatitudeAtLongitude(5.0)));

    // Random arcs: the latitude at the longitude of a point on the arc is that point's.
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> latitude(-80.0, 80.0);
    std::uniform_real_distribution<double> longitude(-180.0, 180.0);
    std::uniform_real_distribution<double> span(1.0, 120.0);
    std::uniform_real_distribution<double> fraction(0.05, 0.95);
    for (int i = 0; i < 2000; ++i) {
        const double longitude1 = longitude(random);
        const lmxgeo::PointOnEllipticArc randomArc(latitude(random), longitude1, latitude(random),
                                                   longitude1 + span(random));
        const lmxgeo::XY p = randomArc.Parametric(fraction(random));
        EXPECT_NEAR(randomArc.LatitudeAtLongitude(Wrap180(p.x)), p.y, 1e-7) << i;
    }
}
