#include <gtest/gtest.h>

#include <lmxmaps/MapQuery.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/DOMParser.h>

#include "providers/QStringPrinter.h"

namespace {

// Half the Web Mercator world: pi times the radius 6378137 m.
constexpr double kHalfMercatorWorld = 20037508.342789244;

SpatialProjectorPtr PlateCarree() {
    return SpatialProjector::PlateCarreeFactory(FieldName(), FieldName());
}

SpatialProjectorPtr WebMercator() {
    return SpatialProjector::WebMercatorFactory(FieldName(), FieldName(),
                                                QStringLiteral("EPSG:3857"));
}

MapLayer Layer(const char* name, bool enabled, const char* crs = "") {
    MapLayer layer;
    layer.SetAttribute(MapLayer::attrName, QString::fromLatin1(name));
    layer.SetAttribute(MapLayer::attrCRS, QString::fromLatin1(crs));
    layer.SetEnabled(enabled);
    return layer;
}

MapQueryPtr Query(double minX, double maxX, double minY, double maxY, bool margin,
                  unsigned int width = 512, unsigned int height = 512,
                  RefCntPtr<MapLayers> layers = MakeRefCnt<MapLayers>()) {
    const DataValueRect box(DataValue::Real(minX), DataValue::Real(maxX), DataValue::Real(minY),
                            DataValue::Real(maxY));
    return MakeRefCnt<MapQuery>(std::move(layers), QStringLiteral("EPSG:4326"), box, width, height,
                                TString(), TString(), false, margin);
}

RefCntPtr<WmsRequestor> Requestor(MapQueryPtr query, SpatialProjectorPtr projector = PlateCarree(),
                                  const char* host = "maps.example", unsigned int port = 80,
                                  const char* path = "/wms") {
    return MakeRefCnt<WmsRequestor>(VersionNumber(1, 1, 1), QString::fromLatin1(host), port,
                                    QString::fromLatin1(path), QStringLiteral("image/png"),
                                    std::move(projector), std::move(query));
}

} // namespace

