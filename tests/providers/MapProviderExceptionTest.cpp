#include <algorithm>
#include <gtest/gtest.h>

#include <lmxmaps/MapProviderException.h>

// Attributes and flags as a stored copy rethrows them; a message from its parts.
TEST(MapProviderException, CloneAndThrowKeepAttributesAndFlagsAndPartsSkipEmptyOnes) {
    MapProviderException original(MapProviderException::eServiceError, QStringLiteral("denied"),
                                  MapProviderException::Site(0x12345678), QStringLiteral("WMS"),
                                  true);
    original.SetDidCloseConnection(true);
    original.SetAttribute(QStringLiteral("url"), QStringLiteral("/wms"));
    original.SetAttribute(QStringLiteral("server"), QStringLiteral("tiles.example"));

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
        std::vector<TString> keys = rethrown.GetAttributeKeys();
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, (std::vector<TString>{QStringLiteral("server"), QStringLiteral("url")}));
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
