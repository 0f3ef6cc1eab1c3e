#include <cstdlib>
#include <gtest/gtest.h>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>

#include "OptionGuard.h"

TEST(Options, SetValueBeatsEnvironmentWhichBeatsDefault) {
    const OptionGuard guard("LogDetailTags");
    const TString name = QStringLiteral("LogDetailTags");
    EXPECT_EQ(Options::GetString(name), QString());
    EXPECT_EQ(Options::EnvironmentName(name), QStringLiteral("LMX_LogDetailTags"));
    ::setenv("LMX_LogDetailTags", "7", 1);
    EXPECT_EQ(Options::GetString(name), QStringLiteral("7"));
    EXPECT_EQ(Options::GetInt(name), 7);
    Options::Set(name, QStringLiteral("8"));
    EXPECT_EQ(Options::GetInt(name), 8);
    Options::Set(name, std::nullopt);
    EXPECT_EQ(Options::GetInt(name), 7);
}

TEST(Options, TypedReadsFallBackToTheDefault) {
    const OptionGuard guard("LogLevel");
    const TString name = QStringLiteral("LogLevel");
    Options::Set(name, QStringLiteral(" ON "));
    EXPECT_TRUE(Options::GetBool(name));
    Options::Set(name, QStringLiteral("nope"));
    EXPECT_FALSE(Options::GetBool(name));
    EXPECT_EQ(Options::GetInt(QStringLiteral("LogDetailTags")), 0);
}

TEST(Options, DottedNamesMapToUnderscoresAndUnknownNamesAreLogicErrors) {
    EXPECT_EQ(Options::EnvironmentName(QStringLiteral("imageobject.preferred.cache.size")),
              QStringLiteral("LMX_imageobject_preferred_cache_size"));
    try {
        Options::GetString(QStringLiteral("NoSuchOption"));
        ADD_FAILURE() << "an unknown option was read";
    } catch (const LogicException& e) {
        EXPECT_NE(e.GetCondition().find("NoSuchOption"), std::string::npos);
    }
    EXPECT_THROW(Options::Set(QStringLiteral("NoSuchOption"), QStringLiteral("x")), LogicException);
}

TEST(TLog, CaptureSeesEveryLineWithItsSiteAndDetailTagsComeFromTheOptions) {
    const TLog::ScopedCapture capture;
    TLog::LogMessage(TLog::Severity::Debug, QStringLiteral("quiet line"));
    TLog::LogMessage(TLog::Severity::Warn, TError::LogSite(QStringLiteral("Test"), 0xABC).logSite,
                     QStringLiteral("Problem with '%1'").arg(QStringLiteral("tile")));
    const std::vector<TLog::Record> records = capture.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].severity, TLog::Severity::Debug);
    EXPECT_EQ(records[1].severity, TLog::Severity::Warn);
    EXPECT_EQ(records[1].logSite, QStringLiteral("LogSite_Test_0x00000ABC"));
    EXPECT_EQ(records[1].message, QStringLiteral("Problem with 'tile'"));

    const OptionGuard guard("LogDetailTags");
    EXPECT_FALSE(TLog::IsDetailTagOn(30));
    Options::Set(QStringLiteral("LogDetailTags"), QStringLiteral("30, 31,x"));
    TLog::ReloadOptions();
    EXPECT_TRUE(TLog::IsDetailTagOn(30));
    EXPECT_TRUE(TLog::IsDetailTagOn(31));
    EXPECT_FALSE(TLog::IsDetailTagOn(32));
}
