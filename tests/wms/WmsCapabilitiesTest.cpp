#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/DOMParser.h>
#include <lmxmaps/host/StringTable.h>

#include "providers/QStringPrinter.h"

namespace {

const std::string kGetMap = R"(<Format>image/png</Format>
  <DCPType><HTTP><Get><OnlineResource xlink:href="http://maps.example/wms?"/></Get></HTTP></DCPType>)";
const std::string kOneLayer = "<Layer><Name>roads</Name><SRS>EPSG:4326</SRS></Layer>";

std::string Document(const std::string& version, const std::string& getMap,
                     const std::string& layers,
                     const std::string& service = "<Service><Title>Base maps</Title></Service>",
                     const std::string& requestName = "GetMap") {
    return R"(<?xml version="1.0"?><WMT_MS_Capabilities version=")" + version +
           R"(" xmlns:xlink="http://www.w3.org/1999/xlink">)" + service + "<Capability><Request><" +
           requestName + ">" + getMap + "</" + requestName + "></Request>" + layers +
           "</Capability></WMT_MS_Capabilities>";
}

WmsCapabilities Read(const std::string& xml) {
    return WmsCapabilities::Read(DOMParser::Parse(QByteArray::fromStdString(xml)));
}

std::optional<MapProviderException> ReadError(const std::string& xml) {
    try {
        Read(xml);
    } catch (const MapProviderException& e) {
        return e;
    }
    ADD_FAILURE() << "no exception for " << xml;
    return std::nullopt;
}

MapProviderException::Type ErrorType(const std::string& xml) {
    const std::optional<MapProviderException> e = ReadError(xml);
    return e ? e->GetType() : MapProviderException::Type{};
}

const std::vector<MapLayer>& Layers(const WmsCapabilities& capabilities) {
    return capabilities.layers->GetLayers();
}

// The CRS a single named layer with these SRS elements gets.
TString ChosenCRS(std::initializer_list<const char*> codes) {
    std::string layer = "<Layer><Name>x</Name>";
    for (const char* code : codes) {
        layer += std::string("<SRS>") + code + "</SRS>";
    }
    const WmsCapabilities capabilities = Read(Document("1.1.1", kGetMap, layer + "</Layer>"));
    const std::vector<MapLayer>& layers = Layers(capabilities);
    return layers.size() == 1 ? layers.front().GetAttribute(MapLayer::attrCRS) : TString();
}

std::string GetMapAt(const std::string& address) {
    return R"(<DCPType><HTTP><Get><OnlineResource xlink:href=")" + address +
           R"("/></Get></HTTP></DCPType>)";
}

} // namespace

TEST(WmsCapabilities, VersionsOneZeroToOneOneOneTheOneZeroFormsAndExceptionReports) {
    EXPECT_EQ(ErrorType(Document("1.3.0", kGetMap, kOneLayer)),
              MapProviderException::eNoUsableService);
    EXPECT_EQ(ErrorType(Document("", kGetMap, kOneLayer)), MapProviderException::eNoUsableService);

    const WmsCapabilities v110 = Read(Document("1.1.0", kGetMap, kOneLayer));
    EXPECT_EQ(v110.version, VersionNumber(1, 1, 0));
    // Some servers write the version with dashes.
    EXPECT_EQ(Read(Document("1-1-1", kGetMap, kOneLayer)).version, VersionNumber(1, 1, 1));

    // 1.0 documents name formats and the address their own way and list codes in one element.
    const std::string getMap = R"(<Format><PNG/><JPEG/></Format>
        <DCPType><HTTP><Get onlineResource="http://h:8080/wms?"/></HTTP></DCPType>)";
    const std::string layers =
        "<Layer><SRS>EPSG:4326 EPSG:3857</SRS><Layer><Name>a</Name></Layer></Layer>";
    const WmsCapabilities capabilities = Read(Document("1.0.0", getMap, layers, "", "Map"));
    EXPECT_EQ(capabilities.imageFormat, QStringLiteral("image/png"));
    EXPECT_EQ(capabilities.getMapHost, QStringLiteral("h"));
    EXPECT_EQ(capabilities.getMapPort, 8080);
    EXPECT_EQ(capabilities.getMapPath, QStringLiteral("/wms"));
    ASSERT_EQ(Layers(capabilities).size(), 1u);
    EXPECT_EQ(Layers(capabilities)[0].GetAttribute(MapLayer::attrCRS), QStringLiteral("EPSG:3857"));
    EXPECT_EQ(
        Read(Document("1.0.0", "<Format><GIF/><JPEG/></Format>", layers, "", "Map")).imageFormat,
        QStringLiteral("image/jpeg"));

    // 1.1 documents give one code per element.
    const std::optional<MapProviderException> listed =
        ReadError(Document("1.1.1", kGetMap, layers));
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->GetType(), MapProviderException::eNoUsableService);
    EXPECT_EQ(listed->GetMessage(), LookupTStr(WmsConnection::kNoProjectedLayersText));

    // Long SRS lists are wrapped over several lines in real documents.
    const auto crs = [](const std::string& list) {
        const WmsCapabilities wrapped =
            Read(Document("1.0.0", "<Format><PNG/></Format>",
                          "<Layer><Name>a</Name><SRS>" + list + "</SRS></Layer>", "", "Map"));
        return Layers(wrapped).front().GetAttribute(MapLayer::attrCRS);
    };
    EXPECT_EQ(crs("EPSG:3857\n        EPSG:4326"), QStringLiteral("EPSG:3857"));
    TString tabbed;
    EXPECT_NO_THROW(tabbed = crs("EPSG:27700\tEPSG:4326"));
    EXPECT_EQ(tabbed, QStringLiteral("EPSG:4326"));

    // An exception report, or no XML at all, comes instead of capabilities.
    const std::optional<MapProviderException> report = ReadError(R"(<ServiceExceptionReport>
        <ServiceException code="InvalidFormat">Unknown map file</ServiceException>
        <ServiceException>Try again later</ServiceException></ServiceExceptionReport>)");
    ASSERT_TRUE(report);
    EXPECT_EQ(report->GetType(), MapProviderException::eServiceError);
    EXPECT_TRUE(report->GetMessage().contains(QStringLiteral("Unknown map file")));
    EXPECT_TRUE(report->GetMessage().contains(QStringLiteral("Try again later")));

    const std::optional<MapProviderException> html = ReadError("<html><body>404</body></html>");
    ASSERT_TRUE(html);
    EXPECT_EQ(html->GetType(), MapProviderException::eServiceError);
    EXPECT_EQ(html->GetMessage(), LookupTStr(WmsConnection::kCapabilitiesFailedText));
}

