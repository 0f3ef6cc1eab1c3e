#include <algorithm>
#include <gtest/gtest.h>

#include <lmxmaps/MapProviderException.h>

TEST(MapProviderException, AttributesFlagsMessagePartsAndCloneAndThrowKeepThemAll) {
    MapProviderException e(MapProviderException::eUnknownClass, QStringLiteral("no such class"),
                           MapProviderException::Site(0xF158430A));
    EXPECT_EQ(e.GetErrorInfo().logSite, QStringLiteral("MapProviderException_AutoGen_0xF158430A"));
    EXPECT_TRUE(e.GetAttribute(QStringLiteral("never-set")).isEmpty());
    EXPECT_FALSE(e.GetShouldCloseConnection());
    EXPECT_FALSE(e.GetDidCloseConnection());
    EXPECT_TRUE(e.GetMapSourceName().isEmpty());

    e.SetAttribute(QStringLiteral("class"), QStringLiteral("Atlantis"));
    e.SetAttribute(QStringLiteral("server"), QStringLiteral("tiles.example"));
    e.SetAttribute(QStringLiteral("class"), QStringLiteral("Lemuria"));
    EXPECT_EQ(e.GetAttribute(QStringLiteral("class")), QStringLiteral("Lemuria"));
    std::vector<TString> keys = e.GetAttributeKeys();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<TString>{QStringLiteral("class"), QStringLiteral("server")}));

    MapProviderException original(MapProviderException::eServiceError, QStringLiteral("denied"),
                                  MapProviderException::Site(0x12345678), QStringLiteral("WMS"),
                                  true);
    original.SetDidCloseConnection(true);
    original.SetAttribute(QStringLiteral("url"), QStringLiteral("/wms"));

    const std::unique_ptr<LumivexException> stored = original.Clone();
    try {
        stored->Throw();
        FAIL() << "Throw returned";
    } catch (const MapProviderException& rethrown) {
        EXPECT_EQ(rethrown.GetType(), MapProviderException::eServiceError);
        EXPECT_EQ(rethrown.GetMessage(), QStringLiteral("denied"));
        EXPECT_EQ(rethrown.GetMapSourceName(), QStringLiteral("WMS"));
        EXPECT_TRUE(rethrown.GetShouldCloseConnection());
        EXPECT_TRUE(rethrown.GetDidCloseConnection());
        EXPECT_EQ(rethrown.GetAttribute(QStringLiteral("url")), QStringLiteral("/wms"));
        EXPECT_EQ(rethrown.GetErrorInfo(), original.GetErrorInfo());
    }

    // A message from parts skips the empty ones.
    const MapProviderException fromParts(MapProviderException::eServiceUnavailable,
                                         std::vector<TStringCore>{QStringLiteral("Could not reach"),
                                                                  QString(),
                                                                  QStringLiteral("tiles.example")},
                                         MapProviderException::Site(1));
    EXPECT_EQ(fromParts.GetMessage(), QStringLiteral("Could not reach tiles.example"));
    EXPECT_STREQ(fromParts.what(), "Could not reach tiles.example");
}
