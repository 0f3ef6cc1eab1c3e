#include <cmath>
#include <geos_c.h>
#include <gtest/gtest.h>
#include <limits>

#include <lmxmaps/GeometryEngine.h>
#include <lmxmaps/host/Shapes.h>
#include <lmxmaps/host/SpatialException.h>
#include <lmxmaps/host/StringTable.h>
#include <lmxmaps/host/VisualModel.h>

namespace {

using XY = GeometryEngine::XY;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// GEOS's own area of a WKT geometry: a check independent of the union's code path.
double GeosArea(const std::string& wkt) {
    GEOSContextHandle_t handle = GEOS_init_r();
    GEOSWKTReader* reader = GEOSWKTReader_create_r(handle);
    GEOSGeometry* geometry = GEOSWKTReader_read_r(handle, reader, wkt.c_str());
    double area = kNaN;
    if (geometry != nullptr) {
        GEOSArea_r(handle, geometry, &area);
        GEOSGeom_destroy_r(handle, geometry);
    }
    GEOSWKTReader_destroy_r(handle, reader);
    GEOS_finish_r(handle);
    return area;
}

DataValue Wkt(const char* text, Collation collation = kUnknownCollation) {
    return DataValue::String(QString::fromUtf8(text), collation);
}

// Doubles x and moves y up by 10.
class ScaleAndShift : public SpatialTransform {
public:
    std::pair<double, double> operator()(double x, double y) const override {
        return {2.0 * x, y + 10.0};
    }
};

SpatialProjectorPtr WebMercator() {
    return SpatialProjector::WebMercatorFactory(FieldName(QStringLiteral("Longitude")),
                                                FieldName(QStringLiteral("Latitude")),
                                                QStringLiteral("webmercator"));
}

} // namespace

TEST(GeometryEngine, CreatePointIsWktWithUnknownCollation) {
    const DataValue point = GeometryEngine().CreatePoint(-73.5, 40.25);
    EXPECT_EQ(point.GetDataType(), DataType::String);
    EXPECT_EQ(point.GetString(), QStringLiteral("POINT (-73.5 40.25)"));
    EXPECT_EQ(point.GetCollation(), kUnknownCollation);
}

TEST(GeometryEngine, UnionOfOverlappingSquares) {
    constexpr Collation kFirstCollation = 3;
    std::vector<DataValue> squares{
        Wkt("POLYGON ((0 0, 2 0, 2 2, 0 2, 0 0))", kFirstCollation),
        Wkt("POLYGON ((1 1, 3 1, 3 3, 1 3, 1 1))"),
        DataValue::Special(SpecialCode::Null, DataType::String),
        Wkt("POLYGON ((1 -1, 2 -1, 2 4, 1 4, 1 -1))"),
    };
    const DataValue merged = GeometryEngine().Union(squares);
    EXPECT_TRUE(squares.empty());
    EXPECT_EQ(merged.GetCollation(), kFirstCollation);
    // 4 + 4 - 1 overlapping, plus the strip's parts outside both squares: 1 below, 1 above.
    EXPECT_DOUBLE_EQ(GeosArea(ToUtf8(merged.GetString())), 9.0);

    std::vector<DataValue> nothing;
    EXPECT_EQ(GeometryEngine().Union(nothing).GetString(),
              QStringLiteral("GEOMETRYCOLLECTION EMPTY"));
    std::vector<DataValue> bad{Wkt("POLYGON ((0 0, 1 0, 1 1, 0 0))"), Wkt("no shape")};
    EXPECT_THROW(GeometryEngine().Union(bad), std::invalid_argument);
    EXPECT_TRUE(bad.empty());
}

