#include <QStringList>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <curl/curl.h>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <sys/socket.h>

#include <lmxmaps/Version.h>
#include <lmxmaps/host/Counters.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/HTTPRequestor.h>
#include <lmxmaps/host/net/Secrets.h>
#include <lmxmaps/host/net/TNetworkRules.h>

#include "CurlEasyPool.h"
#include "FetchEngine.h"
#include "HttpCredentials.h"
#include "HttpRetryPolicy.h"
#include "HttpUrl.h"

namespace {

constexpr long kMaxRedirects = 5;
// Longest wait for a synchronous request before the cancel flags are looked at again.
constexpr std::chrono::milliseconds kCancelCheckInterval{50};
// Requests someone waits for start before any queued tile.
constexpr double kSynchronousPriority = std::numeric_limits<double>::lowest();
constexpr qsizetype kMaxErrorBodyBytes = 64 * 1024;
constexpr int kFirstErrorStatus = 400;
constexpr int kUnauthorized = 401;
constexpr int kProxyAuthenticationRequired = 407;
// A proxy's challenge and then the server's may each need one more round.
constexpr int kMaxAuthenticationRounds = 2;
constexpr double kMillisecondsPerSecond = 1000.0;

constexpr std::uint32_t kStatusFailureId = 0x48545041;
constexpr std::uint32_t kTransportFailureId = 0x48545042;
constexpr std::uint32_t kCancelledId = 0x48545043;
constexpr std::uint32_t kRefusedId = 0x48545044;
constexpr std::uint32_t kBodyTooLargeId = 0x48545045;
constexpr std::uint32_t kHostPausedId = 0x48545047;
constexpr int kFirstRedirectStatus = 300;
constexpr int kFirstSuccessStatus = 200;

const char* const kBodyLimitOption = "HttpMaxBodyBytes";

const char* const kAllowedProtocols = "http,https";
// A proxy cannot reach this machine's loopback interface, so requests to it never use one.
const char* const kLoopbackHosts = "localhost,127.0.0.1,::1";

const QByteArray kUserAgent = QByteArrayLiteral("lmxmaps/" LMX_VERSION_STRING);

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

long MillisecondsOption(const char* name) {
    const double seconds = Options::GetDouble(QLatin1String(name));
    return seconds > 0 ? std::lround(seconds * kMillisecondsPerSecond) : 0;
}

// Setting CURLOPT_NOPROXY replaces the environment's no_proxy, so that list is kept in front.
std::string NoProxyList() {
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) {
            continue;
        }
        if (std::string(value) == "*") {
            return value;
        }
        return std::string(value) + ',' + kLoopbackHosts;
    }
    return kLoopbackHosts;
}

Slist MakeHeaderList(const HTTPRequest::HeaderMap& headers, bool hasBody) {
    Slist list;
    bool expectGiven = false;
    for (const auto& [name, value] : headers) {
        expectGiven = expectGiven || name.compare(u"Expect", Qt::CaseInsensitive) == 0;
        // "Name;" is libcurl's way to send a header without a value.
        const std::string line =
            value.isEmpty() ? ToUtf8(name) + ';' : ToUtf8(name) + ": " + ToUtf8(value);
        curl_slist* appended = curl_slist_append(list.get(), line.c_str());
        if (appended) {
            list.release();
            list.reset(appended);
        }
    }
    if (hasBody && !expectGiven) {
        // Otherwise libcurl waits up to a second for "100 Continue" before larger bodies.
        curl_slist* appended = curl_slist_append(list.get(), "Expect:");
        if (appended) {
            list.release();
            list.reset(appended);
        }
    }
    return list;
}

TString AddressRefusal(const std::optional<TIpAddress>& address) {
    return QStringLiteral("the address %1 is not allowed by the network rules")
        .arg(address ? address->ToString() : QStringLiteral("(not an IP address)"));
}

