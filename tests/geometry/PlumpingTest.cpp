// Plumping: edge cases, the validation texts, the recursion
// limit, ring repair around the antimeridian and the poles, and property tests over random
// rings and lines. The checks recompute the tolerance and the segment lengths themselves.

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <lmxmaps/Geom.h>
#include <lmxmaps/ParallelFor.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/TLog.h>

#include "geometry/GeometryTestSupport.h"

using geom::ConstGeom;
using geom::ConstGeomPtr;
using geom::Geom;
using geom::Path;
using geom::Point;
using geom::Polygon;
using geomtest::SquaredLength;
using geomtest::World;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ConstGeomPtr Share(Geom geometry) {
    return std::make_shared<const ConstGeom>(std::move(geometry));
}

// The tolerance T of the split test, computed here from its definition.
double ExpectedTolerance(const SpatialTransform& forward, int deviceSize) {
    const double latitudeTerm = forward(0.0, 0.09).second - forward(0.0, 0.0).second;
    return std::max(2.0 / deviceSize, latitudeTerm);
}

Path ToWorld(const World& world, const Path& degrees) {
    Path out;
    for (const Point& p : degrees) {
        const auto [x, y] = world.forward(p.x, p.y);
        out.push_back({x, y});
    }
    return out;
}

std::vector<const Path*> AllPaths(const ConstGeom& geometry) {
    std::vector<const Path*> paths;
    for (const Path& line : geometry.GetLines()) {
        paths.push_back(&line);
    }
    for (const Polygon& polygon : geometry.GetPolys()) {
        for (const Path& ring : polygon) {
            paths.push_back(&ring);
        }
    }
    return paths;
}

// The great-arc midpoint in world units, computed here on its own: the end points as unit
// vectors, their normalized sum, back to degrees, forward, X next to a's and then b's.
Point IndependentMidpoint(const World& world, const Point& a, const Point& b) {
    const auto toVector = [&](const Point& p) {
        const auto [longitude, latitude] = world.inverse(p.x, p.y);
        const double lambda = longitude * M_PI / 180.0;
        const double phi = latitude * M_PI / 180.0;
        return std::array<double, 3>{std::cos(phi) * std::cos(lambda),
                                     std::cos(phi) * std::sin(lambda), std::sin(phi)};
    };
    const auto va = toVector(a);
    const auto vb = toVector(b);
    const double x = va[0] + vb[0];
    const double y = va[1] + vb[1];
    const double z = va[2] + vb[2];
    const double latitude = std::atan2(z, std::sqrt(x * x + y * y)) * 180.0 / M_PI;
    const double longitude = std::atan2(y, x) * 180.0 / M_PI;
    auto [mx, my] = world.forward(longitude, latitude);
    mx -= std::round(mx - a.x);
    mx -= std::round(mx - b.x);
    return {mx, my};
}

