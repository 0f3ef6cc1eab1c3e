#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
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

std::string RoundTrip(const std::string& wkt) {
    const Extracted shape = Extract(wkt);
    return lmxgeo::WktSerialization::Compose(shape.type, shape.points, shape.lines, shape.polys);
}

// Shoelace area of the polygons, holes subtracted (outer rings counter-clockwise or not).
double Area(const std::vector<Polygon>& polys) {
    double total = 0.0;
    for (const Polygon& polygon : polys) {
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
    const std::string x0 = std::to_string(x);
    const std::string y0 = std::to_string(y);
    const std::string x1 = std::to_string(x + size);
    const std::string y1 = std::to_string(y + size);
    return "POLYGON ((" + x0 + " " + y0 + ", " + x1 + " " + y0 + ", " + x1 + " " + y1 + ", " + x0 +
           " " + y1 + ", " + x0 + " " + y0 + "))";
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

void RunSerially(std::size_t count, const std::function<void(std::size_t)>& task) {
    for (std::size_t i = 0; i < count; ++i) {
        task(i);
    }
}

std::string Unite(const std::vector<std::string>& shapes,
                  int options = Territories::kUnionMakeValid) {
    Territories::Union shapeUnion(RunOnThreads, options);
    for (const std::string& shape : shapes) {
        shapeUnion.Add(shape);
    }
    return shapeUnion.Finish(Territories::kOutputWkt);
}

} // namespace

TEST(WktExtraction, EveryShapeTypeWithItsArrays) {
    const Extracted point = Extract("POINT (1.5 -2.25)");
    EXPECT_EQ(point.type, ShapeType::kPoint);
    EXPECT_EQ(point.points, (std::vector<XY>{{1.5, -2.25}}));

    const Extracted line = Extract("linestring(0 0,1 1, 2 0)");
    EXPECT_EQ(line.type, ShapeType::kLine);
    EXPECT_EQ(line.lines, (std::vector<Path>{{{0, 0}, {1, 1}, {2, 0}}}));

    const Extracted polygon =
        Extract("POLYGON ((0 0, 4 0, 4 4, 0 4, 0 0), (1 1, 1 2, 2 2, 2 1, 1 1))");
    EXPECT_EQ(polygon.type, ShapeType::kPolygon);
    ASSERT_EQ(polygon.polys.size(), 1u);
    EXPECT_EQ(polygon.polys[0].size(), 2u);
    EXPECT_EQ(polygon.polys[0][1][2], (XY{2, 2}));

    EXPECT_EQ(Extract("MULTIPOINT ((1 2), (3 4))").type, ShapeType::kMultiPoint);
    EXPECT_EQ(Extract("MULTIPOINT (1 2, 3 4)").points, (std::vector<XY>{{1, 2}, {3, 4}}));
    // The type named in the text, even when one member would fit a simpler one.
    EXPECT_EQ(Extract("MULTIPOINT ((1 2))").type, ShapeType::kMultiPoint);
    EXPECT_EQ(Extract("MULTILINESTRING ((0 0, 1 1), (2 2, 3 3))").lines.size(), 2u);
    EXPECT_EQ(Extract("MULTILINESTRING ((0 0, 1 1), (2 2, 3 3))").type, ShapeType::kMultiLine);
    EXPECT_EQ(Extract("MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0)), ((5 5, 6 5, 6 6, 5 5)))").type,
              ShapeType::kMultiPolygon);

    const Extracted collection = Extract("GEOMETRYCOLLECTION (POINT (1 1), "
                                         "MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0))), "
                                         "LINESTRING (0 0, 1 1), POINT (2 2), POINT EMPTY)");
    EXPECT_EQ(collection.type, ShapeType::kCollection);
    EXPECT_EQ(collection.points, (std::vector<XY>{{1, 1}, {2, 2}}));
    EXPECT_EQ(collection.lines.size(), 1u);
    EXPECT_EQ(collection.polys.size(), 1u);

    // An unclosed ring is closed.
    EXPECT_EQ(Extract("POLYGON ((0 0, 1 0, 1 1))").polys[0][0],
              (Path{{0, 0}, {1, 0}, {1, 1}, {0, 0}}));
    // Z and M are dropped.
    EXPECT_EQ(Extract("POINT Z (1 2 3)").points, (std::vector<XY>{{1, 2}}));
}

TEST(WktExtraction, EmptyShapesAndTextThatIsNotWkt) {
    for (const char* empty : {"POINT EMPTY", "GEOMETRYCOLLECTION EMPTY", "MULTIPOLYGON EMPTY",
                              "GEOMETRYCOLLECTION (POINT EMPTY)"}) {
        const Extracted shape = Extract(empty);
        EXPECT_EQ(shape.type, ShapeType::kEmpty) << empty;
        EXPECT_TRUE(shape.points.empty() && shape.lines.empty() && shape.polys.empty()) << empty;
    }
    for (const char* text : {"", "garbage", "POINT (1)", "POINT (1 2", "POINT (1 2) and more",
                             "CIRCLE (0 0, 1)", "POINT (1 2) x"}) {
        EXPECT_EQ(Extract(text).type, ShapeType::kUnknown) << text;
    }
    // Arrays from an earlier call do not survive a failed one.
    std::vector<XY> points{{9, 9}};
    std::vector<Path> lines;
    std::vector<Polygon> polys;
    EXPECT_EQ(lmxgeo::WktSerialization::Extract("nonsense", points, lines, polys),
              ShapeType::kUnknown);
    EXPECT_TRUE(points.empty());
}

TEST(WktExtraction, ShortPathsRaiseTheirOwnTexts) {
    auto messageOf = [](const std::string& wkt) {
        try {
            Extract(wkt);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(messageOf("LINESTRING (0 0)"), "line has less than 2 points");
    EXPECT_EQ(messageOf("MULTILINESTRING ((0 0, 1 1), (2 2))"), "line has less than 2 points");
    EXPECT_EQ(messageOf("POLYGON ((0 0, 1 1, 0 0))"), "ring has less than 4 points");
    // Closing two points gives three, still too few.
    EXPECT_EQ(messageOf("POLYGON ((0 0, 1 0))"), "ring has less than 4 points");
    EXPECT_EQ(messageOf("POLYGON ((0 0, 4 0, 4 4, 0 0), (1 1, 2 1, 1 1))"),
              "ring has less than 4 points");
    EXPECT_EQ(messageOf("GEOMETRYCOLLECTION (MULTIPOLYGON (((0 0, 1 0, 0 0))))"),
              "ring has less than 4 points");
}

TEST(WktComposition, WritesWhatExtractionReadsBack) {
    for (const char* wkt :
         {"POINT (1.5 -2.25)", "LINESTRING (0 0, 1 1, 2 0)", "POLYGON ((0 0, 4 0, 4 4, 0 0))",
          "POLYGON ((0 0, 4 0, 4 4, 0 4, 0 0), (1 1, 1 2, 2 2, 2 1, 1 1))", "MULTIPOINT ((1 2))",
          "MULTILINESTRING ((0 0, 1 1), (2 2, 3 3))",
          "MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0)), ((5 5, 6 5, 6 6, 5 5)))",
          "GEOMETRYCOLLECTION (POINT (1 1), LINESTRING (0 0, 1 1), POLYGON ((0 0, 1 0, 1 1, 0 0)))",
          "GEOMETRYCOLLECTION EMPTY"}) {
        EXPECT_EQ(RoundTrip(wkt), wkt);
    }
    // Shortest decimal form that reads back to the same double.
    EXPECT_EQ(RoundTrip("POINT (0.1 1e300)"), "POINT (0.1 1e+300)");
    EXPECT_EQ(RoundTrip("POINT (0.30000000000000004 -0)"), "POINT (0.30000000000000004 -0)");
    EXPECT_EQ(RoundTrip("POINT (NaN Inf)"), "POINT (NaN Inf)");
    EXPECT_EQ(RoundTrip("POINT EMPTY"), "GEOMETRYCOLLECTION EMPTY");
}

TEST(WktComposition, TypesThatDoNotFitTheArraysGiveWay) {
    using lmxgeo::WktSerialization::Compose;
    const std::vector<XY> twoPoints{{1, 2}, {3, 4}};
    EXPECT_EQ(Compose(ShapeType::kPoint, twoPoints, {}, {}), "MULTIPOINT ((1 2), (3 4))");
    EXPECT_EQ(Compose(ShapeType::kUnknown, {{1, 2}}, {}, {}), "POINT (1 2)");
    EXPECT_EQ(Compose(ShapeType::kLine, {{1, 2}}, {{{0, 0}, {1, 1}}}, {}),
              "GEOMETRYCOLLECTION (POINT (1 2), LINESTRING (0 0, 1 1))");
    EXPECT_EQ(Compose(ShapeType::kPolygon, {}, {}, {}), "GEOMETRYCOLLECTION EMPTY");
    EXPECT_EQ(Compose(ShapeType::kMultiLine, {}, {{}}, {}), "MULTILINESTRING (EMPTY)");
}

TEST(CustomTerritories, CreatePoint) {
    EXPECT_EQ(Territories::CreatePoint(1.5, -2.25), "POINT (1.5 -2.25)");
    EXPECT_EQ(Territories::CreatePoint(-180, 90), "POINT (-180 90)");
    EXPECT_EQ(Territories::CreatePoint(std::nan(""), 1), "POINT EMPTY");
}

TEST(CustomTerritoriesUnion, OverlappingSquaresMergeIntoTheirOutline) {
    // Squares [i, i + 2] x [0, 2] for i = 0..6 cover [0, 8] x [0, 2]; seven is not a power of
    // two, so some shapes sit out a round.
    std::vector<std::string> squares;
    for (int i = 0; i < 7; ++i) {
        squares.push_back(Square(i, 0, 2));
    }
    const Extracted merged = Extract(Unite(squares));
    EXPECT_EQ(merged.type, ShapeType::kPolygon);
    EXPECT_DOUBLE_EQ(Area(merged.polys), 16.0);

    // A disjoint square stays apart; two overlapping ones lose their shared square.
    const Extracted parts = Extract(Unite({Square(0, 0, 2), Square(1, 1, 2), Square(10, 10, 1)}));
    EXPECT_EQ(parts.type, ShapeType::kMultiPolygon);
    EXPECT_EQ(parts.polys.size(), 2u);
    EXPECT_DOUBLE_EQ(Area(parts.polys), 4.0 + 4.0 - 1.0 + 1.0);

    // One multi-polygon of touching parts dissolves like several shapes would.
    const Extracted single =
        Extract(Unite({"MULTIPOLYGON (((0 0, 1 0, 1 1, 0 1, 0 0)), ((1 0, 2 0, 2 1, 1 1, 1 0)))"}));
    EXPECT_EQ(single.type, ShapeType::kPolygon);
    EXPECT_DOUBLE_EQ(Area(single.polys), 2.0);
}

TEST(CustomTerritoriesUnion, InvalidInputIsMadeValidFirst) {
    // A bow tie: two triangles of area 1 meeting at (1, 1).
    const Extracted merged = Extract(Unite({"POLYGON ((0 0, 2 2, 2 0, 0 2, 0 0))"}));
    EXPECT_DOUBLE_EQ(Area(merged.polys), 2.0);
}

TEST(CustomTerritoriesUnion, EmptyUnionAndRejectedArguments) {
    EXPECT_EQ(Unite({}), "GEOMETRYCOLLECTION EMPTY");
    EXPECT_THROW(Territories::Union(RunSerially, 2), std::invalid_argument);
    Territories::Union shapeUnion(RunSerially, Territories::kUnionMakeValid);
    EXPECT_THROW(shapeUnion.Add("POLYGON ((0 0, 1 0"), std::invalid_argument);
    shapeUnion.Add(Square(0, 0, 1));
    EXPECT_THROW(shapeUnion.Finish(1), std::invalid_argument);
    EXPECT_DOUBLE_EQ(Area(Extract(shapeUnion.Finish(Territories::kOutputWkt)).polys), 1.0);
}

TEST(CustomTerritoriesUnion, UnionsOnManyThreadsAtOnceStayApart) {
    constexpr int kThreads = 4;
    std::atomic<int> correct{0};
    RunOnThreads(kThreads, [&correct](std::size_t i) {
        const double offset = 100.0 * static_cast<double>(i);
        const Extracted merged = Extract(Unite({Square(offset, 0, 2), Square(offset + 1, 0, 2)}));
        if (merged.type == ShapeType::kPolygon && Area(merged.polys) == 6.0) {
            ++correct;
        }
    });
    EXPECT_EQ(correct.load(), kThreads);
}

TEST(CustomTerritoriesCentroid, CentroidInsideOrTheBestStandIn) {
    Territories::Centroid plain;
    EXPECT_EQ(plain.Finish(Square(0, 0, 2)), (XY{1, 1}));
    EXPECT_EQ(plain.Finish("LINESTRING (0 0, 4 0)"), (XY{2, 0}));
    const XY none = plain.Finish("POLYGON EMPTY");
    EXPECT_TRUE(std::isnan(none.x) && std::isnan(none.y));
    EXPECT_THROW(plain.Finish("not a shape"), std::invalid_argument);

    // A frame: [0, 6]^2 without [1, 5]^2; its centroid (3, 3) lies in the hole.
    const std::string frame = "POLYGON ((0 0, 6 0, 6 6, 0 6, 0 0), (1 1, 5 1, 5 5, 1 5, 1 1))";
    Territories::Centroid withConstituents;
    withConstituents.AddConstituent(3, 3.5);   // in the hole
    withConstituents.AddConstituent(0.5, 0.5); // in the frame, farther
    withConstituents.AddConstituent(5.5, 3);   // in the frame, nearest
    withConstituents.AddConstituent(std::nan(""), 3);
    EXPECT_EQ(withConstituents.Finish(frame), (XY{5.5, 3}));

    // No constituent inside: a point on the frame itself.
    Territories::Centroid outside;
    outside.AddConstituent(3, 3);
    const XY surface = outside.Finish(frame);
    const bool inOuter = surface.x >= 0 && surface.x <= 6 && surface.y >= 0 && surface.y <= 6;
    const bool inHole = surface.x > 1 && surface.x < 5 && surface.y > 1 && surface.y < 5;
    EXPECT_TRUE(inOuter && !inHole) << surface.x << " " << surface.y;
}

TEST(Spatial, KeepsItsShapeAndKind) {
    const auto geography =
        lmxgeo::Spatial::FromWkt("MULTIPOINT ((1 2))", lmxgeo::Spatial::Kind::Geography);
    EXPECT_TRUE(geography->IsGeography());
    EXPECT_FALSE(geography->IsGeometry());
    EXPECT_EQ(geography->ToWkt(), "MULTIPOINT ((1 2))");
    std::vector<XY> points;
    std::vector<Path> lines{{{0, 0}}};
    std::vector<Polygon> polys;
    EXPECT_EQ(geography->ToArrays(points, lines, polys), ShapeType::kMultiPoint);
    EXPECT_EQ(points, (std::vector<XY>{{1, 2}}));
    EXPECT_TRUE(lines.empty());

    const auto planar =
        lmxgeo::Spatial::FromWkt("MULTIPOINT (1 2)", lmxgeo::Spatial::Kind::Geometry);
    EXPECT_FALSE(planar->IsEqual(*geography));
    EXPECT_TRUE(geography->IsEqual(
        *lmxgeo::Spatial::FromWkt("MULTIPOINT (1 2)", lmxgeo::Spatial::Kind::Geography)));
    EXPECT_FALSE(geography->IsEqual(
        *lmxgeo::Spatial::FromWkt("POINT (1 2)", lmxgeo::Spatial::Kind::Geography)));

    EXPECT_THROW(lmxgeo::Spatial::FromWkt("nonsense", lmxgeo::Spatial::Kind::Geometry),
                 std::invalid_argument);
}
