#pragma once
// OGC Web Map Service support, for servers speaking WMS 1.0.0 up to 1.1.1.
//
// WmsCapabilities reads a GetCapabilities document: version, title, the GetMap address and
// image format, and the named layers with the best coordinate system we can project.
// WmsConnection fetches that document for one source and makes requestors; every address it
// talks to passes the host's network rules first. WmsProvider cuts a view into 512-pixel
// world-aligned tiles (or asks for it in one piece), and WmsRequestor fetches one GetMap image
// with a margin around it, checks it and crops the margin off again.

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/host/VersionNumber.h>
#include <lmxmaps/host/net/HTTPRequestor.h>

class DOMDocument;
class MapNamespace;
class MapSource;
class TemporaryFile;

// What a capabilities document says. Read() throws MapProviderException as a connection
// would report the document.
struct WmsCapabilities {
    VersionNumber version;
    TString title;
    // The GetMap address: scheme ("http" or "https"), host (with "https://" in front for
    // https), path (with the address's own query, if it has one) and port.
    TString getMapScheme;
    TString getMapHost;
    TString getMapPath;
    int getMapPort = 0;
    TString imageFormat;
    RefCntPtr<MapLayers> layers;

    // Sees what was read before the layers (version, title, GetMap address and format) and
    // throws to refuse the document.
    using GetMapCheck = std::function<void(const WmsCapabilities&)>;

    static WmsCapabilities Read(const DOMDocument& document, const GetMapCheck& check = {});
};

class WmsConnection : public MapConnection {
public:
    static const VersionNumber sDefaultVersion;
    static constexpr const char16_t* kDefaultTitle = u"WMS Server";
    // Service exception texts are cut to this many characters.
    static constexpr int kMaxExceptionLength = 2500;

    static constexpr StringId kUnsupportedVersionText = 0x4C4D5701u;
    static constexpr StringId kCapabilitiesFailedText = 0x4C4D5702u;
    static constexpr StringId kUnsupportedFormatText = 0x4C4D5703u;
    static constexpr StringId kNoLayersText = 0x4C4D5704u;
    static constexpr StringId kNoProjectedLayersText = 0x4C4D5705u;
    static constexpr StringId kAccessDeniedText = 3701153844u;
    static constexpr StringId kHttpErrorText = 0x4C4D5706u;
    static constexpr StringId kConnectionFailedText = 0x4C4D5707u;
    // Why a document that names no GetMap address is refused.
    static constexpr StringId kNoGetMapAddressText = 0x4C4D5709u;

    // Fetches and reads the capabilities; throws MapProviderException.
    explicit WmsConnection(AttributeMap attributes);

    MapRequestorPtr CreateMapRequestor(SpatialProjectorPtr projector, MapQueryPtr query) override;
    bool CanReplaceWithSecureConnection() const override;

    RefCntPtr<MapLayers> FetchMapLayers() const;
    const TString& FetchTitle() const { return m_capabilities.title; }
    const VersionNumber& GetVersion() const { return m_capabilities.version; }
    const WmsCapabilities& GetCapabilities() const { return m_capabilities; }

    // 1 when candidate should replace current, -1 when it is unsupported, else 0.
    static int OrderProjections(const TString& current, const TString& candidate);
    static bool IsSupportedCRS(const TString& crs);
    static const std::vector<TString>& SupportedCRSs();
    static const std::vector<VersionNumber>& SupportedVersions();
    // Whether every address the host resolves to passes the "ConnectionIpBlacklist" and
    // "MapConnectionIpAllowList" rules. A leading "http://" or "https://" is ignored.
    static bool IsAllowedIpAddress(const TString& host);
    // The texts of a ServiceExceptionReport, each cut to kMaxExceptionLength; empty when the
    // document holds none.
    static std::vector<TString> ParseWMSExceptions(const DOMDocument& document);

    static AttributeMap ExtractKeychainAttributes(AttributeMap& attributes);
    static void FilterSecureAttributes(AttributeMap& attributes);
    static void FilterRequiredAttributes(AttributeMap& attributes);

private:
    QByteArray FetchCapabilities(const VersionNumber& version) const;

    WmsCapabilities m_capabilities;
};

class WmsProvider : public RasterMapProvider {
public:
    static constexpr const char16_t* valueClassAttr = u"OGC-WMS";
    static constexpr const char16_t* attrUseTiledMaps = u"use-tiled-maps";
    static constexpr int sTileSize = 512;
    static constexpr int sTileMargin = 100;
    // Pixels per metre when a pixel is the OGC standard 0.28 mm.
    static constexpr double sNominalPixelsPerMeter = 3571.428571428571;
    // Metres per degree of longitude at the equator: 2 * pi * 6378137 / 360.
    static constexpr double sMetersPerDegreeAtEquator = 111319.49079327358;
    static constexpr double kDefaultMaxScaleLevel = 14.0;
    // Degrees are not metres: geographic maps ask for twice the pixels per unit.
    static constexpr double kGeographicPixelFactor = 2.0;

    explicit WmsProvider(AttributeMap attributes);

