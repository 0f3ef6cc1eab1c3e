// Plumping: property tests over random rings and lines, plus the cases they cannot reach (the
// recursion limit, the validation texts without a shape, the timing scope). The checks
// recompute the tolerance, the great-arc midpoints and the segment lengths themselves.

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <lmxmaps/Geom.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/TLog.h>

using geom::ConstGeom;
using geom::ConstGeomPtr;
using geom::Geom;
using geom::Path;
using geom::Point;
using geom::Polygon;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kDeviceSize = 1000;
// Slack for the last bits of independently computed coordinates.
constexpr double kSlack = 1e-9;

// A projector with its forward and inverse transforms (the transforms refer to the projector).
struct World {
    explicit World(SpatialProjectorPtr p)
        : projector(std::move(p)), forward(*projector), inverse(*projector) {}
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    SpatialProjectorPtr projector;
    SpatialProjectorTransforms::Forward forward;
    SpatialProjectorTransforms::Inverse inverse;
};

ConstGeomPtr Share(Geom geometry) {
    return std::make_shared<const ConstGeom>(std::move(geometry));
}

ConstGeomPtr Plump(const World& world, const ConstGeomPtr& geometry, double xOrigin = 0.0,
                   int deviceSize = kDeviceSize) {
    return geom::PlumpGeometryForProjectionAndDevice(geometry, world.forward, world.inverse,
                                                     xOrigin, 0.0, deviceSize);
}

// The tolerance T of the split test, computed here from its definition.
double ExpectedTolerance(const SpatialTransform& forward, int deviceSize) {
    const double latitudeTerm = forward(0.0, 0.09).second - forward(0.0, 0.0).second;
    return std::max(2.0 / deviceSize, latitudeTerm);
}

double SquaredLength(const Point& a, const Point& b) {
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

// Twice the signed area (shoelace); positive for a counter-clockwise ring.
double TwiceSignedArea(const Path& ring) {
    double sum = 0.0;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        sum += ring[i].x * ring[i + 1].y - ring[i + 1].x * ring[i].y;
    }
    return sum;
}

double MinX(const Path& path) {
    return std::min_element(path.begin(), path.end(), [](auto& a, auto& b) { return a.x < b.x; })
        ->x;
}

