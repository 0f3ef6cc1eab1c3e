#include <gtest/gtest.h>

#include <lmxmaps/host/LanguageCode.h>
#include <lmxmaps/host/StringTable.h>

TEST(StringTable, LooksUpAndFormatsInOnePass) {
    ASSERT_TRUE(HasTStr(1128053594u));
    EXPECT_TRUE(LookupTStr(1128053594u).contains(QStringLiteral("%1")));
    const TString message = LookupTFmtStr(1128053594u, QStringLiteral("Atlantis"));
    EXPECT_TRUE(message.contains(QStringLiteral("Atlantis")));
    EXPECT_FALSE(message.contains(QStringLiteral("%1")));
    // A replacement that itself holds a placeholder is not expanded again.
    EXPECT_TRUE(LookupTFmtStr(1128053594u, QStringLiteral("%1")).contains(QStringLiteral("%1")));
}

TEST(StringTable, MissingIdsAreVisible) {
    EXPECT_FALSE(HasTStr(42u));
    EXPECT_EQ(LookupTStr(42u), QStringLiteral("[missing string 42]"));
}

TEST(LanguageCode, NormalisesLanguageAndRegion) {
    EXPECT_EQ(LanguageCode(QStringLiteral("de_DE")).GetISOString(), QStringLiteral("de-DE"));
    EXPECT_EQ(LanguageCode(QStringLiteral("DE-de")).GetISOString(), QStringLiteral("de-DE"));
    EXPECT_EQ(LanguageCode(QStringLiteral("pt-br")).GetShortLanguageCode(), QStringLiteral("pt"));
    EXPECT_EQ(LanguageCode(QStringLiteral("fr")).GetISOString(), QStringLiteral("fr"));
    EXPECT_EQ(LanguageCode(QStringLiteral("fr")).GetRegion(), QString());
    EXPECT_TRUE(LanguageCode().IsEmpty());
    EXPECT_EQ(LanguageCode(QStringLiteral("en_US")), LanguageCode(QStringLiteral("en-us")));
}