AsyncTask::CancelException MakeCancelException() {
    return AsyncTask::CancelException(
        QStringLiteral("The operation was cancelled."),
        TError::AutoGen(QStringLiteral("CancelException"), kCancelledId));
}

} // namespace

namespace HTTPRequest {

RequestInfo::RequestInfo(TString path, ParameterMap parameters, HeaderMap headers)
    : path(std::move(path)), parameters(std::move(parameters)), headers(std::move(headers)) {}

} // namespace HTTPRequest

struct HTTPRequestor::Impl {
    TString method;
    HTTPRequest::RequestInfo info;
    HttpUrl::Target target;
    HTTPRequest::InfiniteTimeout timeout;
    bool showAuthenticationUI = false;
    const ComputeTask* outer = nullptr;
    // Back to the requestor, for its body hooks and to keep it alive while a transfer runs.
    HTTPRequestor* owner = nullptr;
    CURL* easy = nullptr;
    // Bytes a successful body may have; 0 for no limit.
    qint64 bodyLimit = 0;
    bool expectsBody = true;
    // Why the network rules stopped the request, when they did.
    TString refusal;
    // Whether a hop of the redirect chain went over https.
    bool secureHopSeen = false;

    // The response being received; the header callback starts over at each status line
    // (redirects, authentication rounds, "100 Continue").
    int status = 0;
    QByteArray reason;
    std::map<TString, QStringList> headers;
    QByteArray errorBody;
    qint64 bodyBytes = 0;
    std::exception_ptr bodyException;
    long newConnections = 0;
    char errorText[CURL_ERROR_SIZE] = {};

    // What every attempt of one request shares.
    std::string url;
    std::string proxy;
    std::string noProxy;
    std::string caBundle;
    Slist headerList;
    std::optional<HttpCredentials::Entry> serverCredentials;
    std::optional<HttpCredentials::Entry> proxyCredentials;
    CurlEasyPool::EasyPtr easyHandle;
    std::string host;
    double priority = 0.0;
    int retries = 0;
    int authenticationRounds = 0;
    HttpRetryPolicy::Limits retryLimits;
    // Called once the request ended; `failure` then holds why it failed, if it did.
    std::function<void()> ended;
    std::exception_ptr failure;

    // The attempt in the fetch engine; Cancel() may look at it from any thread.
    std::mutex transferMutex;
    FetchEngine::TransferPtr transfer;

    bool IsCancelRequested(const HTTPRequestor& requestor) const {
        return requestor.WasCancelled() || (outer && outer->WasCancelled());
    }

    void StartResponse() {
        status = 0;
        reason.clear();
        headers.clear();
        errorBody.clear();
        bodyBytes = 0;
    }

    bool IsSuccessStatus() const {
        return status >= kFirstSuccessStatus && status < kFirstRedirectStatus;
    }

    HTTPException MakeBodyTooLarge() const {
        const TString url = Secrets::RedactUrl(target.fullUrl);
        return HTTPException(
            QStringLiteral("Could not fetch %1: the response body is larger than %2 bytes (%3)")
                .arg(url)
                .arg(bodyLimit)
                .arg(QLatin1String(kBodyLimitOption)),
            TError::AutoGen(QStringLiteral("HTTPException"), kBodyTooLargeId), 0, url);
    }

