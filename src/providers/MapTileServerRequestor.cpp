#include <QRegularExpression>

#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapDiskCache.h>
#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapTileServer.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/Secrets.h>
#include <lmxmaps/host/TLog.h>

namespace {

constexpr std::uint32_t kInvalidImageSite = 0xAEE15936;
constexpr const char* kBitmapCacheSizeOption = "imageobject.preferred.cache.size";

bool IsNearWhite(const ColorObject& color) {
    const int threshold = MapTileServerRequestor::kNearWhiteThreshold;
    return color.GetRed() > threshold && color.GetGreen() > threshold &&
           color.GetBlue() > threshold;
}

} // namespace

MapTileServerRequestor::MapTileServerRequestor(RefCntPtr<MapTileServerConnection> connection,
                                               const TString& server, unsigned int port,
                                               const TString& path, MapQueryPtr query)
    : MapRequestor(query), m_connection(std::move(connection)), m_server(server), m_port(port),
      m_path(path) {}

RefCntPtr<MapRequestor> MapTileServerRequestor::Clone() const {
    return RefCntPtr<MapRequestor>(
        new MapTileServerRequestor(m_connection, m_server, m_port, m_path, GetQuery()));
}

TString MapTileServerRequestor::GetResultUrl() const {
    {
        std::lock_guard lock(m_resultUrlMutex);
        if (!m_resultUrl.isEmpty()) {
            return m_resultUrl;
        }
    }
    const TString url = CreateRequest()->GetFullUrl();
    std::lock_guard lock(m_resultUrlMutex);
    m_resultUrl = url;
    return m_resultUrl;
}

void MapTileServerRequestor::ExecuteImpl() {
    Run(false);
}

void MapTileServerRequestor::Run(bool urlOnly) {
    TString url;
    try {
        const RefCntPtr<BinaryHTTPRequestor> request = CreateRequest();
        url = request->GetFullUrl();
        {
            std::lock_guard lock(m_resultUrlMutex);
            m_resultUrl = url;
        }
        if (urlOnly) {
            return;
        }
        request->SetOuterTask(this);
        SendAndProcessResponse(request);
        const QtImageObject* image = PeekResult();
        if (image != nullptr && image->IsValid() && !IsError()) {
            const std::chrono::seconds maxAge = GetTileMaxCacheAge(request);
            if (maxAge > m_sDoNotCache) {
                CacheTile(maxAge);
            }
        }
    } catch (...) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("Failed map tile ") + Secrets::RedactUrl(url));
        HandleException(m_server);
    }
}

RefCntPtr<BinaryHTTPRequestor> MapTileServerRequestor::CreateRequest() const {
    const HTTPRequest::HeaderMap headers = {
        {QStringLiteral("Accept-Encoding"), QStringLiteral("gzip,deflate")}};
    const HTTPRequest::RequestInfo info(m_path, {}, headers);
    auto request = MakeRefCnt<BinaryHTTPRequestor>(m_server, m_port, QStringLiteral("GET"), info);
    request->SetShowAuthenticationUI(IsShowAuthUI());
    request->SetHeaders(headers);
    return request;
}

void MapTileServerRequestor::SendAndProcessResponse(RefCntPtr<BinaryHTTPRequestor> request) {
    const bool logTile = TLog::IsDetailTagOn(kRequestLogTag);
    const auto logStep = [&](const char* step) {
        if (logTile) {
            TLog::LogMessage(TLog::Severity::Info,
                             QStringLiteral("StdTileRequestor %1 model %2 tile %3")
                                 .arg(QLatin1String(step))
                                 .arg(GetModelNumber())
                                 .arg(GetTileNumber()));
        }
    };
    logStep("begin");
    request->Execute();
    logStep("request complete");

    std::vector<unsigned char> bytes;
    request->GetBytes(bytes, true);
    std::unique_ptr<QtImageObject> image;
    if (!bytes.empty()) {
        image = QtImageObject::FromEncoded(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                      static_cast<qsizetype>(bytes.size())));
    }
    if (!image || !image->IsValid()) {
        if (WasCancelled()) {
            return;
        }
        logStep("failed to retrieve");
        SetError(true);
        throw MapProviderException(MapProviderException::eInvalidImage,
                                   LookupTStr(kInvalidImageText),
                                   MapProviderException::Site(kInvalidImageSite));
    }

    image->SetBitmapCacheSize(
        static_cast<int>(Options::GetInt(QLatin1String(kBitmapCacheSizeOption))));
    if (const auto solid = image->GetSolidColor(); solid && IsNearWhite(*solid)) {
        SetError(true);
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("Solid color tile returned from '%1'.")
                             .arg(Secrets::RedactUrl(request->GetFullUrl())));
    }
    SetResult(std::move(image));
    logStep("finished");
}

std::chrono::seconds
MapTileServerRequestor::GetTileMaxCacheAge(RefCntPtr<BinaryHTTPRequestor> request) const {
    const TString cacheControl = request->GetHeader(QStringLiteral("Cache-Control"));
    if (cacheControl.isEmpty()) {
        return m_sDoNotCache;
    }
    static const QRegularExpression maxAge(QStringLiteral("max-age=(\\d+)"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = maxAge.match(cacheControl);
    if (!match.hasMatch()) {
        return m_sDoNotCache;
    }
    bool ok = false;
    const qlonglong seconds = match.captured(1).toLongLong(&ok);
    return ok ? std::chrono::seconds(seconds) : m_sDoNotCache;
}

void MapTileServerRequestor::CacheTile(std::chrono::seconds maxAge) const {
    IPersistentImageCache* diskCache = MapDiskCache::Get();
    const QtImageObject* image = PeekResult();
    if (diskCache == nullptr || image == nullptr) {
        return;
    }
    AttributeMap key = m_connection->GetAttributes();
    MapConnectionAttributes::FilterSecureAttributes(key);
    for (const auto& [name, value] : GetQuery()->GetProperties()) {
        key.try_emplace(name, value);
    }
    key[TStr(MapTileServerProvider::sIndexProperty)] =
        MapTileServerProvider::ComputeTileIndex(*GetQuery()).ToString();
    diskCache->Insert(IPersistentImageCache::Data(key, {}, image), maxAge);
}
