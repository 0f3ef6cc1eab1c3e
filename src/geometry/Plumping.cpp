// Plumping: densifying lines and rings along great arcs for a device resolution, and repairing
// rings that wrap the world or encircle a pole.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include <lmxmaps/Geom.h>
#include <lmxmaps/ParallelFor.h>
#include <lmxmaps/host/Geodesy.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/SpatialTransform.h>

#include "geometry/TimingScope.h"

namespace geom {

namespace {

// Folding stops when the remaining change is at most this (one unit in the last place at 1).
constexpr double kFoldStop = 2.220446049250313e-16;
// Values this close to 0 or 1 count as lying on the world's bottom or top edge.
constexpr double kEdgeSlack = 4.440892098500626e-16;
// Midpoints this close to the world's bottom or top edge may have been held there by the
// projection; they are mapped back before they are halved again.
constexpr double kNearWorldEdge = 1e-9;
// Nested levels of the split recursion; level 101 is a logic error.
constexpr int kMaxSplitDepth = 100;
// The latitude step (degrees) whose projected height bounds the tolerance from below.
constexpr double kLatitudeStep = 0.09;

constexpr std::uint32_t kInfiniteRecursionAssert = 0x504C4D50;

constexpr const char* kTextInsufficientPoints = "ring has insufficient points to be a polygon";
constexpr const char* kTextInsufficientUniquePoints =
    "ring has insufficient unique points to be a polygon";
constexpr const char* kTextNoArea = "ring has no area or spike with no area";
constexpr const char* kTextVerticalLine = "the ring is a vertical line";
constexpr const char* kTextInsufficientDistinct = "ring has insufficient distinct values";
constexpr const char* kTextEmptyPolygon = "polygon is expected not to be empty";
constexpr const char* kTextNaN = "NaN not permitted";

[[noreturn]] void Invalid(const char* text) {
    throw std::invalid_argument(text);
}

// x brought next to reference by whole units, into [reference - 0.5, reference + 0.5].
double FoldNext(double x, double reference) {
    if (std::isnan(x) || std::isnan(reference)) {
        Invalid(kTextNaN);
    }
    if (!std::isfinite(x) || !std::isfinite(reference)) {
        // Whole units never bring an infinity next to anything: its difference is not a number.
        Invalid(kTextNaN);
    }
    // The loop "add or subtract one until inside", in closed form, then a guard for rounding.
    for (int round = 0; round < 3; ++round) {
        const double difference = x - reference;
        double change = 0.0;
        if (difference > 0.5) {
            change = std::ceil(difference - 0.5);
        } else if (difference < -0.5) {
            change = -std::ceil(-difference - 0.5);
        }
        if (std::fabs(change) <= kFoldStop) {
            break;
        }
        x -= change;
    }
    return x;
}

double SquaredDistance(const Point& a, const Point& b) {
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    return dx * dx + dy * dy;
}

double MinX(const Path& path) {
    double minX = std::numeric_limits<double>::infinity();
    for (const Point& p : path) {
        minX = std::min(minX, p.x);
    }
    return minX;
}

// ---- Wrap check and path folding ----

bool PathNeedsFolding(const Path& path, double reference) {
    if (path.size() < 2) {
        return false;
    }
    double minX = path.front().x;
    if (std::isnan(minX)) {
        Invalid(kTextNaN);
    }
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (FoldNext(path[i].x, path[i - 1].x) != path[i].x) {
            return true;
        }
        minX = std::min(minX, path[i].x);
    }
    return minX < reference - 0.5 || minX > reference + 0.5;
}

// Shifts every X by whole units so that the path's smallest X lies in [reference - 0.5,
// reference + 0.5].
void ShiftNextTo(Path& path, double reference) {
    if (path.empty()) {
        return;
    }
    const double minX = MinX(path);
    if (minX >= reference - 0.5 && minX <= reference + 0.5) {
        return;
    }
    const double shift = std::round(FoldNext(minX, reference) - minX);
    for (Point& p : path) {
        p.x += shift;
    }
}

void FoldPath(Path& path, double reference) {
    if (!path.empty() && std::isnan(path.front().x)) {
        Invalid(kTextNaN);
    }
    for (std::size_t i = 1; i < path.size(); ++i) {
        path[i].x = FoldNext(path[i].x, path[i - 1].x);
    }
    ShiftNextTo(path, reference);
}

// The reference of a polygon's later rings: its first ring's smallest X + 0.5.
double LaterRingReference(const Polygon& polygon, double firstReference) {
    if (polygon.empty() || polygon.front().empty()) {
        return firstReference;
    }
    return MinX(polygon.front()) + 0.5;
}

// ---- Ring orientation (lowest point) ----

// The number of points that make the ring once around: the last point is left out when it
// repeats the first (with wrapped, when it does so up to whole units of X).
std::size_t CycleLength(const Path& ring, bool wrapped) {
    const Point& first = ring.front();
    const Point& last = ring.back();
    // After path folding a ring once around the world ends one unit from where it began, up
    // to the rounding of the whole-unit shifts.
    const bool repeats =
        wrapped ? last.y == first.y && std::fabs(FoldNext(last.x, first.x) - first.x) <=
                                           1e-12 * std::max(1.0, std::fabs(first.x))
                : last == first;
    return repeats ? ring.size() - 1 : ring.size();
}

// The sign of the cross product at the ring's lowest point (smallest y, ties broken by x):
// positive for a counter-clockwise ring, 0 for no area there. With wrapped, the neighbours' X
// values are folded next to the lowest point's, so a ring that runs once around the world has an
// orientation too.
double CrossAtLowestPoint(const Path& ring, bool wrapped) {
    if (ring.size() < 4) {
        Invalid(kTextInsufficientPoints);
    }
    const std::size_t count = CycleLength(ring, wrapped);
    std::size_t lowest = 0;
    for (std::size_t i = 1; i < count; ++i) {
        const Point& p = ring[i];
        const Point& l = ring[lowest];
        if (p.y < l.y || (p.y == l.y && p.x < l.x)) {
            lowest = i;
        }
    }
    const Point& low = ring[lowest];
    const auto neighbour = [&](std::size_t i) {
        Point p = ring[i];
        if (wrapped) {
            p.x = FoldNext(p.x, low.x);
        }
        return p;
    };
    std::optional<Point> previous;
    std::optional<Point> next;
    for (std::size_t step = 1; step < count && !previous; ++step) {
        const Point p = neighbour((lowest + count - step) % count);
        if (!(p == low)) {
            previous = p;
        }
    }
    for (std::size_t step = 1; step < count && !next; ++step) {
        const Point p = neighbour((lowest + step) % count);
        if (!(p == low)) {
            next = p;
        }
    }
    if (!previous || !next) {
        Invalid(kTextInsufficientUniquePoints);
    }
    return (low.x - previous->x) * (next->y - low.y) - (low.y - previous->y) * (next->x - low.x);
}

bool IsCounterClockwise(const Path& ring, bool wrapped) {
    const double cross = CrossAtLowestPoint(ring, wrapped);
    if (cross == 0.0) {
        Invalid(kTextNoArea);
    }
    return cross > 0.0;
}

// ---- Pole test ----

// Crossings of the meridians c + k (k whole) by the segment from ax to bx, counting a meridian
// as crossed when exactly one end lies below it (a vertex on it belongs to the side above).
std::int64_t Crossings(double ax, double bx, double c) {
    const double fa = std::floor(ax - c);
    const double fb = std::floor(bx - c);
    return static_cast<std::int64_t>(std::fabs(fa - fb));
}

bool EncirclesPole(const Path& ring) {
    if (ring.size() < 4) {
        return false;
    }
    std::optional<double> meridian;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        const double a = ring[i].x;
        const double b = ring[i + 1].x;
        const double middle = 0.5 * (a + b);
        if (middle != a && middle != b) {
            meridian = middle - std::floor(middle);
            break;
        }
    }
    if (!meridian) {
        Invalid(kTextVerticalLine);
    }
    // At least two distinct X values once folded into the unit world.
    const double firstX = ring.front().x - std::floor(ring.front().x);
    bool distinct = false;
    for (const Point& p : ring) {
        if (std::isnan(p.x)) {
            Invalid(kTextNaN);
        }
        if (p.x - std::floor(p.x) != firstX) {
            distinct = true;
            break;
        }
    }
    if (!distinct) {
        Invalid(kTextInsufficientDistinct);
    }
    const double m = *meridian;
    std::int64_t crossings = 0;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        const double ax = FoldNext(ring[i].x, m);
        const double bx = FoldNext(ring[i + 1].x, ax);
        crossings += Crossings(ax, bx, m);
    }
    return crossings % 2 != 0;
}