// Every segment passes the split test: its squared length is at most T, or (the test's second
// rule, for midpoints that land close to one end) its great-arc midpoint lies closer than
// sqrt(T) / 2 to an end. Only clear violations count (a margin for the last bits of the
// independently computed midpoint). longSegments counts the segments longer than sqrt(T).
::testing::AssertionResult SegmentsPassSplitTest(const World& world, const ConstGeom& geometry,
                                                 double tolerance, int* longSegments = nullptr) {
    const double half = 0.5 * std::sqrt(tolerance);
    const double margin = 1e-6;
    for (const Path* path : AllPaths(geometry)) {
        for (std::size_t i = 1; i < path->size(); ++i) {
            const Point& a = (*path)[i - 1];
            const Point& b = (*path)[i];
            if (SquaredLength(a, b) <= tolerance) {
                continue;
            }
            if (longSegments != nullptr) {
                ++*longSegments;
            }
            const Point m = IndependentMidpoint(world, a, b);
            const Point reverse = IndependentMidpoint(world, b, a);
            const bool splitByLength = SquaredLength(m, a) >= tolerance * (1.0 + margin) &&
                                       SquaredLength(m, b) >= tolerance * (1.0 + margin);
            const bool splitByMidpoint =
                std::sqrt(SquaredLength(a, m)) >= half * (1 + margin) &&
                std::sqrt(SquaredLength(b, m)) >= half * (1 + margin) &&
                std::sqrt(SquaredLength(b, reverse)) >= half * (1 + margin) &&
                std::sqrt(SquaredLength(a, reverse)) >= half * (1 + margin);
            if (splitByLength || splitByMidpoint) {
                return ::testing::AssertionFailure()
                       << "segment " << i << " (" << a.x << ", " << a.y << ") - (" << b.x << ", "
                       << b.y << ") has squared length " << SquaredLength(a, b) << " > T "
                       << tolerance << " and would be split";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// X continuous (no step over half a world) and all of it within one world.
::testing::AssertionResult ContinuousWithinOneWorld(const Path& path) {
    if (path.empty()) {
        return ::testing::AssertionSuccess();
    }
    double minX = path.front().x;
    double maxX = path.front().x;
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (!(std::fabs(path[i].x - path[i - 1].x) <= 0.5 + 1e-12)) {
            return ::testing::AssertionFailure()
                   << "jump at " << i << " of " << path[i].x - path[i - 1].x;
        }
        minX = std::min(minX, path[i].x);
        maxX = std::max(maxX, path[i].x);
    }
    if (!(maxX - minX <= 1.0 + 1e-12)) {
        return ::testing::AssertionFailure() << "X spans " << maxX - minX << " worlds";
    }
    return ::testing::AssertionSuccess();
}

double MinX(const Path& path) {
    double minX = std::numeric_limits<double>::infinity();
    for (const Point& p : path) {
        minX = std::min(minX, p.x);
    }
    return minX;
}

double MaxX(const Path& path) {
    double maxX = -std::numeric_limits<double>::infinity();
    for (const Point& p : path) {
        maxX = std::max(maxX, p.x);
    }
    return maxX;
}

// Whether the input's points appear in order in the output, each shifted by whole units.
bool KeepsVerticesInOrder(const Path& input, const Path& output) {
    std::size_t j = 0;
    for (const Point& p : input) {
        while (j < output.size()) {
            const double shift = output[j].x - p.x;
            const bool same = output[j].y == p.y && std::fabs(shift - std::round(shift)) < 1e-9;
            ++j;
            if (same) {
                break;
            }
            if (j == output.size()) {
                return false;
            }
        }
    }
    return true;
}

std::string ExpectInvalid(const std::function<void()>& run) {
    try {
        run();
    } catch (const std::invalid_argument& error) {
        return error.what();
    } catch (const std::exception& error) {
        return std::string("unexpected exception: ") + error.what();
    }
    return "no exception";
}

// ---- Random shapes, in degrees ----

struct RandomShapes {
    explicit RandomShapes(std::uint64_t seed) : random(seed) {}

    double Uniform(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    }
    int Integer(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

    static double Wrap(double longitude) {
        return longitude - 360.0 * std::floor((longitude + 180.0) / 360.0);
    }

    // A star-shaped ring around (lon, lat), counter-clockwise (or clockwise), its longitudes
    // folded into [-180, 180) so that rings over the antimeridian jump.
    Path Star(double lon, double lat, double radius, bool counterClockwise, double maxLatitude) {
        const int count = Integer(4, 40);
        Path ring;
        for (int k = 0; k < count; ++k) {
            const double angle = 2.0 * M_PI * k / count * (counterClockwise ? 1.0 : -1.0);
            const double r = radius * Uniform(0.3, 1.0);
            ring.push_back({Wrap(lon + r * std::cos(angle)),
                            std::clamp(lat + r * std::sin(angle), -maxLatitude, maxLatitude)});
        }
        ring.push_back(ring.front());
        return ring;
    }

    Path Walk(double maxLatitude) {
        const int count = Integer(2, 30);
        Path line{{Uniform(-180.0, 180.0), Uniform(-maxLatitude, maxLatitude)}};
        const double step = Uniform(0.01, 60.0);
        for (int k = 1; k < count; ++k) {
            const Point& last = line.back();
            line.push_back({Wrap(last.x + Uniform(-step, step)),
                            std::clamp(last.y + Uniform(-step, step), -maxLatitude, maxLatitude)});
        }
        return line;
    }

    // Once around a pole: north > 0 for the north pole; eastward: longitudes increasing.
    Path AroundPole(bool north, bool eastward, double maxLatitude) {
        const int count = Integer(3, 60);
        const double start = Uniform(-180.0, 180.0);
        const double base = Uniform(45.0, std::min(75.0, maxLatitude - 9.0));
        const double amplitude = Uniform(0.0, 8.0);
        const double waves = Integer(0, 5);
        Path ring;
        for (int k = 0; k < count; ++k) {
            const double longitude = start + (eastward ? 1.0 : -1.0) * 360.0 * k / count;
            const double latitude = base + amplitude * std::sin(waves * 2.0 * M_PI * k / count);
            ring.push_back({Wrap(longitude), north ? latitude : -latitude});
        }
        ring.push_back(ring.front());
        return ring;
    }

    // Some vertices moved by whole worlds, as data with arbitrary turns would have them.
    void ShiftSomeByWholeWorlds(Path& world) {
        const bool closed = world.size() > 1 && world.front() == world.back();
        for (std::size_t i = 0; i < world.size(); ++i) {
            if (Integer(0, 3) == 0) {
                world[i].x += Integer(-2, 2);
            }
        }
        if (closed) {
            world.back() = world.front();
        }
    }

    std::mt19937_64 random;
};

// A forward transform that moves every great-arc midpoint by delta in Y, up and down in turn,
// and counts the midpoints it made; the tolerance's own two calls are left alone.
class OffsetForward : public SpatialTransform {
public:
    OffsetForward(const SpatialTransform& forward, double delta)
        : m_forward(forward), m_delta(delta) {}

    std::pair<double, double> operator()(double u, double v) const override {
        auto result = m_forward(u, v);
        const bool toleranceCall = u == 0.0 && (v == 0.0 || v == 0.09);
        if (!toleranceCall) {
            const int call = m_calls.fetch_add(1);
            result.second += call % 2 == 0 ? m_delta : -m_delta;
        }
        return result;
    }

    int Calls() const { return m_calls.load(); }

private:
    const SpatialTransform& m_forward;
    double m_delta;
    mutable std::atomic<int> m_calls{0};
};

class PlumpingTest : public ::testing::Test {
protected:
    World webMercator{geomtest::WebMercatorProjector()};
    World plateCarree{geomtest::PlateCarreeProjector()};
};

} // namespace

// ---- Edge cases ----

TEST_F(PlumpingTest, PointsOnlyComeBackAsTheSameObject) {
    const ConstGeomPtr points = Share(Geom({{0.1, 0.2}, {5.0, -3.0}}, {}, {}));
    EXPECT_EQ(geom::PlumpGeometryForProjectionAndDevice(points, webMercator.forward,
                                                        webMercator.inverse, 0.0, 0.0, 1000),
              points);
    const ConstGeomPtr empty = Share(Geom());
    EXPECT_EQ(geom::PlumpGeometryForProjectionAndDevice(empty, webMercator.forward,
                                                        webMercator.inverse, 0.0, 0.0, 1000),
              empty);
}

TEST_F(PlumpingTest, RingsLyingOnTheTopOrBottomEdgeComeBackUnchanged) {
    // Long segments, a wrap and a clockwise ring: none of it matters on y = 1 or y = 0.
    const Path top{{0.0, 1.0}, {0.9, 1.0}, {2.5, 1.0 - 4.4e-16}, {0.0, 1.0}};
    const Path bottom{{0.1, 0.0}, {0.8, 4.4e-16}, {0.2, -4.4e-16}, {0.1, 0.0}};
    const ConstGeomPtr onTop = Share(Geom({}, {}, {{top}}));
    EXPECT_EQ(geom::PlumpGeometryForProjectionAndDevice(onTop, webMercator.forward,
                                                        webMercator.inverse, 0.0, 0.0, 1000),
              onTop);
    const ConstGeomPtr both = Share(Geom({}, {}, {{top, bottom}, {bottom}}));
    EXPECT_EQ(geom::PlumpGeometryForProjectionAndDevice(both, webMercator.forward,
                                                        webMercator.inverse, 0.0, 0.0, 1000),
              both);
    // A ring that leaves the edge, or mixes both edges, is plumped.
    const Path mixed{{0.0, 1.0}, {0.4, 1.0}, {0.4, 0.0}, {0.0, 1.0}};
    const ConstGeomPtr notOnEdge = Share(Geom({}, {}, {{mixed}}));
    EXPECT_NE(geom::PlumpGeometryForProjectionAndDevice(notOnEdge, webMercator.forward,
                                                        webMercator.inverse, 0.0, 0.0, 1000),
              notOnEdge);
}

TEST_F(PlumpingTest, ToleranceAtDeviceSize1000AndShortSegments) {
    for (const World* world : {&webMercator, &plateCarree}) {
        const double expected = ExpectedTolerance(world->forward, 1000);
        EXPECT_GE(expected, 0.002);
        EXPECT_DOUBLE_EQ(geom::PlumpingTolerance(world->forward, 1000), expected);
        // Squared length 0.0016 <= T: nothing to add, the same object comes back.
        const Path shortLine{{0.3, 0.5}, {0.34, 0.5}, {0.34, 0.46}};
        const ConstGeomPtr line = Share(Geom({}, {shortLine}, {}));
        EXPECT_EQ(geom::PlumpGeometryForProjectionAndDevice(line, world->forward, world->inverse,
                                                            0.0, 0.0, 1000),
                  line);
        // Just above T: the segment gains a point.
        const double length = std::sqrt(expected) * 1.001;
        const ConstGeomPtr longer = Share(Geom({}, {{{0.3, 0.5}, {0.3 + length, 0.5}}}, {}));
        const ConstGeomPtr plumped = geom::PlumpGeometryForProjectionAndDevice(
            longer, world->forward, world->inverse, 0.0, 0.0, 1000);
        ASSERT_NE(plumped, longer);
        EXPECT_EQ(plumped->GetLines().front().size(), 3u);
    }
    // Large devices: the 0.09-degree latitude term takes over.
    EXPECT_DOUBLE_EQ(geom::PlumpingTolerance(webMercator.forward, 1 << 20),
                     webMercator.forward(0.0, 0.09).second - webMercator.forward(0.0, 0.0).second);
}

TEST_F(PlumpingTest, MoreThanOneHundredLevelsOfHalvingIsALogicError) {
    // Every midpoint lands 3.3 sqrt(T) above or below its segment, in turn: the distances from
    // it to both ends stay above sqrt(T), so every level splits at the first test (one midpoint
    // per level, no reverse midpoint) and halving never ends. Levels 1 to 100 each make their
    // midpoint; level 101 raises before making one.
    const double tolerance = ExpectedTolerance(plateCarree.forward, 1000);
    const OffsetForward forward(plateCarree.forward, 3.3 * std::sqrt(tolerance));
    const ConstGeomPtr line = Share(Geom({}, {{{0.3, 0.6}, {0.7, 0.6}}}, {}));
    try {
        geom::PlumpGeometryForProjectionAndDevice(line, forward, plateCarree.inverse, 0.0, 0.0,
                                                  1000);
        FAIL() << "no exception";
    } catch (const LogicException& error) {
        EXPECT_EQ(error.GetCondition(), "infinite recursion while plumping");
        EXPECT_NE(std::string(error.what()).find("infinite recursion while plumping"),
                  std::string::npos);
    }
    // The needs-plumping pass made one midpoint (the first segment splits), densifying 100.
    EXPECT_EQ(forward.Calls(), 1 + 100);

    const OffsetForward again(plateCarree.forward, 3.3 * std::sqrt(tolerance));
    Geom geometry({}, {{{0.3, 0.6}, {0.7, 0.6}}}, {});
    EXPECT_THROW(geom::PlumpForProjectionAndDevice(geometry, again, plateCarree.inverse, 1000),
                 LogicException);
    EXPECT_EQ(again.Calls(), 100);
}

TEST_F(PlumpingTest, DegenerateRingsRaiseTheValidationTexts) {
    const auto plump = [this](const Geom& geometry) {
        return [this, geometry] {
            geom::PlumpGeometryForProjectionAndDevice(Share(geometry), webMercator.forward,
                                                      webMercator.inverse, 0.0, 0.0, 1000);
        };
    };
    const Path triangle{{0.2, 0.2}, {0.3, 0.2}, {0.25, 0.3}};
    EXPECT_EQ(ExpectInvalid(plump(Geom({}, {}, {{triangle}}))),
              "ring has insufficient points to be a polygon");
    const Path collinear{{0.25, 0.25}, {0.375, 0.3125}, {0.5, 0.375}, {0.25, 0.25}};
    EXPECT_EQ(ExpectInvalid(plump(Geom({}, {}, {{collinear}}))),
              "ring has no area or spike with no area");
    const Path vertical{{0.25, 0.25}, {0.25, 0.5}, {0.25, 0.75}, {0.25, 0.25}};
    EXPECT_EQ(ExpectInvalid(plump(Geom({}, {}, {{vertical}}))), "the ring is a vertical line");
    EXPECT_EQ(ExpectInvalid(plump(Geom({}, {}, {Polygon{}}))),
              "polygon is expected not to be empty");
    EXPECT_EQ(ExpectInvalid(plump(Geom({}, {{{0.1, 0.5}, {kNaN, 0.5}}}, {}))), "NaN not permitted");
    const Path nanRing{{0.2, 0.2}, {0.3, 0.2}, {kNaN, 0.3}, {0.2, 0.2}};
    EXPECT_EQ(ExpectInvalid(plump(Geom({}, {}, {{nanRing}}))), "NaN not permitted");
    // A degenerate hole of an ordinary polygon (four points, collinear) is reported too.
    const Path outer{{0.1, 0.1}, {0.6, 0.1}, {0.6, 0.6}, {0.1, 0.6}, {0.1, 0.1}};
    EXPECT_EQ(ExpectInvalid(plump(Geom({}, {}, {{outer, collinear}}))),
              "ring has no area or spike with no area");
    // A degenerate ring anywhere in a multi-polygon is reported, not only in the first.
    EXPECT_EQ(ExpectInvalid(plump(Geom({}, {}, {{outer}, {triangle}}))),
              "ring has insufficient points to be a polygon");
}

TEST_F(PlumpingTest, RandomDegenerateRingsRaiseTheValidationTexts) {
    RandomShapes shapes(7);
    for (int i = 0; i < 300; ++i) {
        const double xOrigin = shapes.Integer(-3, 3) + 0.25 * shapes.Integer(0, 3);
        // Dyadic coordinates, so that collinear points are collinear to the last bit.
        const auto dyadic = [&](int low, int high) {
            return shapes.Integer(low, high) / 1024.0;
        };
        // Inside the window, so that no folding is needed and the orientation test runs.
        const Point p{xOrigin + dyadic(300, 600), dyadic(300, 700)};
        const Point d{dyadic(1, 100) * (shapes.Integer(0, 1) ? 1 : -1), dyadic(-100, 100)};
        const Path collinear{p, {p.x + d.x, p.y + d.y}, {p.x + 2 * d.x, p.y + 2 * d.y}, p};
        const Path triangle{p, {p.x + d.x, p.y + d.y}, {p.x + d.x, p.y + d.y + 0.01}};
        Path vertical;
        for (int k = 0; k < shapes.Integer(4, 9); ++k) {
            vertical.push_back({p.x + shapes.Integer(-5, 5), dyadic(0, 1024)});
        }
        vertical.push_back(vertical.front());
        const auto run = [&](const Path& ring) {
            return ExpectInvalid([&] {
                geom::PlumpGeometryForProjectionAndDevice(Share(Geom({}, {}, {{ring}})),
                                                          plateCarree.forward, plateCarree.inverse,
                                                          xOrigin, 0.0, 1000);
            });
        };
        EXPECT_EQ(run(collinear), "ring has no area or spike with no area") << i;
        EXPECT_EQ(run(triangle), "ring has insufficient points to be a polygon") << i;
        EXPECT_EQ(run(vertical), "the ring is a vertical line") << i;
    }
}

// ---- Repair ----

TEST_F(PlumpingTest, ARingOverTheAntimeridianIsMadeContinuousInTheWindow) {
    // A square from 170 E to 170 W: its X jumps from near 1 to near 0.
    const Path degrees{{170, -10}, {-170, -10}, {-170, 10}, {170, 10}, {170, -10}};
    const Path world = ToWorld(webMercator, degrees);
    for (double xOrigin : {0.0, 0.5, -1.0, 2.25}) {
        const ConstGeomPtr plumped = geom::PlumpGeometryForProjectionAndDevice(
            Share(Geom({}, {}, {{world}})), webMercator.forward, webMercator.inverse, xOrigin, 0.0,
            1000);
        const Path& ring = plumped->GetPolys().front().front();
        EXPECT_TRUE(ContinuousWithinOneWorld(ring));
        EXPECT_GE(MinX(ring), xOrigin - 1e-12);
        EXPECT_LE(MinX(ring), xOrigin + 1.0 + 1e-12);
        EXPECT_NEAR(MaxX(ring) - MinX(ring), 20.0 / 360.0, 1e-9);
        EXPECT_EQ(ring.front(), ring.back());
        EXPECT_GT(geomtest::TwiceSignedArea(ring), 0.0);
    }
}

TEST_F(PlumpingTest, LinesAreFoldedAndDensifiedAlongTheGreatArc) {
    // From 60 W to 60 E along 60 N: the great circle reaches about 73.9 N at the meridian 0.
    const Path degrees{{-60, 60}, {60, 60}};
    const ConstGeomPtr plumped = geom::PlumpGeometryForProjectionAndDevice(
        Share(Geom({}, {ToWorld(plateCarree, degrees)}, {})), plateCarree.forward,
        plateCarree.inverse, 0.0, 0.0, 1000);
    const Path& line = plumped->GetLines().front();
    ASSERT_GT(line.size(), 2u);
    const double expectedLatitude =
        std::atan(std::tan(60.0 * M_PI / 180.0) / std::cos(60.0 * M_PI / 180.0)) * 180.0 / M_PI;
    bool foundMeridian = false;
    for (const Point& p : line) {
        const auto [longitude, latitude] = plateCarree.inverse(p.x, p.y);
        if (std::fabs(longitude) < 1e-9) {
            foundMeridian = true;
            EXPECT_NEAR(latitude, expectedLatitude, 1e-9);
        }
    }
    EXPECT_TRUE(foundMeridian);

    // A line over the antimeridian, its later points also given one world on.
    Path wrapped = ToWorld(webMercator, {{175, 0}, {-175, 5}, {-170, 10}});
    wrapped[2].x += 1.0;
    const ConstGeomPtr folded = geom::PlumpGeometryForProjectionAndDevice(
        Share(Geom({}, {wrapped}, {})), webMercator.forward, webMercator.inverse, -0.25, 0.0, 1000);
    const Path& out = folded->GetLines().front();
    EXPECT_TRUE(ContinuousWithinOneWorld(out));
    EXPECT_GE(MinX(out), -0.25);
    EXPECT_LE(MinX(out), 0.75);
}

TEST_F(PlumpingTest, AClockwiseOuterRingIsRepairedButKeepsItsOrder) {
    // A clockwise outer ring makes the geometry need repair; repair folds and
    // densifies it but does not turn it around.
    const Path clockwise{{0.2, 0.2}, {0.2, 0.3}, {0.3, 0.3}, {0.3, 0.2}, {0.2, 0.2}};
    const ConstGeomPtr input = Share(Geom({}, {}, {{clockwise}}));
    const ConstGeomPtr plumped = geom::PlumpGeometryForProjectionAndDevice(
        input, webMercator.forward, webMercator.inverse, 0.0, 0.0, 1000);
    ASSERT_NE(plumped, input);
    EXPECT_LT(geomtest::TwiceSignedArea(plumped->GetPolys().front().front()), 0.0);
    EXPECT_TRUE(KeepsVerticesInOrder(clockwise, plumped->GetPolys().front().front()));
}

TEST_F(PlumpingTest, PointsAreCopiedAndTheTypeComputed) {
    const Path line = ToWorld(webMercator, {{-60, 0}, {60, 0}});
    const ConstGeomPtr input = Share(Geom({{0.5, 0.5}}, {line}, {}));
    EXPECT_EQ(input->GetType(), geom::GeometryType::Collection);
    const ConstGeomPtr plumped = geom::PlumpGeometryForProjectionAndDevice(
        input, webMercator.forward, webMercator.inverse, 0.0, 0.0, 1000);
    ASSERT_NE(plumped, input);
    EXPECT_EQ(plumped->GetPoints(), input->GetPoints());
    EXPECT_EQ(plumped->GetType(), geom::GeometryType::Collection);
    EXPECT_GT(plumped->GetLines().front().size(), 2u);
}

TEST_F(PlumpingTest, TheTimingScopeIsNamed) {
    TLog::ScopedCapture capture;
    const Path line = ToWorld(webMercator, {{-60, 0}, {60, 0}});
    geom::PlumpGeometryForProjectionAndDevice(Share(Geom({}, {line}, {})), webMercator.forward,
                                              webMercator.inverse, 0.0, 0.0, 1000);
    bool found = false;
    for (const TLog::Record& record : capture.Records()) {
        found = found || (record.severity == TLog::Severity::Debug &&
                          record.message.contains(QStringLiteral(
                              "OGCOperations::PlumpGeometryForProjectionAndDevice")));
    }
    EXPECT_TRUE(found);
}

// ---- Rings around a pole ----

namespace {

struct PoleCase {
    bool north;
    bool eastward;
    double expectedEdge; // E
};

// Checks a repaired pole ring: closed, continuous, exactly one world wide starting in the
// window, closed along E through the four closing-edge points, counter-clockwise.
void ExpectClosedAlongPole(const Path& ring, double edge, double xOrigin) {
    ASSERT_GE(ring.size(), 8u);
    EXPECT_EQ(ring.front(), ring.back());
    EXPECT_TRUE(ContinuousWithinOneWorld(ring));
    const double x0 = MinX(ring);
    EXPECT_NEAR(MaxX(ring) - x0, 1.0, 1e-9);
    EXPECT_GE(x0, xOrigin - 1e-12);
    EXPECT_LT(x0, xOrigin + 1.0);
    for (double offset : {0.0, 0.375, 0.625, 1.0}) {
        const bool found = std::any_of(ring.begin(), ring.end(), [&](const Point& p) {
            return std::fabs(p.x - (x0 + offset)) < 1e-9 && p.y == edge;
        });
        EXPECT_TRUE(found) << "no closing point at x0 + " << offset << " on y = " << edge << " in "
                           << geomtest::ToString(ring);
    }
    EXPECT_GT(geomtest::TwiceSignedArea(ring), 0.0);
}

} // namespace

TEST_F(PlumpingTest, RingsAroundEitherPoleAreClosedAlongThatPole) {
    // Outer rings with the interior on their left: around the north pole going east, around
    // the south pole going west. Going the other way the interior is the rest of the world, so
    // the ring is closed along the opposite edge.
    const PoleCase cases[] = {
        {true, true, 1.0}, {false, false, 0.0}, {true, false, 0.0}, {false, true, 1.0}};
    for (const World* world : {&webMercator, &plateCarree}) {
        for (const PoleCase& c : cases) {
            Path degrees;
            for (int k = 0; k <= 12; ++k) {
                degrees.push_back({RandomShapes::Wrap(-170.0 + (c.eastward ? 30.0 : -30.0) * k),
                                   (c.north ? 1.0 : -1.0) * (70.0 + (k % 2 == 0 ? 3.0 : -3.0))});
            }
            degrees.back() = degrees.front();
            const ConstGeomPtr input = Share(Geom({}, {}, {{ToWorld(*world, degrees)}}));
            const ConstGeomPtr plumped = geom::PlumpGeometryForProjectionAndDevice(
                input, world->forward, world->inverse, 0.0, 0.0, 1000);
            const Path& ring = plumped->GetPolys().front().front();
            SCOPED_TRACE(std::string(c.north ? "north" : "south") +
                         (c.eastward ? " eastward" : " westward"));
            ExpectClosedAlongPole(ring, c.expectedEdge, 0.0);
            const ConstGeom& out = *plumped;
            // The pole's side is inside, the far edge outside.
            const double inside = c.expectedEdge == 1.0 ? 0.999 : 0.001;
            const double outside = c.expectedEdge == 1.0 ? 0.001 : 0.999;
            for (double x : {0.05, 0.5, 0.95}) {
                EXPECT_TRUE(geom::Contains(out, {x, inside}));
                EXPECT_FALSE(geom::Contains(out, {x, outside}));
            }
            // Nothing left to do: plumping the result gives it back.
            EXPECT_EQ(geom::PlumpGeometryForProjectionAndDevice(plumped, world->forward,
                                                                world->inverse, 0.0, 0.0, 1000),
                      plumped);
        }
    }
}

TEST_F(PlumpingTest, ABandAroundTheWorldClosesBothRingsInTheSameWorld) {
    // Outer ring along 60 N going west (interior south of it), hole along 60 S going east
    // (clockwise, excluding the south): the band between them.
    Path outer;
    Path hole;
    for (int k = 0; k <= 8; ++k) {
        outer.push_back({RandomShapes::Wrap(100.0 - 45.0 * k), 60.0});
        hole.push_back({RandomShapes::Wrap(-100.0 + 45.0 * k), -60.0});
    }
    const ConstGeomPtr plumped = geom::PlumpGeometryForProjectionAndDevice(
        Share(Geom({}, {}, {{ToWorld(plateCarree, outer), ToWorld(plateCarree, hole)}})),
        plateCarree.forward, plateCarree.inverse, 0.0, 0.0, 1000);
    const Polygon& polygon = plumped->GetPolys().front();
    ASSERT_EQ(polygon.size(), 2u);
    ExpectClosedAlongPole(polygon[0], 0.0, 0.0);
    // The hole: closed along the bottom too, clockwise, over the same world.
    EXPECT_NEAR(MinX(polygon[1]), MinX(polygon[0]), 1e-12);
    EXPECT_NEAR(MaxX(polygon[1]), MaxX(polygon[0]), 1e-12);
    EXPECT_LT(geomtest::TwiceSignedArea(polygon[1]), 0.0);
    EXPECT_TRUE(geom::Contains(*plumped, {0.5, 0.5}));
    EXPECT_FALSE(geom::Contains(*plumped, {0.5, 0.1}));
    EXPECT_FALSE(geom::Contains(*plumped, {0.5, 0.9}));
}

// ---- Property tests over random shapes ----

TEST_F(PlumpingTest, PropertiesOverRandomRingsAndLines) {
    RandomShapes shapes(20240611);
    const int deviceSizes[] = {256, 1000, 4096, 65536};
    int repaired = 0;
    int poleRings = 0;
    int segments = 0;
    int longSegments = 0; // longer than sqrt(T), accepted by the midpoint rule
    for (int i = 0; i < 3000; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const World& world = i % 2 == 0 ? webMercator : plateCarree;
        const double maxLatitude = i % 2 == 0 ? 84.0 : 89.0;
        const int deviceSize = deviceSizes[shapes.Integer(0, 3)];
        const double xOrigin = shapes.Integer(-2, 2) + shapes.Uniform(-0.5, 0.5);
        const double tolerance = ExpectedTolerance(world.forward, deviceSize);

        std::vector<Path> lines;
        std::vector<Polygon> polys;
        std::vector<int> poleEdges; // per polygon: the expected E, or -1 for an ordinary one
        const int kind = shapes.Integer(0, 9);
        if (kind < 3) {
            for (int k = shapes.Integer(1, 3); k > 0; --k) {
                Path line = ToWorld(world, shapes.Walk(maxLatitude));
                shapes.ShiftSomeByWholeWorlds(line);
                lines.push_back(std::move(line));
            }
        } else if (kind < 8) {
            for (int k = shapes.Integer(1, 3); k > 0; --k) {
                const double lon = shapes.Uniform(-180.0, 180.0);
                const double lat = shapes.Uniform(-70.0, 70.0);
                // Clear of the latitude limit: a clamped star may cross itself.
                const double radius =
                    shapes.Uniform(0.5, std::min(40.0, maxLatitude - std::fabs(lat)));
                Polygon polygon{ToWorld(world, shapes.Star(lon, lat, radius, true, maxLatitude))};
                if (shapes.Integer(0, 2) == 0) {
                    polygon.push_back(ToWorld(
                        world, shapes.Star(lon, lat, 0.25 * radius * 0.3, false, maxLatitude)));
                }
                for (Path& ring : polygon) {
                    shapes.ShiftSomeByWholeWorlds(ring);
                }
                polys.push_back(std::move(polygon));
                poleEdges.push_back(-1);
            }
        } else {
            const bool north = shapes.Integer(0, 1) == 1;
            const bool eastward = shapes.Integer(0, 1) == 1;
            Path ring = ToWorld(world, shapes.AroundPole(north, eastward, maxLatitude));
            shapes.ShiftSomeByWholeWorlds(ring);
            polys.push_back({ring});
            // An outer ring has its interior on the left: north of it when it runs east.
            poleEdges.push_back(eastward ? 1 : 0);
        }
        const ConstGeomPtr input = Share(Geom({}, lines, polys));
        ConstGeomPtr plumped;
        ASSERT_NO_THROW(plumped = geom::PlumpGeometryForProjectionAndDevice(
                            input, world.forward, world.inverse, xOrigin, 0.0, deviceSize));
        ASSERT_TRUE(plumped != nullptr);
        repaired += plumped != input ? 1 : 0;

        EXPECT_TRUE(SegmentsPassSplitTest(world, *plumped, tolerance, &longSegments));
        for (const Path* path : AllPaths(*plumped)) {
            segments += static_cast<int>(path->size()) - 1;
        }
        ASSERT_EQ(plumped->GetLines().size(), lines.size());
        ASSERT_EQ(plumped->GetPolys().size(), polys.size());
        for (std::size_t l = 0; l < lines.size(); ++l) {
            const Path& line = plumped->GetLines()[l];
            // Continuous; a line may run around the world more than once.
            for (std::size_t j = 1; j < line.size(); ++j) {
                EXPECT_LE(std::fabs(line[j].x - line[j - 1].x), 0.5 + 1e-12);
            }
            EXPECT_GE(MinX(line), xOrigin - 1e-9);
            EXPECT_LE(MinX(line), xOrigin + 1.0 + 1e-9);
            EXPECT_TRUE(KeepsVerticesInOrder(lines[l], line));
        }
        for (std::size_t p = 0; p < polys.size(); ++p) {
            const Polygon& polygon = plumped->GetPolys()[p];
            ASSERT_EQ(polygon.size(), polys[p].size());
            for (const Path& ring : polygon) {
                EXPECT_TRUE(ContinuousWithinOneWorld(ring));
                EXPECT_EQ(ring.front(), ring.back());
            }
            EXPECT_GE(MinX(polygon.front()), xOrigin - 1e-9);
            EXPECT_LE(MinX(polygon.front()), xOrigin + 1.0 + 1e-9);
            if (poleEdges[p] >= 0) {
                ++poleRings;
                ExpectClosedAlongPole(polygon.front(), poleEdges[p], xOrigin);
            } else {
                EXPECT_TRUE(KeepsVerticesInOrder(polys[p].front(), polygon.front()));
                EXPECT_GT(geomtest::TwiceSignedArea(polygon.front()), 0.0);
                for (std::size_t r = 1; r < polygon.size(); ++r) {
                    // A hole stays in the same world as its outer ring.
                    EXPECT_GE(MinX(polygon[r]), MinX(polygon.front()) - 1e-9);
                    EXPECT_LE(MaxX(polygon[r]), MaxX(polygon.front()) + 1e-9);
                }
            }
        }
        // Idempotent: what plumping gives needs nothing more.
        const ConstGeomPtr again = geom::PlumpGeometryForProjectionAndDevice(
            plumped, world.forward, world.inverse, xOrigin, 0.0, deviceSize);
        EXPECT_EQ(again, plumped);
    }
    EXPECT_GT(repaired, 2000);
    EXPECT_GT(poleRings, 400);
    // The midpoint rule lets few segments through over the length bound.
    RecordProperty("segments", segments);
    RecordProperty("long_segments", longSegments);
    EXPECT_LT(longSegments, segments / 50) << longSegments << " of " << segments;
}

TEST_F(PlumpingTest, SerialAndParallelPassesGiveTheSameResult) {
    RandomShapes shapes(99);
    std::vector<Polygon> polys;
    std::vector<Path> lines;
    for (int k = 0; k < 200; ++k) {
        polys.push_back({ToWorld(webMercator, shapes.Star(shapes.Uniform(-180, 180),
                                                          shapes.Uniform(-60, 60), 30, true, 84))});
        lines.push_back(ToWorld(webMercator, shapes.Walk(84)));
    }
    polys.push_back({ToWorld(webMercator, shapes.AroundPole(true, true, 84))});
    const ConstGeomPtr input = Share(Geom({}, lines, polys));
    const ConstGeomPtr parallel = geom::PlumpGeometryForProjectionAndDevice(
        input, webMercator.forward, webMercator.inverse, 0.0, 0.0, 4096);
    ConstGeomPtr serial;
    {
        SerialExecutionScope scope;
        serial = geom::PlumpGeometryForProjectionAndDevice(input, webMercator.forward,
                                                           webMercator.inverse, 0.0, 0.0, 4096);
    }
    EXPECT_TRUE(*parallel == *serial);
}

TEST_F(PlumpingTest, NeedsPlumpingAgreesWithDensifying) {
    RandomShapes shapes(5);
    for (int i = 0; i < 300; ++i) {
        // The building blocks take continuous paths (as repair leaves them).
        Path line = ToWorld(plateCarree, shapes.Walk(89));
        for (std::size_t j = 1; j < line.size(); ++j) {
            line[j].x -= std::round(line[j].x - line[j - 1].x);
        }
        Geom geometry({}, {line}, {});
        const int deviceSize = 1 << shapes.Integer(6, 16);
        const bool needs =
            geom::NeedsPlumping(geometry, plateCarree.forward, plateCarree.inverse, deviceSize);
        Geom densified = geometry;
        geom::PlumpForProjectionAndDevice(densified, plateCarree.forward, plateCarree.inverse,
                                          deviceSize);
        EXPECT_EQ(needs, !(densified == geometry)) << i;
        EXPECT_FALSE(
            geom::NeedsPlumping(densified, plateCarree.forward, plateCarree.inverse, deviceSize));
    }
}
