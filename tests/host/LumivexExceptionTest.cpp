#include <gtest/gtest.h>

#include <lmxmaps/host/LumivexException.h>

// How log sites are named is pinned down where the library's own exceptions and log lines carry
// them (MapProviderTest, MapSourceTest, OptionsAndLogTest, MapboxIntegrationTest).
TEST(LumivexException, MessagesAreUtf8InWhat) {
    const LumivexException e(QStringLiteral("Zürich — ok"), TError::LogicAssert(1));
    EXPECT_STREQ(e.what(), "Zürich — ok");
    EXPECT_EQ(e.GetMessage(), QStringLiteral("Zürich — ok"));
}

TEST(LogicException, CarriesFileLineAndCondition) {
    const int m_limit = 2;
    const std::size_t count = 3;
    try {
        LMX_LOGIC_ASSERT_ID(count <= m_limit, 0x1234ABCD);
        FAIL() << "no exception";
    } catch (const LogicException& e) {
        EXPECT_EQ(e.GetCondition(), "count <= m_limit");
        EXPECT_NE(e.GetFile().find("LumivexExceptionTest.cpp"), std::string::npos);
        EXPECT_GT(e.GetLine(), 0);
        EXPECT_EQ(e.GetErrorInfo().id, 0x1234ABCDu);
        EXPECT_NE(std::string(e.what()).find("count <= m_limit"), std::string::npos);

        // A stored copy rethrows as the most derived type.
        const std::unique_ptr<LumivexException> stored = e.Clone();
        EXPECT_THROW(stored->Throw(), LogicException);
    }
    EXPECT_NO_THROW(LMX_LOGIC_ASSERT(count > 0));
}
