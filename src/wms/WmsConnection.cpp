#include <algorithm>
#include <set>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/AppConfig.h>
#include <lmxmaps/host/DOMParser.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/TNetworkRules.h>

namespace {

constexpr std::uint32_t kDisallowedAddressSite = 0x57A10011;
constexpr std::uint32_t kAccessDeniedSite = 0x57A10012;
constexpr std::uint32_t kHttpErrorSite = 0x57A10013;
constexpr std::uint32_t kNoGetMapAddressSite = 0x57A10015;
constexpr int kHttpForbidden = 403;
constexpr int kHttpProxyAuthenticationRequired = 407;

const char16_t* const kWebMercatorCodes[] = {u"EPSG:3857", u"EPSG:102100"};
constexpr int kGeographicCodes[] = {
    4326, 4269, 3824, 3889, 4019, 4023, 4030, 4031, 4046, 4075, 4081, 4126, 4130, 4140, 4148, 4151,
    4152, 4163, 4166, 4167, 4170, 4171, 4172, 4173, 4176, 4180, 4189, 4190, 4258, 4283, 4319, 4612,
    4617, 4619, 4627, 4640, 4645, 4659, 4661, 4667, 4669, 4670, 4674, 4686, 4687, 4693, 4694, 4702,
    4737, 4742, 4747, 4749, 4755, 4756, 4757, 4758, 4759, 4761, 4762, 4763, 4764, 4765};

// Servers write codes in either case ("epsg:3857"); compare them as IsSupportedCRS does.
bool SameCode(const TString& code, const char16_t* known) {
    return code.compare(TStr(known), Qt::CaseInsensitive) == 0;
}

bool IsWebMercatorCode(const TString& code) {
    return std::any_of(std::begin(kWebMercatorCodes), std::end(kWebMercatorCodes),
                       [&](const char16_t* known) { return SameCode(code, known); });
}

const std::set<TString>& RequiredKeys() {
    static const std::set<TString> keys = {
        TStr(MapProvider::attrClass), TStr(MapProvider::attrService), TStr(MapProvider::attrServer),
        TStr(MapProvider::attrPort), TStr(MapProvider::attrURL)};
    return keys;
}

TString StripScheme(const TString& host) {
    for (const char* scheme : {"https://", "http://"}) {
        if (host.startsWith(QLatin1String(scheme), Qt::CaseInsensitive)) {
            return host.mid(static_cast<qsizetype>(std::char_traits<char>::length(scheme)));
        }
    }
    return host;
}

// A document must say where maps are fetched, and a server whose GetMap address is denied is
// refused as denied, whatever else its document offers.
void CheckGetMapAddress(const WmsCapabilities& capabilities) {
    if (capabilities.getMapHost.isEmpty()) {
        const TString message = LookupTStr(WmsConnection::kNoGetMapAddressText);
        TLog::LogMessage(TLog::Severity::Warn, message);
        throw MapProviderException(MapProviderException::eNoUsableService, message,
                                   MapProviderException::Site(kNoGetMapAddressSite));
    }
    if (!WmsConnection::IsAllowedIpAddress(capabilities.getMapHost)) {
        throw MapProviderException(MapProviderException::eServiceError, TString(),
                                   MapProviderException::Site(kDisallowedAddressSite));
    }
}

} // namespace

const VersionNumber WmsConnection::sDefaultVersion(1, 1, 1);

WmsConnection::WmsConnection(AttributeMap attributes) : MapConnection(std::move(attributes)) {
    const TString address =
        QStringLiteral("%1://%2:%3/%4")
            .arg(GetAttribute(MapProvider::attrService), GetAttribute(MapProvider::attrServer),
                 GetAttribute(MapProvider::attrPort), GetAttribute(MapProvider::attrURL));
    TLog::LogMessage(TLog::Severity::Info,
                     QStringLiteral("Attempting to retrieve capabilities from WMS server at ") +
                         address);
    const DOMDocument document = DOMParser::Parse(FetchCapabilities(sDefaultVersion));
    m_capabilities = WmsCapabilities::Read(document, CheckGetMapAddress);
}

