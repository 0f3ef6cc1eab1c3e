// Douglas-Peucker generalization: the generalizer's guarantees on random paths, GEOS's
// simplifier as a cross-check, and GeneralizeGeometryIfTooDetailed.
//
// Expected relation with GEOS: GEOSSimplify_r on a line is Douglas-Peucker with the same rule
// (a stretch keeps its farthest point, measured to the segment between its ends, when that
// distance exceeds the tolerance; the first farthest point on ties), so on lines it keeps the
// very same points. Only distances within rounding of the tolerance could differ; random data
// never lands there, so the test asks for the same points, not only the same count.

#include <cmath>
#include <cstdarg>
#include <geos_c.h>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <vector>

#include <lmxmaps/Geom.h>
#include <lmxmaps/host/Geodesy.h>

using geom::Path;
using geom::Point;

namespace {

double DistanceToSegment(const Point& p, const Point& a, const Point& b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double length2 = dx * dx + dy * dy;
    double t = length2 == 0.0 ? 0.0 : ((p.x - a.x) * dx + (p.y - a.y) * dy) / length2;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

Path RandomWalk(std::mt19937_64& random, int count, double step) {
    std::normal_distribution<double> move(0.0, step);
    Path path{{0.0, 0.0}};
    for (int i = 1; i < count; ++i) {
        path.push_back({path.back().x + move(random), path.back().y + move(random)});
    }
    return path;
}

std::vector<bool> Generalize(const Path& path, double tolerance) {
    std::vector<bool> keep(path.size(), false);
    lmxgeo::MakeDouglasPeuckerGeneralizer()->Generalize(lmxgeo::PointArrayAccessAdapter(path), keep,
                                                        tolerance);
    return keep;
}

// The kept points include both ends; every dropped point lies within the tolerance of the
// segment between the kept points around it.
void ExpectGeneralizerGuarantees(const Path& path, const std::vector<bool>& keep,
                                 double tolerance) {
    ASSERT_EQ(keep.size(), path.size());
    if (path.empty()) {
        return;
    }
    EXPECT_TRUE(keep.front());
    EXPECT_TRUE(keep.back());
    std::size_t previous = 0;
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (!keep[i]) {
            continue;
        }
        for (std::size_t j = previous + 1; j < i; ++j) {
            EXPECT_LE(DistanceToSegment(path[j], path[previous], path[i]), tolerance * (1 + 1e-12))
                << "dropped point " << j << " between kept " << previous << " and " << i;
        }
        previous = i;
    }
}

struct GeosContext {
    GeosContext() : handle(GEOS_init_r()) {}
    ~GeosContext() { GEOS_finish_r(handle); }
    GEOSContextHandle_t handle;
};

// GEOS's simplification of the line: its coordinates.
Path GeosSimplify(const GeosContext& geos, const Path& path, double tolerance) {
    GEOSCoordSequence* sequence =
        GEOSCoordSeq_create_r(geos.handle, static_cast<unsigned>(path.size()), 2);
    for (std::size_t i = 0; i < path.size(); ++i) {
        GEOSCoordSeq_setXY_r(geos.handle, sequence, static_cast<unsigned>(i), path[i].x, path[i].y);
    }
    GEOSGeometry* line = GEOSGeom_createLineString_r(geos.handle, sequence);
    GEOSGeometry* simple = GEOSSimplify_r(geos.handle, line, tolerance);
    Path out;
    const GEOSCoordSequence* coordinates = GEOSGeom_getCoordSeq_r(geos.handle, simple);
    unsigned size = 0;
    GEOSCoordSeq_getSize_r(geos.handle, coordinates, &size);
    for (unsigned i = 0; i < size; ++i) {
        double x = 0.0;
        double y = 0.0;
        GEOSCoordSeq_getXY_r(geos.handle, coordinates, i, &x, &y);
        out.push_back({x, y});
    }
    GEOSGeom_destroy_r(geos.handle, simple);
    GEOSGeom_destroy_r(geos.handle, line);
    return out;
}

Path Kept(const Path& path, const std::vector<bool>& keep) {
    Path out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (keep[i]) {
            out.push_back(path[i]);
        }
    }
    return out;
}

} // namespace

