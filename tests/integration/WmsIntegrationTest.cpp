// WMS sources as a host uses them, against real loopback servers: MapServer of the lmx_servers
// fixture for real capabilities and imagery, the in-process fixture server for malformed
// documents and odd GetMap replies, and small servers of our own where a document must name
// addresses that neither of those writes. How a document is read is pinned down without a
// server in tests/wms; here only what needs the server's real answers.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/DOMParser.h>
#include <lmxmaps/host/StringTable.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/UserCancelException.h>

#include "fixture/DocumentServer.h"
#include "fixture/FixtureWms.h"
#include "fixture/SharedFixtureServer.h"
#include "integration/IntegrationSupport.h"
#include "providers/QStringPrinter.h"

namespace {

using namespace IntegrationSupport;

constexpr int kHelperTimeoutMs = 30000;
constexpr int kHttpTimeoutSeconds = 20;
// Tiles and one GetMap of the same box sample the same pixel grid and both are PNG (lossless, no
// codec noise), so they agree except where MapServer's drawing depends on the request box:
// anti-aliased outlines clipped near a request edge, and the raster resampler's per-request
// approximation, which lets a few pixels take a neighbouring source pixel. That is some tens of
// pixels in a million. The bound: no more than 0.1% of the pixels differ by more than 16 in any
// channel.
constexpr int kTolerance = 16;
constexpr double kMaxDifferingFraction = 0.001;
const QString kHelperPath = QStringLiteral(LMX_INTEGRATION_HELPER);

struct Box {
    double minX, maxX, minY, maxY;

    double Width() const { return maxX - minX; }
    double Height() const { return maxY - minY; }
};

Box BoxOf(const DataValueRect& rect) {
    return {rect.MinX().GetReal(), rect.MaxX().GetReal(), rect.MinY().GetReal(),
            rect.MaxY().GetReal()};
}

DataValueRect RectOf(const Box& box) {
    return DataValueRect(DataValue::Real(box.minX), DataValue::Real(box.maxX),
                         DataValue::Real(box.minY), DataValue::Real(box.maxY));
}

AttributeMap WmsSource(const QString& name, int port, const QString& url) {
    return {{QStringLiteral("name"), name},
            {QStringLiteral("class"), QString::fromUtf16(WmsProvider::valueClassAttr)},
            {QStringLiteral("service"), QStringLiteral("http")},
            {QStringLiteral("server"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("port"), QString::number(port)},
            {QStringLiteral("url"), url}};
}

std::shared_ptr<WmsProvider> ProviderOf(const MapSource& source) {
    return std::dynamic_pointer_cast<WmsProvider>(source.GetMapProvider());
}

// The provider's layers with only the named ones switched on.
RefCntPtr<MapLayers> LayersWith(MapProvider& provider, const std::vector<QString>& names) {
    RefCntPtr<MapLayers> layers = provider.GetFeatureLayers(QString());
    for (MapLayer& layer : layers->GetLayers()) {
        layer.SetEnabled(std::find(names.begin(), names.end(), layer.GetName()) != names.end());
    }
    return layers;
}

// Pixels per CRS unit of whole level `level`, as the provider's tiling will use them.
double LevelPixelsPerUnit(const WmsProvider& provider, int level) {
    const MapScaleLevel scaleLevel =
        provider.ComputeScaleLevel(provider.GetPixelsPerCRSUnitAtZoomLevel1() *
                                   provider.GetPixelFactor() * std::ldexp(1.0, level));
    EXPECT_EQ(scaleLevel.level, level);
    return scaleLevel.pixelsPerCRSUnit;
}

MapQueryPtr View(const RefCntPtr<MapLayers>& layers, const QString& crs, const Box& box,
                 double pixelsPerUnit, bool margin = false) {
    return MakeRefCnt<MapQuery>(
        layers, crs, RectOf(box),
        static_cast<unsigned int>(std::lround(box.Width() * pixelsPerUnit)),
        static_cast<unsigned int>(std::lround(box.Height() * pixelsPerUnit)), QString(), QString(),
        false, margin);
}

std::string Get(int port, const std::string& target) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(kHttpTimeoutSeconds);
    client.set_read_timeout(kHttpTimeoutSeconds);
    const auto response = client.Get(target);
    if (!response || response->status != 200) {
        ADD_FAILURE() << "GET " << target << " failed";
        return {};
    }
    return response->body;
}

// One GetMap straight from MapServer, written here rather than by the library under test.
QImage MapServerGetMap(int port, const QString& srs, const Box& box, int width, int height) {
    const QString target =
        QStringLiteral("/mapserv?SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&STYLES=&FORMAT=image/png"
                       "&LAYERS=bluemarble,countries&SRS=%1&BBOX=%2,%3,%4,%5&WIDTH=%6&HEIGHT=%7")
            .arg(srs)
            .arg(box.minX, 0, 'f', 6)
            .arg(box.minY, 0, 'f', 6)
            .arg(box.maxX, 0, 'f', 6)
            .arg(box.maxY, 0, 'f', 6)
            .arg(width)
            .arg(height);
    const std::string bytes = Get(port, target.toStdString());
    return QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()),
                            static_cast<int>(bytes.size()))
        .convertToFormat(QImage::Format_ARGB32);
}