bool PolygonEncirclesPole(const Polygon& polygon) {
    if (polygon.empty()) {
        Invalid(kTextEmptyPolygon);
    }
    return EncirclesPole(polygon.front());
}

// ---- Pole closing ----

struct Transforms {
    const SpatialTransform& forward;
    const SpatialTransform& inverse;
};

struct ClosedRing {
    Path ring;
    double meridian; // the cut meridian, folded into [0, 1)
};

// The ring (continuous after path folding) cut at one meridian and closed along the pole edge
// E, so that it spans exactly one world. preferredMeridian: the cut of the polygon's first ring,
// tried first so that a polygon's pole rings share their span.
ClosedRing CloseThroughPole(const Path& ring, bool isOuter, std::optional<double> preferredMeridian,
                            const Transforms& transforms) {
    // The continuous loop q[0..n]: q[n] is q[0] after one turn around the world (w units).
    const std::size_t count = CycleLength(ring, true);
    Path loop(ring.begin(), ring.begin() + static_cast<std::ptrdiff_t>(count));
    Point back = loop.front();
    back.x = FoldNext(loop.front().x, loop.back().x);
    const double turns = std::round(back.x - loop.front().x);
    if (turns == 0.0) {
        return {ring, preferredMeridian.value_or(0.0)};
    }
    back.x = loop.front().x + turns;
    loop.push_back(back);
    const double direction = turns > 0.0 ? 1.0 : -1.0;

    // The wrapped orientation. For a ring once around a pole it agrees with the direction it
    // runs in (eastward: counter-clockwise at its lowest point, the region north of it on its
    // left); a ring whose lowest stretch is flat (a parallel: no area at the lowest point on
    // the plane, though plenty on the sphere) takes its orientation from that direction.
    const double cross = CrossAtLowestPoint(ring, true);
    const bool counterClockwise = cross != 0.0 ? cross > 0.0 : direction > 0.0;
    const double edge = counterClockwise == isOuter ? 1.0 : 0.0;

    // The cut meridian: the world edge (X whole) unless the ring crosses it more than once and
    // another meridian is crossed exactly once; then that one (the seam moves, the closing edge
    // still runs along the pole).
    const auto crossingsOf = [&](double c) {
        std::int64_t total = 0;
        for (std::size_t i = 0; i + 1 < loop.size(); ++i) {
            total += Crossings(loop[i].x, loop[i + 1].x, c);
        }
        return total;
    };
    std::vector<double> candidates;
    if (preferredMeridian) {
        candidates.push_back(*preferredMeridian);
    }
    candidates.push_back(0.0);
    constexpr int kCandidateMeridians = 64;
    for (int k = 1; k < kCandidateMeridians; ++k) {
        candidates.push_back(static_cast<double>(k) / kCandidateMeridians);
    }
    double meridian = candidates.front();
    for (double c : candidates) {
        if (crossingsOf(c) == 1) {
            meridian = c;
            break;
        }
    }

    // The first segment that crosses the meridian, and where.
    std::size_t segment = 0;
    double crossingX = 0.0;
    for (; segment + 1 < loop.size(); ++segment) {
        const double fa = std::floor(loop[segment].x - meridian);
        const double fb = std::floor(loop[segment + 1].x - meridian);
        if (fa != fb) {
            crossingX = meridian + std::max(fa, fb);
            break;
        }
    }
    const Point& a = loop[segment];
    const Point& b = loop[segment + 1];
    Point crossing{crossingX, 0.0};
    if (a.x == crossingX) {
        crossing.y = a.y;
    } else if (b.x == crossingX) {
        crossing.y = b.y;
    } else {
        const auto [longitudeA, latitudeA] = transforms.inverse(a.x, a.y);
        const auto [longitudeB, latitudeB] = transforms.inverse(b.x, b.y);
        const double longitude = transforms.inverse(crossingX, 0.5 * (a.y + b.y)).first;
        const double latitude =
            lmxgeo::PointOnEllipticArc(latitudeA, longitudeA, latitudeB, longitudeB)
                .LatitudeAtLongitude(longitude);
        const double y = std::isnan(latitude) ? std::numeric_limits<double>::quiet_NaN()
                                              : transforms.forward(longitude, latitude).second;
        if (std::isfinite(y)) {
            crossing.y = y;
        } else {
            // No great-arc crossing (the arc runs along a meridian, or the projection has no
            // value there): the straight crossing in world units.
            const double t = (crossingX - a.x) / (b.x - a.x);
            crossing.y = a.y + t * (b.y - a.y);
        }
    }

    // The ring's own points from the crossing once around to the same crossing one world on.
    const double low = std::min(crossingX, crossingX + direction);
    const double high = low + 1.0;
    Path closed;
    closed.reserve(loop.size() + 7);
    const auto append = [&closed, low, high](Point p) {
        p.x = std::clamp(p.x, low, high); // only rings that cross the seam again are clamped
        if (closed.empty() || !(closed.back() == p)) {
            closed.push_back(p);
        }
    };
    append(crossing);
    const std::size_t n = loop.size() - 1; // loop[n] is loop[0] one turn on
    for (std::size_t step = 1; step <= n; ++step) {
        const std::size_t i = segment + step;
        Point p = i <= n ? loop[i] : loop[i - n];
        if (i > n) {
            p.x += turns;
        }
        append(p);
    }
    append({crossingX + direction, crossing.y});
    // The closing edge along the pole, back to where the ring started.
    const double x0 = low;
    const Point along[4] = {{x0 + 1.0, edge}, {x0 + 0.625, edge}, {x0 + 0.375, edge}, {x0, edge}};
    if (direction > 0.0) {
        for (const Point& p : along) {
            append(p);
        }
    } else {
        for (int i = 3; i >= 0; --i) {
            append(along[i]);
        }
    }
    closed.push_back(closed.front());
    return {std::move(closed), meridian};
}