QByteArray WmsConnection::FetchCapabilities(const VersionNumber& version) const {
    const TString server = GetAttribute(MapProvider::attrServer);
    if (!IsAllowedIpAddress(server)) {
        return {};
    }
    const HTTPRequest::ParameterMap parameters = {
        {QStringLiteral("request"), QStringLiteral("GetCapabilities")},
        {QStringLiteral("SERVICE"), QStringLiteral("WMS")},
        {QStringLiteral("VERSION"), version.ToString()}};
    HTTPRequest::RequestInfo info(GetAttribute(MapProvider::attrURL), parameters);
    if (HasAttribute(MapProvider::attrService)) {
        info.scheme = GetAttribute(MapProvider::attrService) == u"https"
                          ? HTTPRequest::Scheme::Https
                          : HTTPRequest::Scheme::Http;
    }
    auto request = MakeRefCnt<BinaryHTTPRequestor>(
        server, GetAttribute(MapProvider::attrPort).toUInt(), QStringLiteral("GET"), info);
    request->SetShowAuthenticationUI(!AppConfig::IsServer());
    std::vector<unsigned char> bytes;
    try {
        request->Execute();
        request->GetBytes(bytes, true);
    } catch (const HTTPException& e) {
        if (e.GetCode() == kHttpForbidden || e.GetCode() == kHttpProxyAuthenticationRequired) {
            throw MapProviderException(MapProviderException::eAccessDenied,
                                       LookupTFmtStr(kAccessDeniedText, server),
                                       MapProviderException::Site(kAccessDeniedSite));
        }
        if (e.GetCode() != 0) {
            throw MapProviderException(MapProviderException::eServiceUnavailable,
                                       LookupTFmtStr(kHttpErrorText, e.GetCode(), e.GetMessage()),
                                       MapProviderException::Site(kHttpErrorSite));
        }
        // No answer at all: reported below as a missing capabilities document.
        TLog::LogMessage(TLog::Severity::Warn, e.GetMessage());
    } catch (const MapProviderException&) {
        throw;
    } catch (const AsyncTask::CancelException&) {
        throw;
    } catch (const LumivexException& e) {
        // Keeps its type: a sign-in the user cancelled stays a cancel, not a map error.
        std::unique_ptr<LumivexException> stacked = e.Clone();
        stacked->PrependMessage(LookupTStr(kConnectionFailedText));
        stacked->Throw();
    }
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

MapRequestorPtr WmsConnection::CreateMapRequestor(SpatialProjectorPtr projector,
                                                  MapQueryPtr query) {
    return MapRequestorPtr(
        new WmsRequestor(m_capabilities.version, m_capabilities.getMapHost,
                         static_cast<unsigned int>(std::max(m_capabilities.getMapPort, 0)),
                         m_capabilities.getMapPath, m_capabilities.imageFormat,
                         std::move(projector), std::move(query)));
}

bool WmsConnection::CanReplaceWithSecureConnection() const {
    return m_capabilities.getMapScheme != GetAttribute(MapProvider::attrService) &&
           m_capabilities.getMapScheme == u"https";
}

RefCntPtr<MapLayers> WmsConnection::FetchMapLayers() const {
    return m_capabilities.layers->Clone();
}

int WmsConnection::OrderProjections(const TString& current, const TString& candidate) {
    if (current.compare(candidate, Qt::CaseInsensitive) == 0) {
        return 0;
    }
    if (!IsSupportedCRS(candidate)) {
        return -1;
    }
    if (current.isEmpty() || SameCode(candidate, u"EPSG:3857")) {
        return 1;
    }
    if (SameCode(candidate, u"EPSG:102100")) {
        return SameCode(current, u"EPSG:3857") ? -1 : 1;
    }
    if (SameCode(candidate, u"EPSG:4326")) {
        return IsWebMercatorCode(current) ? -1 : 1;
    }
    return 0;
}

const std::vector<TString>& WmsConnection::SupportedCRSs() {
    static const std::vector<TString> codes = [] {
        std::vector<TString> all;
        for (const char16_t* code : kWebMercatorCodes) {
            all.push_back(TStr(code));
        }
        for (const int code : kGeographicCodes) {
            all.push_back(QStringLiteral("EPSG:%1").arg(code));
        }
        return all;
    }();
    return codes;
}

bool WmsConnection::IsSupportedCRS(const TString& crs) {
    static const std::set<TString> supported(SupportedCRSs().begin(), SupportedCRSs().end());
    return supported.count(crs.toUpper()) != 0;
}

const std::vector<VersionNumber>& WmsConnection::SupportedVersions() {
    static const std::vector<VersionNumber> versions = {
        VersionNumber(1, 1, 1), VersionNumber(1, 1, 0), VersionNumber(1, 0, 0)};
    return versions;
}

bool WmsConnection::IsAllowedIpAddress(const TString& host) {
    static const TNetworkRules denyRules =
        TNetworkRules::FromOption(QStringLiteral("ConnectionIpBlacklist"));
    static const TNetworkRules allowRules =
        TNetworkRules::FromOption(QStringLiteral("MapConnectionIpAllowList"));
    const std::vector<TIpAddress> addresses = TNetworkRules::ResolveHost(StripScheme(host));
    // A name that does not resolve has no address to judge: it is not allowed.
    if (addresses.empty()) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("WMS connection aborted: the host name does not resolve."));
        return false;
    }
    for (const TIpAddress& address : addresses) {
        if (!TNetworkRules::IsAllowed(address, denyRules, allowRules)) {
            TLog::LogMessage(
                TLog::Severity::Warn,
                QStringLiteral("WMS connection aborted due to disallowed IP address."));
            return false;
        }
    }
    return true;
}

std::vector<TString> WmsConnection::ParseWMSExceptions(const DOMDocument& document) {
    std::vector<TString> messages;
    const DOMElement report = document.FindFirst(QStringLiteral("ServiceExceptionReport"));
    for (const DOMElement& exception : report.GetChildren(QStringLiteral("ServiceException"))) {
        messages.push_back(exception.GetText().left(kMaxExceptionLength));
    }
    return messages;
}

AttributeMap WmsConnection::ExtractKeychainAttributes(AttributeMap&) {
    return {};
}

void WmsConnection::FilterSecureAttributes(AttributeMap&) {}

void WmsConnection::FilterRequiredAttributes(AttributeMap& attributes) {
    const std::set<TString>& keep = RequiredKeys();
    std::erase_if(attributes, [&](const auto& entry) { return keep.count(entry.first) == 0; });
}

bool ConnectWmsDummy::AuthenticateProperties(AttributeMap&) {
    return false;
}

std::shared_ptr<MapSource> ConnectWmsDummy::Reconnect(const MapNamespace&,
                                                      std::shared_ptr<MapSource> source) {
    return source;
}

std::shared_ptr<MapSource>
ConnectWmsDummy::ValidateConnectionImpl(const MapNamespace&, AttributeMap&,
                                        std::shared_ptr<MapSource> source) {
    source->Connect();
    return source;
}