struct PixelDifference {
    // Pixels with some channel further apart than kTolerance.
    int differing = 0;
    int total = 0;
    // The largest channel difference seen anywhere.
    int largest = 0;

    double Fraction() const { return total == 0 ? 1.0 : double(differing) / total; }
};

// `actual` from (ax, 0) against all of `expected`.
PixelDifference Compare(const QImage& actual, int ax, const QImage& expected) {
    PixelDifference difference;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb a = actual.pixel(ax + x, y);
            const QRgb e = expected.pixel(x, y);
            const int channel =
                std::max({std::abs(qRed(a) - qRed(e)), std::abs(qGreen(a) - qGreen(e)),
                          std::abs(qBlue(a) - qBlue(e)), std::abs(qAlpha(a) - qAlpha(e))});
            difference.largest = std::max(difference.largest, channel);
            difference.differing += channel > kTolerance ? 1 : 0;
            ++difference.total;
        }
    }
    return difference;
}

// `composed` from (x, 0) is MapServer's imagery `direct` within the bound, and the same image one
// pixel to the west is not, so that a tile drawn one pixel off or cropped at the wrong offset
// cannot pass.
void ExpectDrawnAs(const QImage& composed, int x, const QImage& direct) {
    // Imagery, not a blank or a wait colour.
    EXPECT_GT(DistinctColours(direct, QRect(0, 0, 512, 512)), 1000);
    const PixelDifference difference = Compare(composed, x, direct);
    EXPECT_LE(difference.Fraction(), kMaxDifferingFraction)
        << difference.differing << " of " << difference.total << " pixels, largest "
        << difference.largest;
    EXPECT_GT(
        Compare(composed, x + 1, direct.copy(0, 0, direct.width() - 1, direct.height())).Fraction(),
        kMaxDifferingFraction);
}

// The text of the first ServiceException of a report, trimmed; empty when there is none.
QString ServiceExceptionText(const std::string& xml) {
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("ServiceException")) {
            return reader.readElementText().trimmed();
        }
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// MapServer

using WmsIntegrationMapServer = TestServersFixture;