// Shifts by whole units so that the smallest X lies in [left, left + 1).
void ShiftIntoWorld(Path& path, double left) {
    const double shift = -std::floor(MinX(path) - left);
    if (shift != 0.0) {
        for (Point& p : path) {
            p.x += shift;
        }
    }
}

// ---- Wrap check ----

bool NeedsRepair(const Geom& geometry, double xOrigin) {
    const double reference = xOrigin + 0.5;
    for (const Path& line : geometry.GetLines()) {
        if (PathNeedsFolding(line, reference)) {
            return true;
        }
    }
    for (const Polygon& polygon : geometry.GetPolys()) {
        if (polygon.empty()) {
            continue; // the pole test below reports it
        }
        if (PathNeedsFolding(polygon.front(), reference)) {
            return true;
        }
        const double later = LaterRingReference(polygon, reference);
        for (std::size_t r = 1; r < polygon.size(); ++r) {
            if (PathNeedsFolding(polygon[r], later)) {
                return true;
            }
        }
    }
    // Sorted with the pole test; every polygon is looked at, so that a degenerate ring is
    // reported wherever it is.
    bool needsRepair = false;
    for (const Polygon& polygon : geometry.GetPolys()) {
        if (PolygonEncirclesPole(polygon)) {
            needsRepair = true;
            continue;
        }
        if (!IsCounterClockwise(polygon.front(), false)) {
            needsRepair = true;
        }
        for (std::size_t r = 1; r < polygon.size(); ++r) {
            const Path& ring = polygon[r];
            if (ring.size() >= 4 && !EncirclesPole(ring) && IsCounterClockwise(ring, false)) {
                needsRepair = true;
            }
        }
    }
    return needsRepair;
}

