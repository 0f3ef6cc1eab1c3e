#include <cmath>
#include <gtest/gtest.h>

#include <lmxmaps/MapSourceAttributes.h>

using namespace MapSourceAttributeRules;

namespace {
std::optional<TString> Value(const char* text) {
    return QString::fromUtf8(text);
}
} // namespace

TEST(MapSourceAttributeRules, OfflineIsAnyNonEmptyValueAndIntermediateLevelsAnIntegerOfAtLeastOne) {
    EXPECT_FALSE(IsOffline(QString()));
    EXPECT_TRUE(IsOffline(QStringLiteral("false")));
    EXPECT_TRUE(IsOffline(QStringLiteral("0")));
    EXPECT_TRUE(IsOffline(QStringLiteral("true")));

    EXPECT_EQ(ReadIntermediateLevels(std::nullopt), 1);
    EXPECT_EQ(ReadIntermediateLevels(Value("4")), 4);
    EXPECT_EQ(ReadIntermediateLevels(Value(" 3 ")), 3);
    EXPECT_EQ(ReadIntermediateLevels(Value("0")), 1);
    EXPECT_EQ(ReadIntermediateLevels(Value("-3")), 1);
    EXPECT_EQ(ReadIntermediateLevels(Value("2.5")), 1);
}

TEST(MapSourceAttributeRules, StretchAndShrinkDefaultOnlyWhenAbsentAndMaxScaleLevelIsAsItReads) {
    EXPECT_DOUBLE_EQ(ReadMaxStretch(std::nullopt), std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(ReadMaxStretch(Value("2.5")), 2.5);
    EXPECT_DOUBLE_EQ(ReadMaxStretch(Value("0.5")), 1.0);
    // Present but unreadable: the number 0, raised to 1.
    EXPECT_DOUBLE_EQ(ReadMaxStretch(Value("wide")), 1.0);
    EXPECT_DOUBLE_EQ(ReadMaxStretch(Value("")), 1.0);
    EXPECT_DOUBLE_EQ(ReadMaxStretch(Value("nan")), 1.0);

    EXPECT_DOUBLE_EQ(ReadMinShrink(std::nullopt), 1.0 / std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(ReadMinShrink(Value("0.25")), 0.25);
    EXPECT_DOUBLE_EQ(ReadMinShrink(Value("2")), 1.0);
    EXPECT_DOUBLE_EQ(ReadMinShrink(Value("narrow")), 0.0);

    EXPECT_DOUBLE_EQ(ReadMaxScaleLevel(std::nullopt, 19.0), 19.0);
    EXPECT_DOUBLE_EQ(ReadMaxScaleLevel(Value("12.5"), 19.0), 12.5);
    EXPECT_DOUBLE_EQ(ReadMaxScaleLevel(Value("deep"), 19.0), 0.0);
    EXPECT_DOUBLE_EQ(ReadHostNumber(QStringLiteral(" 7.25 ")), 7.25);
    EXPECT_DOUBLE_EQ(ReadHostNumber(QStringLiteral("7.25abc")), 0.0);
}