    MapConnectionPtr Connect() override;
    MapConnectionPtr ConnectNoThrow() override;
    SpatialProjectorPtr CreateSpatialProjector(const FieldName& uField,
                                               const FieldName& vField) const override;
    RefCntPtr<MapLayers> GetFeatureLayers(const TString& name) override;
    RefCntPtr<MapLayers> GetDataLayers(const TString& name) override;
    RefCntPtr<ILegendItems> CreateLegendItems(const MapLayer& layer, const LanguageCode& language,
                                              const ColorPaletteLookup& palettes) override;
    void PrepareFeatureLayer(MapLayer& layer, const LanguageCode& language) override;
    void PrepareDataLayer(MapLayer& layer, const LanguageCode& language,
                          const ColorPaletteLookup& palettes) override;
    TString GetDisplayTitle() const;
    TString GetDisplayDescription() override;
    TString GetDisplayUrl() override;
    bool ShowDetailedErrors() const override { return true; }
    bool ShowRadialDistance() const override { return false; }
    bool IsSticky() const override { return true; }
    bool ShouldUserBeWarnedAboutInsecureConnection() override;
    void DisallowFurtherWarningsAboutInsecureConnection() override;

    using RasterMapProvider::ComputeScaleLevel;
    MapScaleLevel ComputeScaleLevel(double scale) const override;
    int GetTileSize() const override { return sTileSize; }
    double GetDefaultMaxScaleLevel() const override { return kDefaultMaxScaleLevel; }
    double GetPixelsPerCRSUnitAtZoomLevel1() const override;
    double GetScaleDenominatorConversionFactor() const override;

    // The CRS and pixel factor the projector was chosen by (after CreateSpatialProjector).
    TString GetCRS() const;
    double GetPixelFactor() const;

protected:
    MapQueryPtr ComputeTiles(const MapScaleLevel& level, MapQueryPtr query,
                             std::vector<MapQueryPtr>& tiles) override;

private:
    void TakeTitle(const MapConnectionPtr& connection);

    mutable std::mutex m_stateMutex;
    mutable TString m_crs;
    mutable double m_pixelFactor = 1.0;
    TString m_title;
    // Any thread that connects may ask and switch it off.
    std::atomic<bool> m_warnAboutInsecureConnection = true;
};

class WmsRequestor : public MapRequestor {
public:
    static constexpr int kRequestLogTag = 30;
    static constexpr StringId kInvalidImageText = 0x4C4D5708u;
    static constexpr StringId kSolidColorText = 3056974465u;

    // The box, pixel size and margins of one GetMap request.
    struct RequestBox {
        // In CRS units.
        double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
        int width = 0;
        int height = 0;
        // Where the tile starts inside the image; 0 on a side without a margin.
        int cropX = 0;
        int cropY = 0;
        bool hasMargin = false;
    };

    WmsRequestor(VersionNumber version, TString host, unsigned int port, TString path,
                 TString imageFormat, SpatialProjectorPtr projector, MapQueryPtr query);

    RefCntPtr<MapRequestor> Clone() const override;
    TString GetResultUrl() const override;

    double ComputeHeightCompressionByProjection(double minY, double maxY, double height) const;
    RequestBox ComputeRequestBox() const;
    HTTPRequest::ParameterMap BuildGetMapParameters(const RequestBox& box) const;
    // Four decimals; a value that rounding would carry past its world bound is cut instead.
    static TString FormatBBoxNumber(double value, double worldBound);

protected:
    // The GetMap request, its body going to a temporary file.
    RefCntPtr<HTTPRequestor> PrepareFetch() override;
    // Reads the image from the file, without its margins.
    void CompleteFetch(const RefCntPtr<HTTPRequestor>& request) override;

private:
    void ReadImage(const TString& url);
    // Throws for a reply that is not an image, keeping the file unless it is an exception
    // report.
    [[noreturn]] void RejectNonImage(const QByteArray& bytes, const TString& url,
                                     TemporaryFile& file) const;
    std::unique_ptr<QtImageObject> CropMargins(std::unique_ptr<QtImageObject> image,
                                               const RequestBox& box) const;
    void RejectSolidColor(const QtImageObject& image, const TString& url);
    RefCntPtr<HTTPRequestor> CreateRequest(const TString& filePath) const;
    void LogStep(const char* step) const;

    VersionNumber m_version;
    TString m_host;
    unsigned int m_port;
    TString m_path;
    TString m_imageFormat;
    SpatialProjectorPtr m_projector;
    mutable std::mutex m_resultUrlMutex;
    mutable TString m_resultUrl;
    // Set while the fetch runs: where the body goes.
    std::unique_ptr<TemporaryFile> m_file;
};

// The connect hooks of WMS sources: a stored source is validated by connecting it.
class ConnectWmsDummy {
public:
    static bool AuthenticateProperties(AttributeMap& attributes);
    static std::shared_ptr<MapSource> Reconnect(const MapNamespace& mapNamespace,
                                                std::shared_ptr<MapSource> source);
    static std::shared_ptr<MapSource> ValidateConnectionImpl(const MapNamespace& mapNamespace,
                                                             AttributeMap& attributes,
                                                             std::shared_ptr<MapSource> source);
};