TEST(DouglasPeucker, KeepsEndsAndDropsOnlyPointsWithinTheTolerance) {
    std::mt19937_64 random(11);
    std::uniform_int_distribution<int> count(0, 400);
    std::uniform_real_distribution<double> tolerance(0.0, 3.0);
    for (int i = 0; i < 2000; ++i) {
        const Path path = RandomWalk(random, count(random), 1.0);
        const double t = tolerance(random);
        const std::vector<bool> keep = Generalize(path, t);
        ExpectGeneralizerGuarantees(path, keep, t);
    }
}

TEST(DouglasPeucker, ClosedRingsAndShortPaths) {
    // A closed ring: the segment between its ends has no length; distances are to the point.
    const Path square{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
    const std::vector<bool> keep = Generalize(square, 0.1);
    ExpectGeneralizerGuarantees(square, keep, 0.1);
    EXPECT_EQ(keep, (std::vector<bool>{true, true, true, true, true}));
    // A ring smaller than the tolerance keeps only its end points.
    EXPECT_EQ(Generalize(square, 2.0), (std::vector<bool>{true, false, false, false, true}));
    std::mt19937_64 random(12);
    for (int i = 0; i < 500; ++i) {
        Path ring = RandomWalk(random, 50, 1.0);
        ring.push_back(ring.front());
        const std::vector<bool> ringKeep = Generalize(ring, 0.5);
        ExpectGeneralizerGuarantees(ring, ringKeep, 0.5);
    }
    EXPECT_EQ(Generalize({}, 1.0), std::vector<bool>{});
    EXPECT_EQ(Generalize({{3, 4}}, 1.0), std::vector<bool>{true});
    EXPECT_EQ(Generalize({{3, 4}, {5, 6}}, 100.0), (std::vector<bool>{true, true}));
    // Collinear points go at tolerance 0; a point off the line by exactly the tolerance stays
    // dropped (kept only when farther than the tolerance).
    EXPECT_EQ(Generalize({{0, 0}, {1, 0}, {2, 0}}, 0.0), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(Generalize({{0, 0}, {1, 0.5}, {2, 0}}, 0.5), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(Generalize({{0, 0}, {1, 0.5}, {2, 0}}, 0.25), (std::vector<bool>{true, true, true}));
}

TEST(DouglasPeucker, LongPathsNeedNoRecursion) {
    // A path whose farthest point is always next to an end splits one point at a time: a
    // recursive generalizer would nest once per point.
    Path path;
    for (int i = 0; i < 20000; ++i) {
        const double angle = 1e-4 * i;
        path.push_back({std::cos(angle) * (1.0 + 1e-3 * i), std::sin(angle) * (1.0 + 1e-3 * i)});
    }
    const std::vector<bool> keep = Generalize(path, 0.0);
    EXPECT_TRUE(keep.front());
    EXPECT_TRUE(keep.back());
}

TEST(DouglasPeucker, KeepsTheSamePointsAsGeosSimplify) {
    GeosContext geos;
    std::mt19937_64 random(2024);
    std::uniform_int_distribution<int> count(2, 600);
    std::uniform_real_distribution<double> tolerance(0.05, 5.0);
    std::size_t kept = 0;
    std::size_t total = 0;
    for (int i = 0; i < 1000; ++i) {
        const Path path = RandomWalk(random, count(random), 1.0);
        const double t = tolerance(random);
        const Path ours = Kept(path, Generalize(path, t));
        const Path reference = GeosSimplify(geos, path, t);
        ASSERT_EQ(ours.size(), reference.size()) << "line " << i << ", tolerance " << t;
        EXPECT_EQ(ours, reference) << "line " << i;
        kept += ours.size();
        total += path.size();
    }
    // The tolerances are large enough that most points go.
    EXPECT_LT(kept, total / 2);
}

TEST(GeneralizeGeometryIfTooDetailed, LinesAndRingsThroughTheGeneralizer) {
    std::mt19937_64 random(5);
    const Path line = RandomWalk(random, 300, 1.0);
    Path ring = RandomWalk(random, 200, 1.0);
    ring.push_back(ring.front());
    const Path hole{{0, 0}, {0.001, 0}, {0.001, 0.001}, {0, 0.001}, {0, 0}};
    const geom::ConstGeom input(geom::Geom({{7, 8}}, {line, {{1, 1}}}, {{ring, hole}}));
    const double tolerance = 500.0; // the generalizer gets 0.5
    geom::Geom out;
    ASSERT_TRUE(geom::GeneralizeGeometryIfTooDetailed(input, out, tolerance));
    EXPECT_EQ(out.GetPoints(), input.GetPoints());
    // The one-point line keeps fewer than two points and is dropped.
    ASSERT_EQ(out.GetLines().size(), 1u);
    EXPECT_EQ(out.GetLines().front(), Kept(line, Generalize(line, 0.5)));
    ASSERT_EQ(out.GetPolys().size(), 1u);
    ASSERT_EQ(out.GetPolys().front().size(), 2u);
    EXPECT_EQ(out.GetPolys().front()[0], Kept(ring, Generalize(ring, 0.5)));
    // The tiny hole collapses to its end points (the polygon keeps the ring as it comes).
    EXPECT_EQ(out.GetPolys().front()[1], (Path{{0, 0}, {0, 0}}));
    EXPECT_LT(out.GetLines().front().size(), line.size());
}

TEST(GeneralizeGeometryIfTooDetailed, ClearMasksReturnFalseAndLeaveTheOutputAlone) {
    const geom::Geom sentinel({{1, 2}}, {{{3, 4}, {5, 6}}}, {});
    // Points only: no line or ring, no mask bit.
    geom::Geom out = sentinel;
    EXPECT_FALSE(geom::GeneralizeGeometryIfTooDetailed(
        geom::ConstGeom(geom::Geom({{0, 0}, {1, 1}}, {}, {})), out, 1.0));
    EXPECT_EQ(out, sentinel);
    // Empty paths: masks of no bits.
    EXPECT_FALSE(geom::GeneralizeGeometryIfTooDetailed(
        geom::ConstGeom(geom::Geom({}, {Path{}, Path{}}, {{Path{}}})), out, 1.0));
    EXPECT_EQ(out, sentinel);
    EXPECT_FALSE(geom::GeneralizeGeometryIfTooDetailed(geom::ConstGeom(geom::Geom()), out, 1.0));
    EXPECT_EQ(out, sentinel);
}

TEST(GeneralizeGeometryIfTooDetailed, ManyEntriesInParallelGiveTheSerialResult) {
    std::mt19937_64 random(6);
    std::vector<Path> lines;
    std::vector<geom::Polygon> polys;
    for (int i = 0; i < 300; ++i) {
        lines.push_back(RandomWalk(random, 500, 0.01));
        Path ring = RandomWalk(random, 100, 0.01);
        ring.push_back(ring.front());
        polys.push_back({ring});
    }
    const geom::ConstGeom input(geom::Geom({}, lines, polys));
    geom::Geom out;
    ASSERT_TRUE(geom::GeneralizeGeometryIfTooDetailed(input, out, 5.0));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(out.GetLines()[i], Kept(lines[i], Generalize(lines[i], 0.005))) << i;
        ASSERT_EQ(out.GetPolys()[i].front(),
                  Kept(polys[i].front(), Generalize(polys[i].front(), 0.005)))
            << i;
    }
}
