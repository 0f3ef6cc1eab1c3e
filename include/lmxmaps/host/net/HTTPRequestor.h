#pragma once
// The host's HTTP client. Each requestor is one request, made as a task: Execute() sends it and
// waits for the outcome on the calling thread, keeps any failure as the task's stored
// exception, and the body getters rethrow that exception before handing out the body. Start()
// sends it without waiting. One thread runs a requestor at a time and reads its results after
// it finished; Cancel() may come from any thread.
//
// Behaviour common to every request:
// - Transfers run on one process-wide I/O thread (libcurl's multi interface), not on the
//   thread that asked: waiting for a server holds no pool thread. At most
//   "HttpMaxConnectionsPerHost" requests run per server and "HttpMaxConnections" in all; the
//   others queue, those someone waits for (Execute) first, then by Start's priority.
// - Failures that say the server or the way to it is in trouble for now (no connection, a
//   reset, a time-out, a body cut short, 408, 429, 500, 502, 503, 504) are sent again, GET
//   and HEAD only, up to "HttpRetryAttempts" times after growing, jittered waits, or after the
//   wait Retry-After names (seconds or a date); a Retry-After longer than
//   "HttpRetryMaxWaitSeconds" ends the retries. Each retry is logged at Info.
// - After 5 attempts in a row that got no answer at all from a server (no connection, a
//   reset, a time-out), it is paused for "HttpHostPauseSeconds": its requests fail at once
//   (HTTPException, code 0) instead of waiting for a server that is down; then one request at
//   a time tries it until one gets an answer. Any HTTP answer, 503 too, counts as alive.
// - Only http and https are spoken; redirects are followed (at most 5) to http or https only,
//   and once a hop went over https no later hop may use http.
// - Every connection meets the network rules ("ConnectionIpBlacklist" and
//   "MapConnectionIpAllowList", see TNetworkRules): the address is checked as the socket is
//   opened, the address curl resolved and is about to connect to, so a name that resolves
//   elsewhere later gains nothing; a reused connection is checked again before each request
//   and redirect hop. Through a proxy, the proxy's address is what is checked (the proxy
//   resolves the server's name itself). A name that does not resolve fails. A refused address
//   stores HTTPException with code 0 whose message names the address.
// - A successful body may have at most "HttpMaxBodyBytes" bytes (0: no limit), counted after
//   gzip or deflate decoding; a larger one, declared or counted as it arrives, stops the request
//   with HTTPException (code 0) and is never handed out or written to the file.
// - Connections stay open after a request and are reused by later requests from any thread;
//   DNS answers and TLS sessions are shared process-wide.
// - gzip and deflate bodies are decoded; the User-Agent is "lmxmaps/<version>" unless the
//   request headers name another one.
// - Time limits come from the options "HttpConnectTimeoutSeconds" and
//   "HttpTransferTimeoutSeconds" (each attempt); the proxy from "HttpProxy" (empty: the usual
//   environment variables). Loopback addresses never go through a proxy.
// - https servers are checked against the certificate authorities of "HttpCaBundleFile" (a PEM
//   file; empty: the system's).
// - Cancel() (or cancelling the outer task, see SetOuterTask) takes a queued request out of the
//   queue at once and stops a running transfer within about 50 ms, whatever stage it is in;
//   the task then stores AsyncTask::CancelException.
// - A response status of 400 or more stores HTTPException with that status; a failure without
//   a status (connect, timeout, too many redirects...) stores HTTPException with code 0.
// - The body hooks (BeginBody, AppendBody, EndBody) run on the I/O thread; a retry ends the
//   body unfinished and begins it again.

#include <QByteArray>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <lmxmaps/host/AsyncTask.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/TString.h>

class QSaveFile;

namespace HTTPRequest {

enum class Scheme { Http, Https };

// Yes lifts the whole-request limit ("HttpTransferTimeoutSeconds") for downloads that may
// rightly take long; the connect limit still applies.
enum class InfiniteTimeout : bool { No = false, Yes = true };

// Request headers and query parameters, by name. Keys are sorted, so whatever is built from a
// map comes out the same every time.
using HeaderMap = std::map<TString, TString>;
using ParameterMap = std::map<TString, TString>;

struct RequestInfo {
    RequestInfo() = default;
    explicit RequestInfo(TString path, ParameterMap parameters = {}, HeaderMap headers = {});

