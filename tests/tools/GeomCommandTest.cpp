#include "GeomCommand.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <sstream>

#include <lmxmaps/WktParser.h>

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result RunGeom(const std::vector<std::string>& args, const std::string& input) {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunGeomCommand(args, in, out, err);
    return {status, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

geom::ConstGeomPtr Parse(const std::string& wkt) {
    geom::ConstGeomPtr geometry;
    EXPECT_TRUE(WktParser::FromString(QString::fromStdString(wkt), geometry)) << wkt;
    return geometry;
}

// The line, or else the first ring of the polygon, of a geometry with one of them.
geom::Path OnlyPath(const geom::ConstGeom& geometry) {
    return geometry.GetLines().empty() ? geometry.GetPolys().at(0).at(0)
                                       : geometry.GetLines().at(0);
}

// Shoelace area of every polygon, holes subtracted.
double Area(const geom::ConstGeom& geometry) {
    double total = 0.0;
    for (const geom::Polygon& polygon : geometry.GetPolys()) {
        for (std::size_t r = 0; r < polygon.size(); ++r) {
            double twice = 0.0;
            for (std::size_t i = 0; i + 1 < polygon[r].size(); ++i) {
                twice +=
                    polygon[r][i].x * polygon[r][i + 1].y - polygon[r][i + 1].x * polygon[r][i].y;
            }
            total += (r == 0 ? 1.0 : -1.0) * std::abs(twice) / 2.0;
        }
    }
    return total;
}

} // namespace

TEST(GeomCommand, PlumpBendsLongSegmentsAlongTheGreatArc) {
    const Result result =
        RunGeom({"plump"}, "LINESTRING (-60 60, 60 60)\nLINESTRING (0 0, 0.01 0.01)\n");
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 2u);

    const geom::Path arc = Parse(lines[0])->GetLines().at(0);
    EXPECT_GT(arc.size(), 4u);
    EXPECT_NEAR(arc.front().x, -60, 1e-9);
    EXPECT_NEAR(arc.back().x, 60, 1e-9);
    EXPECT_NEAR(arc.back().y, 60, 1e-9);
    // The great circle through two points of the parallel 60 degrees north, 120 degrees apart,
    // runs poleward of it and peaks at atan(tan 60 / cos 60) = 73.9 degrees over longitude 0.
    for (std::size_t i = 1; i + 1 < arc.size(); ++i) {
        EXPECT_GT(arc[i].y, 60.0) << i;
        EXPECT_LT(arc[i].y, 73.9) << i;
    }
    const auto highest =
        std::max_element(arc.begin(), arc.end(), [](auto& a, auto& b) { return a.y < b.y; });
    EXPECT_GT(highest->y, 73.0);
    // A short segment needs nothing and comes back as it was.
    EXPECT_EQ(lines[1], "LINESTRING (0 0, 0.01 0.01)");
}

TEST(GeomCommand, PlumpKeepsEachPathsFirstVertexAndRunsOnFromIt) {
    // Folding into one world would start the first at 260 and the others at -170 and 190.
    for (const std::string wkt :
         {"LINESTRING (-100 10, -170 10, 170 20)", "LINESTRING (190 0, 200 5)",
          "POLYGON ((-170 -10, -170 10, 170 10, 170 -10, -170 -10))"}) {
        const Result result = RunGeom({"plump"}, wkt + "\n");
        ASSERT_EQ(result.status, 0) << result.err;
        const geom::Path given = OnlyPath(*Parse(wkt));
        const geom::Path plumped = OnlyPath(*Parse(result.out));
        EXPECT_NEAR(plumped.front().x, given.front().x, 1e-9) << result.out;
        EXPECT_NEAR(plumped.front().y, given.front().y, 1e-9) << result.out;
        for (std::size_t i = 1; i < plumped.size(); ++i) {
            EXPECT_LT(std::abs(plumped[i].x - plumped[i - 1].x), 180.0) << result.out;
        }
    }
}

