// The host's shape services where the geometry layer above them does not reach: the WKT
// reader's and writer's own forms, the union's tree rounds and arguments, the centroid's
// stand-in rules and the spatial value. Types, failures and short paths are covered through
// WktParser; the union and centroid basics through GeometryEngine.

#include <atomic>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <lmxmaps/host/Shapes.h>

using lmxgeo::Path;
using lmxgeo::Polygon;
using lmxgeo::XY;
namespace ShapeType = lmxgeo::ShapeType;
namespace Territories = lmxgeo::CustomTerritories;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Extracted {
    int type = -1;
    std::vector<XY> points;
    std::vector<Path> lines;
    std::vector<Polygon> polys;
};

Extracted Extract(const std::string& wkt) {
    Extracted result;
    result.type = lmxgeo::WktSerialization::Extract(wkt, result.points, result.lines, result.polys);
    return result;
}

// Shoelace area of the polygons, holes subtracted (outer rings counter-clockwise or not).
double Area(const std::string& wkt) {
    double total = 0.0;
    for (const Polygon& polygon : Extract(wkt).polys) {
        for (std::size_t r = 0; r < polygon.size(); ++r) {
            double twice = 0.0;
            const Path& ring = polygon[r];
            for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
                twice += ring[i].x * ring[i + 1].y - ring[i + 1].x * ring[i].y;
            }
            total += (r == 0 ? 1.0 : -1.0) * std::abs(twice) / 2.0;
        }
    }
    return total;
}

std::string Square(double x, double y, double size) {
    const auto corner = [](double cx, double cy) {
        return std::to_string(cx) + " " + std::to_string(cy);
    };
    return "POLYGON ((" + corner(x, y) + ", " + corner(x + size, y) + ", " +
           corner(x + size, y + size) + ", " + corner(x, y + size) + ", " + corner(x, y) + "))";
}

// Runs every task on a thread of its own, all at once.
void RunOnThreads(std::size_t count, const std::function<void(std::size_t)>& task) {
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < count; ++i) {
        threads.emplace_back(task, i);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

std::string Unite(const std::vector<std::string>& shapes) {
    Territories::Union shapeUnion(RunOnThreads, Territories::kUnionMakeValid);
    for (const std::string& shape : shapes) {
        shapeUnion.Add(shape);
    }
    return shapeUnion.Finish(Territories::kOutputWkt);
}

} // namespace

TEST(WktSerialization, ReadsLooseFormsWritesCanonicalOnesAndGivesWayToTypesThatDoNotFit) {
    const std::pair<const char*, const char*> cases[] = {
        {"linestring(0 0,1 1, 2 0)", "LINESTRING (0 0, 1 1, 2 0)"},
        {"MULTIPOINT (1 2, 3 4)", "MULTIPOINT ((1 2), (3 4))"},
        {"MULTIPOINT ((1 2))", "MULTIPOINT ((1 2))"},
        {"POLYGON ((0 0, 1 0, 1 1))", "POLYGON ((0 0, 1 0, 1 1, 0 0))"},
        {"POINT Z (1 2 3)", "POINT (1 2)"},
        {"POINT EMPTY", "GEOMETRYCOLLECTION EMPTY"},
        {"GEOMETRYCOLLECTION (POINT EMPTY)", "GEOMETRYCOLLECTION EMPTY"},
        {"GEOMETRYCOLLECTION (POINT (1 1), MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0))), "
         "LINESTRING (0 0, 1 1), POINT (2 2), POINT EMPTY)",
         "GEOMETRYCOLLECTION (POINT (1 1), POINT (2 2), LINESTRING (0 0, 1 1), "
         "POLYGON ((0 0, 1 0, 1 1, 0 0)))"},
        // Shortest decimal form that reads back to the same double.
        {"POINT (0.1 1e300)", "POINT (0.1 1e+300)"},
        {"POINT (0.30000000000000004 -0)", "POINT (0.30000000000000004 -0)"},
        {"POINT (NaN Inf)", "POINT (NaN Inf)"},
    };
    for (const auto& [text, expected] : cases) {
        const Extracted shape = Extract(text);
        EXPECT_EQ(
            lmxgeo::WktSerialization::Compose(shape.type, shape.points, shape.lines, shape.polys),
            expected)
            << text;
    }

    // Types that do not fit the arrays give way.
    using lmxgeo::WktSerialization::Compose;
    EXPECT_EQ(Compose(ShapeType::kPoint, {{1, 2}, {3, 4}}, {}, {}), "MULTIPOINT ((1 2), (3 4))");
    EXPECT_EQ(Compose(ShapeType::kUnknown, {{1, 2}}, {}, {}), "POINT (1 2)");
    EXPECT_EQ(Compose(ShapeType::kLine, {{1, 2}}, {{{0, 0}, {1, 1}}}, {}),
              "GEOMETRYCOLLECTION (POINT (1 2), LINESTRING (0 0, 1 1))");
    EXPECT_EQ(Compose(ShapeType::kPolygon, {}, {}, {}), "GEOMETRYCOLLECTION EMPTY");
    EXPECT_EQ(Compose(ShapeType::kMultiLine, {}, {{}}, {}), "MULTILINESTRING (EMPTY)");
}