TEST_F(WmsIntegrationMapServer, LayersATiledViewErrorTextsAndOlderCapabilities) {
    const std::shared_ptr<MapSource> source = MapSourceFactory(WmsSource(
        QStringLiteral("MapServer"), m_servers->mapServerPort, QStringLiteral("/mapserv")));
    ASSERT_NO_THROW(source->Connect());
    const std::shared_ptr<WmsProvider> provider = ProviderOf(*source);
    ASSERT_NE(provider, nullptr);
    const MapConnectionPtr connection = provider->Connect();
    {
        // Version, title, format and GetMap address as the lmxmaps tool lists them are
        // WmsToolTest's.
        SCOPED_TRACE("the capabilities give the layer tree in the root's projection");
        EXPECT_EQ(provider->GetDisplayTitle(), QStringLiteral("lmxmaps test map"));

        // Parents before children, in document order; SRS is only on the root, which offers
        // EPSG:4326 and then EPSG:3857, so every layer takes Web Mercator.
        const std::pair<const char*, const char*> expected[] = {
            {"lmxmaps", "lmxmaps test map"},
            {"bluemarble", "Blue Marble"},
            {"land", "Land"},
            {"boundaries", "Boundaries and places"},
            {"countries", "Countries"},
            {"lakes", "Lakes"},
            {"cities", "Cities"}};
        const RefCntPtr<MapLayers> layers = provider->GetFeatureLayers(QString());
        ASSERT_EQ(layers->GetLayers().size(), std::size(expected));
        for (std::size_t i = 0; i < std::size(expected); ++i) {
            const MapLayer& layer = layers->GetLayers()[i];
            SCOPED_TRACE(expected[i].first);
            EXPECT_EQ(layer.GetName(), QLatin1String(expected[i].first));
            EXPECT_EQ(layer.GetAttribute(MapLayer::attrDisplayName),
                      QLatin1String(expected[i].second));
            EXPECT_EQ(layer.GetAttribute(MapLayer::attrCRS), QStringLiteral("EPSG:3857"));
            EXPECT_EQ(layer.GetAttribute(MapLayer::attrType), QStringLiteral("features"));
        }
        // MapServer writes the cities' 1:1000 to 1:1e9 as a 1.1.1 ScaleHint (pixel diagonals in
        // metres at 72 dpi, 0.4989 to 498902.8), not as scale denominators. Taken for
        // denominators those would hide the layer at every scale a map is drawn at, so none are
        // set.
        const MapLayer& cities = layers->GetLayers().back();
        EXPECT_FALSE(cities.HasAttribute(MapLayer::attrMinScaleDenom));
        EXPECT_FALSE(cities.HasAttribute(MapLayer::attrMaxScaleDenom));
        EXPECT_TRUE(cities.IsVisible(-1.0, 1.0e6));

        ASSERT_EQ(provider->GetCRS(), QStringLiteral("EPSG:3857"));
        EXPECT_EQ(provider->GetPixelFactor(), 1.0);
    }
    {
        // Tiles of 512 pixels, each fetched with a margin and cropped, drawn side by side,
        // against one GetMap of the same box. Level 3: eight tiles across the world. A view over
        // Europe and Africa that lines up with no tile edge: columns 3 to 5 and rows 4 to 5 from
        // the south, six tiles, none on the world's edge.
        SCOPED_TRACE("a tiled view matches one GetMap of the same box");
        const double pixelsPerUnit = LevelPixelsPerUnit(*provider, 3);
        const double span = WmsProvider::sTileSize / pixelsPerUnit;
        const Box world = BoxOf(provider->GetDefaultSpatialProjector()->GetWorldBounds());
        const Box viewBox{world.minX + 3.3 * span, world.minX + 5.1 * span, world.minY + 4.2 * span,
                          world.minY + 5.6 * span};
        const Rendered view = Render(
            *provider,
            View(LayersWith(*provider, {QStringLiteral("bluemarble"), QStringLiteral("countries")}),
                 QStringLiteral("EPSG:3857"), viewBox, pixelsPerUnit));
        ASSERT_NE(view.composite, nullptr);
        EXPECT_EQ(view.counts.fresh, 6);
        EXPECT_TRUE(TileErrors(*view.composite).empty());

        const MapQueryPtr& whole = view.composite->GetWholeQuery();
        const Box wholeBox = BoxOf(whole->GetBBox());
        EXPECT_NEAR(wholeBox.minX, world.minX + 3 * span, 1e-6 * span);
        EXPECT_NEAR(wholeBox.maxX, world.minX + 6 * span, 1e-6 * span);
        EXPECT_NEAR(wholeBox.minY, world.minY + 4 * span, 1e-6 * span);
        EXPECT_NEAR(wholeBox.maxY, world.minY + 6 * span, 1e-6 * span);
        ASSERT_EQ(whole->GetWidth(), 3u * WmsProvider::sTileSize);
        ASSERT_EQ(whole->GetHeight(), 2u * WmsProvider::sTileSize);

        const QImage composed = CompositePixels(*view.composite);
        const QImage direct = MapServerGetMap(m_servers->mapServerPort, QStringLiteral("EPSG:3857"),
                                              wholeBox, static_cast<int>(whole->GetWidth()),
                                              static_cast<int>(whole->GetHeight()));
        ASSERT_EQ(direct.size(), composed.size());
        ExpectDrawnAs(composed, 0, direct);
    }
    {
        SCOPED_TRACE("an unknown layer reports the server's exception text");
        MapLayer rivers;
        rivers.SetAttribute(MapLayer::attrName, QStringLiteral("rivers"));
        rivers.SetAttribute(MapLayer::attrCRS, QStringLiteral("EPSG:3857"));
        rivers.SetEnabled(true);
        const auto layers = MakeRefCnt<MapLayers>(std::vector<MapLayer>{rivers});
        const double pixelsPerUnit = LevelPixelsPerUnit(*provider, 1);
        const Box box{0.0, WmsProvider::sTileSize / pixelsPerUnit, 0.0,
                      WmsProvider::sTileSize / pixelsPerUnit};

        const MapRequestorPtr request = connection->CreateMapRequestor(
            provider->GetDefaultSpatialProjector(),
            View(layers, QStringLiteral("EPSG:3857"), box, pixelsPerUnit, true));
        request->Execute();
        EXPECT_TRUE(request->IsError());
        // What MapServer says to the same request, read here without the library.
        const QString url = request->GetResultUrl();
        const int pathStart = url.indexOf(QStringLiteral("/mapserv"));
        ASSERT_GE(pathStart, 0) << url.toStdString();
        const QString serverText =
            ServiceExceptionText(Get(m_servers->mapServerPort, url.mid(pathStart).toStdString()));
        ASSERT_TRUE(serverText.contains(QStringLiteral("LAYERS"))) << serverText.toStdString();
        try {
            request->GetResult();
            ADD_FAILURE() << "an unknown layer gave an image";
        } catch (const MapProviderException& e) {
            EXPECT_EQ(e.GetType(), MapProviderException::eServiceError);
            EXPECT_EQ(e.GetMessage(), serverText);
        }

        // A view shows the same text as the warning of every tile.
        const Rendered view =
            Render(*provider, View(layers, QStringLiteral("EPSG:3857"), box, pixelsPerUnit));
        ASSERT_NE(view.composite, nullptr);
        const std::vector<QString> errors = TileErrors(*view.composite);
        ASSERT_EQ(errors.size(), view.composite->GetTiles().size());
        for (const QString& error : errors) {
            EXPECT_EQ(error, serverText);
        }
    }
    {
        // MapServer's own 1.0.0 document lists a layer's codes in one SRS element, names formats
        // by elements (<PNG />) and the address by attribute (<Get onlineResource=...>).
        SCOPED_TRACE("MapServer's older capabilities are read");
        const std::string bytes =
            Get(m_servers->mapServerPort, "/mapserv?SERVICE=WMS&WMTVER=1.0.0&REQUEST=capabilities");
        ASSERT_NE(bytes.find("<Format><PNG />"), std::string::npos) << bytes.substr(0, 2000);
        ASSERT_NE(bytes.find("<SRS>EPSG:4326 EPSG:3857</SRS>"), std::string::npos);
        WmsCapabilities capabilities;
        ASSERT_NO_THROW(capabilities = WmsCapabilities::Read(
                            DOMParser::Parse(QByteArray::fromStdString(bytes))));
        EXPECT_EQ(capabilities.version, VersionNumber(1, 0, 0));
        EXPECT_EQ(capabilities.title, QStringLiteral("lmxmaps test map"));
        EXPECT_EQ(capabilities.imageFormat, QStringLiteral("image/png"));
        EXPECT_EQ(QStringLiteral("%1://%2:%3%4")
                      .arg(capabilities.getMapScheme, capabilities.getMapHost)
                      .arg(capabilities.getMapPort)
                      .arg(capabilities.getMapPath),
                  QStringLiteral("http://127.0.0.1:%1/mapserv").arg(m_servers->mapServerPort));
        ASSERT_TRUE(capabilities.layers);
        std::vector<QString> names;
        for (const MapLayer& layer : capabilities.layers->GetLayers()) {
            names.push_back(layer.GetName());
            // The better of the two listed codes, inherited from the root.
            EXPECT_EQ(layer.GetAttribute(MapLayer::attrCRS), QStringLiteral("EPSG:3857"))
                << layer.GetName().toStdString();
        }
        EXPECT_EQ(names, (std::vector<QString>{"lmxmaps", "bluemarble", "land", "boundaries",
                                               "countries", "lakes", "cities"}));
    }
}