TEST(GeomCommand, PlumpDensifiesMoreOnALargerDevice) {
    const std::string line = "LINESTRING (0 10, 40 50)\n";
    const Result coarse =
        RunGeom({"plump", "--device-size", "256", "--projection", "platecarree"}, line);
    const Result fine = RunGeom({"plump", "--device-size=65536", "--projection=platecarree"}, line);
    ASSERT_EQ(coarse.status, 0) << coarse.err;
    ASSERT_EQ(fine.status, 0) << fine.err;
    EXPECT_LT(Parse(coarse.out)->GetLines()[0].size(), Parse(fine.out)->GetLines()[0].size());
}

TEST(GeomCommand, GeneralizeThinsOrEchoes) {
    std::string zigzag = "LINESTRING (";
    for (int i = 0; i <= 20; ++i) {
        zigzag += (i > 0 ? ", " : "") + std::to_string(i) + " " + (i % 2 ? "0.001" : "0");
    }
    zigzag += ")";
    // T = 10 keeps points farther than 0.01 from the thinned line: none of the teeth.
    const Result result = RunGeom({"generalize", "--tolerance", "10"}, zigzag + "\nPOINT (1 2)\n");
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "LINESTRING (0 0, 20 0)");
    // Nothing to thin: the input as it was read.
    EXPECT_EQ(lines[1], "POINT (1 2)");
}

TEST(GeomCommand, UnionOfAllLines) {
    const Result result = RunGeom({"union"}, "POLYGON ((0 0, 2 0, 2 2, 0 2, 0 0))\n"
                                             "\n"
                                             "POLYGON ((1 1, 3 1, 3 3, 1 3, 1 1))\n"
                                             "POLYGON ((10 10, 11 10, 11 11, 10 11, 10 10))\n");
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 1u);
    const geom::ConstGeomPtr merged = Parse(lines[0]);
    EXPECT_EQ(merged->GetType(), geom::GeometryType::MultiPolygon);
    EXPECT_DOUBLE_EQ(Area(*merged), 4 + 4 - 1 + 1);

    EXPECT_EQ(RunGeom({"union"}, "").out, "GEOMETRYCOLLECTION EMPTY\n");
}

TEST(GeomCommand, CentroidPerLineAndBadLinesReported) {
    const Result result = RunGeom({"centroid"}, "POLYGON ((0 0, 4 0, 4 2, 0 2, 0 0))\n"
                                                "LINESTRING (0 0)\n"
                                                "POINT EMPTY\n"
                                                "garbage\n"
                                                "MULTIPOINT ((0 0), (2 4))\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "POINT (2 1)\n\nPOINT (1 2)\n");
    EXPECT_NE(result.err.find("line 2: A line in the geometry has fewer than two points."),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("line 4: not WKT"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("line 1"), std::string::npos);
    EXPECT_EQ(result.err.find("line 3"), std::string::npos);
    EXPECT_EQ(result.err.find("line 5"), std::string::npos);
}

TEST(GeomCommand, PlumpReportsRingsItCannotRepair) {
    // Four points with three on one line: no area at the lowest corner.
    const Result result =
        RunGeom({"plump"}, "POLYGON ((0 0, 1 0, 2 0, 0 0))\nLINESTRING (0 0, 1 1)\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("line 1: "), std::string::npos) << result.err;
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"LINESTRING (0 0, 1 1)"}));
}

TEST(GeomCommand, BadArguments) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"buffer"},
             {"generalize"},
             {"generalize", "--tolerance", "-1"},
             {"generalize", "--tolerance", "x"},
             {"plump", "--tolerance", "1"},
             {"union", "--projection", "mercator"},
             {"plump", "--device-size", "0"},
             {"plump", "--device-size", "1.5"},
             {"plump", "--projection", "lambert"},
             {"plump", "--projection", "identity"},
             {"plump", "--projection", "albers:-96,23,29.5,45.5,6378206.44,0.08"},
             {"plump", "--projection"},
             {"centroid", "--fast"},
         }) {
        const Result result = RunGeom(args, "POINT (0 0)\n");
        EXPECT_EQ(result.status, 2) << ::testing::PrintToString(args);
        EXPECT_TRUE(result.out.empty()) << ::testing::PrintToString(args);
        EXPECT_NE(result.err.find("lmxmaps geom: "), std::string::npos);
    }
    const Result help = RunGeom({"--help"}, "");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("webmercator"), std::string::npos);
}