    static size_t OnHeader(char* buffer, size_t size, size_t count, void* user) {
        Impl& impl = *static_cast<HTTPRequestor*>(user)->m_impl;
        const size_t length = size * count;
        const QByteArray line = QByteArray(buffer, static_cast<qsizetype>(length)).trimmed();
        if (line.startsWith("HTTP/")) {
            impl.StartResponse();
            // "HTTP/1.1 404 Not Found", "HTTP/2 200"
            const QList<QByteArray> parts = line.split(' ');
            impl.status = parts.size() > 1 ? parts[1].toInt() : 0;
            const qsizetype reasonStart = line.indexOf(' ', line.indexOf(' ') + 1);
            impl.reason = reasonStart > 0 ? line.mid(reasonStart + 1) : QByteArray();
            return length;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0) {
            const TString name = QString::fromUtf8(line.left(colon).trimmed()).toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            impl.headers[name].append(QString::fromUtf8(value));
            // A body declared too large is refused before any of it arrives.
            if (name == u"content-length" && impl.bodyLimit > 0 && impl.expectsBody &&
                impl.IsSuccessStatus() && value.toLongLong() > impl.bodyLimit) {
                impl.bodyException = std::make_exception_ptr(impl.MakeBodyTooLarge());
                return 0;
            }
        }
        return length;
    }

    // Every connection is opened here, to the address curl resolved (or the proxy's), so a
    // name that resolves differently later cannot get past the rules.
    static curl_socket_t OnOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
        Impl& impl = *static_cast<HTTPRequestor*>(user)->m_impl;
        const std::optional<TIpAddress> ip =
            TIpAddress::FromSocketAddress(&address->addr, address->addrlen);
        if (!ip || !TNetworkRules::IsAllowedByOptions(*ip)) {
            impl.refusal = AddressRefusal(ip);
            return CURL_SOCKET_BAD;
        }
        return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    // Runs before each request goes out, on a new or a reused connection, for every redirect
    // hop: a reused connection meets the rules as they are now, and a chain that went over
    // https never continues over http.
    static int OnBeforeRequest(void* user, char* connectedIp, char*, int, int) {
        Impl& impl = *static_cast<HTTPRequestor*>(user)->m_impl;
        const std::optional<TIpAddress> ip = TIpAddress::Parse(QString::fromLatin1(connectedIp));
        if (!ip || !TNetworkRules::IsAllowedByOptions(*ip)) {
            impl.refusal = AddressRefusal(ip);
            return CURL_PREREQFUNC_ABORT;
        }
        char* scheme = nullptr;
        curl_easy_getinfo(impl.easy, CURLINFO_SCHEME, &scheme);
        const bool secure = scheme != nullptr && qstricmp(scheme, "https") == 0;
        if (impl.secureHopSeen && !secure) {
            impl.refusal = QStringLiteral("a redirect from https to http is not allowed");
            return CURL_PREREQFUNC_ABORT;
        }
        impl.secureHopSeen = impl.secureHopSeen || secure;
        return CURL_PREREQFUNC_OK;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        auto* requestor = static_cast<HTTPRequestor*>(user);
        Impl& impl = *requestor->m_impl;
        const size_t length = size * count;
        if (impl.status >= kFirstErrorStatus) {
            const qsizetype room = kMaxErrorBodyBytes - impl.errorBody.size();
            impl.errorBody.append(data, std::min(room, static_cast<qsizetype>(length)));
            return length;
        }
        impl.bodyBytes += static_cast<qint64>(length);
        if (impl.bodyLimit > 0 && impl.bodyBytes > impl.bodyLimit) {
            impl.bodyException = std::make_exception_ptr(impl.MakeBodyTooLarge());
            return 0;
        }
        try {
            requestor->AppendBody(data, length);
        } catch (...) {
            impl.bodyException = std::current_exception();
            // Anything but the length offered makes libcurl stop with CURLE_WRITE_ERROR.
            return 0;
        }
        return length;
    }