    // The path, optionally with a query ("/tiles/3/4/5.png?key=x"). It is sent as given:
    // only characters that may not appear in a URL at all (blanks, controls, non-ASCII...)
    // are percent-encoded as UTF-8; '%' and the reserved characters are left alone.
    TString path;
    // Appended to the path's query with HTTPRequestor::URLFormatParams.
    ParameterMap parameters;
    // Extra request headers. An empty value sends the header with no value.
    HeaderMap headers;
    // A request body (sent with POST, or with the requestor's method when it names another).
    std::optional<QByteArray> body;
    // Used when the server name does not start with "http://" or "https://".
    Scheme scheme = Scheme::Http;
};

// What an authentication prompt is asked about.
struct AuthenticationChallenge {
    // True for a proxy's 407, false for a server's 401.
    bool proxy = false;
    // The request's URL.
    TString url;
    // The Proxy-Authenticate or WWW-Authenticate header, e.g. 'Basic realm="maps"'.
    TString challenge;
};

struct Credentials {
    TString user;
    TString password;
};

// Asks the user for credentials; std::nullopt means the user cancelled. May be called from any
// thread, never from two at once.
using AuthenticationPrompt =
    std::function<std::optional<Credentials>(const AuthenticationChallenge&)>;

} // namespace HTTPRequest

// A failed request. GetCode() is the HTTP status, or 0 when no status arrived. The URL in the
// message and in GetUrl() has its secret query parameters masked.
class HTTPException : public LumivexException {
public:
    HTTPException(TString message, TError::ErrorInfo errorInfo, int code, TString url,
                  QByteArray responseBody = {}, bool timedOut = false);

    std::unique_ptr<LumivexException> Clone() const override;
    [[noreturn]] void Throw() const override;

    int GetCode() const { return m_code; }
    const TString& GetUrl() const { return m_url; }
    // The start of the error response's body (at most 64 KiB); empty for code 0.
    const QByteArray& GetResponseBody() const { return m_responseBody; }
    // Whether a time limit ended the request (then GetCode() is 0).
    bool IsTimeout() const { return m_timedOut; }

private:
    int m_code;
    TString m_url;
    QByteArray m_responseBody;
    bool m_timedOut;
};

class HTTPRequestor : public ComputeTask {
public:
    // Process-wide counters (HostCounters): requests sent again at least once, and requests
    // the network rules refused.
    static constexpr const char* kRetriedRequestsCounter = "HttpRequestsRetried";
    static constexpr const char* kRefusedRequestsCounter = "HttpRequestsRefused";

    ~HTTPRequestor() override;

    // Sends the request without waiting. `finished` runs once the outcome is known, on the I/O
    // thread (keep it short: hand real work to a pool), or at once on this thread when the
    // request could not begin; afterwards the outcome is read as after Execute(). Among
    // queued requests lower priorities start first. Call once, instead of Execute().
    void Start(double priority, std::function<void()> finished);
    int Cancel() override;

    // With the flag set, a 401 or 407 response asks the registered authentication prompt for
    // credentials and the request is sent once more with them.
    void SetShowAuthenticationUI(bool show);
    bool GetShowAuthenticationUI() const;
    // Replaces the request headers given in the request information.
    void SetHeaders(const HTTPRequest::HeaderMap& headers);
    // The request also stops when this task is cancelled: for requests made inside another
    // task's body. Not owned (the outer task usually owns this request): it is looked at only
    // while Execute() runs, and must be alive then.
    void SetOuterTask(const ComputeTask* outer);

    // "scheme://server[:port]/path?query"; the port is left out when it is the scheme's own.
    const TString& GetFullUrl() const;
    const TString& GetMethod() const;
    // The final response's status; 0 before Execute() or when no response arrived.
    int GetStatusCode() const;
    // A header of the final response, by case-insensitive name; repeated headers are joined
    // with ", "; empty when absent.
    TString GetHeader(const TString& name) const;
    // How many new connections the request had to open (0 when it reused one).
    long GetNewConnectionCount() const;