TEST(CustomTerritoriesUnion, MergesInGroupsMakesInputValidSurvivesBadArgumentsAndThreads) {
    // Squares [i, i + 2] x [0, 2] for i = 0..6 cover [0, 8] x [0, 2]; seven do not split evenly
    // into groups, and neighbouring groups overlap.
    std::vector<std::string> squares;
    for (int i = 0; i < 7; ++i) {
        squares.push_back(Square(i, 0, 2));
    }
    const std::string merged = Unite(squares);
    EXPECT_EQ(Extract(merged).type, ShapeType::kPolygon);
    EXPECT_DOUBLE_EQ(Area(merged), 16.0);
    // One multi-polygon of touching parts dissolves like several shapes would.
    const std::string single =
        Unite({"MULTIPOLYGON (((0 0, 1 0, 1 1, 0 1, 0 0)), ((1 0, 2 0, 2 1, 1 1, 1 0)))"});
    EXPECT_EQ(Extract(single).type, ShapeType::kPolygon);
    EXPECT_DOUBLE_EQ(Area(single), 2.0);
    // A bow tie: two triangles of area 1 meeting at (1, 1).
    EXPECT_DOUBLE_EQ(Area(Unite({"POLYGON ((0 0, 2 2, 2 0, 0 2, 0 0))"})), 2.0);

    const auto serially = [](std::size_t count, const std::function<void(std::size_t)>& task) {
        for (std::size_t i = 0; i < count; ++i) {
            task(i);
        }
    };
    constexpr int kUnknownOption = 2;
    constexpr int kUnknownOutput = 1;
    EXPECT_THROW(Territories::Union(serially, kUnknownOption), std::invalid_argument);
    Territories::Union shapeUnion(serially, Territories::kUnionMakeValid);
    EXPECT_THROW(shapeUnion.Add("POLYGON ((0 0, 1 0"), std::invalid_argument);
    shapeUnion.Add(Square(0, 0, 1));
    EXPECT_THROW(shapeUnion.Finish(kUnknownOutput), std::invalid_argument);
    EXPECT_DOUBLE_EQ(Area(shapeUnion.Finish(Territories::kOutputWkt)), 1.0);
    EXPECT_EQ(Territories::CreatePoint(kNaN, 1), "POINT EMPTY");

    constexpr int kThreads = 4;
    std::atomic<int> correct{0};
    RunOnThreads(kThreads, [&correct](std::size_t i) {
        const double offset = 100.0 * static_cast<double>(i);
        const std::string threadMerged = Unite({Square(offset, 0, 2), Square(offset + 1, 0, 2)});
        if (Extract(threadMerged).type == ShapeType::kPolygon && Area(threadMerged) == 6.0) {
            ++correct;
        }
    });
    EXPECT_EQ(correct.load(), kThreads);
}

TEST(CustomTerritoriesCentroid, NearestConstituentOrAPointOnTheSurfaceAndSpatialKeepsItsKind) {
    EXPECT_EQ(Territories::Centroid().Finish("LINESTRING (0 0, 4 0)"), (XY{2, 0}));
    // A frame: [0, 6]^2 without [1, 5]^2; its centroid (3, 3) lies in the hole.
    const std::string frame = "POLYGON ((0 0, 6 0, 6 6, 0 6, 0 0), (1 1, 5 1, 5 5, 1 5, 1 1))";
    Territories::Centroid withConstituents;
    withConstituents.AddConstituent(3, 3.5);   // in the hole
    withConstituents.AddConstituent(0.5, 0.5); // in the frame, farther
    withConstituents.AddConstituent(5.5, 3);   // in the frame, nearest
    withConstituents.AddConstituent(kNaN, 3);
    EXPECT_EQ(withConstituents.Finish(frame), (XY{5.5, 3}));

    Territories::Centroid outside;
    outside.AddConstituent(3, 3);
    const XY surface = outside.Finish(frame);
    const bool inOuter = surface.x >= 0 && surface.x <= 6 && surface.y >= 0 && surface.y <= 6;
    const bool inHole = surface.x > 1 && surface.x < 5 && surface.y > 1 && surface.y < 5;
    EXPECT_TRUE(inOuter && !inHole) << surface.x << " " << surface.y;

    using lmxgeo::Spatial;
    const auto geography = Spatial::FromWkt("MULTIPOINT ((1 2))", Spatial::Kind::Geography);
    EXPECT_TRUE(geography->IsGeography());
    EXPECT_FALSE(geography->IsGeometry());
    EXPECT_EQ(geography->ToWkt(), "MULTIPOINT ((1 2))");
    std::vector<XY> points;
    std::vector<Path> lines{{{0, 0}}};
    std::vector<Polygon> polys;
    EXPECT_EQ(geography->ToArrays(points, lines, polys), ShapeType::kMultiPoint);
    EXPECT_EQ(points, (std::vector<XY>{{1, 2}}));
    EXPECT_TRUE(lines.empty());

    EXPECT_FALSE(
        Spatial::FromWkt("MULTIPOINT (1 2)", Spatial::Kind::Geometry)->IsEqual(*geography));
    EXPECT_TRUE(
        geography->IsEqual(*Spatial::FromWkt("MULTIPOINT (1 2)", Spatial::Kind::Geography)));
    EXPECT_FALSE(geography->IsEqual(*Spatial::FromWkt("POINT (1 2)", Spatial::Kind::Geography)));
    EXPECT_THROW(Spatial::FromWkt("nonsense", Spatial::Kind::Geometry), std::invalid_argument);
}
