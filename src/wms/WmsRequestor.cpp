#include <QFile>
#include <QScopeGuard>
#include <cmath>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/ColorObject.h>
#include <lmxmaps/host/DOMParser.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/Secrets.h>
#include <lmxmaps/host/storage/TemporaryFile.h>

namespace {

constexpr std::uint32_t kZeroLengthSite = 0x57A10021;
constexpr std::uint32_t kServiceExceptionSite = 0x57A10022;
constexpr std::uint32_t kInvalidImageSite = 0x57A10023;
constexpr std::uint32_t kSolidColorSite = 0xA53CAF33;
constexpr int kBBoxDecimals = 4;
constexpr double kBBoxScale = 10000.0;
// zlib level 1 in Qt's PNG writer: the PNG form only lets the memory cache give the pixels
// back, and the default level took longer than fetching and decoding the tile.
constexpr int kCroppedPngQuality = 80;
constexpr const char* kBitmapCacheSizeOption = "imageobject.preferred.cache.size";
constexpr const char* kWhiteBackgroundOption = "color.white.background";
constexpr const char* kBlackBackgroundOption = "color.black.background";

struct Box {
    double minX, maxX, minY, maxY;
};

Box ToBox(const DataValueRect& rect) {
    return {rect.MinX().GetReal(), rect.MaxX().GetReal(), rect.MinY().GetReal(),
            rect.MaxY().GetReal()};
}

bool EqualsOptionColor(const ColorObject& color, const char* option) {
    const std::optional<ColorObject> background =
        ColorObject::Parse(Options::GetString(QLatin1String(option)));
    return background && *background == color;
}

QByteArray ReadFile(const TString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

WmsRequestor::WmsRequestor(VersionNumber version, TString host, unsigned int port, TString path,
                           TString imageFormat, SpatialProjectorPtr projector, MapQueryPtr query)
    : MapRequestor(query), m_version(std::move(version)), m_host(std::move(host)), m_port(port),
      m_path(std::move(path)), m_imageFormat(std::move(imageFormat)),
      m_projector(std::move(projector)) {}

RefCntPtr<MapRequestor> WmsRequestor::Clone() const {
    return RefCntPtr<MapRequestor>(new WmsRequestor(m_version, m_host, m_port, m_path,
                                                    m_imageFormat, m_projector, GetQuery()));
}

double WmsRequestor::ComputeHeightCompressionByProjection(double, double, double height) const {
    return height;
}

WmsRequestor::RequestBox WmsRequestor::ComputeRequestBox() const {
    const MapQuery& query = *GetQuery();
    const Box box = ToBox(query.GetBBox());
    RequestBox request{box.minX,
                       box.maxX,
                       box.minY,
                       box.maxY,
                       static_cast<int>(query.GetWidth()),
                       static_cast<int>(query.GetHeight())};
    if (!query.GetRequestMargin()) {
        return request;
    }
    const int marg = WmsProvider::sTileMargin;
    LMX_LOGIC_ASSERT(marg >= 0);
    const int tileWidth = static_cast<int>(query.GetWidth());
    const int tileHeight = static_cast<int>(
        ComputeHeightCompressionByProjection(box.minY, box.maxY, query.GetHeight()));
    const double grow = std::max((box.maxX - box.minX) * marg / tileWidth,
                                 (box.maxY - box.minY) * marg / tileHeight);
    const Box grown{box.minX - grow, box.maxX + grow, box.minY - grow, box.maxY + grow};
    const Box world = ToBox(m_projector->GetWorldBounds());
    const Box clipped{std::max(grown.minX, world.minX), std::min(grown.maxX, world.maxX),
                      std::max(grown.minY, world.minY), std::min(grown.maxY, world.maxY)};
    LMX_LOGIC_ASSERT(marg < tileWidth && marg < tileHeight);

    const bool clippedMinX = clipped.minX > grown.minX;
    const bool clippedMaxX = clipped.maxX < grown.maxX;
    const bool clippedMinY = clipped.minY > grown.minY;
    const bool clippedMaxY = clipped.maxY < grown.maxY;
    request.minX = clipped.minX;
    request.maxX = clipped.maxX;
    request.minY = clipped.minY;
    request.maxY = clipped.maxY;
    request.width = tileWidth + 2 * marg - marg * (int(clippedMinX) + int(clippedMaxX));
    request.height = tileHeight + 2 * marg - marg * (int(clippedMinY) + int(clippedMaxY));
    request.cropX = clippedMinX ? 0 : marg;
    // Image rows run from the top, the maximum y.
    request.cropY = clippedMaxY ? 0 : marg;
    request.hasMargin = true;
    return request;
}

TString WmsRequestor::FormatBBoxNumber(double value, double worldBound) {
    double rounded = std::round(value * kBBoxScale) / kBBoxScale;
    const bool beyond = worldBound > 0.0 ? rounded > worldBound : rounded < worldBound;
    if (beyond) {
        rounded = std::trunc(value * kBBoxScale) / kBBoxScale;
    }
    return TString::number(rounded, 'f', kBBoxDecimals);
}

HTTPRequest::ParameterMap WmsRequestor::BuildGetMapParameters(const RequestBox& box) const {
    const RefCntPtr<MapLayers> layers = GetQuery()->GetLayers();
    const bool hasLayers = layers && !layers->GetLayers().empty();
    const Box world = ToBox(m_projector->GetWorldBounds());
    return {
        {QStringLiteral("version"), m_version.ToString()},
        {QStringLiteral("request"), QStringLiteral("GetMap")},
        {QStringLiteral("styles"), TString()},
        {QStringLiteral("srs"),
         hasLayers ? layers->GetLayers().front().GetAttribute(MapLayer::attrCRS) : TString()},
        {QStringLiteral("layers"), layers ? layers->AsString(QStringLiteral(",")) : TString()},
        {QStringLiteral("format"), m_imageFormat},
        {QStringLiteral("width"), TString::number(box.width)},
        {QStringLiteral("height"), TString::number(box.height)},
        {QStringLiteral("bbox"),
         QStringLiteral("%1,%2,%3,%4")
             .arg(FormatBBoxNumber(box.minX, world.minX), FormatBBoxNumber(box.minY, world.minY),
                  FormatBBoxNumber(box.maxX, world.maxX), FormatBBoxNumber(box.maxY, world.maxY))},
    };
}

RefCntPtr<HTTPRequestor> WmsRequestor::CreateRequest(const TString& filePath) const {
    const HTTPRequest::RequestInfo info(m_path, BuildGetMapParameters(ComputeRequestBox()));
    auto request =
        MakeRefCnt<FileHTTPRequestor>(m_host, m_port, QStringLiteral("GET"), info, filePath);
    request->SetShowAuthenticationUI(IsShowAuthUI());
    return request;
}

TString WmsRequestor::GetResultUrl() const {
    std::lock_guard lock(m_resultUrlMutex);
    if (m_resultUrl.isEmpty()) {
        // Never sent: the path only names where the body would go.
        m_resultUrl = CreateRequest(QStringLiteral("unused"))->GetFullUrl();
    }
    return m_resultUrl;
}

RefCntPtr<HTTPRequestor> WmsRequestor::PrepareFetch() {
    try {
        m_file = std::make_unique<TemporaryFile>();
        const RefCntPtr<HTTPRequestor> request = CreateRequest(m_file->GetPath());
        {
            std::lock_guard lock(m_resultUrlMutex);
            m_resultUrl = request->GetFullUrl();
        }
        request->SetOuterTask(this);
        LogStep("begin request");
        return request;
    } catch (...) {
        m_file.reset();
        HandleException(m_host);
    }
}

void WmsRequestor::CompleteFetch(const RefCntPtr<HTTPRequestor>& request) {
    const auto removeFile = qScopeGuard([this] { m_file.reset(); });
    // Logs and messages show the URL with its secret values masked.
    const TString url = Secrets::RedactUrl(request->GetFullUrl());
    try {
        if (!request->HasFinished()) {
            request->Execute();
        }
        request->CheckExceptions();
    } catch (...) {
        if (WasCancelled()) {
            return;
        }
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("WMS request failed: '") + url + u'\'');
        HandleException(url);
    }
    LogStep("requestor complete");
    if (WasCancelled()) {
        return;
    }
    try {
        ReadImage(url);
    } catch (...) {
        HandleException(url);
    }
}

void WmsRequestor::ReadImage(const TString& url) {
    const QByteArray bytes = ReadFile(m_file->GetPath());
    if (bytes.isEmpty()) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("Zero-length tile returned from '") + url + u'\'');
        throw MapProviderException(MapProviderException::eInvalidImage,
                                   LookupTStr(kInvalidImageText),
                                   MapProviderException::Site(kZeroLengthSite));
    }
    std::unique_ptr<QtImageObject> image = QtImageObject::FromEncoded(bytes);
    if (!image || !image->IsValid()) {
        SetError(true);
        RejectNonImage(bytes, url, *m_file);
    }
    const RequestBox box = ComputeRequestBox();
    if (box.hasMargin) {
        image = CropMargins(std::move(image), box);
    }
    RejectSolidColor(*image, url);
    image->SetBitmapCacheSize(
        static_cast<int>(Options::GetInt(QLatin1String(kBitmapCacheSizeOption))));
    SetResult(std::move(image));
    LogStep("finished");
}