// A geographic source: our own document offers MapServer's GetMap in EPSG:4326 only. The view
// spans 90E to 90W across the antimeridian; its western half must be MapServer's 90E..180
// and its eastern half MapServer's 180..90W, within the same bound as a tiled view.
TEST_F(WmsIntegrationMapServer, AViewAcrossTheAntimeridianShowsBothSides) {
    DocumentServer capabilities;
    ASSERT_GT(capabilities.Port(), 0);
    capabilities.SetDocument(SingleCrsCapabilities(
        "http://127.0.0.1:" + std::to_string(m_servers->mapServerPort) + "/mapserv?", "EPSG:4326",
        {"bluemarble", "countries"}));
    const std::shared_ptr<MapSource> source = MapSourceFactory(
        WmsSource(QStringLiteral("Geographic"), capabilities.Port(), QStringLiteral("/wms")));
    ASSERT_NO_THROW(source->Connect());
    const std::shared_ptr<WmsProvider> provider = ProviderOf(*source);
    ASSERT_NE(provider, nullptr);
    ASSERT_EQ(provider->GetCRS(), QStringLiteral("EPSG:4326"));
    EXPECT_EQ(provider->GetPixelFactor(), WmsProvider::kGeographicPixelFactor);

    // Level 1 of a geographic map: 90-degree tiles of 512 pixels.
    const double pixelsPerUnit = LevelPixelsPerUnit(*provider, 1);
    ASSERT_NEAR(WmsProvider::sTileSize / pixelsPerUnit, 90.0, 1e-9);
    const RefCntPtr<MapLayers> layers =
        LayersWith(*provider, {QStringLiteral("bluemarble"), QStringLiteral("countries")});
    const Rendered view = Render(*provider, View(layers, QStringLiteral("EPSG:4326"),
                                                 Box{90.0, 270.0, 0.0, 90.0}, pixelsPerUnit));
    ASSERT_NE(view.composite, nullptr);
    EXPECT_EQ(view.counts.fresh, 2);
    EXPECT_TRUE(TileErrors(*view.composite).empty());
    const MapQueryPtr& whole = view.composite->GetWholeQuery();
    ASSERT_EQ(whole->GetWidth(), 1024u);
    ASSERT_EQ(whole->GetHeight(), 512u);

    const QImage composed = CompositePixels(*view.composite);
    for (const auto& [name, box, x] :
         {std::tuple("east of 90E", Box{90.0, 180.0, 0.0, 90.0}, 0),
          std::tuple("west of 180", Box{-180.0, -90.0, 0.0, 90.0}, 512)}) {
        SCOPED_TRACE(name);
        const QImage direct =
            MapServerGetMap(m_servers->mapServerPort, QStringLiteral("EPSG:4326"), box, 512, 512);
        ASSERT_EQ(direct.size(), QSize(512, 512));
        ExpectDrawnAs(composed, x, direct);
    }
}

