#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include <lmxmaps/MapboxParams.h>
#include <lmxmaps/host/TLog.h>

#include "mapbox/MapboxTestSupport.h"
#include "providers/QStringPrinter.h"

namespace {

constexpr std::int64_t kStart = 1'800'000'000;

const char* const kDocument = R"({
  "access_token": {"token": "pk.test.first"},
  "mapbox_account": "acct",
  "styles": {"Light": {"id": "light-id"}, "Numbered": {"id": 42}, "Loose": "dark-id"},
  "tilesets": {"State": {"id": "acct.state"}},
  "ignored": true
})";

// A parameters URL no other test uses.
QString UniqueUrl() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return QStringLiteral("test://params/%1.json").arg(QLatin1String(test->name()));
}

bool Logged(const std::vector<TLog::Record>& records, const QString& site, const QString& text) {
    return std::any_of(records.begin(), records.end(), [&](const TLog::Record& record) {
        return record.logSite == site && record.message == text;
    });
}

} // namespace

TEST(MapboxParams, RefetchesAfterFailuresAt1_1_2_3_5SecondsAndStartsOverAfterAQuietWindow) {
    std::int64_t now = kStart;
    std::vector<std::int64_t> attempts;
    const auto params = MapboxParams::CreateTestInstance(
        UniqueUrl(),
        [&](const TString&) {
            attempts.push_back(now - kStart);
            return TString();
        },
        [&] { return now; });
    for (; now <= kStart + 30; ++now) {
        params->GetToken();
        params->GetStyleIDs();
    }
    EXPECT_EQ(attempts, (std::vector<std::int64_t>{0, 0, 1, 2, 4, 7, 12, 19, 30}));

    // 301 quiet seconds reset the back-off: the next two attempts come at once again.
    now = kStart + 30 + 301;
    attempts.clear();
    params->GetToken();
    params->GetMapboxAccount();
    params->GetTilesetIDs();
    EXPECT_EQ(attempts, (std::vector<std::int64_t>{331, 331}));
}

TEST(MapboxParams, ReadsTheDocumentAndKeepsTheLastGoodValuesThroughFailures) {
    std::int64_t now = kStart;
    QString answer = QString::fromUtf8(kDocument);
    int fetches = 0;
    const QString url = UniqueUrl();
    const auto params = MapboxParams::CreateTestInstance(
        url,
        [&](const TString&) {
            ++fetches;
            return answer;
        },
        [&] { return now; });

    EXPECT_EQ(params->GetToken(), QStringLiteral("pk.test.first"));
    EXPECT_EQ(params->GetMapboxAccount(), QStringLiteral("acct"));
    EXPECT_EQ(params->GetStyleIDs(),
              (MapboxParams::MapboxIDs{{QStringLiteral("Light"),
                                        {QStringLiteral("light-id"),
                                         QStringLiteral("mapbox://styles/acct/light-id")}}}));
    EXPECT_EQ(params->GetTilesetIDs(),
              (MapboxParams::MapboxIDs{
                  {QStringLiteral("State"),
                   {QStringLiteral("acct.state"), QStringLiteral("mapbox://acct.state")}}}));
    EXPECT_EQ(fetches, 1) << "a good document is fetched once";

    const struct {
        const char* document;
        const char* site;
        const char* message;
    } failures[] = {
        {"{not json", "LogSite_AutoGen_0xB48BD49D", "Malformed JSON for Mapbox parameters sets."},
        {R"({"access_token": "pk.a.b", "mapbox_account": "acct"})", "LogSite_AutoGen_0xB48BD71D",
         "Missing object 'access_token' in Mapbox parameters JSON."},
        {R"({"access_token": {"token": 7}, "mapbox_account": "acct"})",
         "LogSite_AutoGen_0xB48B9114",
         "Bad 'access_token.token' string in Mapbox parameters JSON."},
        {R"({"access_token": {"token": "pk.a.b"}})", "LogSite_AutoGen_0xB48B9223",
         "Bad 'mapbox_account' string in Mapbox parameters JSON."},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.document);
        answer = QString::fromUtf8(failure.document);
        params->ReportParamsFailure();
        now += MapboxParams::kFailureWindowSeconds;
        TLog::ScopedCapture log;
        EXPECT_EQ(params->GetToken(), QStringLiteral("pk.test.first"));
        EXPECT_EQ(params->GetStyleIDs().size(), 1u);
        EXPECT_TRUE(Logged(log.Records(), QString::fromLatin1(failure.site),
                           QString::fromUtf8(failure.message)));
        EXPECT_TRUE(
            Logged(log.Records(), QString(), QStringLiteral("Mapbox parameters fetch failed.")));
    }

    answer = QStringLiteral(R"({"access_token": {"token": "pk.test.second"},
                                "mapbox_account": "other"})");
    params->ReportParamsFailure();
    now += MapboxParams::kFailureWindowSeconds;
    EXPECT_EQ(params->GetToken(), QStringLiteral("pk.test.second"));
    EXPECT_TRUE(params->GetStyleIDs().empty());
    EXPECT_TRUE(params->GetTilesetIDs().empty());
}

TEST(MapboxParams, ConcurrentGettersOfOneInstanceShareOneFetch) {
    std::atomic<int> fetches{0};
    std::atomic<bool> release{false};
    const auto params = MapboxParams::CreateTestInstance(UniqueUrl(), [&](const TString&) {
        ++fetches;
        while (!release.load()) {
            std::this_thread::yield();
        }
        return QString::fromUtf8(kDocument);
    });
    std::vector<std::thread> getters;
    std::vector<QString> tokens(4);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        getters.emplace_back([&, i] { tokens[i] = params->GetToken(); });
    }
    while (fetches.load() == 0) {
        std::this_thread::yield();
    }
    release = true;
    for (std::thread& getter : getters) {
        getter.join();
    }
    EXPECT_EQ(fetches.load(), 1);
    for (const QString& token : tokens) {
        EXPECT_EQ(token, QStringLiteral("pk.test.first"));
    }
}

TEST(MapboxParams, RegistryFindsLiveInstancesWithoutKeepingThemAlive) {
    const QString url = UniqueUrl();
    std::shared_ptr<MapboxParams> first = MapboxParams::GetInstance(url);
    EXPECT_EQ(MapboxParams::GetInstance(url), first);
    const std::weak_ptr<MapboxParams> watch = first;
    first.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_NE(MapboxParams::GetInstance(url), nullptr);

    try {
        MapboxParams::CreateTestInstance(url, [](const TString&) { return TString(); });
        ADD_FAILURE() << "a registered URL must be refused";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "attempted to create MapboxParams test instance with duplicate id ('" +
                      url.toStdString() + "')");
    }
}
