#include <gtest/gtest.h>
#include <limits>

#include <lmxmaps/MapLayers.h>
#include <lmxmaps/host/LumivexException.h>

namespace {

const LanguageCode kEnglish(QStringLiteral("en"));

MapLayer GroupedLayer(const QString& name, const QString& group, const QString& order = {}) {
    MapLayer layer;
    layer.SetAttribute(MapLayer::attrName, name);
    layer.SetAttribute(MapLayer::attrGroup, group);
    if (!order.isEmpty()) {
        layer.SetAttribute(MapLayer::attrPresentationOrder, order);
    }
    return layer;
}

MapLayer GroupedLayer(const char* name, const char* group, const char* order = "") {
    return GroupedLayer(QString::fromUtf8(name), QString::fromUtf8(group),
                        QString::fromUtf8(order));
}

// The names of groups or of layers, comma-separated in their order.
template <typename Named>
QString JoinedNames(const std::vector<Named>& items) {
    QStringList names;
    for (const Named& item : items) {
        names.append(item.GetName());
    }
    return names.join(u',');
}

} // namespace

TEST(MapLayerGroup, GroupsAreSortedStablyAndTheirNamesLocalizedCaseSensitiveOrTheDisplayName) {
    const std::vector<MapLayerGroup> groups = MapLayerGroup::MakeLayerGroupsByLanguage(
        {GroupedLayer("b1", "B", "2"), GroupedLayer("a1", "A"), GroupedLayer("c1", "C", "1"),
         GroupedLayer("b2", "B", "-5"), GroupedLayer("d1", "D"), GroupedLayer("e1", "E", "2"),
         GroupedLayer("a2", "A")},
        kEnglish);
    EXPECT_EQ(JoinedNames(groups), QStringLiteral("C,B,E,A,D"));
    EXPECT_EQ(groups[1].GetOrder(), 2);
    EXPECT_EQ(groups[3].GetOrder(), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(JoinedNames(groups[1].GetLayers()->GetLayers()), QStringLiteral("b1,b2"));
    EXPECT_EQ(JoinedNames(groups[3].GetLayers()->GetLayers()), QStringLiteral("a1,a2"));
    EXPECT_TRUE(MapLayerGroup::MakeLayerGroupsByLanguage({}, kEnglish).empty());

    // Enough tied groups that an unstable sort would reorder them.
    std::vector<MapLayer> manyLayers;
    QStringList ordered;
    QStringList unordered;
    for (int i = 0; i < 40; ++i) {
        const QString name = QString::number(i);
        const bool hasOrder = i % 3 == 0;
        manyLayers.push_back(GroupedLayer(name, name, hasOrder ? QStringLiteral("7") : QString()));
        (hasOrder ? ordered : unordered).append(name);
    }
    EXPECT_EQ(JoinedNames(MapLayerGroup::MakeLayerGroupsByLanguage(manyLayers, kEnglish)),
              (ordered + unordered).join(u','));

    MapLayer localized = GroupedLayer("r1", "Roads");
    localized.SetAttribute(u"group-de", QStringLiteral("Strassen"));
    MapLayer ungrouped;
    ungrouped.SetAttribute(MapLayer::attrName, QStringLiteral("water"));
    ungrouped.SetAttribute(u"display-name-de", QStringLiteral("Wasser"));
    const std::vector<MapLayer> layers = {localized, ungrouped, GroupedLayer("r2", "roads"),
                                          GroupedLayer("r3", "Roads")};
    EXPECT_EQ(JoinedNames(MapLayerGroup::MakeLayerGroupsByLanguage(
                  layers, LanguageCode(QStringLiteral("de-DE")))),
              QStringLiteral("Strassen,Wasser,roads,Roads"));
    EXPECT_EQ(JoinedNames(MapLayerGroup::MakeLayerGroupsByLanguage(
                  layers, LanguageCode(QStringLiteral("fr-FR")))),
              QStringLiteral("Roads,water,roads"));
}

TEST(MapLayerGroup, AnOrderThatIsPresentButSpellsNoIntegerSortsAsZeroOnlyAnAbsentOneLast) {
    const auto ordered = [](const char* name, const char* order) {
        MapLayer layer = GroupedLayer(name, name);
        layer.SetAttribute(MapLayer::attrPresentationOrder, QString::fromUtf8(order));
        return layer;
    };
    const std::vector<MapLayerGroup> groups = MapLayerGroup::MakeLayerGroupsByLanguage(
        {ordered("B", "2"), ordered("A", ""), GroupedLayer("E", "E"), ordered("C", "1"),
         ordered("F", "first"), ordered("H", " 3 "), ordered("G", "-1"), ordered("I", "2.5")},
        kEnglish);
    EXPECT_EQ(JoinedNames(groups), QStringLiteral("G,A,F,I,C,B,H,E"));
    EXPECT_EQ(groups[1].GetOrder(), 0);
    EXPECT_EQ(groups[6].GetOrder(), 3);
    EXPECT_EQ(groups[7].GetOrder(), MapLayerGroup::kUnorderedPresentationOrder);
}

TEST(MapLayerGroup, EnabledFollowsTheLayersSetEnabledWritesThemAndOneVisibleLayerShows) {
    MapLayer disabled = GroupedLayer("b", "G");
    disabled.SetEnabled(false);
    auto layers = MakeRefCnt<MapLayers>(std::vector<MapLayer>{GroupedLayer("a", "G"), disabled});
    MapLayerGroup group(QStringLiteral("G"), layers, 3);
    EXPECT_FALSE(group.IsEnabled());

    group.SetEnabled(true);
    EXPECT_TRUE(group.IsEnabled());
    EXPECT_EQ(layers->AsString(QStringLiteral(",")), QStringLiteral("a,b"));
    EXPECT_TRUE(MapLayerGroup(QStringLiteral("H"), layers, 1).IsEnabled());

    group.SetEnabled(false);
    EXPECT_FALSE(group.IsEnabled());
    EXPECT_EQ(layers->GetLayers()[0].GetAttribute(MapLayer::attrEnabled), QStringLiteral("false"));
    EXPECT_FALSE(layers->HasAnyEnabledLayers());

    EXPECT_THROW(MapLayerGroup(QStringLiteral("null"), nullptr, 0), LogicException);

    MapLayer zoomedIn;
    zoomedIn.SetAttribute(MapLayer::attrMinZoom, QStringLiteral("10"));
    MapLayer largeScale;
    largeScale.SetAttribute(MapLayer::attrMaxScaleDenom, QStringLiteral("1000"));
    const MapLayerGroup limited(
        QStringLiteral("G"), MakeRefCnt<MapLayers>(std::vector<MapLayer>{zoomedIn, largeScale}), 0);
    EXPECT_FALSE(MapLayerGroup::IsAnyLayerVisible(limited, 5.0, 5000.0));
    EXPECT_TRUE(MapLayerGroup::IsAnyLayerVisible(limited, 12.0, 5000.0));
    EXPECT_TRUE(MapLayerGroup::IsAnyLayerVisible(limited, 5.0, 800.0));
}

TEST(MapLayerGroup, MergeGroupsConcatenatesGroupAfterGroup) {
    const std::vector<MapLayerGroup> groups = MapLayerGroup::MakeLayerGroupsByLanguage(
        {GroupedLayer("b1", "B", "2"), GroupedLayer("a1", "A"), GroupedLayer("c1", "C", "1"),
         GroupedLayer("a2", "A"), GroupedLayer("b2", "B")},
        kEnglish);
    const RefCntPtr<MapLayers> merged = MapLayerGroup::MergeGroups(groups);
    EXPECT_EQ(JoinedNames(merged->GetLayers()), QStringLiteral("c1,b1,b2,a1,a2"));

    merged->GetLayers()[0].SetEnabled(true);
    EXPECT_FALSE(groups[0].GetLayers()->HasAnyEnabledLayers());

    const RefCntPtr<MapLayers> empty = MapLayerGroup::MergeGroups({});
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->GetLayers().empty());
}