void WmsRequestor::LogStep(const char* step) const {
    if (TLog::IsDetailTagOn(kRequestLogTag)) {
        TLog::LogMessage(TLog::Severity::Info, QStringLiteral("WMSRequestor %1 model %2 tile %3")
                                                   .arg(QLatin1String(step))
                                                   .arg(GetModelNumber())
                                                   .arg(GetTileNumber()));
    }
}

void WmsRequestor::RejectNonImage(const QByteArray& bytes, const TString& url,
                                  TemporaryFile& file) const {
    const std::vector<TString> messages =
        WmsConnection::ParseWMSExceptions(DOMParser::Parse(bytes));
    if (!messages.empty()) {
        throw MapProviderException(MapProviderException::eServiceError,
                                   std::vector<TStringCore>(messages.begin(), messages.end()),
                                   MapProviderException::Site(kServiceExceptionSite));
    }
    file.Keep();
    TLog::LogMessage(
        TLog::Severity::Warn,
        QStringLiteral("Invalid file returned by '%1' saved as '%2'.").arg(url, file.GetPath()));
    throw MapProviderException(MapProviderException::eInvalidImage, LookupTStr(kInvalidImageText),
                               MapProviderException::Site(kInvalidImageSite));
}

std::unique_ptr<QtImageObject> WmsRequestor::CropMargins(std::unique_ptr<QtImageObject> image,
                                                         const RequestBox& box) const {
    QImage tile =
        image->GetImage().copy(box.cropX, box.cropY, static_cast<int>(GetQuery()->GetWidth()),
                               static_cast<int>(GetQuery()->GetHeight()));
    // The view draws these pixels next: they need not come back from the PNG.
    return QtImageObject::FromPixelsWithPng(std::move(tile), kCroppedPngQuality);
}

void WmsRequestor::RejectSolidColor(const QtImageObject& image, const TString& url) {
    const std::optional<ColorObject> solid = image.GetSolidColor();
    if (!solid) {
        return;
    }
    if (solid->GetAlpha() == 0 || EqualsOptionColor(*solid, kWhiteBackgroundOption) ||
        EqualsOptionColor(*solid, kBlackBackgroundOption)) {
        SetError(true);
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("Solid color tile returned from '%1'.").arg(url));
        throw MapProviderException(MapProviderException::eSolidColorTile,
                                   LookupTStr(kSolidColorText),
                                   MapProviderException::Site(kSolidColorSite));
    }
}