TEST(GeometryEngine, CentroidOrNothing) {
    const GeometryEngine engine;
    EXPECT_EQ(engine.ComputeCentroid(Wkt("POLYGON ((0 0, 4 0, 4 2, 0 2, 0 0))")), (XY{2, 1}));
    // An empty geometry has a NaN centroid: nothing.
    EXPECT_FALSE(engine.ComputeCentroid(Wkt("POLYGON EMPTY")));
    EXPECT_FALSE(engine.ComputeCentroid(Wkt("GEOMETRYCOLLECTION EMPTY"), {{1, 1}}));
    // The centroid of a frame lies in its hole; the constituent inside the frame stands in.
    const DataValue frame = Wkt("POLYGON ((0 0, 6 0, 6 6, 0 6, 0 0), (1 1, 5 1, 5 5, 1 5, 1 1))");
    EXPECT_EQ(engine.ComputeCentroid(frame, {{3, 3}, {0.5, 3}}), (XY{0.5, 3}));
    EXPECT_THROW(engine.ComputeCentroid(Wkt("not wkt")), std::invalid_argument);
}

TEST(GeometryEngine, CentralPointIsAnInputPointNearestTheMean) {
    const GeometryEngine engine;
    EXPECT_FALSE(engine.GetCentralPoint({}));
    EXPECT_EQ(engine.GetCentralPoint({{0, 0}, {2, 0}, {1, 0}}), (XY{1, 0}));
    // Both at distance 1 from the mean (1, 0): the smaller x wins, whatever the order.
    EXPECT_EQ(engine.GetCentralPoint({{0, 0}, {2, 0}}), (XY{0, 0}));
    EXPECT_EQ(engine.GetCentralPoint({{2, 0}, {0, 0}}), (XY{0, 0}));
    // Equal x: the smaller y wins.
    EXPECT_EQ(engine.GetCentralPoint({{0, 1}, {0, -1}}), (XY{0, -1}));
    // Distances within 1e-12 tie: (3, 1e-13) is nearer the mean than (0, 0) by about 2e-13
    // in squared distance, yet (0, 0) wins on x.
    EXPECT_EQ(engine.GetCentralPoint({{3, 1e-13}, {0, 0}, {1.5, 3}}), (XY{0, 0}));
    // The mean itself is not an input point: the nearest input point is returned.
    EXPECT_EQ(engine.GetCentralPoint({{0, 0}, {10, 0}, {4, 3}}), (XY{4, 3}));
    EXPECT_EQ(engine.GetCentralPoint({{7, 7}}), (XY{7, 7}));
}

TEST(GeometryUtil, CircleAgainstRectangle) {
    using GeometryUtil::CircleIntersectsRect;
    const QRectF rect(0, 0, 2, 2); // centre (1, 1), half sizes 1
    EXPECT_TRUE(CircleIntersectsRect(1, 1, 0, rect));
    EXPECT_TRUE(CircleIntersectsRect(0.5, 1.5, 0, rect));
    // Beside an edge: touching counts, a gap does not.
    EXPECT_TRUE(CircleIntersectsRect(3, 1, 1, rect));
    EXPECT_FALSE(CircleIntersectsRect(3, 1, 0.999, rect));
    EXPECT_TRUE(CircleIntersectsRect(1.5, -0.5, 0.5, rect));
    // Diagonal from the corner (2, 2) by (3, 4): the corner is exactly 5 away.
    EXPECT_TRUE(CircleIntersectsRect(5, 6, 5, rect));
    EXPECT_FALSE(CircleIntersectsRect(5, 6, 4.999, rect));
    // Inside the bounding square of corner + r but off the corner's circle.
    EXPECT_FALSE(CircleIntersectsRect(2.9, 2.9, 1, rect));
}

TEST(SpatialToGeomConverter, CoordinatesPassThroughTheTransform) {
    const auto planar = lmxgeo::Spatial::FromWkt(
        "GEOMETRYCOLLECTION (POINT (1 1), LINESTRING (0 0, 1 2), POLYGON ((0 0, 1 0, 1 1, 0 0)))",
        lmxgeo::Spatial::Kind::Geometry);
    geom::ConstGeomPtr out;
    SpatialToGeomConverter::DoConversion(ScaleAndShift(), *planar, out);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->GetPoints(), (std::vector<geom::Point>{{2, 11}}));
    EXPECT_EQ(out->GetLines(), (std::vector<geom::Path>{{{0, 10}, {2, 12}}}));
    EXPECT_EQ(out->GetPolys()[0][0], (geom::Path{{0, 10}, {2, 10}, {2, 11}, {0, 10}}));
    EXPECT_EQ(out->GetType(), geom::GeometryType::Collection);

    const auto geography =
        lmxgeo::Spatial::FromWkt("POINT (-120 35)", lmxgeo::Spatial::Kind::Geography);
    SpatialToGeomConverter::DoConversion(ScaleAndShift(), *geography, out);
    EXPECT_EQ(out->GetPoints(), (std::vector<geom::Point>{{-240, 45}}));
    EXPECT_EQ(out->GetType(), geom::GeometryType::Point);
}