    // True once a user cancelled a prompt for proxy credentials; a new prompt clears it.
    static bool GetProxyAuthenticationCanceled();
    // Registers the prompt; forgets remembered credentials and the proxy-cancelled state.
    static void SetAuthenticationPrompt(HTTPRequest::AuthenticationPrompt prompt);
    // "k1=v1&k2=v2" with keys in sorted order; keys and values are UTF-8 and every byte other
    // than A-Z a-z 0-9 - . _ ~ is percent-encoded ("a b&c" -> "a%20b%26c").
    static TString URLFormatParams(const HTTPRequest::ParameterMap& parameters);
    static TString URLFormatParams(const AttributeMap& parameters);
    // "lmxmaps"
    static TString GetAppBaseName();
    // Closes connections that no request is using (they would be reused otherwise).
    static void CloseIdleConnections();

protected:
    // server: a host name or address, optionally with "http://" or "https://" in front;
    // port 0 means the scheme's own port; method: "GET", "POST", "HEAD", ...
    HTTPRequestor(TString server, unsigned int port, TString method,
                  const HTTPRequest::RequestInfo& info, HTTPRequest::InfiniteTimeout timeout);

    void ExecuteImpl() final;

    // Called before the request is sent; may throw to refuse it.
    virtual void BeginBody() {}
    // The body of a successful response (status below 400) arrives here in pieces; throwing
    // aborts the request with that exception. Error responses never reach it.
    virtual void AppendBody(const char* data, std::size_t size) = 0;
    // Called once after BeginBody: complete when every piece of a successful response
    // arrived, not complete when the request failed or was cancelled (its exception follows).
    // May throw when complete.
    virtual void EndBody([[maybe_unused]] bool complete) {}

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The body in memory, as bytes.
class BinaryHTTPRequestor : public HTTPRequestor {
public:
    BinaryHTTPRequestor(TString server, unsigned int port, TString method,
                        const HTTPRequest::RequestInfo& info,
                        HTTPRequest::InfiniteTimeout timeout = HTTPRequest::InfiniteTimeout::No);

    // Rethrows the stored exception, if any; then gives the body. With release, the body is
    // moved out and the requestor keeps nothing (a second call gives an empty body); without,
    // it is copied.
    void GetBytes(std::vector<unsigned char>& bytes, bool release);

protected:
    void BeginBody() override;
    void AppendBody(const char* data, std::size_t size) override;

private:
    std::vector<unsigned char> m_body;
};

// The body in memory, as text decoded from UTF-8 (a leading byte-order mark is dropped).
class StringHTTPRequestor : public HTTPRequestor {
public:
    StringHTTPRequestor(TString server, unsigned int port, TString method,
                        const HTTPRequest::RequestInfo& info,
                        HTTPRequest::InfiniteTimeout timeout = HTTPRequest::InfiniteTimeout::No);

    // Rethrows the stored exception, if any; then gives the body.
    TString GetString();

protected:
    void BeginBody() override;
    void AppendBody(const char* data, std::size_t size) override;

private:
    QByteArray m_body;
};

// The body written to a file. The file appears (or is replaced) only when the whole body
// arrived; a failed or cancelled request leaves no partial file, and a file that was there
// before stays as it was.
class FileHTTPRequestor : public HTTPRequestor {
public:
    FileHTTPRequestor(TString server, unsigned int port, TString method,
                      const HTTPRequest::RequestInfo& info, TString filePath,
                      HTTPRequest::InfiniteTimeout timeout = HTTPRequest::InfiniteTimeout::No);
    ~FileHTTPRequestor() override;

    const TString& GetFilePath() const { return m_filePath; }

protected:
    void BeginBody() override;
    void AppendBody(const char* data, std::size_t size) override;
    void EndBody(bool complete) override;

private:
    TString m_filePath;
    std::unique_ptr<QSaveFile> m_output;
};
