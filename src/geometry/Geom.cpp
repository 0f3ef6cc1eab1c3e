#include <algorithm>
#include <limits>
#include <utility>

#include <lmxmaps/Geom.h>

namespace geom {

Geom::Geom(std::vector<Point> points, std::vector<Path> lines, std::vector<Polygon> polys)
    : m_points(std::move(points)), m_lines(std::move(lines)), m_polys(std::move(polys)) {}

GeometryType Geom::ComputeType() const {
    const std::size_t points = m_points.size();
    const std::size_t lines = m_lines.size();
    const std::size_t polys = m_polys.size();
    const int kinds = (points != 0 ? 1 : 0) + (lines != 0 ? 1 : 0) + (polys != 0 ? 1 : 0);
    if (kinds == 0) {
        return GeometryType::Empty;
    }
    if (kinds > 1) {
        return GeometryType::Collection;
    }
    if (points != 0) {
        return points == 1 ? GeometryType::Point : GeometryType::MultiPoint;
    }
    if (lines != 0) {
        return lines == 1 ? GeometryType::Line : GeometryType::MultiLine;
    }
    return polys == 1 ? GeometryType::Polygon : GeometryType::MultiPolygon;
}

ConstGeom::ConstGeom(Geom&& geometry)
    : m_geometry(std::move(geometry)), m_type(m_geometry.ComputeType()) {}

ConstGeom::ConstGeom(Geom geometry, GeometryType type)
    : m_geometry(std::move(geometry)), m_type(type) {}

bool ConstGeom::IsEmpty() const {
    return m_geometry.GetPoints().empty() && m_geometry.GetLines().empty() &&
           m_geometry.GetPolys().empty();
}

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

Rect EmptyRect() {
    return {kInfinity, kInfinity, -kInfinity, -kInfinity};
}

void Extend(Rect& rect, const Point& point) {
    rect.minX = std::min(rect.minX, point.x);
    rect.minY = std::min(rect.minY, point.y);
    rect.maxX = std::max(rect.maxX, point.x);
    rect.maxY = std::max(rect.maxY, point.y);
}

void Extend(Rect& rect, const std::vector<Point>& points) {
    for (const Point& point : points) {
        Extend(rect, point);
    }
}

void Extend(Rect& rect, const Rect& other) {
    rect.minX = std::min(rect.minX, other.minX);
    rect.minY = std::min(rect.minY, other.minY);
    rect.maxX = std::max(rect.maxX, other.maxX);
    rect.maxY = std::max(rect.maxY, other.maxY);
}

// Whether p lies on the closed segment (a, b), exactly.
bool OnSegment(const Point& p, const Point& a, const Point& b) {
    const double cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    if (cross != 0.0) {
        return false;
    }
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y);
}

bool OnPath(const Point& p, const Path& path) {
    if (path.size() == 1) {
        return path.front() == p;
    }
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (OnSegment(p, path[i - 1], path[i])) {
            return true;
        }
    }
    return false;
}

// Even-odd over the polygon's rings; a point on a ring counts as inside.
bool InPolygon(const Point& p, const Polygon& polygon) {
    bool inside = false;
    for (const Path& ring : polygon) {
        if (OnPath(p, ring)) {
            return true;
        }
        const std::size_t count = ring.size();
        for (std::size_t i = 0, j = count - 1; i < count; j = i++) {
            const Point& a = ring[i];
            const Point& b = ring[j];
            if ((a.y > p.y) != (b.y > p.y)) {
                const double x = a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y);
                if (p.x < x) {
                    inside = !inside;
                }
            }
        }
    }
    return inside;
}

void Map(const Path& in, Path& out, const std::function<Point(const Point&)>& function) {
    out.clear();
    out.reserve(in.size());
    for (const Point& point : in) {
        out.push_back(function(point));
    }
}

bool All(const Path& path, const std::function<bool(const Point&)>& predicate) {
    return std::all_of(path.begin(), path.end(), predicate);
}

} // namespace

Rect Bounds(const std::vector<Point>& points) {
    Rect rect = EmptyRect();
    Extend(rect, points);
    return rect;
}

Rect Bounds(const std::vector<Path>& lines) {
    Rect rect = EmptyRect();
    for (const Path& line : lines) {
        Extend(rect, line);
    }
    return rect;
}

Rect Bounds(const std::vector<Polygon>& polys) {
    Rect rect = EmptyRect();
    for (const Polygon& polygon : polys) {
        for (const Path& ring : polygon) {
            Extend(rect, ring);
        }
    }
    return rect;
}

Rect Bounds(const ConstGeom& geometry) {
    Rect rect = Bounds(geometry.GetPoints());
    Extend(rect, Bounds(geometry.GetLines()));
    Extend(rect, Bounds(geometry.GetPolys()));
    return rect;
}

bool Contains(const ConstGeom& geometry, const Point& point) {
    for (const Point& p : geometry.GetPoints()) {
        if (p == point) {
            return true;
        }
    }
    for (const Path& line : geometry.GetLines()) {
        if (OnPath(point, line)) {
            return true;
        }
    }
    for (const Polygon& polygon : geometry.GetPolys()) {
        if (InPolygon(point, polygon)) {
            return true;
        }
    }
    return false;
}

void ForAll(const Geom& geometry, Geom& out, const std::function<Point(const Point&)>& function) {
    std::vector<Point> points;
    Map(geometry.GetPoints(), points, function);
    std::vector<Path> lines(geometry.GetLines().size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Map(geometry.GetLines()[i], lines[i], function);
    }
    std::vector<Polygon> polys(geometry.GetPolys().size());
    for (std::size_t i = 0; i < polys.size(); ++i) {
        const Polygon& polygon = geometry.GetPolys()[i];
        polys[i].resize(polygon.size());
        for (std::size_t r = 0; r < polygon.size(); ++r) {
            Map(polygon[r], polys[i][r], function);
        }
    }
    // Built aside first, so that out may be the geometry itself.
    out = Geom(std::move(points), std::move(lines), std::move(polys));
}

bool ForAll(const Geom& geometry, const std::function<bool(const Point&)>& predicate) {
    if (!All(geometry.GetPoints(), predicate)) {
        return false;
    }
    for (const Path& line : geometry.GetLines()) {
        if (!All(line, predicate)) {
            return false;
        }
    }
    for (const Polygon& polygon : geometry.GetPolys()) {
        for (const Path& ring : polygon) {
            if (!All(ring, predicate)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace geom
