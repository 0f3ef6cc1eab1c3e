#include <cmath>
#include <gtest/gtest.h>

#include <lmxmaps/WktParser.h>
#include <lmxmaps/host/SpatialException.h>
#include <lmxmaps/host/StringTable.h>

namespace {

using geom::GeometryType;
using geom::Point;

geom::ConstGeomPtr Parse(const char* wkt) {
    geom::ConstGeomPtr out;
    WktParser::FromString(QString::fromUtf8(wkt), out);
    return out;
}

// The localized text a parse of wkt raises, or "no exception".
TString RaisedText(const char* wkt) {
    geom::ConstGeomPtr out;
    try {
        WktParser::FromString(QString::fromUtf8(wkt), out);
    } catch (const SpatialOGRTypeException& e) {
        return e.GetMessage();
    }
    return QStringLiteral("no exception");
}

constexpr StringId kLineTooShortText = 0x83d114c3u;
constexpr StringId kRingTooShortText = 0xd238b0dau;

} // namespace

TEST(WktParser, RepeatedAndNaNPointsGoAndPathsCleanedBelowALineOrARingGoWithThem) {
    // Only consecutive repeats go; a NaN or infinite point goes, and the points around it may
    // then repeat. A line needs two points, a ring four; a polygon goes with its outer ring.
    // Points are taken as they are, and the type stays unless nothing is left.
    const std::pair<const char*, const char*> cases[] = {
        {"LINESTRING (0 0, 0 0, 1 1)", "LINESTRING (0 0, 1 1)"},
        {"LINESTRING (0 0, 1 NaN, 0 0, 2 2, Inf -Inf, 3 3)", "LINESTRING (0 0, 2 2, 3 3)"},
        {"LINESTRING (0 0, 1 1, 0 0)", "LINESTRING (0 0, 1 1, 0 0)"},
        {"POLYGON ((0 0, 4 0, 4 0, 4 4, NaN 2, 0 4, 0 0), (1 1, 1 2, 2 2, 2 2, 1 1))",
         "POLYGON ((0 0, 4 0, 4 4, 0 4, 0 0), (1 1, 1 2, 2 2, 1 1))"},
        {"MULTIPOINT ((1 1), (1 1))", "MULTIPOINT ((1 1), (1 1))"},
        {"MULTILINESTRING ((0 0, 1 1), (5 5, 5 5))", "MULTILINESTRING ((0 0, 1 1))"},
        {"LINESTRING (5 5, 5 5)", "GEOMETRYCOLLECTION EMPTY"},
        {"POINT (nan 1)", "GEOMETRYCOLLECTION EMPTY"},
        {"MULTIPOINT ((1 2), (3 NaN))", "MULTIPOINT ((1 2))"},
        {"MULTILINESTRING ((0 0, 1 1), (2 2, 2 NaN))", "MULTILINESTRING ((0 0, 1 1))"},
        {"POLYGON ((0 0, 4 0, 4 4, 0 0), (1 1, 1 1, 2 2, 1 1))", "POLYGON ((0 0, 4 0, 4 4, 0 0))"},
        {"MULTIPOLYGON (((0 0, 4 0, 4 4, 0 0)), ((1 1, 2 2, 2 2, 1 1)))",
         "MULTIPOLYGON (((0 0, 4 0, 4 4, 0 0)))"},
    };
    for (const auto& [wkt, written] : cases) {
        EXPECT_EQ(WktWriter::ToWkt(*Parse(wkt)), written) << wkt;
        EXPECT_EQ(WktWriter::ToWkt(*Parse(written)), written) << wkt;
    }
    EXPECT_EQ(Parse("LINESTRING (5 5, 5 5)")->GetType(), GeometryType::Empty);
}

