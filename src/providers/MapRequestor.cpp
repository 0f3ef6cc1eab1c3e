#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapRequestor.h>
#include <lmxmaps/host/HTTPRequestor.h>
#include <lmxmaps/host/TLog.h>

namespace {

constexpr int kHttpForbidden = 403;
constexpr int kHttpProxyAuthenticationRequired = 407;
constexpr StringId kAccessDeniedText = 3701153844u;
constexpr std::uint32_t kRequestFailedSite = 0xC78AB797;

void LogRequestorException(const TString& message, std::optional<int> httpCode) {
    TString line = QStringLiteral("map-requestor-exception msg=\"%1\"").arg(message);
    if (httpCode) {
        line += QStringLiteral(" code=%1").arg(*httpCode);
    }
    TLog::LogMessage(TLog::Severity::Warn, line);
}

} // namespace

MapRequestor::MapRequestor(const MapQueryPtr& query) : m_query(query) {}

MapRequestor::~MapRequestor() = default;

void MapRequestor::SetLogIndexes(int modelNumber, int tileNumber) {
    m_modelNumber = modelNumber;
    m_tileNumber = tileNumber;
}

std::unique_ptr<QtImageObject> MapRequestor::GetResult() {
    CheckExceptions();
    return std::move(m_result);
}

std::unique_ptr<QtImageObject> MapRequestor::GetLegend() {
    CheckExceptions();
    return std::move(m_legend);
}

void MapRequestor::SetResult(std::unique_ptr<QtImageObject> image) {
    m_result = std::move(image);
}

void MapRequestor::SetLegend(std::unique_ptr<QtImageObject> image) {
    m_legend = std::move(image);
}

void MapRequestor::HandleException(const TString& name) {
    MapProviderException::Type type = MapProviderException::eFetchFailed;
    TString message;
    std::optional<int> httpCode;
    try {
        throw;
    } catch (const MapProviderException&) {
        throw;
    } catch (const AsyncTask::CancelException&) {
        throw;
    } catch (const HTTPException& e) {
        httpCode = e.GetCode();
        if (e.GetCode() == kHttpForbidden || e.GetCode() == kHttpProxyAuthenticationRequired) {
            type = e.GetCode() == kHttpForbidden
                       ? MapProviderException::eAccessDenied
                       : MapProviderException::eProxyAuthenticationRequired;
            message = LookupTFmtStr(kAccessDeniedText, name);
        } else {
            message = e.GetMessage();
        }
    } catch (const LumivexException& e) {
        message = e.GetMessage();
    }
    LogRequestorException(message, httpCode);
    throw MapProviderException(type, message, MapProviderException::Site(kRequestFailedSite));
}