// ---- Repair ----

void Repair(Geom& geometry, double xOrigin, const Transforms& transforms) {
    const double reference = xOrigin + 0.5;
    for (Path& line : geometry.GetLines()) {
        FoldPath(line, reference);
    }
    for (Polygon& polygon : geometry.GetPolys()) {
        if (polygon.empty()) {
            continue;
        }
        FoldPath(polygon.front(), reference);
        const double later = LaterRingReference(polygon, reference);
        for (std::size_t r = 1; r < polygon.size(); ++r) {
            FoldPath(polygon[r], later);
        }
    }
    for (Polygon& polygon : geometry.GetPolys()) {
        if (!PolygonEncirclesPole(polygon)) {
            continue;
        }
        // The first ring: cut, closed along its pole and put into the window. The window
        // [r, r + 1) takes r as its left edge (reference - 0.5), the same window
        // that path folding uses, so that the ring covers the window [x origin, x origin + 1]
        // when x origin is whole and the polygon's later rings line up with it.
        ClosedRing first = CloseThroughPole(polygon.front(), true, std::nullopt, transforms);
        ShiftIntoWorld(first.ring, reference - 0.5);
        polygon.front() = std::move(first.ring);
        const double firstLeft = MinX(polygon.front());
        for (std::size_t r = 1; r < polygon.size(); ++r) {
            Path& ring = polygon[r];
            if (EncirclesPole(ring)) {
                ClosedRing closed = CloseThroughPole(ring, false, first.meridian, transforms);
                ShiftIntoWorld(closed.ring, firstLeft);
                ring = std::move(closed.ring);
            } else {
                ShiftNextTo(ring, firstLeft + 0.5);
            }
        }
    }
}

