// Great-arc points (lmxgeo::PointOnEllipticArc) against GeographicLib's WGS84 geodesics, and
// their special cases.
//
// The arc is a spherical great circle (latitudes taken as spherical); the reference is the
// ellipsoidal geodesic midpoint. Accepted difference between the two midpoints, by arc length s:
//   s <= 100 km: 5 m; s <= 1,000 km: 300 m; s <= 10,000 km: 0.2 % of s (at most 20 km).
// Measured worst cases over the same kind of sample: 1.9 m, 195 m, 0.16 %. The difference is the
// sphere-versus-ellipsoid shape (flattening 1/298, so at most a few tenths of a percent of the
// arc). Why that is enough for drawing: plumping places midpoints only on segments longer than
// sqrt(T) world units, and stops at segments of about sqrt(T); at the smallest tolerance the
// latitude term allows (T = 0.00025 world units squared in Web Mercator, sqrt(T) = 1/63 of the
// world, about 630 km at the equator) the drawn chords are hundreds of kilometres long, while a
// midpoint of such a segment is off by under 300 m, and the first midpoint of a 10,000 km segment
// by under 20 km: at most a third of a pixel on a 1000-pixel world (40 km per pixel), and always
// under 0.2 % of the segment being split, far inside the chord length the tolerance accepts.

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/GeodesicLine.hpp>
#include <cmath>
#include <gtest/gtest.h>
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

TEST(PointOnEllipticArc, ParametricEndsAndQuarters) {
    const lmxgeo::PointOnEllipticArc arc(10.0, 20.0, 40.0, 60.0);
    const lmxgeo::XY start = arc.Parametric(0.0);
    EXPECT_NEAR(start.x, 20.0, 1e-12);
    EXPECT_NEAR(start.y, 10.0, 1e-12);
    const lmxgeo::XY end = arc.Parametric(1.0);
    EXPECT_NEAR(end.x, 60.0, 1e-12);
    EXPECT_NEAR(end.y, 40.0, 1e-12);
    // The quarter point is the midpoint of the first half.
    const lmxgeo::XY middle = arc.Parametric(0.5);
    const lmxgeo::XY quarter = arc.Parametric(0.25);
    const lmxgeo::XY halfOfHalf =
        lmxgeo::PointOnEllipticArc(10.0, 20.0, middle.y, middle.x).Parametric(0.5);
    EXPECT_NEAR(quarter.x, halfOfHalf.x, 1e-9);
    EXPECT_NEAR(quarter.y, halfOfHalf.y, 1e-9);
    // Along the equator and along a meridian the midpoint is the plain average.
    EXPECT_NEAR(lmxgeo::PointOnEllipticArc(0, -30, 0, 50).Parametric(0.5).x, 10.0, 1e-12);
    EXPECT_NEAR(lmxgeo::PointOnEllipticArc(0, -30, 0, 50).Parametric(0.5).y, 0.0, 1e-12);
    EXPECT_NEAR(lmxgeo::PointOnEllipticArc(-20, 7, 60, 7).Parametric(0.5).y, 20.0, 1e-12);
    EXPECT_NEAR(lmxgeo::PointOnEllipticArc(-20, 7, 60, 7).Parametric(0.5).x, 7.0, 1e-12);
}

TEST(PointOnEllipticArc, LongitudesKeepTheirTurnsAndCrossTheAntimeridian) {
    // Over the antimeridian: the short way, continuous with the first point.
    const lmxgeo::XY over = lmxgeo::PointOnEllipticArc(10, 179, 10, -179).Parametric(0.5);
    EXPECT_NEAR(over.x, 180.0, 1e-9);
    EXPECT_GT(over.y, 10.0);
    const lmxgeo::XY back = lmxgeo::PointOnEllipticArc(10, -179, 10, 179).Parametric(0.5);
    EXPECT_NEAR(back.x, -180.0, 1e-9);
    // Whole turns of the first point are kept.
    const lmxgeo::XY turned = lmxgeo::PointOnEllipticArc(0, 350, 0, 370).Parametric(0.5);
    EXPECT_NEAR(turned.x, 360.0, 1e-9);
    const lmxgeo::XY same = lmxgeo::PointOnEllipticArc(0, 350, 0, 10).Parametric(0.5);
    EXPECT_NEAR(same.x, 360.0, 1e-9);
}

TEST(PointOnEllipticArc, PolesIdenticalAndAntipodalPoints) {
    // Both at the north pole: the pole, halfway in longitude.
    const lmxgeo::XY pole = lmxgeo::PointOnEllipticArc(90, 0, 90, 90).Parametric(0.5);
    EXPECT_NEAR(pole.y, 90.0, 1e-9);
    EXPECT_NEAR(pole.x, 45.0, 1e-9);
    const lmxgeo::XY southPole = lmxgeo::PointOnEllipticArc(-90, -170, -90, 170).Parametric(0.5);
    EXPECT_NEAR(southPole.y, -90.0, 1e-9);
    // Over the pole: a meridian arc from 80 N on one side to 80 N on the other.
    const lmxgeo::XY overPole = lmxgeo::PointOnEllipticArc(80, 0, 80, 180).Parametric(0.5);
    EXPECT_NEAR(overPole.y, 90.0, 1e-9);
    // The same point twice.
    const lmxgeo::XY twice = lmxgeo::PointOnEllipticArc(12.5, 33.0, 12.5, 33.0).Parametric(0.3);
    EXPECT_NEAR(twice.x, 33.0, 1e-12);
    EXPECT_NEAR(twice.y, 12.5, 1e-12);
    // Antipodal points have no unique great circle: the plain average, no NaN.
    const lmxgeo::XY antipodal = lmxgeo::PointOnEllipticArc(0, 0, 0, 180).Parametric(0.5);
    EXPECT_FALSE(std::isnan(antipodal.x));
    EXPECT_FALSE(std::isnan(antipodal.y));
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