    void Configure(CURL* easy, HTTPRequestor& requestor, const curl_slist* headerList,
                   const std::string& url, const std::string& proxy, const std::string& noProxy) {
        this->easy = easy;
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
        // Pool threads must not take signals for libcurl's timeouts.
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        // Every encoding libcurl can decode is offered, and bodies arrive decoded.
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent.constData());
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                         MillisecondsOption("HttpConnectTimeoutSeconds"));
        if (timeout == HTTPRequest::InfiniteTimeout::No) {
            curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                             MillisecondsOption("HttpTransferTimeoutSeconds"));
        }
        if (!proxy.empty()) {
            curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
        }
        curl_easy_setopt(easy, CURLOPT_NOPROXY, noProxy.c_str());
        if (!caBundle.empty()) {
            curl_easy_setopt(easy, CURLOPT_CAINFO, caBundle.c_str());
        }
        curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &requestor);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &requestor);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &Impl::OnOpenSocket);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &requestor);
        curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Impl::OnBeforeRequest);
        curl_easy_setopt(easy, CURLOPT_PREREQDATA, &requestor);

        const QByteArray methodName = method.toUpper().toLatin1();
        if (info.body) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(info.body->size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, info.body->constData());
            if (methodName != "POST") {
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, methodName.constData());
            }
        } else if (methodName == "HEAD") {
            expectsBody = false;
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else if (methodName != "GET") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, methodName.constData());
        }
    }

    static void SetCredentials(CURL* easy, bool proxy, const HttpCredentials::Entry& entry) {
        const std::string user = ToUtf8(entry.credentials.user);
        const std::string password = ToUtf8(entry.credentials.password);
        curl_easy_setopt(easy, proxy ? CURLOPT_PROXYUSERNAME : CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(easy, proxy ? CURLOPT_PROXYPASSWORD : CURLOPT_PASSWORD, password.c_str());
        curl_easy_setopt(easy, proxy ? CURLOPT_PROXYAUTH : CURLOPT_HTTPAUTH, entry.authMask);
    }

    std::exception_ptr TransportFailure(CURLcode code) const {
        const TString detail = errorText[0] != '\0' ? QString::fromUtf8(errorText)
                                                    : QString::fromUtf8(curl_easy_strerror(code));
        const TString redacted = Secrets::RedactUrl(target.fullUrl);
        return std::make_exception_ptr(
            HTTPException(QStringLiteral("Could not fetch %1: %2").arg(redacted, detail),
                          TError::AutoGen(QStringLiteral("HTTPException"), kTransportFailureId), 0,
                          redacted, QByteArray(), code == CURLE_OPERATION_TIMEDOUT));
    }

    std::exception_ptr Refusal() const {
        const TString redacted = Secrets::RedactUrl(target.fullUrl);
        return std::make_exception_ptr(HTTPException(
            QStringLiteral("Could not fetch %1: %2").arg(redacted, refusal),
            TError::AutoGen(QStringLiteral("HTTPException"), kRefusedId), 0, redacted));
    }

    std::exception_ptr HostPaused(std::chrono::seconds left) const {
        const TString redacted = Secrets::RedactUrl(target.fullUrl);
        return std::make_exception_ptr(HTTPException(
            QStringLiteral("Could not fetch %1: requests to this server are paused for another "
                           "%2 s after repeated failures")
                .arg(redacted)
                .arg(left.count()),
            TError::AutoGen(QStringLiteral("HTTPException"), kHostPausedId), 0, redacted));
    }

    std::exception_ptr StatusFailure() const {
        TString message = QStringLiteral("HTTP %1").arg(status);
        if (!reason.isEmpty()) {
            message += u' ' + QString::fromUtf8(reason);
        }
        const TString redacted = Secrets::RedactUrl(target.fullUrl);
        message += QStringLiteral(" from %1").arg(redacted);
        return std::make_exception_ptr(HTTPException(
            message, TError::AutoGen(QStringLiteral("HTTPException"), kStatusFailureId), status,
            redacted, errorBody));
    }

    TString Header(const TString& name) const {
        const auto found = headers.find(name.toLower());
        return found == headers.end() ? TString() : found->second.join(QStringLiteral(", "));
    }

    bool IsIdempotent() const {
        const TString upper = method.toUpper();
        return !info.body && (upper == u"GET" || upper == u"HEAD");
    }

    // Sets up what every attempt shares and sends the first; `done` runs once the request
    // ended, on whichever thread ended it.
    void Begin(double requestPriority, std::function<void()> done) {
        ended = std::move(done);
        priority = requestPriority;
        failure = nullptr;
        newConnections = 0;
        retries = 0;
        authenticationRounds = 0;
        try {
            retryLimits = HttpRetryPolicy::CurrentLimits();
            bodyLimit = std::max<qint64>(0, Options::GetInt(QLatin1String(kBodyLimitOption)));
            url = ToUtf8(target.fullUrl);
            proxy = ToUtf8(Options::GetString(QStringLiteral("HttpProxy")).trimmed());
            noProxy = NoProxyList();
            caBundle = ToUtf8(Options::GetString(QStringLiteral("HttpCaBundleFile")).trimmed());
            headerList = MakeHeaderList(info.headers, info.body.has_value());
            serverCredentials = HttpCredentials::Remembered(false, target.origin);
            proxyCredentials = HttpCredentials::Remembered(true, target.origin);
            host = ToUtf8(target.origin);
            easyHandle = CurlEasyPool::Instance().Acquire();
        } catch (...) {
            Finish(std::current_exception());
            return;
        }
        SubmitAttempt(std::chrono::milliseconds(0));
    }

    void SubmitAttempt(std::chrono::milliseconds delay) {
        StartResponse();
        errorText[0] = '\0';
        refusal.clear();
        secureHopSeen = false;
        bodyException = nullptr;
        Configure(easyHandle.get(), *owner, headerList.get(), url, proxy, noProxy);
        if (serverCredentials) {
            SetCredentials(easyHandle.get(), false, *serverCredentials);
        }
        if (proxyCredentials) {
            SetCredentials(easyHandle.get(), true, *proxyCredentials);
        }
        auto attempt = std::make_shared<FetchEngine::Transfer>();
        attempt->easy = easyHandle.get();
        attempt->host = host;
        attempt->priority = priority;
        attempt->notBefore = FetchEngine::Clock::now() + delay;
        attempt->completion =
            [self = RefCntPtr<HTTPRequestor>(owner)](const FetchEngine::Outcome& outcome) {
                self->m_impl->OnAttemptEnded(outcome);
            };
        {
            std::lock_guard lock(transferMutex);
            transfer = attempt;
        }
        // Cancel() sets its flag before it looks at the transfer: one of the two sees the other.
        if (IsCancelRequested(*owner)) {
            Finish(std::make_exception_ptr(MakeCancelException()));
            return;
        }
        FetchEngine::Instance().Submit(std::move(attempt));
    }

    void CancelTransfer() {
        FetchEngine::TransferPtr current;
        {
            std::lock_guard lock(transferMutex);
            current = transfer;
        }
        if (current) {
            FetchEngine::Instance().Cancel(std::move(current));
        }
    }

    // On the fetch engine's thread.
    void OnAttemptEnded(const FetchEngine::Outcome& outcome) {
        if (outcome.ending == FetchEngine::Ending::Cancelled || IsCancelRequested(*owner)) {
            Finish(std::make_exception_ptr(MakeCancelException()));
            return;
        }
        if (outcome.ending == FetchEngine::Ending::HostPaused) {
            Finish(HostPaused(outcome.pauseLeft));
            return;
        }
        long connects = 0;
        curl_easy_getinfo(easy, CURLINFO_NUM_CONNECTS, &connects);
        newConnections += connects;
        if (bodyException) {
            Finish(bodyException);
            return;
        }
        if (!refusal.isEmpty() &&
            (outcome.code == CURLE_COULDNT_CONNECT || outcome.code == CURLE_ABORTED_BY_CALLBACK)) {
            HostCounters::Increment(kRefusedRequestsCounter);
            Finish(Refusal());
            return;
        }
        if (outcome.code != CURLE_OK) {
            const bool transient = HttpRetryPolicy::IsTransientTransportFailure(outcome.code);
            FetchEngine::Instance().RecordHostOutcome(host, transient);
            if (!transient || !RetryLater(TString(), outcome.code)) {
                Finish(TransportFailure(outcome.code));
            }
            return;
        }
        long finalStatus = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &finalStatus);
        status = static_cast<int>(finalStatus);
        const bool overloaded = HttpRetryPolicy::IsTransientStatus(status);
        // A server that answers, even "busy", is not down.
        FetchEngine::Instance().RecordHostOutcome(host, false);
        if (overloaded && RetryLater(Header(QStringLiteral("Retry-After")), CURLE_OK)) {
            return;
        }
        if ((status == kUnauthorized || status == kProxyAuthenticationRequired) &&
            showAuthenticationUI && authenticationRounds < kMaxAuthenticationRounds) {
            ++authenticationRounds;
            // The prompt may wait for a person: never on the fetch engine's thread.
            QThreadPool::globalInstance()->start(
                [self = RefCntPtr<HTTPRequestor>(owner)] { self->m_impl->AnswerChallenge(); });
            return;
        }
        Finish(status >= kFirstErrorStatus ? StatusFailure() : nullptr);
    }

    void AnswerChallenge() {
        const bool proxyChallenge = status == kProxyAuthenticationRequired;
        const HTTPRequest::AuthenticationChallenge challenge{
            proxyChallenge, target.fullUrl,
            Header(proxyChallenge ? QStringLiteral("Proxy-Authenticate")
                                  : QStringLiteral("WWW-Authenticate"))};
        std::optional<HttpCredentials::Entry>& used =
            proxyChallenge ? proxyCredentials : serverCredentials;
        std::optional<HttpCredentials::Entry> answer;
        try {
            answer = HttpCredentials::Ask(challenge, target.origin, used);
        } catch (...) {
            // A prompt the user closed ends the request with the prompt's own exception.
            Finish(std::current_exception());
            return;
        }
        if (!answer) {
            Finish(StatusFailure());
            return;
        }
        used = std::move(answer);
        SubmitAttempt(std::chrono::milliseconds(0));
    }

    // Schedules the attempt again when the failure and the retry limits allow it.
    bool RetryLater(const TString& retryAfter, CURLcode code) {
        if (!IsIdempotent()) {
            return false;
        }
        const std::optional<std::chrono::milliseconds> wait = HttpRetryPolicy::WaitBeforeRetry(
            retries + 1, retryAfter, retryLimits, QDateTime::currentDateTimeUtc());
        if (!wait) {
            return false;
        }
        if (++retries == 1) {
            HostCounters::Increment(kRetriedRequestsCounter);
        }
        const TString why = code == CURLE_OK ? QStringLiteral("HTTP %1").arg(status)
                                             : QString::fromUtf8(curl_easy_strerror(code));
        TLog::LogMessage(TLog::Severity::Info,
                         QStringLiteral("Retrying %1 in %2 ms (retry %3 of %4): %5")
                             .arg(Secrets::RedactUrl(target.fullUrl))
                             .arg(wait->count())
                             .arg(retries)
                             .arg(retryLimits.maxRetries)
                             .arg(why));
        try {
            // Whatever part of the body arrived goes; the next attempt sends all of it.
            owner->EndBody(false);
            owner->BeginBody();
        } catch (...) {
            Finish(std::current_exception());
            return true;
        }
        SubmitAttempt(*wait);
        return true;
    }

    void Finish(std::exception_ptr why) {
        try {
            owner->EndBody(!why);
        } catch (...) {
            why = why ? why : std::current_exception();
        }
        failure = std::move(why);
        easy = nullptr;
        easyHandle.reset();
        {
            std::lock_guard lock(transferMutex);
            transfer.reset();
        }
        const std::function<void()> done = std::exchange(ended, nullptr);
        done();
    }
};