TEST(FromDataValue, StringsSpatialsAndOtherValues) {
    const geom::ConstGeomPtr parsed = geom::FromDataValue(Wkt("LINESTRING (0 0, 1 1)"));
    EXPECT_EQ(parsed->GetType(), geom::GeometryType::Line);
    EXPECT_EQ(geom::FromDataValue(Wkt("nonsense"))->GetType(), geom::GeometryType::Unknown);

    const geom::ConstGeomPtr spatial = geom::FromDataValue(DataValue::Spatial(
        lmxgeo::Spatial::FromWkt("MULTIPOINT ((3 4), (5 6))", lmxgeo::Spatial::Kind::Geography)));
    EXPECT_EQ(spatial->GetPoints(), (std::vector<geom::Point>{{3, 4}, {5, 6}}));
    EXPECT_EQ(spatial->GetType(), geom::GeometryType::MultiPoint);

    const geom::ConstGeomPtr null =
        geom::FromDataValue(DataValue::Special(SpecialCode::Null, DataType::Spatial));
    EXPECT_EQ(null->GetType(), geom::GeometryType::Empty);
    EXPECT_TRUE(null->IsEmpty());

    try {
        geom::FromDataValue(DataValue::Real(1.0));
        FAIL() << "no exception";
    } catch (const SpatialOGRTypeException& e) {
        EXPECT_EQ(e.GetMessage(), LookupTStr(0x2caaf0bbu));
        EXPECT_TRUE(HasTStr(0x2caaf0bbu));
    }
    EXPECT_THROW(geom::FromDataValue(DataValue()), SpatialOGRTypeException);
}

TEST(AxisVisualCoordinateHelper, AddsLongitudeAndLatitudeOfValueCoordinates) {
    // Web Mercator x of 180 degrees is pi * 6378137 m; y = 0 is the equator.
    const double halfWorld = M_PI * 6378137.0;
    AxisVisualCoordinate coordinate(DataValue::Real(halfWorld / 2), DataValue::Real(0.0));
    AxisVisualCoordinateHelper::AddProjectionInfo(coordinate, true, WebMercator());
    ASSERT_TRUE(coordinate.GetProjectionInfo());
    const AxisVisualCoordinate::ProjectionInfo& info = *coordinate.GetProjectionInfo();
    EXPECT_TRUE(info.isMap);
    EXPECT_EQ(info.projectorName, QStringLiteral("webmercator"));
    EXPECT_NEAR(info.longitude.GetReal(), 90.0, 1e-9);
    EXPECT_NEAR(info.latitude.GetReal(), 0.0, 1e-9);

    // An axis without a value, or a value that does not invert, leaves the coordinate alone.
    AxisVisualCoordinate noY(DataValue::Real(0.0), std::nullopt);
    AxisVisualCoordinateHelper::AddProjectionInfo(noY, true, WebMercator());
    EXPECT_FALSE(noY.GetProjectionInfo());
    AxisVisualCoordinate nullX(DataValue::Special(SpecialCode::Null, DataType::Real),
                               DataValue::Real(0.0));
    AxisVisualCoordinateHelper::AddProjectionInfo(nullX, false, WebMercator());
    EXPECT_FALSE(nullX.GetProjectionInfo());

    try {
        AxisVisualCoordinateHelper::AddProjectionInfo(coordinate, true, nullptr);
        ADD_FAILURE() << "a null projector passed";
    } catch (const LogicException& e) {
        EXPECT_NE(e.GetErrorInfo().id, kUnnumberedAssertId) << "the site has no id of its own";
    }
}
