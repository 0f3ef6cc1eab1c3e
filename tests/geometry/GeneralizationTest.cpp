// Douglas-Peucker generalization: the generalizer's guarantees on random paths, GEOS's
// simplifier (the same rule: keep a stretch's first farthest point when it lies farther than the
// tolerance from the segment between its ends) as a cross-check of the kept points, and
// GeneralizeGeometryIfTooDetailed.

#include <algorithm>
#include <cmath>
#include <geos_c.h>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
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
        SCOPED_TRACE("path " + std::to_string(i));
        Path path = RandomWalk(random, count(random), 1.0);
        // Closed rings too: the segment between their ends has no length.
        if (i % 4 == 0 && !path.empty()) {
            path.push_back(path.front());
        }
        const double t = tolerance(random);
        ExpectGeneralizerGuarantees(path, Generalize(path, t), t);
    }
    // A spiral whose farthest point is always next to an end: a recursive generalizer would
    // nest once per point.
    Path spiral;
    for (int i = 0; i < 20000; ++i) {
        const double angle = 1e-4 * i;
        spiral.push_back({std::cos(angle) * (1.0 + 1e-3 * i), std::sin(angle) * (1.0 + 1e-3 * i)});
    }
    ExpectGeneralizerGuarantees(spiral, Generalize(spiral, 0.0), 0.0);
}

TEST(DouglasPeucker, ShortPathsAndTheToleranceBoundary) {
    const Path square{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
    struct Case {
        Path path;
        double tolerance;
        std::vector<bool> expected;
    };
    const Case cases[] = {
        {{}, 1.0, {}},
        {{{3, 4}}, 1.0, {true}},
        {{{3, 4}, {5, 6}}, 100.0, {true, true}},
        // Distances in a closed ring are to its end point.
        {square, 0.1, {true, true, true, true, true}},
        {square, 2.0, {true, false, false, false, true}},
        // Collinear points go at tolerance 0; a point off the line by exactly the tolerance
        // goes too (kept only when farther).
        {{{0, 0}, {1, 0}, {2, 0}}, 0.0, {true, false, true}},
        {{{0, 0}, {1, 0.5}, {2, 0}}, 0.5, {true, false, true}},
        {{{0, 0}, {1, 0.5}, {2, 0}}, 0.25, {true, true, true}},
    };
    for (const auto& [path, tolerance, expected] : cases) {
        EXPECT_EQ(Generalize(path, tolerance), expected)
            << path.size() << " points, tolerance " << tolerance;
    }
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

TEST(GeneralizeGeometryIfTooDetailed, EveryLineAndRingGoesThroughTheGeneralizer) {
    // Enough entries to run in parallel; the generalizer gets a thousandth of the tolerance.
    constexpr double kTolerance = 5.0;
    constexpr double kGeneralizerTolerance = kTolerance * 0.001;
    std::mt19937_64 random(6);
    std::vector<Path> lines;
    std::vector<geom::Polygon> polys;
    for (int i = 0; i < 300; ++i) {
        lines.push_back(RandomWalk(random, 500, 0.01));
        Path ring = RandomWalk(random, 100, 0.01);
        ring.push_back(ring.front());
        polys.push_back({ring});
    }
    // What collapses below a path goes: a line of one point, a tiny hole (a ring needs four
    // points) and a tiny polygon with it.
    lines.push_back({{1, 1}});
    const Path tiny{{0, 0}, {0.001, 0}, {0.001, 0.001}, {0, 0.001}, {0, 0}};
    polys.back().push_back(tiny);
    polys.push_back({tiny});
    const geom::ConstGeom input(geom::Geom({{7, 8}}, lines, polys));
    geom::Geom out;
    ASSERT_TRUE(geom::GeneralizeGeometryIfTooDetailed(input, out, kTolerance));
    EXPECT_EQ(out.GetPoints(), input.GetPoints());
    ASSERT_EQ(out.GetLines().size(), lines.size() - 1);
    ASSERT_EQ(out.GetPolys().size(), polys.size() - 1);
    ASSERT_EQ(out.GetPolys().back().size(), 1u); // its hole went
    for (std::size_t i = 0; i + 1 < polys.size(); ++i) {
        ASSERT_EQ(out.GetLines()[i], Kept(lines[i], Generalize(lines[i], kGeneralizerTolerance)))
            << i;
        ASSERT_EQ(out.GetPolys()[i].front(),
                  Kept(polys[i].front(), Generalize(polys[i].front(), kGeneralizerTolerance)))
            << i;
    }
    EXPECT_LT(out.GetLines().front().size(), lines.front().size());
}

TEST(GeneralizeGeometryIfTooDetailed, ClearMasksReturnFalseAndLeaveTheOutputAlone) {
    const geom::Geom sentinel({{1, 2}}, {{{3, 4}, {5, 6}}}, {});
    // Points only (no line or ring, no mask bit), empty paths (masks of no bits), nothing.
    for (const geom::Geom& input : {geom::Geom({{0, 0}, {1, 1}}, {}, {}),
                                    geom::Geom({}, {Path{}, Path{}}, {{Path{}}}), geom::Geom()}) {
        geom::Geom out = sentinel;
        EXPECT_FALSE(
            geom::GeneralizeGeometryIfTooDetailed(geom::ConstGeom(geom::Geom(input)), out, 1.0));
        EXPECT_EQ(out, sentinel);
    }
}