TEST(WktParser, EveryShapeTypeReadsAndWritesBack) {
    const std::pair<const char*, GeometryType> cases[] = {
        {"GEOMETRYCOLLECTION EMPTY", GeometryType::Empty},
        {"POINT (1.5 -2.25)", GeometryType::Point},
        {"LINESTRING (0 0, 1 1, 2 0)", GeometryType::Line},
        {"POLYGON ((0 0, 4 0, 4 4, 0 4, 0 0), (1 1, 1 2, 2 2, 2 1, 1 1))", GeometryType::Polygon},
        {"MULTIPOINT ((0.1 0.2), (1e-300 -1e+300))", GeometryType::MultiPoint},
        {"MULTILINESTRING ((0 0, 1 1), (2 2, 3 3))", GeometryType::MultiLine},
        {"MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0)), ((5 5, 6 5, 6 6, 5 5)))",
         GeometryType::MultiPolygon},
        {"GEOMETRYCOLLECTION (POINT (1 2), LINESTRING (0 0, 1 1), POLYGON ((0 0, 1 0, 1 1, 0 0)))",
         GeometryType::Collection},
    };
    for (const auto& [wkt, type] : cases) {
        geom::ConstGeomPtr out;
        EXPECT_TRUE(WktParser::FromString(QString::fromUtf8(wkt), out)) << wkt;
        ASSERT_TRUE(out) << wkt;
        EXPECT_EQ(out->GetType(), type) << wkt;
        EXPECT_EQ(WktWriter::ToWkt(*out), wkt);
    }
    EXPECT_EQ(Parse("POINT EMPTY")->GetType(), GeometryType::Empty);
    // Coordinates that need all 17 digits survive.
    const geom::ConstGeom awkward(geom::Geom({{0.1 + 0.2, 1.0 / 3.0}}, {}, {}));
    EXPECT_EQ(*Parse(WktWriter::ToWkt(awkward).c_str()), awkward);
    // The type gives way when the contents do not fit it.
    const geom::ConstGeom mislabelled(geom::Geom({{1, 2}, {3, 4}}, {}, {}), GeometryType::Line);
    EXPECT_EQ(WktWriter::ToWkt(mislabelled), "MULTIPOINT ((1 2), (3 4))");
}

TEST(WktParser, TextThatIsNotWktGivesAnEmptyUnknownGeometry) {
    for (const char* text :
         {"", "not wkt", "POINT (1 2", "POINT (1 2) 3", "POINT (1)", "CIRCLE (0 0, 1)"}) {
        geom::ConstGeomPtr out = Parse("POINT (5 5)");
        EXPECT_FALSE(WktParser::FromString(QString::fromUtf8(text), out)) << text;
        ASSERT_TRUE(out) << text;
        EXPECT_EQ(out->GetType(), GeometryType::Unknown) << text;
        EXPECT_TRUE(out->IsEmpty()) << text;
    }
    // A value reads its text: a real is not WKT, a string is.
    geom::ConstGeomPtr out;
    EXPECT_FALSE(WktParser::FromString(DataValue::Real(2.5), out));
    EXPECT_TRUE(WktParser::FromString(DataValue::String(QStringLiteral("POINT (0 1)")), out));
    EXPECT_EQ(out->GetPoints(), (std::vector<Point>{{0, 1}}));
}

TEST(WktParser, ShortPathsRaiseLocalizedTypeErrors) {
    ASSERT_TRUE(HasTStr(kLineTooShortText));
    ASSERT_TRUE(HasTStr(kRingTooShortText));
    const std::pair<const char*, StringId> cases[] = {
        {"LINESTRING (0 0)", kLineTooShortText},
        {"MULTILINESTRING ((0 0, 1 1), (2 2))", kLineTooShortText},
        {"POLYGON ((0 0, 1 1, 0 0))", kRingTooShortText},
        // Closing two points gives three, still too few.
        {"POLYGON ((0 0, 1 0))", kRingTooShortText},
        {"POLYGON ((0 0, 4 0, 4 4, 0 0), (1 1, 2 1, 1 1))", kRingTooShortText},
        {"GEOMETRYCOLLECTION (MULTIPOLYGON (((0 0, 1 0, 0 0))))", kRingTooShortText},
    };
    for (const auto& [wkt, text] : cases) {
        EXPECT_EQ(RaisedText(wkt), LookupTStr(text)) << wkt;
    }

    // A type error is a spatial error and a logic error, and clones as itself.
    try {
        Parse("LINESTRING (0 0)");
        FAIL() << "no exception";
    } catch (const LogicException& e) {
        EXPECT_NE(dynamic_cast<const SpatialException*>(&e), nullptr);
        EXPECT_EQ(QString::fromUtf8(e.what()), LookupTStr(kLineTooShortText));
        EXPECT_THROW(e.Clone()->Throw(), SpatialOGRTypeException);
    }
}