TEST(WmsCapabilities, TitleFormatAndGetMapAddressOfTheDocument) {
    const std::string titled =
        "<Layer><Name>a</Name><Title>Roads</Title><SRS>EPSG:4326</SRS></Layer>";
    EXPECT_EQ(Read(Document("1.1.1", kGetMap, titled)).title, QStringLiteral("Base maps"));
    EXPECT_EQ(Read(Document("1.1.1", kGetMap, titled, "<Service/>")).title,
              QStringLiteral("Roads"));
    EXPECT_EQ(Read(Document("1.1.1", kGetMap, kOneLayer, "<Service/>")).title,
              QStringLiteral("WMS Server"));
    EXPECT_EQ(Read(Document("1.1.1", kGetMap, titled, "<Service><Title> </Title></Service>")).title,
              QStringLiteral("WMS Server"));

    const auto format = [](const std::string& formats) {
        return Read(Document("1.1.1", formats, kOneLayer)).imageFormat;
    };
    EXPECT_EQ(format("<Format>image/gif</Format><Format>image/jpeg</Format>"),
              QStringLiteral("image/jpeg"));
    EXPECT_EQ(format("<Format>image/jpeg</Format><Format>image/png</Format>"),
              QStringLiteral("image/png"));
    EXPECT_EQ(format("<Format>image/gif</Format>"), QStringLiteral("image/gif"));
    EXPECT_EQ(format(""), QStringLiteral("image/png"));
    EXPECT_EQ(ErrorType(Document("1.1.1", "<Format>image/tiff</Format>", kOneLayer)),
              MapProviderException::eNoUsableService);

    const WmsCapabilities plain = Read(Document(
        "1.1.1", GetMapAt("http://maps.example:8080/cgi-bin/mapserv?map=world.map&"), kOneLayer));
    EXPECT_EQ(plain.getMapScheme, QStringLiteral("http"));
    EXPECT_EQ(plain.getMapHost, QStringLiteral("maps.example"));
    EXPECT_EQ(plain.getMapPath, QStringLiteral("/cgi-bin/mapserv?map=world.map"));
    EXPECT_EQ(plain.getMapPort, 8080);

    const WmsCapabilities secure =
        Read(Document("1.1.1", GetMapAt("https://secure.example/wms"), kOneLayer));
    EXPECT_EQ(secure.getMapScheme, QStringLiteral("https"));
    EXPECT_EQ(secure.getMapHost, QStringLiteral("https://secure.example"));
    EXPECT_EQ(secure.getMapPath, QStringLiteral("/wms"));
    EXPECT_EQ(secure.getMapPort, 443);

    // Unusable addresses leave the last usable one; a later usable one replaces it.
    const std::string first = GetMapAt("http://first.example/wms");
    const std::string unusable = GetMapAt("ftp://files.example/wms") + GetMapAt("no address");
    EXPECT_EQ(Read(Document("1.1.1", first + unusable, kOneLayer)).getMapHost,
              QStringLiteral("first.example"));
    EXPECT_EQ(Read(Document("1.1.1", first + unusable + GetMapAt("http://second.example:81/w"),
                            kOneLayer))
                  .getMapHost,
              QStringLiteral("second.example"));
}