HTTPRequestor::HTTPRequestor(TString server, unsigned int port, TString method,
                             const HTTPRequest::RequestInfo& info,
                             HTTPRequest::InfiniteTimeout timeout)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->method = std::move(method);
    m_impl->info = info;
    m_impl->target = HttpUrl::MakeTarget(server, port, info);
    m_impl->timeout = timeout;
    m_impl->owner = this;
}

HTTPRequestor::~HTTPRequestor() = default;

void HTTPRequestor::SetShowAuthenticationUI(bool show) {
    m_impl->showAuthenticationUI = show;
}

bool HTTPRequestor::GetShowAuthenticationUI() const {
    return m_impl->showAuthenticationUI;
}

void HTTPRequestor::SetHeaders(const HTTPRequest::HeaderMap& headers) {
    m_impl->info.headers = headers;
}

void HTTPRequestor::SetOuterTask(const ComputeTask* outer) {
    m_impl->outer = outer;
}

const TString& HTTPRequestor::GetFullUrl() const {
    return m_impl->target.fullUrl;
}

const TString& HTTPRequestor::GetMethod() const {
    return m_impl->method;
}

int HTTPRequestor::GetStatusCode() const {
    return m_impl->status;
}

TString HTTPRequestor::GetHeader(const TString& name) const {
    return m_impl->Header(name);
}

