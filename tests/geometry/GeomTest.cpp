// The geometry value: its type, bounds, containment and point maps.

#include <gtest/gtest.h>

#include <lmxmaps/Geom.h>

using geom::ConstGeom;
using geom::Geom;
using geom::GeometryType;
using geom::Path;
using geom::Point;
using geom::Polygon;

namespace {

const Path kSquare{{0, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 0}};
const Path kHole{{1, 1}, {1, 2}, {2, 2}, {2, 1}, {1, 1}};

} // namespace

TEST(Geom, ComputeTypeFollowsTheTable) {
    const Path line{{0, 0}, {1, 1}};
    const Polygon polygon{kSquare};
    const std::pair<Geom, GeometryType> cases[] = {
        {Geom(), GeometryType::Empty},
        {Geom({{1, 2}}, {}, {}), GeometryType::Point},
        {Geom({}, {line}, {}), GeometryType::Line},
        {Geom({}, {}, {polygon}), GeometryType::Polygon},
        {Geom({{1, 2}, {3, 4}}, {}, {}), GeometryType::MultiPoint},
        {Geom({}, {line, line}, {}), GeometryType::MultiLine},
        {Geom({}, {}, {polygon, polygon}), GeometryType::MultiPolygon},
        {Geom({{1, 2}}, {line}, {}), GeometryType::Collection},
        {Geom({{1, 2}}, {}, {polygon}), GeometryType::Collection},
        {Geom({}, {line}, {polygon}), GeometryType::Collection},
    };
    for (const auto& [geometry, type] : cases) {
        SCOPED_TRACE(static_cast<int>(type));
        EXPECT_EQ(geometry.ComputeType(), type);
        const ConstGeom computed{Geom(geometry)};
        EXPECT_EQ(computed.GetType(), type);
        EXPECT_EQ(computed.IsEmpty(), type == GeometryType::Empty);
        EXPECT_EQ(computed.Get(), geometry);
    }
    // A given type is kept as given.
    EXPECT_EQ(ConstGeom(Geom({}, {line}, {}), GeometryType::Polygon).GetType(),
              GeometryType::Polygon);
}

TEST(Geom, EqualityComparesEveryPart) {
    const Geom a({{1, 2}}, {{{0, 0}, {1, 1}}}, {{kSquare}});
    Geom b = a;
    EXPECT_TRUE(a == b);
    b.GetPolys().front().front()[2].y = 5;
    EXPECT_TRUE(a != b);
    b = a;
    b.GetLines().front().push_back({2, 2});
    EXPECT_FALSE(a == b);
}

TEST(Geom, Bounds) {
    const ConstGeom geometry(Geom({{-5, 1}}, {{{0, 0}, {2, 9}}}, {{kSquare}}));
    EXPECT_EQ(geom::Bounds(geometry), (geom::Rect{-5, 0, 4, 9}));
    EXPECT_EQ(geom::Bounds(geometry.GetPoints()), (geom::Rect{-5, 1, -5, 1}));
    EXPECT_EQ(geom::Bounds(geometry.GetLines()), (geom::Rect{0, 0, 2, 9}));
    EXPECT_EQ(geom::Bounds(geometry.GetPolys()), (geom::Rect{0, 0, 4, 4}));
    const geom::Rect empty = geom::Bounds(ConstGeom(Geom()));
    EXPECT_GT(empty.minX, empty.maxX);
    EXPECT_GT(empty.minY, empty.maxY);
}

TEST(Geom, Contains) {
    const ConstGeom polygon(Geom({}, {}, {{kSquare, kHole}}));
    EXPECT_TRUE(geom::Contains(polygon, {3, 3}));
    EXPECT_FALSE(geom::Contains(polygon, {1.5, 1.5})); // in the hole
    EXPECT_FALSE(geom::Contains(polygon, {5, 1}));
    EXPECT_TRUE(geom::Contains(polygon, {4, 2}));   // on the outer ring
    EXPECT_TRUE(geom::Contains(polygon, {1, 1.5})); // on the hole's ring
    EXPECT_TRUE(geom::Contains(polygon, {0, 0}));   // a vertex

    const ConstGeom lines(Geom({{9, 9}}, {{{0, 0}, {2, 2}, {4, 0}}, {{7, 7}}}, {}));
    EXPECT_TRUE(geom::Contains(lines, {1, 1}));
    EXPECT_TRUE(geom::Contains(lines, {3, 1}));
    EXPECT_FALSE(geom::Contains(lines, {2, 1}));
    EXPECT_TRUE(geom::Contains(lines, {9, 9}));
    EXPECT_TRUE(geom::Contains(lines, {7, 7}));
    EXPECT_FALSE(geom::Contains(ConstGeom(Geom()), {0, 0}));
    // A multi-polygon: inside either.
    const Path far{{10, 10}, {11, 10}, {11, 11}, {10, 10}};
    const ConstGeom multi(Geom({}, {}, {{kSquare}, {far}}));
    EXPECT_TRUE(geom::Contains(multi, {10.8, 10.5}));
    EXPECT_FALSE(geom::Contains(multi, {10.2, 10.8}));
}

TEST(Geom, ForAllMapsAndTestsEveryPoint) {
    const Geom geometry({{1, 1}}, {{{0, 0}, {2, 2}}}, {{kSquare, kHole}});
    Geom shifted;
    geom::ForAll(geometry, shifted, [](const Point& p) { return Point{p.x + 10, p.y * 2}; });
    EXPECT_EQ(shifted.GetPoints(), (std::vector<Point>{{11, 2}}));
    EXPECT_EQ(shifted.GetLines().front(), (Path{{10, 0}, {12, 4}}));
    EXPECT_EQ(shifted.GetPolys().front()[1].front(), (Point{11, 2}));
    EXPECT_EQ(shifted.GetPolys().front()[0].size(), kSquare.size());
    // In place.
    Geom same = geometry;
    geom::ForAll(same, same, [](const Point& p) { return Point{-p.x, p.y}; });
    EXPECT_EQ(same.GetLines().front(), (Path{{0, 0}, {-2, 2}}));

    EXPECT_TRUE(geom::ForAll(geometry, [](const Point& p) { return p.x >= 0 && p.y >= 0; }));
    EXPECT_FALSE(geom::ForAll(geometry, [](const Point& p) { return p.x < 4; }));
    int visited = 0;
    geom::ForAll(geometry, [&](const Point&) {
        ++visited;
        return true;
    });
    EXPECT_EQ(visited, 1 + 2 + 5 + 5);
}
