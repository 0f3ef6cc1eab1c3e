#include <gtest/gtest.h>

#include <lmxmaps/UrbanMappingIndicators.h>
#include <lmxmaps/host/TLog.h>

namespace {

const std::vector<MapArea>& Areas() {
    static const std::vector<MapArea> areas = {
        {QStringLiteral("State"), QStringLiteral("state"), 0},
        {QStringLiteral("County"), QStringLiteral("county"), 0},
        {QStringLiteral("Tract"), QStringLiteral("tract"), 0}};
    return areas;
}

QString Number(double value) {
    return QString::number(value, 'g', 17);
}

// One entry of an area: {"<id>": {"min": .., "max": .., "deciles": [..]}}.
QString Entry(const QString& id, double min, double max, const std::vector<double>& deciles) {
    QStringList items;
    for (const double decile : deciles) {
        items << Number(decile);
    }
    return QStringLiteral(R"({"%1": {"min": %2, "max": %3, "deciles": [%4]}})")
        .arg(id, Number(min), Number(max), items.join(u','));
}

// The county statistics of a one-layer document; empty when there are none.
UMAreaInfo CountyInfo(double min, double max, const std::vector<double>& deciles) {
    auto indicators = MakeRefCnt<UrbanMappingIndicators>();
    indicators->ParseColumnMetadata(QStringLiteral("layer"),
                                    QStringLiteral(R"({"statistics": {"county": %1}})")
                                        .arg(Entry(QStringLiteral("1"), min, max, deciles)),
                                    Areas());
    const RefCntPtr<UrbanMappingIndicator> indicator =
        indicators->GetIndicator(QStringLiteral("layer"));
    const UMAreaInfo* info = indicator ? indicator->GetAreaInfo(QStringLiteral("County")) : nullptr;
    return info ? *info : UMAreaInfo{};
}

TEST(UrbanMappingIndicatorsTest, BreaksRoundToThreeSignificantDigitsTowardTheirRole) {
    // The minimum rounds down, the maximum up, the deciles to nearest; the single decile at
    // position 1 fills the second break, the rest keep the maximum.
    struct Case {
        double value, down, up, nearest;
    };
    const Case cases[] = {
        {1234.5, 1230, 1240, 1230},
        {987.6, 987.6, 987.6, 987.6},
        // Smaller values keep every digit, as the document gives them.
        {123.45678901234567, 123.45678901234567, 123.45678901234567, 123.45678901234567},
        {-1234.5, -1240, -1230, -1230},
        {1235, 1230, 1240, 1240},
        {1230, 1230, 1230, 1230},
        {1000, 1000, 1000, 1000},
        {0, 0, 0, 0},
        {123456789, 123000000, 124000000, 123000000},
        {-2100000001, -2110000000, -2100000000, -2100000000},
        // Beyond 32-bit integers too.
        {5.5555e12, 5.55e12, 5.56e12, 5.56e12},
        // A rounded value rounds to itself, the double nearest its decimal.
        {-1.14e308, -1.14e308, -1.14e308, -1.14e308},
        // Where rounding away from zero would overflow, toward zero.
        {1.7976931348623157e308, 1.79e308, 1.79e308, 1.79e308}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(CountyInfo(c.value, c.value, {0, c.value}).breaks,
                  (std::vector<double>{c.down, c.nearest, c.up, c.up, c.up, c.up}));
    }
}

TEST(UrbanMappingIndicatorsTest, QuintilesComeFromOddDecilesAndDecimalsFromFractions) {
    struct Case {
        std::vector<double> deciles, breaks;
        std::int32_t decimals;
    };
    const Case cases[] = {{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, {0, 2, 4, 6, 8, 10}, 0},
                          {{1, 2, 3, 4}, {0, 2, 4, 100, 100, 100}, 0},
                          {{}, {0, 100, 100, 100, 100, 100}, 0},
                          {{0, 0.5, 0, 12.25}, {0, 0.5, 12.25, 100, 100, 100}, 3},
                          {{0, 12.25}, {0, 12.25, 100, 100, 100, 100}, 2},
                          {{0, 987.6}, {0, 987.6, 100, 100, 100, 100}, 1},
                          {{0, 0.05}, {0, 0.05, 100, 100, 100, 100}, 4},
                          {{0, -0.5}, {0, -0.5, 100, 100, 100, 100}, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.deciles));
        const UMAreaInfo info = CountyInfo(0, 100, c.deciles);
        EXPECT_EQ(info.breaks, c.breaks);
        EXPECT_EQ(info.decimals, c.decimals);
    }
}