// ---- Split recursion and densification ----

// A path point with its place on the sphere (from the inverse transform), computed once per
// point however often the point ends a segment.
struct Vertex {
    Point point;
    lmxgeo::SpherePoint sphere;
};

class Splitter {
public:
    Splitter(const Transforms& transforms, double tolerance)
        : m_forward(transforms.forward), m_inverse(transforms.inverse), m_tolerance(tolerance),
          m_half(std::sqrt(tolerance) * 0.5) {}

    Vertex MakeVertex(const Point& point) const {
        const auto [longitude, latitude] = m_inverse(point.x, point.y);
        return {point, lmxgeo::SpherePoint::FromDegrees(latitude, longitude)};
    }

    // The segment test; middle receives the midpoint when the segment is split. The arc's
    // midpoint on the sphere is the same from either end, so the test's reverse midpoint is m
    // and its two extra distances repeat the first two.
    bool NeedsSplit(const Vertex& a, const Vertex& b, Vertex& middle) const {
        if (SquaredDistance(a.point, b.point) <= m_tolerance) {
            return false;
        }
        middle = Midpoint(a, b);
        const Point& m = middle.point;
        if (SquaredDistance(m, a.point) >= m_tolerance &&
            SquaredDistance(m, b.point) >= m_tolerance) {
            return true;
        }
        return std::sqrt(SquaredDistance(a.point, m)) >= m_half &&
               std::sqrt(SquaredDistance(b.point, m)) >= m_half;
    }

    // Appends what the segment (a, b) becomes after a (exclusive) up to b (inclusive).
    void Split(const Vertex& a, const Vertex& b, int depth, Path& out) const {
        ++depth;
        if (depth > kMaxSplitDepth) {
            ThrowLogicException(__FILE__, __LINE__, "infinite recursion while plumping",
                                TError::LogicAssert(kInfiniteRecursionAssert));
        }
        Vertex middle;
        if (!NeedsSplit(a, b, middle)) {
            out.push_back(b.point);
            return;
        }
        Split(a, middle, depth, out);
        Split(middle, b, depth, out);
    }

    void Densify(Path& path) const {
        if (path.size() < 2) {
            return;
        }
        Path out;
        out.reserve(path.size() + path.size() / 2);
        out.push_back(path.front());
        Vertex previous = MakeVertex(path.front());
        for (std::size_t i = 1; i < path.size(); ++i) {
            Vertex current = MakeVertex(path[i]);
            Split(previous, current, 0, out);
            previous = current;
        }
        path = std::move(out);
    }

    bool PathNeedsSplit(const Path& path) const {
        Vertex middle;
        std::optional<Vertex> previous; // made only for segments that need the midpoint
        for (std::size_t i = 1; i < path.size(); ++i) {
            if (SquaredDistance(path[i - 1], path[i]) <= m_tolerance) {
                previous.reset();
                continue;
            }
            if (!previous) {
                previous = MakeVertex(path[i - 1]);
            }
            const Vertex current = MakeVertex(path[i]);
            if (NeedsSplit(*previous, current, middle)) {
                return true;
            }
            previous = current;
        }
        return false;
    }

private:
    // The great-arc midpoint (map both ends back with the inverse, halfway along the great arc
    // from a to b, forward) in world units, its X folded next to a's and then b's. Inside the
    // world the projection is one-to-one and the arc's own point is kept for the next halving;
    // on the world's top or bottom edge the projection may have held the latitude back, so the
    // next halving starts from the point as drawn.
    Vertex Midpoint(const Vertex& a, const Vertex& b) const {
        const lmxgeo::SpherePoint middle = lmxgeo::PointOnEllipticArc::Midpoint(a.sphere, b.sphere);
        const auto [x, y] = m_forward(middle.longitude, middle.latitude);
        const Point point{FoldNext(FoldNext(x, a.point.x), b.point.x), y};
        if (y > kNearWorldEdge && y < 1.0 - kNearWorldEdge) {
            return {point, middle};
        }
        return MakeVertex(point);
    }

    const SpatialTransform& m_forward;
    const SpatialTransform& m_inverse;
    double m_tolerance;
    double m_half;
};

