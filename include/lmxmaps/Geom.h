#pragma once
// Our own geometry value, and what is done to it before drawing: plumping (extra points along
// great arcs; fixing rings that cross the antimeridian or enclose a pole) and generalization.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <lmxmaps/host/Geodesy.h>

class SpatialTransform;

namespace geom {

using Point = lmxgeo::XY;
using Path = std::vector<Point>;
// A polygon's rings, the outer one first; every ring repeats its first point last.
using Polygon = std::vector<Path>;

enum class GeometryType : std::int32_t {
    Unknown = 0,
    Empty = 1,
    Point = 2,
    Line = 3,
    Polygon = 4,
    MultiPoint = 5,
    MultiLine = 6,
    MultiPolygon = 7,
    Collection = 8,
};

class Geom {
public:
    Geom() = default;
    Geom(std::vector<Point> points, std::vector<Path> lines, std::vector<Polygon> polys);

    const std::vector<Point>& GetPoints() const { return m_points; }
    std::vector<Point>& GetPoints() { return m_points; }
    const std::vector<Path>& GetLines() const { return m_lines; }
    std::vector<Path>& GetLines() { return m_lines; }
    const std::vector<Polygon>& GetPolys() const { return m_polys; }
    std::vector<Polygon>& GetPolys() { return m_polys; }

    GeometryType ComputeType() const;

    bool operator==(const Geom&) const = default;

private:
    std::vector<Point> m_points;
    std::vector<Path> m_lines;
    std::vector<Polygon> m_polys;
};

// An immutable geometry with its type; shared read-only between threads.
class ConstGeom {
public:
    explicit ConstGeom(Geom&& geometry);
    ConstGeom(Geom geometry, GeometryType type);

    const Geom& Get() const { return m_geometry; }
    const std::vector<Point>& GetPoints() const { return m_geometry.GetPoints(); }
    const std::vector<Path>& GetLines() const { return m_geometry.GetLines(); }
    const std::vector<Polygon>& GetPolys() const { return m_geometry.GetPolys(); }
    GeometryType GetType() const { return m_type; }
    bool IsEmpty() const;

    bool operator==(const ConstGeom&) const = default;

private:
    Geom m_geometry;
    GeometryType m_type;
};

using ConstGeomPtr = std::shared_ptr<const ConstGeom>;

struct Rect {
    double minX = 0.0;
    double minY = 0.0;
    double maxX = 0.0;
    double maxY = 0.0;

    double width() const { return maxX - minX; }
    double height() const { return maxY - minY; }
    bool operator==(const Rect&) const = default;
};

// The box around every coordinate. With no coordinates at all the box is inverted
// (minX > maxX), so it reads as empty.
Rect Bounds(const ConstGeom& geometry);
Rect Bounds(const std::vector<Point>& points);
Rect Bounds(const std::vector<Path>& lines);
Rect Bounds(const std::vector<Polygon>& polys);

// Whether the point is one of the points, lies on a line or inside a polygon (even-odd over
// its rings; boundary points count as inside).
bool Contains(const ConstGeom& geometry, const Point& point);

// Writes into out a copy of geometry with function applied to each point.
void ForAll(const Geom& geometry, Geom& out, const std::function<Point(const Point&)>& function);
// Whether predicate holds for every point.
bool ForAll(const Geom& geometry, const std::function<bool(const Point&)>& predicate);

// Densifies lines and rings of a geometry in world units (one world is one unit wide) so that
// every segment passes the length test for a world drawn deviceSize pixels wide, and fixes
// rings that cross the antimeridian or enclose a pole. Geometries that need nothing come back as
// the same object. X values of lines and of first rings are folded into the window [xOrigin,
// xOrigin + 1] (smallest X), later rings next to their first ring; a ring around a pole is cut
// at the world edge (X whole; another meridian when the ring crosses that one more than once)
// and closed along y = 1 or y = 0, spanning exactly one world from the window's left edge.
// Degenerate rings raise std::invalid_argument with texts such as ("ring has insufficient
// points to be a polygon", ...); more than 100 nested halvings raise LogicException
// ("infinite recursion while plumping").
ConstGeomPtr PlumpGeometryForProjectionAndDevice(const ConstGeomPtr& geometry,
                                                 const SpatialTransform& forward,
                                                 const SpatialTransform& inverse, double xOrigin,
                                                 double unused, int deviceSize);

// The building blocks of PlumpGeometryForProjectionAndDevice, for callers that hold a mutable
// geometry whose paths are continuous already (no step of more than half a world in X, as
// repair leaves them; a step over half a world never converges and ends in the recursion
// limit). The tolerance T of the segment test: max(2 / deviceSize, Y of forward(0, 0.09) -
// Y of forward(0, 0)); a segment whose squared world-unit length is at most T is never split.
double PlumpingTolerance(const SpatialTransform& forward, int deviceSize);
// Densifies every line and ring in place (no repair), one parallel task per polygon and per
// line. Raises LogicException "infinite recursion while plumping" past 100 nested halvings.
void PlumpForProjectionAndDevice(Geom& geometry, const SpatialTransform& forward,
                                 const SpatialTransform& inverse, int deviceSize);
// Whether densifying would split some segment of some line or ring.
bool NeedsPlumping(const Geom& geometry, const SpatialTransform& forward,
                   const SpatialTransform& inverse, int deviceSize);

// Fills out with a Douglas-Peucker generalized copy (tolerance times 0.001) and returns true,
// or returns false and leaves out alone when no point would be kept.
bool GeneralizeGeometryIfTooDetailed(const ConstGeom& geometry, Geom& out, double tolerance);

} // namespace geom
