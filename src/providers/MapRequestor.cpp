#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapRequestor.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/HTTPRequestor.h>

namespace {

// Answers that came back are read before new requests are built: a view completes sooner.
constexpr int kPreparePoolPriority = 0;
constexpr int kCompletePoolPriority = 1;

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

AsyncResult MapRequestor::Start() {
    auto done = std::make_shared<std::promise<void>>();
    AsyncResult result = done->get_future().share();
    QtAsyncRunnable::Post(
        [self = RefCntPtr<MapRequestor>(this), done] {
            RefCntPtr<HTTPRequestor> request;
            const bool prepared = self->RunPart([&] {
                self->ThrowIfCancelled();
                request = self->PrepareFetch();
                if (!request) {
                    self->ExecuteImpl();
                }
            });
            if (prepared && request) {
                self->SendPrepared(request, done);
                return;
            }
            self->MarkFinished();
            done->set_value();
        },
        kPreparePoolPriority);
    return result;
}

void MapRequestor::SendPrepared(const RefCntPtr<HTTPRequestor>& request,
                                const std::shared_ptr<std::promise<void>>& done) {
    {
        std::lock_guard lock(m_inFlightMutex);
        m_inFlight = request;
    }
    // Cancel() raises the flag before it looks for the request: one of the two sees the other.
    if (WasCancelled()) {
        request->Cancel();
    }
    request->Start(m_fetchPriority, [self = RefCntPtr<MapRequestor>(this), request, done] {
        QtAsyncRunnable::Post(
            [self, request, done] {
                self->RunPart([&] { self->CompleteFetch(request); });
                {
                    std::lock_guard lock(self->m_inFlightMutex);
                    self->m_inFlight = nullptr;
                }
                self->MarkFinished();
                done->set_value();
            },
            kCompletePoolPriority);
    });
}

int MapRequestor::Cancel() {
    const int taken = ComputeTask::Cancel();
    RefCntPtr<HTTPRequestor> request;
    {
        std::lock_guard lock(m_inFlightMutex);
        request = m_inFlight;
    }
    if (request) {
        request->Cancel();
    }
    return taken;
}

void MapRequestor::ExecuteImpl() {
    if (const RefCntPtr<HTTPRequestor> request = PrepareFetch()) {
        CompleteFetch(request);
    }
}

RefCntPtr<HTTPRequestor> MapRequestor::PrepareFetch() {
    return nullptr;
}

void MapRequestor::CompleteFetch(const RefCntPtr<HTTPRequestor>&) {}

void MapRequestor::ClearFailure() {
    ClearExceptions();
    m_isError = false;
}

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
    try {
        throw;
    } catch (const AsyncTask::CancelException&) {
        throw;
    } catch (...) {
        m_isError = true;
        ThrowAsMapProviderException(name);
    }
}

void MapRequestor::ThrowAsMapProviderException(const TString& name) {
    MapProviderException::Type type = MapProviderException::eFetchFailed;
    TString message;
    std::optional<int> httpCode;
    try {
        throw;
    } catch (const MapProviderException&) {
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
