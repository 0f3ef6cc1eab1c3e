#include <gtest/gtest.h>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/host/TLog.h>

#include "FixtureServer.h"
#include "FixtureTileRequestor.h"
#include "ImageryTestSupport.h"

namespace {

class MapRequestorTest : public ::testing::Test {
protected:
    void SetUp() override { m_server.Start(); }
    void TearDown() override {
        HTTPRequestor::CloseIdleConnections();
        m_server.Stop();
    }

    RefCntPtr<FixtureTileRequestor> Fetch(const char* path) {
        auto requestor =
            MakeRefCnt<FixtureTileRequestor>(TileQuery(), m_server, QString::fromUtf8(path));
        requestor->Execute();
        return requestor;
    }

    FixtureServer m_server;
};

MapProviderException::Type TypeOfFailure(MapRequestor& requestor) {
    try {
        requestor.GetResult();
    } catch (const MapProviderException& e) {
        return e.GetType();
    }
    ADD_FAILURE() << "no failure";
    return MapProviderException::eServiceUnavailable;
}

} // namespace

TEST_F(MapRequestorTest, TheImageIsHandedOverOnceAndACloneFetchesItAfresh) {
    const RefCntPtr<FixtureTileRequestor> requestor = Fetch("/tile.png");
    const std::unique_ptr<QtImageObject> image = requestor->GetResult();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetWidth(), FixtureServer::kTileSize);
    EXPECT_FALSE(requestor->GetResult());
    EXPECT_FALSE(requestor->GetLegend());
    EXPECT_FALSE(requestor->IsError());

    requestor->Cancel();
    const MapRequestorPtr clone = requestor->Clone();
    EXPECT_FALSE(clone->WasCancelled());
    EXPECT_EQ(clone->GetQuery(), requestor->GetQuery());
    clone->Execute();
    EXPECT_TRUE(clone->GetResult());
    EXPECT_EQ(m_server.RequestCount(), 2u);
}

TEST_F(MapRequestorTest, HttpStatusesBecomeTheDisplaysTypes) {
    const TLog::ScopedCapture log;
    const RefCntPtr<FixtureTileRequestor> denied = Fetch("/status/403");
    try {
        denied->GetResult();
        FAIL() << "no failure";
    } catch (const MapProviderException& e) {
        EXPECT_EQ(e.GetType(), MapProviderException::eAccessDenied);
        EXPECT_EQ(e.GetMessage(), LookupTFmtStr(3701153844u, denied->GetResultUrl()));
        EXPECT_EQ(e.GetErrorInfo().logSite,
                  QStringLiteral("MapProviderException_AutoGen_0xC78AB797"));
    }
    // The stored failure stays until cleared.
    EXPECT_THROW(denied->GetResult(), MapProviderException);

    EXPECT_EQ(TypeOfFailure(*Fetch("/status/407")),
              MapProviderException::eProxyAuthenticationRequired);
    EXPECT_EQ(TypeOfFailure(*Fetch("/status/404")), MapProviderException::eFetchFailed);
    EXPECT_EQ(TypeOfFailure(*Fetch("/status/500")), MapProviderException::eFetchFailed);
    // A failure the requestor raised itself keeps its type.
    EXPECT_EQ(TypeOfFailure(*Fetch("/garbage")), MapProviderException::eInvalidImage);

    int events = 0;
    for (const TLog::Record& record : log.Records()) {
        if (record.message.startsWith(QStringLiteral("map-requestor-exception"))) {
            ++events;
            EXPECT_TRUE(record.message.contains(QStringLiteral("code=")));
        }
    }
    EXPECT_EQ(events, 4);
}
