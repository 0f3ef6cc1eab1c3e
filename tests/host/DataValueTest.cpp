#include <cmath>
#include <gtest/gtest.h>

#include <lmxmaps/host/DataValue.h>
#include <lmxmaps/host/Shapes.h>

TEST(DataValue, RealsStringsWithTheirCollationSpatialValuesAndSpecials) {
    const DataValue real = DataValue::Real(2.5);
    EXPECT_FALSE(real.IsSpecial());
    EXPECT_EQ(real.GetDataType(), DataType::Real);
    EXPECT_EQ(real.GetSpecialCode(), SpecialCode::NotSpecial);
    EXPECT_EQ(real.GetString(), QStringLiteral("2.5"));

    const DataValue text = DataValue::String(QStringLiteral(" 12.25 "));
    EXPECT_EQ(text.GetDataType(), DataType::String);
    EXPECT_EQ(text.GetReal(), 12.25);
    EXPECT_TRUE(std::isnan(DataValue::String(QStringLiteral("twelve")).GetReal()));

    const DataValue null = DataValue::Special(SpecialCode::Null, DataType::String);
    EXPECT_TRUE(null.IsSpecial());
    EXPECT_EQ(null.GetDataType(), DataType::String);
    EXPECT_TRUE(std::isnan(null.GetReal()));
    EXPECT_TRUE(null.GetString().isEmpty());
    EXPECT_TRUE(DataValue().IsSpecial());

    EXPECT_EQ(DataValue::Real(1.0), DataValue::Real(1.0));
    EXPECT_FALSE(DataValue::Real(1.0) == DataValue::String(QStringLiteral("1")));
    EXPECT_FALSE(null == DataValue::Special(SpecialCode::Null, DataType::Real));

    // Strings carry a collation.
    constexpr Collation kCaseInsensitive = 7;
    EXPECT_EQ(DataValue::String(QStringLiteral("a")).GetCollation(), kUnknownCollation);
    const DataValue folded = DataValue::String(QStringLiteral("a"), kCaseInsensitive);
    EXPECT_EQ(folded.GetCollation(), kCaseInsensitive);
    EXPECT_EQ(folded.GetString(), QStringLiteral("a"));
    EXPECT_FALSE(folded == DataValue::String(QStringLiteral("a")));
    EXPECT_EQ(DataValue::Real(1).GetCollation(), kUnknownCollation);

    const auto shape =
        lmxgeo::Spatial::FromWkt("LINESTRING (0 0, 1 1)", lmxgeo::Spatial::Kind::Geography);
    const DataValue spatial = DataValue::Spatial(shape);
    EXPECT_EQ(spatial.GetDataType(), DataType::Spatial);
    EXPECT_FALSE(spatial.IsSpecial());
    EXPECT_EQ(spatial.GetSpatial(), shape);
    EXPECT_EQ(spatial.GetString(), QStringLiteral("LINESTRING (0 0, 1 1)"));
    EXPECT_TRUE(std::isnan(spatial.GetReal()));

    // Equal shapes make equal values; another kind of shape does not.
    EXPECT_EQ(spatial, DataValue::Spatial(lmxgeo::Spatial::FromWkt(
                           "LINESTRING (0 0, 1 1)", lmxgeo::Spatial::Kind::Geography)));
    EXPECT_FALSE(spatial == DataValue::Spatial(lmxgeo::Spatial::FromWkt(
                                "LINESTRING (0 0, 1 1)", lmxgeo::Spatial::Kind::Geometry)));

    const DataValue nullSpatial = DataValue::Spatial(nullptr);
    EXPECT_TRUE(nullSpatial.IsSpecial());
    EXPECT_EQ(nullSpatial.GetDataType(), DataType::Spatial);
    EXPECT_EQ(nullSpatial.GetSpatial(), nullptr);
    EXPECT_EQ(DataValue::Real(1).GetSpatial(), nullptr);
}

TEST(DataValueRect, WidthAndHeightReadTheBoundsAsReals) {
    const DataValueRect rect(DataValue::Real(-10), DataValue::Real(30), DataValue::Real(5),
                             DataValue::Real(7.5));
    EXPECT_EQ(rect.Width(), 40.0);
    EXPECT_EQ(rect.Height(), 2.5);
    const DataValueRect open(DataValue(), DataValue::Real(1), DataValue::Real(0),
                             DataValue::Real(1));
    EXPECT_TRUE(std::isnan(open.Width()));
    EXPECT_EQ(rect, rect);
    EXPECT_FALSE(rect == open);
}
