#include <gtest/gtest.h>

#include <lmxmaps/MapNamespace.h>
#include <lmxmaps/SpatialProjectorCreator.h>

#include "sources/TestMapProvider.h"

namespace {

TString Q(const char* text) {
    return QString::fromUtf8(text);
}

class DataNamespace : public INamespace {};

class Specification : public VisualSpecification {
public:
    Specification(const char* mapSource, bool hasMapSource)
        : m_mapSource(Q(mapSource)), m_hasMapSource(hasMapSource) {}

    TString GetMapSourceForRendering() const override { return m_mapSource; }
    bool HasMapSource() const override { return m_hasMapSource; }

private:
    TString m_mapSource;
    bool m_hasMapSource;
};

// The host's look-ups as a map chart would answer them: longitude across, latitude up.
const FieldName kLongitude(Q("Longitude (generated)"));
const FieldName kLatitude(Q("Latitude (generated)"));

bool FindLatLongOnFirstPane(const INamespace&, const std::vector<PaneDescriptor>& panes,
                            FieldName& latitude, FieldName& longitude) {
    if (panes.empty()) {
        return false;
    }
    latitude = panes.front().yField;
    longitude = panes.front().xField;
    return true;
}

const std::vector<PaneDescriptor> kMapPanes = {{0, 0, kLongitude, kLatitude}};

class SpatialProjectorCreatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        SpatialProjectorInterpreter::SetLatLongFieldFinder(FindLatLongOnFirstPane);
        m_mapNamespace.AddMapSource(std::make_shared<MapSource>(
            Q("Streets"), std::make_shared<TestMapProvider>(
                              AttributeMap{{Q("class"), TStr(TestMapProvider::valueClassAttr)}})));
    }
    void TearDown() override {
        SpatialProjectorInterpreter::SetLatLongFieldFinder(nullptr);
        ScnqlUtils::SetPaneDescriptorComputer(nullptr);
    }

    DataNamespace m_data;
    MapNamespace m_mapNamespace;
};

} // namespace

TEST_F(SpatialProjectorCreatorTest, TheProviderProjectsLongitudeAsUAndLatitudeAsVIfThereIsOne) {
    const Specification map("STREETS", true);
    EXPECT_TRUE(SpatialProjectorCreator::IsMap(m_data, map, kMapPanes, m_mapNamespace));
    const auto [isMap, projector] =
        SpatialProjectorCreator::IsMapAndCreateIfPossibleWithPaneDescriptor(m_data, map, kMapPanes,
                                                                            m_mapNamespace);
    EXPECT_TRUE(isMap);
    ASSERT_TRUE(projector);
    EXPECT_EQ(projector->GetUField(), kLongitude);
    EXPECT_EQ(projector->GetVField(), kLatitude);
    const SpatialProjectorPtr expected = m_mapNamespace.GetMapSource(Q("Streets"))
                                             ->GetMapProvider()
                                             ->CreateSpatialProjector(kLongitude, kLatitude);
    EXPECT_TRUE(projector->IsEqual(*expected));

    // A source without a provider is a map without a projector.
    m_mapNamespace.AddMapSource(std::make_shared<MapSource>(Q("Bare"), nullptr));
    const auto [bareIsMap, bareProjector] =
        SpatialProjectorCreator::IsMapAndCreateIfPossibleWithPaneDescriptor(
            m_data, Specification("Bare", true), kMapPanes, m_mapNamespace);
    EXPECT_TRUE(bareIsMap);
    EXPECT_FALSE(bareProjector);
}

TEST_F(SpatialProjectorCreatorTest, PanesComeFromTheHostAndNoSourceFieldsOrKnownSourceIsNoMap) {
    const Specification map("Streets", true);
    // Without the host's computation there are no panes, hence no fields.
    EXPECT_FALSE(
        SpatialProjectorCreator::IsMapAndCreateIfPossible(m_data, map, m_mapNamespace).first);

    const VisualSpecification* asked = nullptr;
    ScnqlUtils::SetPaneDescriptorComputer(
        [&asked](const INamespace&, const VisualSpecification& specification) {
            asked = &specification;
            return kMapPanes;
        });
    const auto [isMap, projector] =
        SpatialProjectorCreator::IsMapAndCreateIfPossible(m_data, map, m_mapNamespace);
    EXPECT_EQ(asked, &map);
    EXPECT_TRUE(isMap);
    ASSERT_TRUE(projector);
    EXPECT_EQ(projector->GetUField(), kLongitude);
    EXPECT_EQ(projector->GetVField(), kLatitude);

    const auto expectNotAMap = [this](const VisualSpecification& specification,
                                      const std::vector<PaneDescriptor>& panes, const char* why) {
        EXPECT_FALSE(SpatialProjectorCreator::IsMap(m_data, specification, panes, m_mapNamespace))
            << why;
        const auto [isMap, projector] =
            SpatialProjectorCreator::IsMapAndCreateIfPossibleWithPaneDescriptor(
                m_data, specification, panes, m_mapNamespace);
        EXPECT_FALSE(isMap) << why;
        EXPECT_FALSE(projector) << why;
    };
    expectNotAMap(Specification("Terrain", true), kMapPanes, "source unknown to the namespace");
    expectNotAMap(Specification("Streets", false), kMapPanes, "specification has no map source");
    expectNotAMap(Specification("Streets", true), {}, "no latitude and longitude fields");

    SpatialProjectorInterpreter::SetLatLongFieldFinder(nullptr);
    expectNotAMap(Specification("Streets", true), kMapPanes, "no host look-up installed");
}
