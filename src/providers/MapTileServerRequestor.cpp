#include <QDateTime>
#include <QRegularExpression>
#include <QScopeGuard>
#include <array>
#include <map>

#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapDiskCache.h>
#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapTileServer.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/HttpDate.h>
#include <lmxmaps/host/net/Secrets.h>

namespace {

constexpr std::uint32_t kInvalidImageSite = 0xAEE15936;
constexpr const char* kBitmapCacheSizeOption = "imageobject.preferred.cache.size";

constexpr int kNotModified = 304;
constexpr int kFirstServerError = 500;
// Larger delta-seconds count as 2^31 seconds (about 68 years), as in other HTTP caches.
constexpr qint64 kMaxDeltaSeconds = qint64{1} << 31;

// Response headers, by lower-case name, as the caching rules and the stored tile keep them.
constexpr const char16_t* kCacheControl = u"cache-control";
constexpr const char16_t* kExpires = u"expires";
constexpr const char16_t* kDate = u"date";
constexpr const char16_t* kAge = u"age";
constexpr const char16_t* kETag = u"etag";
constexpr const char16_t* kLastModified = u"last-modified";
// Kept with a stored tile: its validators and what its next lifetime may fall back on.
constexpr std::array<const char16_t*, 4> kStoredHeaders = {kETag, kLastModified, kCacheControl,
                                                           kExpires};
constexpr std::array<const char16_t*, 6> kCachingHeaders = {kETag,    kLastModified, kCacheControl,
                                                            kExpires, kDate,         kAge};

HTTPRequest::HeaderMap RequestHeaders() {
    return {{QStringLiteral("Accept-Encoding"), QStringLiteral("gzip,deflate")}};
}

bool IsNearWhite(const ColorObject& color) {
    const int threshold = MapTileServerRequestor::kNearWhiteThreshold;
    return color.GetRed() > threshold && color.GetGreen() > threshold &&
           color.GetBlue() > threshold;
}

TString HeaderValue(const AttributeMap& headers, const char16_t* name) {
    const auto found = headers.find(TStr(name));
    return found == headers.end() ? TString() : found->second;
}

bool HasValidator(const AttributeMap& headers) {
    return !HeaderValue(headers, kETag).isEmpty() || !HeaderValue(headers, kLastModified).isEmpty();
}

// Cache-Control directives by lower-case name, each with its value (unquoted; empty without
// one). A repeated directive keeps its first value.
std::map<TString, TString> CacheDirectives(const TString& cacheControl) {
    std::map<TString, TString> directives;
    for (const TString& part : cacheControl.split(u',', Qt::SkipEmptyParts)) {
        const qsizetype equals = part.indexOf(u'=');
        const TString name = part.left(equals).trimmed().toLower();
        TString value = equals < 0 ? TString() : part.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"')) {
            value = value.mid(1, value.size() - 2);
        }
        if (!name.isEmpty()) {
            directives.try_emplace(name, value);
        }
    }
    return directives;
}