double MaxX(const Path& path) {
    return std::max_element(path.begin(), path.end(), [](auto& a, auto& b) { return a.x < b.x; })
        ->x;
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

// The great-arc midpoint in world units, on a sphere: the end points as unit vectors, their
// normalized sum, back to degrees, forward, X next to a's and then b's.
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

// Every segment passes the split test: its squared length is at most T, or its great-arc
// midpoint lies closer than sqrt(T) / 2 to an end. Only clear violations count (a relative
// margin for the independently computed midpoint). Counts the segments over the length bound.
::testing::AssertionResult SegmentsPassSplitTest(const World& world, const ConstGeom& geometry,
                                                 double tolerance, int& longSegments) {
    constexpr double kMargin = 1e-6;
    const double half = 0.5 * std::sqrt(tolerance) * (1 + kMargin);
    const double bound = tolerance * (1.0 + kMargin);
    for (const Path* path : AllPaths(geometry)) {
        for (std::size_t i = 1; i < path->size(); ++i) {
            const Point& a = (*path)[i - 1];
            const Point& b = (*path)[i];
            if (SquaredLength(a, b) <= tolerance) {
                continue;
            }
            ++longSegments;
            const Point m = IndependentMidpoint(world, a, b);
            const Point reverse = IndependentMidpoint(world, b, a);
            const bool splitByLength = SquaredLength(m, a) >= bound && SquaredLength(m, b) >= bound;
            const bool splitByMidpoint = std::sqrt(SquaredLength(a, m)) >= half &&
                                         std::sqrt(SquaredLength(b, m)) >= half &&
                                         std::sqrt(SquaredLength(b, reverse)) >= half &&
                                         std::sqrt(SquaredLength(a, reverse)) >= half;
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

// No step over half a world; with withinOneWorld, all X inside one world too.
::testing::AssertionResult Continuous(const Path& path, bool withinOneWorld) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (!(std::fabs(path[i].x - path[i - 1].x) <= 0.5 + kSlack)) {
            return ::testing::AssertionFailure()
                   << "jump at " << i << " of " << path[i].x - path[i - 1].x;
        }
    }
    if (withinOneWorld && !path.empty() && !(MaxX(path) - MinX(path) <= 1.0 + kSlack)) {
        return ::testing::AssertionFailure() << "X spans " << MaxX(path) - MinX(path) << " worlds";
    }
    return ::testing::AssertionSuccess();
}

// Whether the input's points appear in order in the output, each shifted by whole units.
bool KeepsVerticesInOrder(const Path& input, const Path& output) {
    std::size_t j = 0;
    for (const Point& p : input) {
        const auto match = std::find_if(output.begin() + j, output.end(), [&](const Point& q) {
            const double shift = q.x - p.x;
            return q.y == p.y && std::fabs(shift - std::round(shift)) < kSlack;
        });
        if (match == output.end()) {
            return false;
        }
        j = static_cast<std::size_t>(match - output.begin()) + 1;
    }
    return true;
}

std::string InvalidArgumentText(const std::function<void()>& run) {
    try {
        run();
    } catch (const std::invalid_argument& error) {
        return error.what();
    } catch (const std::exception& error) {
        return std::string("unexpected exception: ") + error.what();
    }
    return "no exception";
}

// A repaired pole ring: closed, continuous, exactly one world wide starting in the window,
// closed along the edge through the four closing-edge points, with the pole's side inside.
void ExpectClosedAlongPole(const Path& ring, double edge, double xOrigin) {
    constexpr double kClosingOffsets[] = {0.0, 0.375, 0.625, 1.0};
    constexpr double kNearEdge = 0.001;
    ASSERT_GE(ring.size(), 8u);
    EXPECT_EQ(ring.front(), ring.back());
    EXPECT_TRUE(Continuous(ring, true));
    const double x0 = MinX(ring);
    EXPECT_NEAR(MaxX(ring) - x0, 1.0, kSlack);
    EXPECT_GE(x0, xOrigin - kSlack);
    EXPECT_LT(x0, xOrigin + 1.0);
    for (double offset : kClosingOffsets) {
        EXPECT_TRUE(std::any_of(
            ring.begin(), ring.end(),
            [&](const Point& p) { return std::fabs(p.x - (x0 + offset)) < kSlack && p.y == edge; }))
            << "no closing point at x0 + " << offset << " on y = " << edge;
    }
    EXPECT_GT(TwiceSignedArea(ring), 0.0);
    const ConstGeom polygon(Geom({}, {}, {{ring}}));
    const double inside = edge == 1.0 ? 1.0 - kNearEdge : kNearEdge;
    for (double x : {0.05, 0.5, 0.95}) {
        EXPECT_TRUE(geom::Contains(polygon, {x0 + x, inside}));
        EXPECT_FALSE(geom::Contains(polygon, {x0 + x, 1.0 - inside}));
    }
}

// Random shapes in degrees, longitudes folded into [-180, 180) so that shapes over the
// antimeridian jump.
struct RandomShapes {
    explicit RandomShapes(std::uint64_t seed) : random(seed) {}

    double Uniform(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    }
    int Integer(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

    static double Wrap(double longitude) {
        return longitude - 360.0 * std::floor((longitude + 180.0) / 360.0);
    }

    // A star-shaped ring around (lon, lat).
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

    // Once around a pole, wavy in latitude; eastward: longitudes increasing.
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
    void ShiftSomeByWholeWorlds(Path& path) {
        const bool closed = path.size() > 1 && path.front() == path.back();
        for (Point& p : path) {
            if (Integer(0, 3) == 0) {
                p.x += Integer(-2, 2);
            }
        }
        if (closed) {
            path.back() = path.front();
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
    World webMercator{SpatialProjector::WebMercatorFactory(FieldName(QStringLiteral("Longitude")),
                                                           FieldName(QStringLiteral("Latitude")),
                                                           QStringLiteral("EPSG:3857"))};
    World plateCarree{SpatialProjector::PlateCarreeFactory(FieldName(QStringLiteral("Longitude")),
                                                           FieldName(QStringLiteral("Latitude")))};
};

} // namespace

TEST_F(PlumpingTest, GeometriesThatNeedNothingComeBackAsTheSameObject) {
    // Long segments, a wrap and a clockwise ring: none of it matters on y = 1 or y = 0.
    const Path top{{0.0, 1.0}, {0.9, 1.0}, {2.5, 1.0 - 4.4e-16}, {0.0, 1.0}};
    const Path bottom{{0.1, 0.0}, {0.8, 4.4e-16}, {0.2, -4.4e-16}, {0.1, 0.0}};
    for (const ConstGeomPtr& unchanged :
         {Share(Geom({{0.1, 0.2}, {5.0, -3.0}}, {}, {})), Share(Geom()),
          Share(Geom({}, {}, {{top}})), Share(Geom({}, {}, {{top, bottom}, {bottom}}))}) {
        EXPECT_EQ(Plump(webMercator, unchanged), unchanged);
    }
    // A ring that mixes both edges is plumped.
    const ConstGeomPtr mixed =
        Share(Geom({}, {}, {{{{0.0, 1.0}, {0.4, 1.0}, {0.4, 0.0}, {0.0, 1.0}}}}));
    EXPECT_NE(Plump(webMercator, mixed), mixed);
}

TEST_F(PlumpingTest, ToleranceAndTheSegmentsJustBelowAndAboveIt) {
    for (const World* world : {&webMercator, &plateCarree}) {
        const double expected = ExpectedTolerance(world->forward, kDeviceSize);
        EXPECT_GE(expected, 2.0 / kDeviceSize);
        EXPECT_DOUBLE_EQ(geom::PlumpingTolerance(world->forward, kDeviceSize), expected);
        const double length = std::sqrt(expected);
        const ConstGeomPtr below = Share(Geom({}, {{{0.3, 0.5}, {0.3 + length * 0.999, 0.5}}}, {}));
        EXPECT_EQ(Plump(*world, below), below);
        const ConstGeomPtr above = Share(Geom({}, {{{0.3, 0.5}, {0.3 + length * 1.001, 0.5}}}, {}));
        const ConstGeomPtr plumped = Plump(*world, above);
        ASSERT_NE(plumped, above);
        EXPECT_EQ(plumped->GetLines().front().size(), 3u);
    }
    // Large devices: the 0.09-degree latitude term takes over.
    EXPECT_DOUBLE_EQ(geom::PlumpingTolerance(webMercator.forward, 1 << 20),
                     webMercator.forward(0.0, 0.09).second - webMercator.forward(0.0, 0.0).second);
}

TEST_F(PlumpingTest, MoreThanOneHundredLevelsOfHalvingIsALogicError) {
    // Every midpoint lands 3.3 sqrt(T) above or below its segment, in turn: both halves stay
    // longer than sqrt(T), so every level splits and halving never ends.
    constexpr int kAllowedLevels = 100;
    const double tolerance = ExpectedTolerance(plateCarree.forward, kDeviceSize);
    const OffsetForward forward(plateCarree.forward, 3.3 * std::sqrt(tolerance));
    const ConstGeomPtr line = Share(Geom({}, {{{0.3, 0.6}, {0.7, 0.6}}}, {}));
    try {
        geom::PlumpGeometryForProjectionAndDevice(line, forward, plateCarree.inverse, 0.0, 0.0,
                                                  kDeviceSize);
        FAIL() << "no exception";
    } catch (const LogicException& error) {
        EXPECT_EQ(error.GetCondition(), "infinite recursion while plumping");
    }
    // One midpoint for the needs-plumping pass, then one per allowed level: level 101 raises
    // before making its own.
    EXPECT_EQ(forward.Calls(), 1 + kAllowedLevels);
}

TEST_F(PlumpingTest, DegenerateRingsRaiseTheValidationTexts) {
    const auto plump = [this](Geom geometry) {
        return InvalidArgumentText([&] { Plump(webMercator, Share(geometry)); });
    };
    EXPECT_EQ(plump(Geom({}, {}, {Polygon{}})), "polygon is expected not to be empty");
    EXPECT_EQ(plump(Geom({}, {{{0.1, 0.5}, {kNaN, 0.5}}}, {})), "NaN not permitted");
    EXPECT_EQ(plump(Geom({}, {}, {{{{0.2, 0.2}, {0.3, 0.2}, {kNaN, 0.3}, {0.2, 0.2}}}})),
              "NaN not permitted");

    // Random degenerate rings, alone, after a valid polygon, or (collinear) as a hole.
    enum Placement { kAlone, kSecondPolygon, kHole };
    RandomShapes shapes(7);
    for (int i = 0; i < 300; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
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
        for (int k = shapes.Integer(4, 9); k > 0; --k) {
            vertical.push_back({p.x + shapes.Integer(-5, 5), dyadic(0, 1024)});
        }
        vertical.push_back(vertical.front());
        // A valid ring beside it, its steps under half a world so that it needs no folding.
        Path outer;
        for (const Point& corner :
             {Point{0.05, 0.05}, Point{0.5, 0.05}, Point{0.95, 0.05}, Point{0.95, 0.95},
              Point{0.5, 0.95}, Point{0.05, 0.95}, Point{0.05, 0.05}}) {
            outer.push_back({xOrigin + corner.x, corner.y});
        }

        const std::pair<const Path*, const char*> cases[] = {
            {&collinear, "ring has no area or spike with no area"},
            {&triangle, "ring has insufficient points to be a polygon"},
            {&vertical, "the ring is a vertical line"}};
        for (const auto& [ring, text] : cases) {
            const int placement =
                shapes.Integer(kAlone, ring == &collinear ? kHole : kSecondPolygon);
            std::vector<Polygon> polys{{*ring}};
            if (placement == kSecondPolygon) {
                polys.insert(polys.begin(), Polygon{outer});
            } else if (placement == kHole) {
                polys = {{outer, *ring}};
            }
            EXPECT_EQ(InvalidArgumentText(
                          [&] { Plump(plateCarree, Share(Geom({}, {}, polys)), xOrigin); }),
                      text)
                << "placement " << placement;
        }
    }
}

TEST_F(PlumpingTest, InsertedPointsLieOnTheGreatCircle) {
    // The great circle through (60 W, 60 N) and (60 E, 60 N): tan(lat) = tan 60 cos(lon) / cos 60.
    // The split test alone cannot tell great-arc points from straight halving.
    const ConstGeomPtr plumped =
        Plump(plateCarree, Share(Geom({}, {ToWorld(plateCarree, {{-60, 60}, {60, 60}})}, {})));
    const Path& line = plumped->GetLines().front();
    ASSERT_GT(line.size(), 4u);
    for (const Point& p : line) {
        const auto [longitude, latitude] = plateCarree.inverse(p.x, p.y);
        const double expected = std::atan(std::tan(M_PI / 3) * std::cos(longitude * M_PI / 180.0) /
                                          std::cos(M_PI / 3)) *
                                180.0 / M_PI;
        EXPECT_NEAR(latitude, expected, kSlack) << "at longitude " << longitude;
    }
}

TEST_F(PlumpingTest, TheTimingScopeIsNamed) {
    TLog::ScopedCapture capture;
    Plump(webMercator, Share(Geom({}, {ToWorld(webMercator, {{-60, 0}, {60, 0}})}, {})));
    const auto& records = capture.Records();
    EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const TLog::Record& record) {
        return record.severity == TLog::Severity::Debug &&
               record.message.contains(
                   QStringLiteral("OGCOperations::PlumpGeometryForProjectionAndDevice"));
    }));
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
    const ConstGeomPtr plumped =
        Plump(plateCarree,
              Share(Geom({}, {}, {{ToWorld(plateCarree, outer), ToWorld(plateCarree, hole)}})));
    const Polygon& polygon = plumped->GetPolys().front();
    ASSERT_EQ(polygon.size(), 2u);
    ExpectClosedAlongPole(polygon[0], 0.0, 0.0);
    // The hole: closed along the edge too, clockwise, over the same world.
    EXPECT_NEAR(MinX(polygon[1]), MinX(polygon[0]), kSlack);
    EXPECT_NEAR(MaxX(polygon[1]), MaxX(polygon[0]), kSlack);
    EXPECT_LT(TwiceSignedArea(polygon[1]), 0.0);
    EXPECT_TRUE(geom::Contains(*plumped, {0.5, 0.5}));
    EXPECT_FALSE(geom::Contains(*plumped, {0.5, 0.1}));
    EXPECT_FALSE(geom::Contains(*plumped, {0.5, 0.9}));
}

TEST_F(PlumpingTest, PropertiesOverRandomRingsAndLines) {
    constexpr int kCases = 3000;
    const int deviceSizes[] = {256, 1000, 4096, 65536};
    RandomShapes shapes(20240611);
    int repaired = 0;
    int poleRings = 0;
    int segments = 0;
    int longSegments = 0; // over the length bound, accepted by the midpoint rule
    for (int i = 0; i < kCases; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const World& world = i % 2 == 0 ? webMercator : plateCarree;
        const double maxLatitude = i % 2 == 0 ? 84.0 : 89.0;
        const int deviceSize = deviceSizes[shapes.Integer(0, 3)];
        const double xOrigin = shapes.Integer(-2, 2) + shapes.Uniform(-0.5, 0.5);

        std::vector<Point> points;
        if (shapes.Integer(0, 4) == 0) {
            points.push_back({shapes.Uniform(-2.0, 2.0), shapes.Uniform(0.0, 1.0)});
        }
        std::vector<Path> lines;
        std::vector<Polygon> polys;
        std::vector<double> outerSigns; // per polygon: +1 or -1 for ordinary ones, 0 at a pole
        double poleEdge = 0.0;
        const int kind = shapes.Integer(0, 9);
        if (kind < 3) {
            for (int k = shapes.Integer(1, 3); k > 0; --k) {
                lines.push_back(ToWorld(world, shapes.Walk(maxLatitude)));
                shapes.ShiftSomeByWholeWorlds(lines.back());
            }
        } else if (kind < 8) {
            for (int k = shapes.Integer(1, 3); k > 0; --k) {
                const double lon = shapes.Uniform(-180.0, 180.0);
                const double lat = shapes.Uniform(-70.0, 70.0);
                // Clear of the latitude limit: a clamped star may cross itself.
                const double radius =
                    shapes.Uniform(0.5, std::min(40.0, maxLatitude - std::fabs(lat)));
                // Clockwise outer rings need repair too, which must not turn them around.
                const bool counterClockwise = shapes.Integer(0, 3) > 0;
                Polygon polygon{
                    ToWorld(world, shapes.Star(lon, lat, radius, counterClockwise, maxLatitude))};
                if (shapes.Integer(0, 2) == 0) {
                    polygon.push_back(
                        ToWorld(world, shapes.Star(lon, lat, 0.075 * radius, false, maxLatitude)));
                }
                for (Path& ring : polygon) {
                    shapes.ShiftSomeByWholeWorlds(ring);
                }
                polys.push_back(std::move(polygon));
                outerSigns.push_back(counterClockwise ? 1.0 : -1.0);
            }
        } else {
            const bool eastward = shapes.Integer(0, 1) == 1;
            polys.push_back({ToWorld(
                world, shapes.AroundPole(shapes.Integer(0, 1) == 1, eastward, maxLatitude))});
            shapes.ShiftSomeByWholeWorlds(polys.back().front());
            outerSigns.push_back(0.0);
            // An outer ring has its interior on the left: north of it when it runs east.
            poleEdge = eastward ? 1.0 : 0.0;
        }
        const ConstGeomPtr input = Share(Geom(points, lines, polys));
        ConstGeomPtr plumped;
        ASSERT_NO_THROW(plumped = Plump(world, input, xOrigin, deviceSize));
        ASSERT_TRUE(plumped);
        repaired += plumped != input ? 1 : 0;

        EXPECT_TRUE(SegmentsPassSplitTest(
            world, *plumped, ExpectedTolerance(world.forward, deviceSize), longSegments));
        for (const Path* path : AllPaths(*plumped)) {
            segments += static_cast<int>(path->size()) - 1;
        }
        EXPECT_EQ(plumped->GetPoints(), points);
        EXPECT_EQ(plumped->GetType(), input->GetType());
        ASSERT_EQ(plumped->GetLines().size(), lines.size());
        ASSERT_EQ(plumped->GetPolys().size(), polys.size());
        for (std::size_t l = 0; l < lines.size(); ++l) {
            // Continuous; a line may run around the world more than once.
            const Path& line = plumped->GetLines()[l];
            EXPECT_TRUE(Continuous(line, false));
            EXPECT_GE(MinX(line), xOrigin - kSlack);
            EXPECT_LE(MinX(line), xOrigin + 1.0 + kSlack);
            EXPECT_TRUE(KeepsVerticesInOrder(lines[l], line));
        }
        for (std::size_t p = 0; p < polys.size(); ++p) {
            const Polygon& polygon = plumped->GetPolys()[p];
            ASSERT_EQ(polygon.size(), polys[p].size());
            for (const Path& ring : polygon) {
                EXPECT_TRUE(Continuous(ring, true));
                EXPECT_EQ(ring.front(), ring.back());
            }
            const Path& outer = polygon.front();
            EXPECT_GE(MinX(outer), xOrigin - kSlack);
            EXPECT_LE(MinX(outer), xOrigin + 1.0 + kSlack);
            if (outerSigns[p] == 0.0) {
                ++poleRings;
                ExpectClosedAlongPole(outer, poleEdge, xOrigin);
                continue;
            }
            EXPECT_TRUE(KeepsVerticesInOrder(polys[p].front(), outer));
            EXPECT_GT(TwiceSignedArea(outer) * outerSigns[p], 0.0);
            for (std::size_t r = 1; r < polygon.size(); ++r) {
                // A hole stays in the same world as its outer ring.
                EXPECT_GE(MinX(polygon[r]), MinX(outer) - kSlack);
                EXPECT_LE(MaxX(polygon[r]), MaxX(outer) + kSlack);
            }
        }
        // Idempotent: what plumping gives needs nothing more (a clockwise outer ring is
        // repaired again, to the same values).
        const ConstGeomPtr again = Plump(world, plumped, xOrigin, deviceSize);
        EXPECT_EQ(*again, *plumped);
        if (std::find(outerSigns.begin(), outerSigns.end(), -1.0) == outerSigns.end()) {
            EXPECT_EQ(again, plumped);
        }
    }
    // The shapes exercise repair and poles often, and the midpoint rule lets few segments
    // through over the length bound.
    EXPECT_GT(repaired, 2000);
    EXPECT_GT(poleRings, 400);
    EXPECT_LT(longSegments, segments / 50) << longSegments << " of " << segments;
}