bool AllRingsOnWorldEdge(const std::vector<Polygon>& polys) {
    const auto onEdge = [](double y, double edge) {
        return std::fabs(y - edge) <= kEdgeSlack;
    };
    for (const Polygon& polygon : polys) {
        if (polygon.empty()) {
            return false;
        }
        for (const Path& ring : polygon) {
            if (ring.empty()) {
                return false;
            }
            const double edge = onEdge(ring.front().y, 0.0)   ? 0.0
                                : onEdge(ring.front().y, 1.0) ? 1.0
                                                              : -1.0;
            if (edge < 0.0) {
                return false;
            }
            for (const Point& p : ring) {
                if (!onEdge(p.y, edge)) {
                    return false;
                }
            }
        }
    }
    return true;
}

} // namespace

double PlumpingTolerance(const SpatialTransform& forward, int deviceSize) {
    return std::max(2.0 / deviceSize,
                    forward(0.0, kLatitudeStep).second - forward(0.0, 0.0).second);
}

void PlumpForProjectionAndDevice(Geom& geometry, const SpatialTransform& forward,
                                 const SpatialTransform& inverse, int deviceSize) {
    const Splitter splitter({forward, inverse}, PlumpingTolerance(forward, deviceSize));
    std::vector<Polygon>& polys = geometry.GetPolys();
    ParallelFor(0, polys.size(), 1, [&](std::size_t i) {
        for (Path& ring : polys[i]) {
            splitter.Densify(ring);
        }
    });
    std::vector<Path>& lines = geometry.GetLines();
    ParallelFor(0, lines.size(), 1, [&](std::size_t i) { splitter.Densify(lines[i]); });
}

bool NeedsPlumping(const Geom& geometry, const SpatialTransform& forward,
                   const SpatialTransform& inverse, int deviceSize) {
    const Splitter splitter({forward, inverse}, PlumpingTolerance(forward, deviceSize));
    const std::vector<Polygon>& polys = geometry.GetPolys();
    const std::vector<Path>& lines = geometry.GetLines();
    // One byte per polygon and per line, written with atomic exchanges by the task that owns it.
    const std::unique_ptr<std::atomic<std::uint8_t>[]> flags(
        new std::atomic<std::uint8_t>[polys.size() + lines.size()]());
    std::atomic<bool> found{false};
    ParallelFor(0, polys.size(), 1, [&](std::size_t i) {
        if (found.load(std::memory_order_relaxed)) {
            return; // the answer is known
        }
        for (const Path& ring : polys[i]) {
            if (ring.size() >= 2 && splitter.PathNeedsSplit(ring)) {
                flags[i].exchange(1);
                found.store(true, std::memory_order_relaxed);
                return;
            }
        }
    });
    ParallelFor(0, lines.size(), 1, [&](std::size_t i) {
        if (found.load(std::memory_order_relaxed)) {
            return;
        }
        if (lines[i].size() >= 2 && splitter.PathNeedsSplit(lines[i])) {
            flags[polys.size() + i].exchange(1);
            found.store(true, std::memory_order_relaxed);
        }
    });
    for (std::size_t i = 0; i < polys.size() + lines.size(); ++i) {
        if (flags[i].load() != 0) {
            return true;
        }
    }
    return false;
}

ConstGeomPtr PlumpGeometryForProjectionAndDevice(const ConstGeomPtr& geometry,
                                                 const SpatialTransform& forward,
                                                 const SpatialTransform& inverse, double xOrigin,
                                                 double /*unused*/, int deviceSize) {
    const Geom& input = geometry->Get();
    if (input.GetLines().empty() && input.GetPolys().empty()) {
        return geometry;
    }
    if (!input.GetPolys().empty() && AllRingsOnWorldEdge(input.GetPolys())) {
        return geometry;
    }
    const detail::TimingScope timing("OGCOperations::PlumpGeometryForProjectionAndDevice");

    std::optional<Geom> work;
    if (NeedsRepair(input, xOrigin)) {
        work.emplace(Geom({}, input.GetLines(), input.GetPolys()));
        Repair(*work, xOrigin, {forward, inverse});
        PlumpForProjectionAndDevice(*work, forward, inverse, deviceSize);
    } else if (NeedsPlumping(input, forward, inverse, deviceSize)) {
        work.emplace(Geom({}, input.GetLines(), input.GetPolys()));
        PlumpForProjectionAndDevice(*work, forward, inverse, deviceSize);
    }
    if (!work || (work->GetLines().empty() && work->GetPolys().empty())) {
        return geometry;
    }
    work->GetPoints() = input.GetPoints();
    return std::make_shared<const ConstGeom>(std::move(*work));
}

} // namespace geom