// ---------------------------------------------------------------------------------------------
// The fixture server

class WmsIntegrationFixture : public SharedFixtureServer<CleanCachesTest> {
protected:
    static std::shared_ptr<MapSource> Source(const std::string& capsCase,
                                             const std::string& getMapCase = {}) {
        std::string url = "/wms/caps?case=" + capsCase;
        if (!getMapCase.empty()) {
            url += "&getmap=" + getMapCase;
        }
        return MapSourceFactory(WmsSource(QString::fromStdString("fixture " + capsCase),
                                          s_server->Port(), QString::fromStdString(url)));
    }
};

// Documents that tests/wms reads the same way without a server (no layers, no projected layer,
// an SRS list in a 1.1 document, another root element) are not repeated here.
TEST_F(WmsIntegrationFixture, CapabilitiesThatCannotServeFailTheConnectionWithTheirOwnError) {
    const struct {
        const char* capsCase;
        MapProviderException::Type type;
        // Null: the texts of the exception report, checked below.
        QString message;
    } failures[] = {
        {"truncated", MapProviderException::eServiceError,
         LookupTStr(WmsConnection::kCapabilitiesFailedText)},
        {"v130", MapProviderException::eNoUsableService,
         LookupTFmtStr(WmsConnection::kUnsupportedVersionText, QStringLiteral("1.3.0"))},
        {"tiff-only", MapProviderException::eNoUsableService,
         LookupTStr(WmsConnection::kUnsupportedFormatText)},
        {"exception", MapProviderException::eServiceError, QString()},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.capsCase);
        s_server->ClearLog();
        const std::shared_ptr<MapSource> source = Source(failure.capsCase);
        try {
            source->Connect();
            ADD_FAILURE() << "connected";
        } catch (const MapProviderException& e) {
            EXPECT_EQ(e.GetType(), failure.type);
            EXPECT_EQ(e.GetMapSourceName(), source->GetName());
            if (!failure.message.isNull()) {
                EXPECT_EQ(e.GetMessage(), failure.message);
            } else {
                // The first text whole, then the second (over 3000 characters) cut to 2500,
                // joined by one blank.
                const QString first = QString::fromLatin1(FixtureServer::kWmsCapsExceptionText);
                EXPECT_TRUE(e.GetMessage().startsWith(first + u' '))
                    << e.GetMessage().toStdString();
                EXPECT_EQ(e.GetMessage().size(),
                          first.size() + 1 + WmsConnection::kMaxExceptionLength);
                EXPECT_TRUE(
                    e.GetMessage().mid(first.size() + 1).startsWith(QStringLiteral("Details:")));
            }
        }
        EXPECT_FALSE(source->IsConnected());
        // One capabilities request, as 1.1.1, and nothing else.
        const std::vector<FixtureRequest> requests = s_server->Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].path, "/wms/caps");
        for (const char* parameter : {"request=GetCapabilities", "SERVICE=WMS", "VERSION=1.1.1"}) {
            EXPECT_NE(requests[0].target.find(parameter), std::string::npos) << requests[0].target;
        }
    }
}

// The GetMap address is judged before the layers: a denied one (link-local, denied by default)
// fails as denied even when no layer is usable, and a document must name one.
TEST_F(WmsIntegrationFixture, TheGetMapAddressIsJudgedBeforeTheLayersAndMustBeThere) {
    DocumentServer capabilities;
    const struct {
        const char* getMapUrl;
        const char* crs;
        MapProviderException::Type type;
        QString message;
    } documents[] = {
        {"http://169.254.169.254/wms?", "EPSG:4326", MapProviderException::eServiceError,
         LookupTStr(WmsConnection::kConnectionFailedText)},
        {"http://169.254.169.254/wms?", "EPSG:27700", MapProviderException::eServiceError,
         LookupTStr(WmsConnection::kConnectionFailedText)},
        {"", "EPSG:4326", MapProviderException::eNoUsableService,
         LookupTStr(WmsConnection::kNoGetMapAddressText)},
        {"ftp://127.0.0.1/wms", "EPSG:27700", MapProviderException::eNoUsableService,
         LookupTStr(WmsConnection::kNoGetMapAddressText)},
    };
    for (const auto& document : documents) {
        SCOPED_TRACE(std::string(document.getMapUrl) + " " + document.crs);
        capabilities.SetDocument(SingleCrsCapabilities(document.getMapUrl, document.crs, {"base"}));
        const std::shared_ptr<MapSource> source = MapSourceFactory(
            WmsSource(QStringLiteral("document"), capabilities.Port(), QStringLiteral("/wms")));
        try {
            source->Connect();
            ADD_FAILURE() << "connected";
        } catch (const MapProviderException& e) {
            EXPECT_EQ(e.GetType(), document.type);
            EXPECT_EQ(e.GetMessage(), document.message);
        }
        MapConnection::CloseAll();
    }
    // The document server stops only once no connection is kept open to it.
    HTTPRequestor::CloseIdleConnections();
}

