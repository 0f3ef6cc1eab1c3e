#pragma once
// Geodesy for geometry preparation: points on great arcs and path generalization.

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace lmxgeo {

// A planar or geographic coordinate pair; for geographic pairs x is the longitude.
struct XY {
    double x = 0.0;
    double y = 0.0;

    bool operator==(const XY&) const = default;
};

// A point on the sphere prepared for repeated great-arc midpoints: its degrees and its unit
// vector (x towards longitude 0 on the equator, z towards the north pole).
struct SpherePoint {
    double latitude = 0.0;
    double longitude = 0.0;
    double x = 1.0;
    double y = 0.0;
    double z = 0.0;

    static SpherePoint FromDegrees(double latitude, double longitude);
};

// The great arc between two points given as (latitude, longitude) in degrees. The arc is the
// shorter great-circle arc on a sphere (geodetic latitudes taken as spherical ones); the
// longitudes may carry whole turns (190 and -170 name the same meridian).
class PointOnEllipticArc {
public:
    PointOnEllipticArc(double latitude1, double longitude1, double latitude2, double longitude2);

    // The point at fraction t (0 at the first point, 1 at the second) of the arc, in degrees as
    // an XY with x = longitude and y = latitude; the longitude lies within 180 degrees of the
    // first point's (whole turns kept). Parametric(0.5) is the arc's midpoint. Antipodal or
    // identical points (no unique great circle) give the point halfway in latitude and
    // longitude.
    XY Parametric(double t) const;

    // The midpoint of the arc between two prepared points: Parametric(0.5) of that arc (equal
    // to the last bits or so), itself prepared, without the trigonometry of its end points, for
    // callers that halve the halves again. On the sphere the midpoint does not depend on the
    // arc's direction; only the whole turns of its longitude follow the first point's.
    static SpherePoint Midpoint(const SpherePoint& first, const SpherePoint& second);

    // Where the arc crosses the meridian of the given longitude: the latitude there, or NaN
    // when the arc does not reach that meridian or runs along it (no single crossing).
    double LatitudeAtLongitude(double longitude) const;

private:
    double m_latitude1;
    double m_longitude1;
    double m_latitude2;
    double m_longitude2;
};

// Read access to one path's points for the generalizer.
class PointArrayAccessAdapter {
public:
    explicit PointArrayAccessAdapter(std::span<const XY> points) : m_points(points) {}

    std::size_t Count() const { return m_points.size(); }
    const XY& operator[](std::size_t index) const { return m_points[index]; }

private:
    std::span<const XY> m_points;
};

class Generalizer {
public:
    virtual ~Generalizer() = default;

    // Sets keep[i] for every point to keep; keep has one entry per point, all false on entry.
    // Every dropped point lies within tolerance of the kept polyline; the end points are kept.
    virtual void Generalize(const PointArrayAccessAdapter& path, std::vector<bool>& keep,
                            double tolerance) const = 0;
};

// Douglas-Peucker, iterative: paths of any length, no recursion depth limit.
std::unique_ptr<Generalizer> MakeDouglasPeuckerGeneralizer();

} // namespace lmxgeo
