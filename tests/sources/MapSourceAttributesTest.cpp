#include <lmxmaps/MapSourceAttributes.h>

#include <gtest/gtest.h>

#include <cmath>

using namespace MapSourceAttributeRules;

TEST(MapSourceAttributeRules, OfflineIsAnyNonEmptyValue) {
    EXPECT_FALSE(IsOffline(QString()));
    EXPECT_TRUE(IsOffline(QStringLiteral("false")));
    EXPECT_TRUE(IsOffline(QStringLiteral("0")));
    EXPECT_TRUE(IsOffline(QStringLiteral("true")));
}

TEST(MapSourceAttributeRules, InlineOnlyForExactTrue) {
    EXPECT_TRUE(IsInline(QStringLiteral("true")));
    EXPECT_FALSE(IsInline(QStringLiteral("TRUE")));
    EXPECT_FALSE(IsInline(QStringLiteral("1")));
    EXPECT_FALSE(IsInline(QStringLiteral(" true")));
    EXPECT_FALSE(IsInline(QString()));
}

TEST(MapSourceAttributeRules, StretchAndShrinkAreClampedToOneAndDefaultWhenUnreadable) {
    EXPECT_DOUBLE_EQ(ReadMaxStretch(QString()), std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(ReadMaxStretch(QStringLiteral("2.5")), 2.5);
    EXPECT_DOUBLE_EQ(ReadMaxStretch(QStringLiteral("0.5")), 1.0);
    EXPECT_DOUBLE_EQ(ReadMaxStretch(QStringLiteral("wide")), std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(ReadMaxStretch(QStringLiteral("inf")), std::sqrt(2.0));

    EXPECT_DOUBLE_EQ(ReadMinShrink(QString()), 1.0 / std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(ReadMinShrink(QStringLiteral("0.25")), 0.25);
    EXPECT_DOUBLE_EQ(ReadMinShrink(QStringLiteral("3")), 1.0);
    EXPECT_DOUBLE_EQ(ReadMinShrink(QStringLiteral("nan")), 1.0 / std::sqrt(2.0));
}

TEST(MapSourceAttributeRules, IntermediateLevelsAreAnIntegerOfAtLeastOne) {
    EXPECT_EQ(ReadIntermediateLevels(QString()), 1);
    EXPECT_EQ(ReadIntermediateLevels(QStringLiteral("4")), 4);
    EXPECT_EQ(ReadIntermediateLevels(QStringLiteral("0")), 1);
    EXPECT_EQ(ReadIntermediateLevels(QStringLiteral("-3")), 1);
    EXPECT_EQ(ReadIntermediateLevels(QStringLiteral("2.5")), 1);
    EXPECT_EQ(ReadIntermediateLevels(QStringLiteral("0x10")), 1);
}

TEST(MapSourceAttributeRules, MaxScaleLevelFallsBackToTheProviderDefault) {
    EXPECT_DOUBLE_EQ(ReadMaxScaleLevel(QString(), 19.0), 19.0);
    EXPECT_DOUBLE_EQ(ReadMaxScaleLevel(QStringLiteral("12.5"), 19.0), 12.5);
    EXPECT_DOUBLE_EQ(ReadMaxScaleLevel(QStringLiteral("deep"), 19.0), 19.0);
}