// A host error while the capabilities are fetched keeps its own type (a cancelled sign-in stays
// a cancel, not a map error) behind the connection-failure text.
TEST_F(WmsIntegrationFixture, HostErrorsOfTheCapabilitiesFetchKeepTheirType) {
    const QString failed = LookupTStr(WmsConnection::kConnectionFailedText);
    const struct {
        std::function<void()> raise;
        const std::type_info& type;
        QString message;
    } errors[] = {
        {[] { throw UserCancelException(QStringLiteral("Sign-in closed."), {}); },
         typeid(UserCancelException), failed + QStringLiteral(" Sign-in closed.")},
        {[] { throw LumivexException(QStringLiteral("No keychain."), {}); },
         typeid(LumivexException), failed + QStringLiteral(" No keychain.")},
        {[] { throw AsyncTask::CancelException(QStringLiteral("Stopped."), {}); },
         typeid(AsyncTask::CancelException), QStringLiteral("Stopped.")},
    };
    for (const auto& error : errors) {
        SCOPED_TRACE(error.type.name());
        // The fixture asks for a sign-in; the prompt fails as the host's dialogue may.
        HTTPRequestor::SetAuthenticationPrompt([&error](const HTTPRequest::AuthenticationChallenge&)
                                                   -> std::optional<HTTPRequest::Credentials> {
            error.raise();
            return std::nullopt;
        });
        const std::shared_ptr<MapSource> source = MapSourceFactory(
            WmsSource(QStringLiteral("sign-in"), s_server->Port(), QStringLiteral("/auth/basic")));
        try {
            source->Connect();
            ADD_FAILURE() << "connected";
        } catch (const LumivexException& e) {
            EXPECT_EQ(typeid(e), error.type);
            EXPECT_EQ(e.GetMessage(), error.message);
        }
    }
    HTTPRequestor::SetAuthenticationPrompt(nullptr);
}

// The format that a document prefers and the version it speaks reach the GetMap requests. A
// document without any format is tests/wms's.
TEST_F(WmsIntegrationFixture, DocumentsInOlderVersionsOrOtherFormatsStillServeMaps) {
    const struct {
        const char* capsCase;
        VersionNumber version;
        QString format;
    } accepted[] = {
        {"gif-jpeg", VersionNumber(1, 1, 1), QStringLiteral("image/jpeg")},
        // <Format><PNG /><JPEG /></Format> and <Get onlineResource=".../wms/getmap"/>.
        {"v100", VersionNumber(1, 0, 0), QStringLiteral("image/png")},
    };
    for (const auto& expected : accepted) {
        SCOPED_TRACE(expected.capsCase);
        s_server->ClearLog();
        const std::shared_ptr<MapSource> source = Source(expected.capsCase);
        ASSERT_NO_THROW(source->Connect());
        const std::shared_ptr<WmsProvider> provider = ProviderOf(*source);
        const MapConnectionPtr connection = provider->Connect();
        const auto* wms = dynamic_cast<const WmsConnection*>(connection.get());
        ASSERT_NE(wms, nullptr);
        EXPECT_EQ(wms->GetVersion(), expected.version);
        EXPECT_EQ(wms->GetCapabilities().imageFormat, expected.format);
        EXPECT_EQ(provider->GetCRS(), QStringLiteral("EPSG:3857"));

        // One whole view without margins: the gradient comes back as it was drawn.
        const double pixelsPerUnit = LevelPixelsPerUnit(*provider, 2);
        const MapRequestorPtr request = connection->CreateMapRequestor(
            provider->GetDefaultSpatialProjector(),
            View(LayersWith(*provider, {QStringLiteral("base")}), QStringLiteral("EPSG:3857"),
                 Box{0.0, 256.0 / pixelsPerUnit, 0.0, 128.0 / pixelsPerUnit}, pixelsPerUnit));
        request->Execute();
        std::unique_ptr<QtImageObject> image;
        ASSERT_NO_THROW(image = request->GetResult());
        ASSERT_TRUE(image);
        const QImage pixels = image->GetImage();
        ASSERT_EQ(pixels.size(), QSize(256, 128));
        for (const QPoint point :
             {QPoint(0, 0), QPoint(255, 0), QPoint(17, 101), QPoint(255, 127)}) {
            EXPECT_EQ(pixels.pixel(point) & RGB_MASK,
                      FixtureServer::GetMapPixel(point.x(), point.y()) & RGB_MASK)
                << point.x() << "," << point.y();
        }
        // The capabilities, then the one GetMap.
        const std::vector<FixtureRequest> requests = s_server->Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].path, "/wms/caps");
        const FixtureRequest& getMap = requests[1];
        EXPECT_EQ(getMap.path, "/wms/getmap");
        // Later requests speak the server's version, in its format.
        for (const std::string& parameter :
             {"version=" + expected.version.ToString().toStdString(),
              "format=" + QString(QUrl::toPercentEncoding(expected.format)).toStdString()}) {
            EXPECT_NE(getMap.target.find(parameter), std::string::npos) << getMap.target;
        }
    }
}