TEST(WmsCapabilities, BestProjectionOfTheLayerElseNoUsableLayer) {
    EXPECT_EQ(ChosenCRS({"EPSG:4326", "EPSG:3857", "EPSG:102100"}), QStringLiteral("EPSG:3857"));
    EXPECT_EQ(ChosenCRS({"EPSG:4326", "EPSG:102100"}), QStringLiteral("EPSG:102100"));
    EXPECT_EQ(ChosenCRS({"EPSG:4269", "EPSG:4326", "EPSG:27700"}), QStringLiteral("EPSG:4326"));
    EXPECT_EQ(ChosenCRS({"EPSG:27700", "EPSG:4269", "EPSG:4258"}), QStringLiteral("EPSG:4269"));
    EXPECT_EQ(ChosenCRS({"epsg:4326"}), QStringLiteral("epsg:4326"));

    // The codes of an unnamed root layer serve its children.
    const WmsCapabilities inherited = Read(Document("1.1.1", kGetMap, R"(<Layer>
        <SRS>EPSG:4326</SRS><SRS>EPSG:3857</SRS>
        <Layer><Name>a</Name></Layer><Layer><Name>b</Name><SRS>EPSG:4326</SRS></Layer></Layer>)"));
    ASSERT_EQ(Layers(inherited).size(), 2u);
    for (const MapLayer& layer : Layers(inherited)) {
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrCRS), QStringLiteral("EPSG:3857"));
    }

    const std::optional<MapProviderException> unprojected = ReadError(
        Document("1.1.1", kGetMap, "<Layer><Name>os</Name><SRS>EPSG:27700</SRS></Layer>"));
    const std::optional<MapProviderException> unnamed = ReadError(
        Document("1.1.1", kGetMap, "<Layer><Title>t</Title><SRS>EPSG:4326</SRS></Layer>"));
    ASSERT_TRUE(unprojected && unnamed);
    EXPECT_EQ(unprojected->GetType(), MapProviderException::eNoUsableService);
    EXPECT_EQ(unnamed->GetType(), MapProviderException::eNoUsableService);
    EXPECT_EQ(unprojected->GetMessage(), LookupTStr(WmsConnection::kNoProjectedLayersText));
    EXPECT_EQ(unnamed->GetMessage(), LookupTStr(WmsConnection::kNoLayersText));
    EXPECT_NE(unprojected->GetMessage(), unnamed->GetMessage());
}

TEST(WmsCapabilities, LayerListing) {
    const WmsCapabilities capabilities = Read(Document("1.1.1", kGetMap, R"(<Layer>
      <Title>World</Title><SRS>EPSG:4326</SRS>
      <Layer><Name>a</Name><Title>Roads</Title>
        <MinScaleDenominator>1000</MinScaleDenominator>
        <MaxScaleDenominator>250000</MaxScaleDenominator></Layer>
      <Layer><Name>b</Name><Title>Roads</Title></Layer>
      <Layer><Name>a</Name><Title>Roads again</Title></Layer>
      <Layer noSubsets="TRUE"><Name>whole</Name></Layer>
      <Layer noSubsets="0"><Name>subsets</Name></Layer>
      <Layer noSubsets="1"><Name>whole1</Name></Layer>
      <Layer fixedWidth="512"><Name>fixed</Name></Layer>
      <Layer fixedHeight="256"><Name>fixedHigh</Name></Layer>
      <Layer fixedWidth="0"><Name>free</Name></Layer>
      <Layer><Name>group</Name><Title>Group</Title>
        <Layer><Name>g1</Name><Title>First</Title></Layer>
        <Layer><Name>g2</Name></Layer>
      </Layer></Layer>)"));

    std::vector<TString> names;
    for (const MapLayer& layer : Layers(capabilities)) {
        names.push_back(layer.GetName());
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrType), QStringLiteral("features"));
        EXPECT_EQ(layer.GetAttribute(MapLayer::attrCRS), QStringLiteral("EPSG:4326"));
    }
    EXPECT_EQ(names, (std::vector<TString>{"a", "b", "subsets", "free", "group", "g1", "g2"}));

    const MapLayer& a = Layers(capabilities)[0];
    EXPECT_EQ(a.GetAttribute(MapLayer::attrDisplayName), QStringLiteral("Roads"));
    EXPECT_EQ(a.GetAttribute(MapLayer::attrMinScaleDenom), QStringLiteral("1000"));
    EXPECT_EQ(a.GetAttribute(MapLayer::attrMaxScaleDenom), QStringLiteral("250000"));
    const MapLayer& b = Layers(capabilities)[1];
    EXPECT_EQ(b.GetAttribute(MapLayer::attrDisplayName), QStringLiteral("Roads (b)"));
    EXPECT_FALSE(b.HasAttribute(MapLayer::attrMinScaleDenom));
    EXPECT_EQ(Layers(capabilities)[5].GetAttribute(MapLayer::attrDisplayName),
              QStringLiteral("First"));
}