TEST(UrbanMappingIndicatorsTest, AreasAndTheirFirstEntryFollowKeyOrder) {
    // Written out of order: "9" sorts after "10" as a key, so "10" is the tract's first entry.
    const QString document =
        QStringLiteral(R"({"statistics": {"tract": {"9": {"min": 1, "max": 9, "deciles": []},
                                                     "10": {"min": 2, "max": 20, "deciles": []}},
                                          "block": "not read", "state": {}, "county": %1}})")
            .arg(Entry(QStringLiteral("7"), 3, 30, {}));
    const TLog::ScopedCapture log;
    auto indicators = MakeRefCnt<UrbanMappingIndicators>();
    indicators->ParseColumnMetadata(QStringLiteral("population"), document, Areas());

    const RefCntPtr<UrbanMappingIndicator> indicator =
        indicators->GetIndicator(QStringLiteral("population"));
    ASSERT_TRUE(indicator);
    const UMAreaInfo* tract = indicator->GetAreaInfo(QStringLiteral("Tract"));
    ASSERT_NE(tract, nullptr);
    EXPECT_EQ(tract->statisticsId, 10u);
    EXPECT_EQ(tract->statisticsKey, QStringLiteral("tract"));
    EXPECT_EQ(tract->breaks, (std::vector<double>{2, 20, 20, 20, 20, 20}));
    EXPECT_EQ(indicator->GetAreaInfo(QStringLiteral("County"))->statisticsId, 7u);
    // An empty area and a level the map does not offer are skipped without being read.
    EXPECT_EQ(indicator->GetAreaInfo(QStringLiteral("State")), nullptr);
    EXPECT_TRUE(log.Records().empty());
}

TEST(UrbanMappingIndicatorsTest, UnreadableLayerStatisticsLeaveANullIndicatorAndNonJsonNothing) {
    auto indicators = MakeRefCnt<UrbanMappingIndicators>();
    const QString layer = QStringLiteral("income");
    const QString good = QStringLiteral(R"({"statistics": {"county": %1}})")
                             .arg(Entry(QStringLiteral("1"), 1, 2, {}));
    indicators->ParseColumnMetadata(layer, good, Areas());
    const TLog::ScopedCapture log;

    indicators->ParseColumnMetadata(layer, QStringLiteral("{\"statistics\": "), Areas());
    EXPECT_TRUE(indicators->GetIndicator(layer));
    // Nesting deeper than any real document is not read (it would recurse off the stack).
    constexpr int kDepth = 1000000;
    indicators->ParseColumnMetadata(layer,
                                    QStringLiteral("{\"statistics\": ") + QString(kDepth, u'[') +
                                        QString(kDepth, u']') + u'}',
                                    Areas());
    EXPECT_TRUE(indicators->GetIndicator(layer));
    EXPECT_TRUE(log.Records().empty());

    indicators->ParseColumnMetadata(
        layer, QStringLiteral(R"({"statistics": {"county": {"x1": {"min": 1}}}})"), Areas());
    EXPECT_FALSE(indicators->GetIndicator(layer));
    indicators->ParseColumnMetadata(layer, QStringLiteral("[]"), Areas());
    const std::vector<TLog::Record> records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].severity, TLog::Severity::Warn);
    EXPECT_EQ(records[0].message,
              QStringLiteral("Error parsing statistics for data layer 'income': "
                             "expected decimal statistics id, found \"x1\"\n"));
    EXPECT_EQ(records[1].message,
              QStringLiteral("Error parsing statistics for data layer 'income': "
                             "expected object, found array\n"));
}

TEST(UrbanMappingIndicatorsTest, OldCatalogSkipsBadColumnsAndStopsAtABadShape) {
    const QString catalog = QStringLiteral(R"({"data": {"columns": [
            {"code_name": "a", "statistics": {"county": %1}, "suppress_thousands": true},
            {"code_name": "b", "statistics": {"county": {"1": {"min": 1, "max": "high"}}}},
            {"code_name": "c", "statistics": {"county": %1}, "suppress_thousands": "true"},
            {"code_name": "d", "statistics": {"county": %1}},
            {"code_name": 4, "statistics": {"county": %1}},
            {"code_name": "e", "statistics": {"county": %1}}]}})")
                                .arg(Entry(QStringLiteral("1"), 1, 5, {}));
    const TLog::ScopedCapture log;
    auto indicators = MakeRefCnt<UrbanMappingIndicators>();
    indicators->ParseOldCatalog(catalog, Areas());

    const auto suppressed = [&](const char* layer) {
        return indicators->GetIndicator(QString::fromLatin1(layer))
            ->GetAreaInfo(QStringLiteral("County"))
            ->suppressThousands;
    };
    EXPECT_TRUE(suppressed("a"));
    EXPECT_FALSE(suppressed("c"));
    EXPECT_FALSE(suppressed("d"));
    EXPECT_FALSE(indicators->GetIndicator(QStringLiteral("b")));
    EXPECT_FALSE(indicators->GetIndicator(QStringLiteral("e")));

    const std::vector<TLog::Record> records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].severity, TLog::Severity::Warn);
    EXPECT_EQ(records[0].message, QStringLiteral("Error parsing statistics for data layer 'b': "
                                                 "expected number, found string\n"));
    EXPECT_EQ(records[1].severity, TLog::Severity::Debug);
    EXPECT_EQ(records[1].logSite, QStringLiteral("LogSite_AutoGen_0xB48B25F7"));
    EXPECT_EQ(records[1].message, QStringLiteral("Error parsing data layer statistics: "
                                                 "expected string, found number\n"));
}

} // namespace
