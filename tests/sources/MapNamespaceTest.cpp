#include <gtest/gtest.h>

#include <lmxmaps/MapNamespace.h>

#include "sources/TestMapProvider.h"

namespace {

TString Q(const char* text) {
    return QString::fromUtf8(text);
}

std::shared_ptr<MapSource> Source(const char* name) {
    return std::make_shared<MapSource>(
        Q(name), std::make_shared<TestMapProvider>(
                     AttributeMap{{Q("class"), TStr(TestMapProvider::valueClassAttr)}}));
}

std::vector<TString> Names(const MapNamespace& mapNamespace) {
    std::vector<TString> names;
    for (const auto& [name, source] : mapNamespace.GetMapSources()) {
        names.push_back(name);
    }
    return names;
}

} // namespace

TEST(MapNamespace, NamesMatchInAnyCaseAndACopySharesTheSourcesWhileACloneCopiesThem) {
    MapNamespace mapNamespace;
    const std::shared_ptr<MapSource> streets = Source("Streets");
    mapNamespace.AddMapSource(streets);
    for (const char* spelling : {"Streets", "STREETS", "streets", "sTrEeTs"}) {
        EXPECT_TRUE(mapNamespace.HasMapSource(Q(spelling))) << spelling;
        EXPECT_EQ(mapNamespace.GetMapSource(Q(spelling)), streets) << spelling;
    }
    EXPECT_FALSE(mapNamespace.HasMapSource(Q("Street")));
    EXPECT_EQ(mapNamespace.GetMapSource(Q("Streets ")), nullptr);

    // Beyond ASCII too.
    mapNamespace.AddMapSource(Source("Ökokarte"));
    EXPECT_TRUE(mapNamespace.HasMapSource(Q("ÖKOKARTE")));
    EXPECT_TRUE(mapNamespace.HasMapSource(Q("ökokarte")));
    EXPECT_EQ(Names(mapNamespace), (std::vector<TString>{Q("Streets"), Q("Ökokarte")}));

    MapNamespace original;
    original.AddMapSource(Source("Streets"));
    original.AddMapSource(Source("Satellite"));
    const std::shared_ptr<MapSource> originalStreets = original.GetMapSource(Q("Streets"));

    const MapNamespace copy(original);
    const std::unique_ptr<MapNamespace> clone = original.Clone();
    ASSERT_TRUE(clone);
    EXPECT_EQ(Names(*clone), Names(original));
    EXPECT_EQ(copy.GetMapSource(Q("Streets")), originalStreets);

    const std::shared_ptr<MapSource> cloned = clone->GetMapSource(Q("streets"));
    ASSERT_TRUE(cloned);
    EXPECT_NE(cloned, originalStreets);
    EXPECT_EQ(cloned->GetId(), originalStreets->GetId());
    EXPECT_EQ(cloned->GetMapProvider(), originalStreets->GetMapProvider());

    cloned->SetUserAttribute(TStr(MapSource::attrUserWrap), Q("false"));
    EXPECT_FALSE(originalStreets->HasUserAttribute(TStr(MapSource::attrUserWrap)));
    copy.GetMapSource(Q("Streets"))->SetUserAttribute(TStr(MapSource::attrUserWrap), Q("true"));
    EXPECT_EQ(originalStreets->GetUserAttribute(TStr(MapSource::attrUserWrap)), Q("true"));
    EXPECT_EQ(cloned->GetUserAttribute(TStr(MapSource::attrUserWrap)), Q("false"));

    // Changing the membership of one namespace leaves the others alone.
    clone->RemoveMapSource(Q("Satellite"));
    EXPECT_TRUE(original.HasMapSource(Q("Satellite")));
    EXPECT_TRUE(copy.HasMapSource(Q("Satellite")));
}

TEST(MapNamespace, ADuplicateNameInAnyCaseIsALogicErrorAndRemovingFreesTheName) {
    MapNamespace mapNamespace;
    const std::shared_ptr<MapSource> streets = Source("Streets");
    mapNamespace.AddMapSource(streets);
    try {
        mapNamespace.AddMapSource(Source("streets"));
        FAIL() << "a duplicate was added";
    } catch (const LogicException& e) {
        EXPECT_EQ(e.GetCondition(), "m_mapsources.find(name) == m_mapsources.end()");
    }
    EXPECT_EQ(mapNamespace.GetMapSources().size(), 1u);
    EXPECT_EQ(mapNamespace.GetMapSource(Q("STREETS")), streets);
    EXPECT_EQ(Names(mapNamespace), std::vector<TString>{Q("Streets")});

    mapNamespace.AddMapSource(Source("Satellite"));

    EXPECT_EQ(mapNamespace.RemoveMapSource(Q("Terrain")), nullptr);
    EXPECT_EQ(Names(mapNamespace), (std::vector<TString>{Q("Satellite"), Q("Streets")}));

    EXPECT_EQ(mapNamespace.RemoveMapSource(Q("STREETS")), streets);
    EXPECT_FALSE(mapNamespace.HasMapSource(Q("Streets")));
    EXPECT_EQ(mapNamespace.RemoveMapSource(Q("Streets")), nullptr);
    // The name is free again.
    mapNamespace.AddMapSource(Source("streets"));
    EXPECT_EQ(Names(mapNamespace), (std::vector<TString>{Q("Satellite"), Q("streets")}));

    mapNamespace.RemoveAllMapSources();
    EXPECT_TRUE(mapNamespace.GetMapSources().empty());
    EXPECT_FALSE(mapNamespace.HasMapSource(Q("Satellite")));
}

TEST(MapNamespace, SourcesAreListedInCaseFoldedOrderAndAssignmentReplacesThem) {
    MapNamespace mapNamespace;
    for (const char* name : {"gamma", "Beta", "alpha", "Delta"}) {
        mapNamespace.AddMapSource(Source(name));
    }
    EXPECT_EQ(Names(mapNamespace),
              (std::vector<TString>{Q("alpha"), Q("Beta"), Q("Delta"), Q("gamma")}));

    MapNamespace source;
    source.AddMapSource(Source("Streets"));
    MapNamespace target;
    target.AddMapSource(Source("Terrain"));
    target.AddMapSource(Source("STREETS"));

    target = source;
    EXPECT_EQ(Names(target), std::vector<TString>{Q("Streets")});
    EXPECT_EQ(target.GetMapSource(Q("streets")), source.GetMapSource(Q("streets")));

    MapNamespace& alias = target;
    target = alias;
    EXPECT_EQ(Names(target), std::vector<TString>{Q("Streets")});
}