TEST(WmsRequestor, MarginsGrowTheBoxOnlyInsideTheWorldAndTheUrlKeepsTheGetMapQuery) {
    // A 45-degree tile over 512 pixels: 100 pixels are 45 * 100 / 512 degrees.
    const double g = 45.0 * 100 / 512;
    struct Case {
        const char* name;
        WmsRequestor::RequestBox query;
        WmsRequestor::RequestBox sent;
    };
    // Image rows start at the top: only a missing top margin moves the vertical crop.
    const Case cases[] = {
        {"inside", {0, 45, 0, 45, 512, 512}, {-g, 45 + g, -g, 45 + g, 712, 712, 100, 100, true}},
        {"west edge",
         {-180, -135, 0, 45, 512, 512},
         {-180, -135 + g, -g, 45 + g, 612, 712, 0, 100, true}},
        {"east edge",
         {135, 180, 0, 45, 512, 512},
         {135 - g, 180, -g, 45 + g, 612, 712, 100, 100, true}},
        {"top edge", {0, 45, 45, 90, 512, 512}, {-g, 45 + g, 45 - g, 90, 712, 612, 100, 0, true}},
        {"bottom edge",
         {0, 45, -90, -45, 512, 512},
         {-g, 45 + g, -90, -45 + g, 712, 612, 100, 100, true}},
        {"north-west corner",
         {-180, -135, 45, 90, 512, 512},
         {-180, -135 + g, 45 - g, 90, 612, 612, 0, 0, true}},
        // Without a margin the query is sent as it is.
        {"no margin", {-180, 10, -20, 90, 800, 450}, {-180, 10, -20, 90, 800, 450, 0, 0, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WmsRequestor::RequestBox& q = c.query;
        const WmsRequestor::RequestBox box =
            Requestor(Query(q.minX, q.maxX, q.minY, q.maxY, c.sent.hasMargin,
                            static_cast<unsigned int>(q.width),
                            static_cast<unsigned int>(q.height)))
                ->ComputeRequestBox();
        EXPECT_DOUBLE_EQ(box.minX, c.sent.minX);
        EXPECT_DOUBLE_EQ(box.maxX, c.sent.maxX);
        EXPECT_DOUBLE_EQ(box.minY, c.sent.minY);
        EXPECT_DOUBLE_EQ(box.maxY, c.sent.maxY);
        EXPECT_EQ(box.width, c.sent.width);
        EXPECT_EQ(box.height, c.sent.height);
        EXPECT_EQ(box.cropX, c.sent.cropX);
        EXPECT_EQ(box.cropY, c.sent.cropY);
        EXPECT_EQ(box.hasMargin, c.sent.hasMargin);
    }

    const WmsCapabilities capabilities = WmsCapabilities::Read(DOMParser::Parse(R"(
        <WMT_MS_Capabilities version="1.1.1" xmlns:xlink="http://www.w3.org/1999/xlink">
        <Capability><Request><GetMap><Format>image/jpeg</Format><DCPType><HTTP><Get>
        <OnlineResource xlink:href="https://maps.example/cgi-bin/mapserv?map=w.map&amp;"/>
        </Get></HTTP></DCPType></GetMap></Request>
        <Layer><Name>a</Name><SRS>EPSG:4326</SRS></Layer></Capability></WMT_MS_Capabilities>)"));
    auto layers = MakeRefCnt<MapLayers>();
    layers->GetLayers() = {Layer("a", true, "EPSG:4326")};
    const auto requestor = MakeRefCnt<WmsRequestor>(
        capabilities.version, capabilities.getMapHost,
        static_cast<unsigned int>(capabilities.getMapPort), capabilities.getMapPath,
        capabilities.imageFormat, PlateCarree(), Query(0, 45, 0, 45, false, 256, 256, layers));
    EXPECT_EQ(requestor->GetResultUrl(),
              QStringLiteral("https://maps.example/cgi-bin/mapserv?map=w.map&bbox=0.0000%2C0.0000"
                             "%2C45.0000%2C45.0000&format=image%2Fjpeg&height=256&layers=a"
                             "&request=GetMap&srs=EPSG%3A4326&styles=&version=1.1.1&width=256"));
}

TEST(WmsRequestor, GetMapParametersOfTheTopLeftMercatorTileAndTheirBBoxNumbers) {
    auto layers = MakeRefCnt<MapLayers>();
    layers->GetLayers() = {Layer("roads", true, "EPSG:3857"), Layer("rivers", false),
                           Layer("towns", true)};
    layers->GetLayers()[2].SetAttribute(MapLayer::attrRequestString, QStringLiteral("towns:all"));
    const SpatialProjectorPtr projector = WebMercator();
    const DataValueRect world = projector->GetWorldBounds();
    const double quarter = (world.MaxX().GetReal() - world.MinX().GetReal()) / 4;
    const RefCntPtr<WmsRequestor> requestor = Requestor(
        Query(world.MinX().GetReal(), world.MinX().GetReal() + quarter,
              world.MaxY().GetReal() - quarter, world.MaxY().GetReal(), true, 512, 512, layers),
        projector);

    const HTTPRequest::ParameterMap expected = {
        {QStringLiteral("version"), QStringLiteral("1.1.1")},
        {QStringLiteral("request"), QStringLiteral("GetMap")},
        {QStringLiteral("styles"), QString()},
        {QStringLiteral("srs"), QStringLiteral("EPSG:3857")},
        {QStringLiteral("layers"), QStringLiteral("roads,towns:all")},
        {QStringLiteral("format"), QStringLiteral("image/png")},
        {QStringLiteral("width"), QStringLiteral("612")},
        {QStringLiteral("height"), QStringLiteral("612")},
        // The world edges round outwards to ...3428; they are cut to stay inside.
        {QStringLiteral("bbox"),
         QStringLiteral("-20037508.3427,8061966.2473,-8061966.2473,20037508.3427")}};
    EXPECT_EQ(requestor->BuildGetMapParameters(requestor->ComputeRequestBox()), expected);

    const auto format = [](double value, double bound) {
        return WmsRequestor::FormatBBoxNumber(value, bound);
    };
    EXPECT_EQ(format(12.345649999, 180), QStringLiteral("12.3456"));
    EXPECT_EQ(format(12.345651, 180), QStringLiteral("12.3457"));
    EXPECT_EQ(format(-12.345651, -180), QStringLiteral("-12.3457"));
    EXPECT_EQ(format(0, 90), QStringLiteral("0.0000"));
    // Rounding onto the bound itself stays inside the world.
    EXPECT_EQ(format(179.99996, 180), QStringLiteral("180.0000"));
    EXPECT_EQ(format(-179.99996, -180), QStringLiteral("-180.0000"));
    // Rounding past the bound is cut instead.
    EXPECT_EQ(format(179.99996, 179.99995), QStringLiteral("179.9999"));
    EXPECT_EQ(format(kHalfMercatorWorld, kHalfMercatorWorld), QStringLiteral("20037508.3427"));
    EXPECT_EQ(format(-20037508.34279, -20037508.342789), QStringLiteral("-20037508.3427"));
}