long HTTPRequestor::GetNewConnectionCount() const {
    return m_impl->newConnections;
}

int HTTPRequestor::Cancel() {
    const int taken = ComputeTask::Cancel();
    m_impl->CancelTransfer();
    return taken;
}

void HTTPRequestor::Start(double priority, std::function<void()> finished) {
    if (!RunPart([this] {
            if (m_impl->IsCancelRequested(*this)) {
                throw MakeCancelException();
            }
            BeginBody();
        })) {
        MarkFinished();
        finished();
        return;
    }
    m_impl->Begin(priority, [this, finished = std::move(finished)] {
        RunPart([this] {
            if (m_impl->failure) {
                std::rethrow_exception(m_impl->failure);
            }
        });
        MarkFinished();
        finished();
    });
}

void HTTPRequestor::ExecuteImpl() {
    Impl& impl = *m_impl;
    if (impl.IsCancelRequested(*this)) {
        throw MakeCancelException();
    }
    BeginBody();
    std::mutex endedMutex;
    std::condition_variable endedSignal;
    bool ended = false;
    impl.Begin(kSynchronousPriority, [&] {
        // Notified under the lock: once the waiter sees `ended` nothing here is touched again.
        std::lock_guard lock(endedMutex);
        ended = true;
        endedSignal.notify_all();
    });
    std::unique_lock lock(endedMutex);
    while (!endedSignal.wait_for(lock, kCancelCheckInterval, [&] { return ended; })) {
        if (impl.IsCancelRequested(*this)) {
            impl.CancelTransfer();
        }
    }
    if (impl.failure) {
        std::rethrow_exception(impl.failure);
    }
}

bool HTTPRequestor::GetProxyAuthenticationCanceled() {
    return HttpCredentials::ProxyAuthenticationCanceled();
}

void HTTPRequestor::SetAuthenticationPrompt(HTTPRequest::AuthenticationPrompt prompt) {
    HttpCredentials::SetPrompt(std::move(prompt));
}

TString HTTPRequestor::URLFormatParams(const HTTPRequest::ParameterMap& parameters) {
    return HttpUrl::FormatParams(parameters);
}

TString HTTPRequestor::URLFormatParams(const AttributeMap& parameters) {
    return HttpUrl::FormatParams(HTTPRequest::ParameterMap(parameters.begin(), parameters.end()));
}

TString HTTPRequestor::GetAppBaseName() {
    return QStringLiteral("lmxmaps");
}

void HTTPRequestor::CloseIdleConnections() {
    FetchEngine::Instance().CloseIdleConnections();
}