// Non-negative whole seconds; nullopt for anything else.
std::optional<qint64> DeltaSeconds(const TString& text) {
    static const QRegularExpression digits(QStringLiteral("^\\d+$"));
    if (!digits.match(text).hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 seconds = text.toLongLong(&ok);
    return ok ? std::min(seconds, kMaxDeltaSeconds) : kMaxDeltaSeconds;
}

// The lifetime the headers state, before the time the response spent in caches: zero for
// "no-cache", else max-age, else Expires minus Date (or minus now without a usable Date). A
// missing or invalid value (an Expires of "0", a max-age that is no number) is zero.
qint64 StatedLifetime(const std::map<TString, TString>& directives, const AttributeMap& headers,
                      const QDateTime& now) {
    if (directives.count(QStringLiteral("no-cache")) != 0) {
        return 0;
    }
    if (const auto maxAge = directives.find(QStringLiteral("max-age"));
        maxAge != directives.end()) {
        return DeltaSeconds(maxAge->second).value_or(0);
    }
    const TString expires = HeaderValue(headers, kExpires);
    if (expires.isEmpty()) {
        return 0;
    }
    const QDateTime expiry = HttpDate::Parse(expires, now);
    const QDateTime date = HttpDate::Parse(HeaderValue(headers, kDate), now);
    return expiry.isValid() ? (date.isValid() ? date : now).secsTo(expiry) : 0;
}

// How long a response with these headers stays fresh; nullopt when it must not be stored.
std::optional<std::chrono::seconds> FreshnessLifetime(const AttributeMap& headers,
                                                      const QDateTime& now) {
    const std::map<TString, TString> directives =
        CacheDirectives(HeaderValue(headers, kCacheControl));
    if (directives.count(QStringLiteral("no-store")) != 0) {
        return std::nullopt;
    }
    const qint64 lifetime = StatedLifetime(directives, headers, now) -
                            DeltaSeconds(HeaderValue(headers, kAge)).value_or(0);
    return std::chrono::seconds(std::max<qint64>(lifetime, 0));
}

// Whether the failure in flight says the server is not there for now: no connection, a time
// limit, or a 5xx answer.
bool IsServerUnavailable(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const HTTPException& e) {
        return e.GetCode() == 0 || e.GetCode() >= kFirstServerError;
    } catch (...) {
        return false;
    }
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

RefCntPtr<HTTPRequestor> MapTileServerRequestor::PrepareFetch() {
    try {
        m_request = CreateRequest();
        {
            std::lock_guard lock(m_resultUrlMutex);
            m_resultUrl = m_request->GetFullUrl();
        }
        if (IPersistentImageCache* diskCache = MapDiskCache::Get()) {
            m_storedTile = diskCache->LookupIncludingExpired(DiskCacheKey());
        }
        MakeConditional(*m_request);
        m_request->SetOuterTask(this);
        return m_request;
    } catch (...) {
        m_storedTile = nullptr;
        LogAndHandleFetchFailure();
    }
}

void MapTileServerRequestor::CompleteFetch(const RefCntPtr<HTTPRequestor>&) {
    // The stored copy is needed only while the fetch runs; the requestor lives on.
    const auto forgetFetch = qScopeGuard([this] {
        m_request = nullptr;
        m_storedTile = nullptr;
        m_responseCaching.clear();
    });
    try {
        SendAndProcessResponse(m_request);
        const QtImageObject* image = PeekResult();
        if (image != nullptr && image->IsValid() && !IsError()) {
            m_responseCaching = CachingHeadersOf(*m_request);
            const std::optional<std::chrono::seconds> maxAge = GetTileMaxCacheAge(m_request);
            if (maxAge && (*maxAge > m_sDoNotCache || HasValidator(m_responseCaching))) {
                CacheTile(*maxAge);
            }
        }
    } catch (...) {
        LogAndHandleFetchFailure();
    }
}

void MapTileServerRequestor::LogAndHandleFetchFailure() {
    TString url;
    {
        std::lock_guard lock(m_resultUrlMutex);
        url = m_resultUrl;
    }
    TLog::LogMessage(TLog::Severity::Warn,
                     QStringLiteral("Failed map tile ") + Secrets::RedactUrl(url));
    HandleFetchFailure();
}

void MapTileServerRequestor::HandleFetchFailure() {
    const bool unavailable = IsServerUnavailable(std::current_exception());
    try {
        HandleException(m_server);
    } catch (MapProviderException& e) {
        if (unavailable && e.GetType() == MapProviderException::eFetchFailed) {
            e.SetType(MapProviderException::eServiceUnavailable);
        }
        throw;
    }
}

void MapTileServerRequestor::MakeConditional(BinaryHTTPRequestor& request) const {
    if (!m_storedTile || m_storedTile->GetImageObject() == nullptr) {
        return;
    }
    const AttributeMap& stored = m_storedTile->GetExtra();
    HTTPRequest::HeaderMap headers = RequestHeaders();
    if (const TString etag = HeaderValue(stored, kETag); !etag.isEmpty()) {
        headers[QStringLiteral("If-None-Match")] = etag;
    }
    if (const TString lastModified = HeaderValue(stored, kLastModified); !lastModified.isEmpty()) {
        headers[QStringLiteral("If-Modified-Since")] = lastModified;
    }
    if (headers.size() > RequestHeaders().size()) {
        request.SetHeaders(headers);
    }
}

AttributeMap MapTileServerRequestor::CachingHeadersOf(const BinaryHTTPRequestor& request) const {
    const bool notModified = request.GetStatusCode() == kNotModified && m_storedTile;
    AttributeMap headers = notModified ? m_storedTile->GetExtra() : AttributeMap();
    for (const char16_t* name : kCachingHeaders) {
        if (const TString value = request.GetHeader(TStr(name)); !value.isEmpty()) {
            headers[TStr(name)] = value;
        }
    }
    return headers;
}

RefCntPtr<BinaryHTTPRequestor> MapTileServerRequestor::CreateRequest() const {
    const HTTPRequest::HeaderMap headers = RequestHeaders();
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
    if (!request->HasFinished()) {
        request->Execute();
    }
    logStep("request complete");

    std::vector<unsigned char> bytes;
    request->GetBytes(bytes, true);
    if (request->GetStatusCode() == kNotModified && m_storedTile &&
        m_storedTile->GetImageObject() != nullptr) {
        std::unique_ptr<QtImageObject> stored = m_storedTile->CloneImageObject();
        stored->SetBitmapCacheSize(
            static_cast<int>(Options::GetInt(QLatin1String(kBitmapCacheSizeOption))));
        SetResult(std::move(stored));
        logStep("not modified");
        return;
    }
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

std::optional<std::chrono::seconds>
MapTileServerRequestor::GetTileMaxCacheAge(RefCntPtr<BinaryHTTPRequestor> request) const {
    return FreshnessLifetime(CachingHeadersOf(*request), QDateTime::currentDateTimeUtc());
}

AttributeMap MapTileServerRequestor::DiskCacheKey() const {
    AttributeMap key = m_connection->GetAttributes();
    MapConnectionAttributes::FilterSecureAttributes(key);
    for (const auto& [name, value] : GetQuery()->GetProperties()) {
        key.try_emplace(name, value);
    }
    key[TStr(MapTileServerProvider::sIndexProperty)] =
        MapTileServerProvider::ComputeTileIndex(*GetQuery()).ToString();
    return key;
}

void MapTileServerRequestor::CacheTile(std::chrono::seconds maxAge) const {
    IPersistentImageCache* diskCache = MapDiskCache::Get();
    const QtImageObject* image = PeekResult();
    if (diskCache == nullptr || image == nullptr) {
        return;
    }
    AttributeMap stored;
    for (const char16_t* name : kStoredHeaders) {
        if (const TString value = HeaderValue(m_responseCaching, name); !value.isEmpty()) {
            stored[TStr(name)] = value;
        }
    }
    const IPersistentImageCache::Data data(DiskCacheKey(), stored, image);
    if (HasValidator(stored)) {
        diskCache->InsertRevalidatable(data, maxAge);
    } else {
        diskCache->Insert(data, maxAge);
    }
}
