#include <cmath>
#include <gtest/gtest.h>

#include <lmxmaps/host/DataValue.h>

TEST(DataValue, RealsStringsAndSpecials) {
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