// Four tiles at the north-west corner of the world: the world's edge cuts the margin off on
// the west of the first column and the north of the first row, so those tiles come from
// images 100 pixels smaller there and are copied from offset 0 on that side. The fixture's
// gradient tells every pixel where in the requested image it was. The image sizes asked for
// are pinned down by tests/wms's WmsRequestor tests.
TEST_F(WmsIntegrationFixture, TilesAreCutFromTheirMarginsAtTheRightOffsets) {
    const std::shared_ptr<MapSource> source = Source("v111");
    ASSERT_NO_THROW(source->Connect());
    const std::shared_ptr<WmsProvider> provider = ProviderOf(*source);
    ASSERT_NE(provider, nullptr);
    const double pixelsPerUnit = LevelPixelsPerUnit(*provider, 2);
    const double span = WmsProvider::sTileSize / pixelsPerUnit;
    const Box world = BoxOf(provider->GetDefaultSpatialProjector()->GetWorldBounds());
    const Box corner{world.minX, world.minX + 2 * span, world.maxY - 2 * span, world.maxY};
    const Rendered view =
        Render(*provider, View(LayersWith(*provider, {QStringLiteral("base")}),
                               QStringLiteral("EPSG:3857"), corner, pixelsPerUnit));
    ASSERT_NE(view.composite, nullptr);
    EXPECT_EQ(view.counts.fresh, 4);
    EXPECT_TRUE(TileErrors(*view.composite).empty());
    const QImage composed = CompositePixels(*view.composite);
    ASSERT_EQ(composed.size(), QSize(1024, 1024));

    constexpr int kSize = WmsProvider::sTileSize;
    constexpr int kMargin = WmsProvider::sTileMargin;
    int wrong = 0;
    for (int y = 0; y < composed.height(); ++y) {
        for (int x = 0; x < composed.width(); ++x) {
            const QRgb expected = FixtureServer::GetMapPixel(x % kSize + (x < kSize ? 0 : kMargin),
                                                             y % kSize + (y < kSize ? 0 : kMargin));
            if ((composed.pixel(x, y) & RGB_MASK) != (expected & RGB_MASK) && ++wrong <= 5) {
                ADD_FAILURE() << "pixel " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

// Single GetMap replies of each kind, fetched by the requestor itself. Temporary files go to a
// directory of this test, so that a kept reply can be found and nothing else is left.
TEST_F(WmsIntegrationFixture, GetMapRepliesThatAreNoMapImageAreRejectedAndOnlyHtmlIsKept) {
    const QTemporaryDir temporary;
    ASSERT_TRUE(temporary.isValid());
    const struct Restore {
        QByteArray old = qgetenv("TMPDIR");
        ~Restore() { qputenv("TMPDIR", old); }
    } restore;
    qputenv("TMPDIR", QFile::encodeName(temporary.path()));
    // Runs the GetMap of one tile in the middle of the world (with margins) against a case.
    const auto fetch = [](const std::string& getMapCase) {
        const std::shared_ptr<MapSource> source = Source("v111", getMapCase);
        source->Connect();
        const std::shared_ptr<WmsProvider> provider = ProviderOf(*source);
        const double pixelsPerUnit = LevelPixelsPerUnit(*provider, 2);
        const double span = WmsProvider::sTileSize / pixelsPerUnit;
        const MapRequestorPtr request = provider->Connect()->CreateMapRequestor(
            provider->GetDefaultSpatialProjector(),
            View(LayersWith(*provider, {QStringLiteral("base")}), QStringLiteral("EPSG:3857"),
                 Box{0.0, span, 0.0, span}, pixelsPerUnit, true));
        request->Execute();
        return request;
    };
    const struct {
        const char* getMapCase;
        MapProviderException::Type type;
        QString message;
        // Only a reply nobody can explain is kept, and a warning names it.
        bool kept;
    } rejected[] = {
        {"white", MapProviderException::eSolidColorTile, LookupTStr(WmsRequestor::kSolidColorText),
         false},
        {"transparent", MapProviderException::eSolidColorTile,
         LookupTStr(WmsRequestor::kSolidColorText), false},
        {"empty", MapProviderException::eInvalidImage, LookupTStr(WmsRequestor::kInvalidImageText),
         false},
        {"exception", MapProviderException::eServiceError,
         QString::fromLatin1(FixtureServer::kWmsGetMapExceptionText), false},
        {"html", MapProviderException::eInvalidImage, LookupTStr(WmsRequestor::kInvalidImageText),
         true},
    };
    for (const auto& reply : rejected) {
        SCOPED_TRACE(reply.getMapCase);
        const TLog::ScopedCapture capture;
        const MapRequestorPtr request = fetch(reply.getMapCase);
        try {
            request->GetResult();
            ADD_FAILURE() << "accepted";
        } catch (const MapProviderException& e) {
            EXPECT_EQ(e.GetType(), reply.type);
            EXPECT_EQ(e.GetMessage(), reply.message);
        }
        // Every rejected reply marks the fetch failed, so the image counts as failed.
        EXPECT_TRUE(request->IsError());

        const QStringList kept = QDir(temporary.path()).entryList(QDir::Files);
        ASSERT_EQ(kept.size(), reply.kept ? 1 : 0) << kept.join(u' ').toStdString();
        if (reply.kept) {
            const QString path = QDir(temporary.path()).filePath(kept.front());
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(file.readAll().toStdString(), WmsGetMapReply(reply.getMapCase, 1, 1)->body);
            // The warning names the request and where its reply is.
            const std::vector<TLog::Record> records = capture.Records();
            EXPECT_TRUE(std::any_of(records.begin(), records.end(),
                                    [&](const TLog::Record& r) {
                                        return r.message.contains(path) &&
                                               r.message.contains(request->GetResultUrl());
                                    }))
                << "no warning names " << path.toStdString();
        }
    }

    SCOPED_TRACE("a tile of another solid colour is a map");
    const MapRequestorPtr red = fetch("solid-red");
    std::unique_ptr<QtImageObject> image;
    ASSERT_NO_THROW(image = red->GetResult());
    ASSERT_TRUE(image);
    EXPECT_FALSE(red->IsError());
    const QImage pixels = image->GetImage();
    ASSERT_EQ(pixels.size(), QSize(512, 512));
    EXPECT_EQ(DistinctColours(pixels, pixels.rect()), 1);
    EXPECT_EQ(pixels.pixel(100, 100) & RGB_MASK, qRgb(255, 0, 0) & RGB_MASK);
}

// ---------------------------------------------------------------------------------------------
// Denied addresses. The rules are read once per process, so each case runs in a process of its
// own with the deny list in its environment.

HelperRun ConnectInNewProcess(int port, const QString& url, const QString& denied) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("LMX_MapConnectionIpAllowList"));
    environment.remove(QStringLiteral("LMX_ConnectionIpBlacklist"));
    if (!denied.isEmpty()) {
        environment.insert(QStringLiteral("LMX_ConnectionIpBlacklist"), denied);
    }
    return RunHelper(kHelperPath, {QStringLiteral("connect"), QString::number(port), url},
                     environment, kHelperTimeoutMs);
}

TEST_F(WmsIntegrationFixture, DeniedServersAndGetMapAddressesAreNeverAsked) {
    const HelperRun deniedServer = ConnectInNewProcess(
        s_server->Port(), QStringLiteral("/wms/caps?case=v111"), QStringLiteral("127.0.0.0/8"));
    ASSERT_EQ(deniedServer.exitCode, 0) << deniedServer.errors.toStdString();
    EXPECT_EQ(deniedServer.Lines(), (QStringList{QStringLiteral("error 14"),
                                                 LookupTStr(WmsConnection::kCapabilitiesFailedText),
                                                 QStringLiteral("disallowed")}))
        << deniedServer.errors.toStdString();
    EXPECT_EQ(s_server->RequestCount(), 0u);

    // The capabilities come from an allowed address but send GetMap to 127.0.0.2, which is
    // denied: the connection fails and 127.0.0.2 hears nothing. Without the rule the same source
    // connects and fetches from there, so the listener does count what reaches it.
    DocumentServer capabilities;
    DocumentServer getMap("127.0.0.2");
    ASSERT_GT(capabilities.Port(), 0);
    ASSERT_GT(getMap.Port(), 0) << "cannot listen on 127.0.0.2";
    capabilities.SetDocument(
        SingleCrsCapabilities("http://127.0.0.2:" + std::to_string(getMap.Port()) + "/wms/getmap?",
                              "EPSG:3857", {"base"}));

    const HelperRun denied = ConnectInNewProcess(capabilities.Port(), QStringLiteral("/wms"),
                                                 QStringLiteral("127.0.0.2"));
    ASSERT_EQ(denied.exitCode, 0) << denied.errors.toStdString();
    // The address check gives no text of its own; the provider adds its generic one.
    EXPECT_EQ(denied.Lines(), (QStringList{QStringLiteral("error 14"),
                                           LookupTStr(WmsConnection::kConnectionFailedText),
                                           QStringLiteral("disallowed")}))
        << denied.errors.toStdString();
    EXPECT_EQ(capabilities.Requests(), 1);
    EXPECT_EQ(getMap.Requests(), 0);

    const HelperRun allowed = ConnectInNewProcess(capabilities.Port(), QStringLiteral("/wms"), {});
    ASSERT_EQ(allowed.exitCode, 0) << allowed.errors.toStdString();
    EXPECT_EQ(allowed.Lines(), QStringList{QStringLiteral("connected")})
        << allowed.errors.toStdString();
    EXPECT_EQ(capabilities.Requests(), 2);
    EXPECT_EQ(getMap.Requests(), 1);
}

} // namespace
