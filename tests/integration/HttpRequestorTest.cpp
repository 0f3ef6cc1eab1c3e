// The HTTP requestors against the loopback fixture server: status mapping, bodies, headers,
// connection reuse, cancellation, time limits, authentication and many threads at once.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include <lmxmaps/Version.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/net/HTTPRequestor.h>

#include "fixture/SharedFixtureServer.h"
#include "integration/IntegrationSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using HTTPRequest::InfiniteTimeout;
using HTTPRequest::RequestInfo;
using IntegrationSupport::SilentPort;

const TString kGet = QStringLiteral("GET");
const TString kLoopback = QStringLiteral("127.0.0.1");
// Another loopback address: never a target in these tests, only a name for the proxy to get.
const TString kOtherLoopback = QStringLiteral("127.0.0.2");
// Waits that only end early when something is wrong; far beyond anything a loaded machine
// needs, far below the slow body's 30 seconds.
constexpr std::chrono::seconds kGenerousWait{10};
constexpr std::chrono::seconds kPromptBound{5};
constexpr int kSequentialRequests = 10;
constexpr int kThreads = 8;
constexpr int kConcurrentRequests = 240;

// A task whose body makes a request that stops when this task is cancelled.
class OuterTask : public ComputeTask {
public:
    explicit OuterTask(RefCntPtr<BinaryHTTPRequestor> inner) : m_inner(std::move(inner)) {}

protected:
    void ExecuteImpl() override {
        m_inner->SetOuterTask(this);
        m_inner->Execute();
        std::vector<unsigned char> bytes;
        m_inner->GetBytes(bytes, true);
    }

private:
    RefCntPtr<BinaryHTTPRequestor> m_inner;
};

std::vector<unsigned char> Bytes(const QByteArray& bytes) {
    return {bytes.begin(), bytes.end()};
}

class HttpRequestorTest : public SharedFixtureServer<::testing::Test> {
protected:
    void SetUp() override {
        SharedFixtureServer::SetUp();
        HTTPRequestor::SetAuthenticationPrompt(nullptr);
    }
    // Restores the HTTP options that a test set.
    void TearDown() override {
        for (const char* name : {"HttpConnectTimeoutSeconds", "HttpTransferTimeoutSeconds",
                                 "HttpProxy", "HttpRetryAttempts"}) {
            Options::Set(QLatin1String(name), std::nullopt);
        }
        HTTPRequestor::CloseIdleConnections();
    }

    static unsigned int Port() { return static_cast<unsigned int>(s_server->Port()); }

    // A GET of the fixture server; extra: what the requestor takes after the request.
    template <class Requestor = BinaryHTTPRequestor, class... Extra>
    static RefCntPtr<Requestor> Make(const RequestInfo& info, Extra&&... extra) {
        return MakeRefCnt<Requestor>(kLoopback, Port(), kGet, info, std::forward<Extra>(extra)...);
    }
    static RefCntPtr<BinaryHTTPRequestor> Binary(const TString& path,
                                                 InfiniteTimeout timeout = InfiniteTimeout::No) {
        return Make(RequestInfo(path), timeout);
    }
    static RefCntPtr<StringHTTPRequestor> Text(const TString& path) {
        return Make<StringHTTPRequestor>(RequestInfo(path));
    }

    // Runs a binary request for the path and returns its body; the test fails on any error.
    static std::vector<unsigned char> Fetch(const TString& path) {
        const RefCntPtr<BinaryHTTPRequestor> request = Binary(path);
        request->Execute();
        std::vector<unsigned char> bytes;
        try {
            request->GetBytes(bytes, true);
        } catch (const LumivexException& error) {
            ADD_FAILURE() << path.toStdString() << ": " << error.what();
        }
        return bytes;
    }

    // Runs the request and returns the HTTPException it stored.
    static HTTPException ExpectHttpFailure(HTTPRequestor& request) {
        request.Execute();
        try {
            request.CheckExceptions();
        } catch (const HTTPException& error) {
            return error;
        }
        ADD_FAILURE() << request.GetFullUrl().toStdString() << " did not fail";
        return HTTPException({}, {}, -1, {});
    }

    static void ExpectCancelled(ComputeTask& task) {
        EXPECT_THROW(task.CheckExceptions(), AsyncTask::CancelException);
    }
};

} // namespace

TEST_F(HttpRequestorTest, ErrorsCarryTheirStatusOrCodeZeroAndNameTheUrl) {
    for (const int status : {401, 403, 404, 407, 500}) {
        SCOPED_TRACE(status);
        const TString path = QStringLiteral("/status/%1").arg(status);
        const RefCntPtr<BinaryHTTPRequestor> request = Binary(path);
        const HTTPException error = ExpectHttpFailure(*request);
        EXPECT_EQ(error.GetCode(), status);
        EXPECT_EQ(request->GetStatusCode(), status);
        EXPECT_EQ(error.GetUrl(), s_server->Url(path));
        EXPECT_TRUE(error.GetMessage().contains(s_server->Url(path)));
        EXPECT_TRUE(error.GetMessage().contains(QString::number(status)));
        EXPECT_EQ(error.GetResponseBody(), QByteArray("status ") + QByteArray::number(status));
        EXPECT_FALSE(error.IsTimeout());
        std::vector<unsigned char> bytes;
        EXPECT_THROW(request->GetBytes(bytes, false), HTTPException);
        EXPECT_TRUE(bytes.empty());
        if (status == 407) {
            EXPECT_EQ(request->GetHeader(QStringLiteral("proxy-authenticate")),
                      QStringLiteral("Basic realm=\"lmx-fixture-proxy\""));
        }
    }

    SCOPED_TRACE("failures without a status");
    const SilentPort closed;
    const auto refused = MakeRefCnt<BinaryHTTPRequestor>(kLoopback, closed.Port(), kGet,
                                                         RequestInfo(QStringLiteral("/x")));
    const HTTPException error = ExpectHttpFailure(*refused);
    EXPECT_EQ(error.GetCode(), 0);
    EXPECT_EQ(refused->GetStatusCode(), 0);
    EXPECT_FALSE(error.IsTimeout());
    EXPECT_TRUE(error.GetMessage().contains(refused->GetFullUrl())) << error.what();
    // How many redirects are followed is TileFaultTest's, through the view pipeline.
}

TEST_F(HttpRequestorTest, BodiesArriveAsTheServerSentThem) {
    // An empty body is no failure.
    const RefCntPtr<BinaryHTTPRequestor> empty = Binary(QStringLiteral("/empty"));
    empty->Execute();
    EXPECT_FALSE(empty->HasException());
    EXPECT_EQ(empty->GetStatusCode(), 200);
    EXPECT_TRUE(Fetch(QStringLiteral("/empty")).empty());

    // GetBytes copies or hands the body over.
    const RefCntPtr<BinaryHTTPRequestor> request = Binary(QStringLiteral("/tile.png"));
    request->Execute();
    std::vector<unsigned char> copy;
    request->GetBytes(copy, false);
    std::vector<unsigned char> released;
    request->GetBytes(released, true);
    std::vector<unsigned char> afterRelease;
    request->GetBytes(afterRelease, true);
    EXPECT_EQ(copy, Bytes(s_server->TilePng()));
    EXPECT_EQ(released, copy);
    EXPECT_TRUE(afterRelease.empty());
    // Run again, the requestor starts afresh instead of adding to the first body.
    request->Execute();
    request->Execute();
    std::vector<unsigned char> again;
    request->GetBytes(again, false);
    EXPECT_EQ(again, copy);

    // Gzip bodies are decoded.
    s_server->ClearLog();
    const RefCntPtr<BinaryHTTPRequestor> gzip = Binary(QStringLiteral("/gzip/tile.png"));
    gzip->Execute();
    std::vector<unsigned char> unzipped;
    gzip->GetBytes(unzipped, true);
    EXPECT_EQ(gzip->GetHeader(QStringLiteral("Content-Encoding")), QStringLiteral("gzip"));
    EXPECT_EQ(unzipped, Bytes(s_server->TilePng()));
    const std::string offered = s_server->Requests().at(0).Header("Accept-Encoding");
    EXPECT_NE(offered.find("gzip"), std::string::npos) << offered;
    EXPECT_NE(offered.find("deflate"), std::string::npos) << offered;

    // Text bodies are decoded from UTF-8.
    const RefCntPtr<StringHTTPRequestor> text = Text(QStringLiteral("/utf8"));
    text->Execute();
    EXPECT_EQ(text->GetString(), QString::fromUtf8(FixtureServer::kUtf8Text));
    const RefCntPtr<StringHTTPRequestor> failed = Text(QStringLiteral("/status/404"));
    failed->Execute();
    EXPECT_THROW(failed->GetString(), HTTPException);
}

TEST_F(HttpRequestorTest, FileBodiesAppearOnlyWhenComplete) {
    const QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const auto file = [&](const char* path, const char* name) {
        return Make<FileHTTPRequestor>(RequestInfo(QString::fromLatin1(path)),
                                       directory.filePath(QString::fromLatin1(name)));
    };
    const RefCntPtr<FileHTTPRequestor> request = file("/tile.png", "tile.png");
    request->Execute();
    request->CheckExceptions();
    QFile written(request->GetFilePath());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), s_server->TilePng());

    const RefCntPtr<FileHTTPRequestor> notFound = file("/status/404", "missing.png");
    EXPECT_EQ(ExpectHttpFailure(*notFound).GetCode(), 404);
    EXPECT_FALSE(QFile::exists(notFound->GetFilePath()));

    // A failed download leaves an earlier file alone.
    ExpectHttpFailure(*file("/status/500", "tile.png"));
    written.seek(0);
    EXPECT_EQ(written.readAll(), s_server->TilePng());
    EXPECT_EQ(QDir(directory.path()).entryList(QDir::Files), QStringList{"tile.png"});

    // A cancelled download leaves no partial file.
    const RefCntPtr<FileHTTPRequestor> slow = file("/slow", "slow.bin");
    std::thread worker([&] { slow->Execute(); });
    ASSERT_TRUE(s_server->WaitForRequest("/slow", kGenerousWait));
    slow->Cancel();
    worker.join();
    ExpectCancelled(*slow);
    EXPECT_EQ(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"tile.png"});
}

TEST_F(HttpRequestorTest, HeadersMethodsBodiesAndQueries) {
    const auto request = Make<StringHTTPRequestor>(
        RequestInfo(QStringLiteral("/echo"), {}, {{QStringLiteral("X-Replaced"), "yes"}}));
    request->SetHeaders({{QStringLiteral("X-Api-Key"), QStringLiteral("k1")}});
    request->Execute();
    const TString echoed = request->GetString();
    const TString userAgent =
        HTTPRequestor::GetAppBaseName() + QStringLiteral("/" LMX_VERSION_STRING);
    EXPECT_TRUE(echoed.contains(QStringLiteral("user-agent: ") + userAgent + u'\n'))
        << echoed.toStdString();
    EXPECT_TRUE(echoed.contains(QStringLiteral("x-api-key: k1\n"))) << echoed.toStdString();
    EXPECT_FALSE(echoed.contains(QStringLiteral("x-replaced"))) << echoed.toStdString();
    EXPECT_EQ(s_server->Requests().at(0).Header("X-Api-Key"), "k1");

    // A User-Agent of the caller's replaces ours.
    const auto custom = Make<StringHTTPRequestor>(
        RequestInfo(QStringLiteral("/echo"), {}, {{QStringLiteral("User-Agent"), "probe/1"}}));
    custom->Execute();
    EXPECT_TRUE(custom->GetString().contains(QStringLiteral("user-agent: probe/1\n")));

    const RefCntPtr<BinaryHTTPRequestor> headers = Binary(QStringLiteral("/headers"));
    headers->Execute();
    EXPECT_EQ(headers->GetHeader(QStringLiteral("x-repeated")), QStringLiteral("first, second"));
    EXPECT_EQ(headers->GetHeader(QStringLiteral("X-MIXED-CASE")), QStringLiteral("Value"));
    EXPECT_EQ(headers->GetHeader(QStringLiteral("X-Absent")), QString());

    s_server->ClearLog();
    RequestInfo post(QStringLiteral("/echo"));
    post.body = QByteArray("{\"layers\":[1,2]}");
    const auto posted =
        MakeRefCnt<StringHTTPRequestor>(kLoopback, Port(), QStringLiteral("POST"), post);
    posted->Execute();
    EXPECT_TRUE(posted->GetString().endsWith(QStringLiteral("body: {\"layers\":[1,2]}")));

    const auto head = MakeRefCnt<BinaryHTTPRequestor>(kLoopback, Port(), QStringLiteral("HEAD"),
                                                      RequestInfo(QStringLiteral("/tile.png")));
    head->Execute();
    std::vector<unsigned char> headBody;
    head->GetBytes(headBody, true);
    EXPECT_TRUE(headBody.empty());
    EXPECT_EQ(head->GetStatusCode(), 200);

    const RefCntPtr<BinaryHTTPRequestor> query = Make(
        RequestInfo(QStringLiteral("/echo?fixed=%41"),
                    {{QStringLiteral("b"), QStringLiteral("x y")}, {QStringLiteral("a"), "1"}}));
    // How the URL is built is URLFormatParamsTest's; here that it goes out so.
    query->Execute();

    const std::vector<FixtureRequest> seen = s_server->Requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[1].method, "HEAD");
    EXPECT_EQ(seen[2].target, "/echo?fixed=%41&a=1&b=x%20y");
}

TEST_F(HttpRequestorTest, ConnectionsAreReusedInTurnAcrossThreadsAndUnderLoad) {
    long newConnections = 0;
    for (int i = 0; i < kSequentialRequests; ++i) {
        const RefCntPtr<BinaryHTTPRequestor> request = Binary(QStringLiteral("/tile.png"));
        request->Execute();
        request->CheckExceptions();
        newConnections += request->GetNewConnectionCount();
    }
    EXPECT_EQ(s_server->RequestCount(), static_cast<std::size_t>(kSequentialRequests));
    EXPECT_EQ(s_server->ConnectionCount(), 1u);
    EXPECT_EQ(newConnections, 1);

    s_server->ClearLog();
    std::thread([] { Fetch(QStringLiteral("/tile.png")); }).join();
    std::thread([] { Fetch(QStringLiteral("/tile.png")); }).join();
    const std::vector<FixtureRequest> seen = s_server->Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].clientPort, seen[1].clientPort);

    // Many requests from several threads at once. Plain threads rather than a QThreadPool:
    // ThreadSanitizer cannot see the hand-over inside the uninstrumented Qt library, and the
    // requestors do not care which thread runs them.
    s_server->ClearLog();
    std::atomic<int> wrong{0};
    const std::vector<unsigned char> tile = Bytes(s_server->TilePng());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong, &tile] {
            for (int i = t; i < kConcurrentRequests; i += kThreads) {
                // Every fourth request fails, every fourth comes gzipped, the rest are tiles.
                const bool notFound = i % 4 == 3;
                TString path = QStringLiteral("/tiles/%1/%2/%3.png").arg(i % 19).arg(i).arg(i % 7);
                if (notFound) {
                    path = QStringLiteral("/status/404");
                } else if (i % 4 == 2) {
                    path = QStringLiteral("/gzip/tile.png");
                }
                const RefCntPtr<BinaryHTTPRequestor> request = Binary(path);
                request->Execute();
                std::vector<unsigned char> bytes;
                try {
                    request->GetBytes(bytes, true);
                    wrong += notFound || bytes != tile;
                } catch (const HTTPException& error) {
                    wrong += !notFound || error.GetCode() != 404;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(s_server->RequestCount(), static_cast<std::size_t>(kConcurrentRequests));
    // Each thread keeps reusing a connection; none opens one per request.
    EXPECT_LE(s_server->ConnectionCount(), static_cast<std::size_t>(kThreads));
}

TEST_F(HttpRequestorTest, CancellingStopsASlowTransferPromptlyFromAnyThreadOrTask) {
    const RefCntPtr<BinaryHTTPRequestor> request = Binary(QStringLiteral("/slow"));
    Clock::time_point finished;
    std::thread worker([&] {
        request->Execute();
        finished = Clock::now();
    });
    ASSERT_TRUE(s_server->WaitForRequest("/slow", kGenerousWait));
    Clock::time_point cancelled = Clock::now();
    EXPECT_EQ(request->Cancel(), 1);
    worker.join();
    EXPECT_LT(finished - cancelled, kPromptBound);
    EXPECT_TRUE(request->HasFinished());
    ExpectCancelled(*request);
    std::vector<unsigned char> bytes;
    EXPECT_THROW(request->GetBytes(bytes, true), AsyncTask::CancelException);

    // Cancelling the outer task stops the inner request.
    s_server->ClearLog();
    const RefCntPtr<BinaryHTTPRequestor> inner = Binary(QStringLiteral("/slow"));
    const auto outer = MakeRefCnt<OuterTask>(inner);
    std::thread outerWorker([&] {
        outer->Execute();
        finished = Clock::now();
    });
    ASSERT_TRUE(s_server->WaitForRequest("/slow", kGenerousWait));
    cancelled = Clock::now();
    outer->Cancel();
    outerWorker.join();
    EXPECT_LT(finished - cancelled, kPromptBound);
    EXPECT_FALSE(inner->WasCancelled());
    ExpectCancelled(*inner);
    ExpectCancelled(*outer);

    // A request cancelled before it runs sends nothing.
    s_server->ClearLog();
    const RefCntPtr<BinaryHTTPRequestor> early = Binary(QStringLiteral("/tile.png"));
    early->Cancel();
    early->Execute();
    ExpectCancelled(*early);
    EXPECT_EQ(s_server->RequestCount(), 0u);
}

TEST_F(HttpRequestorTest, TransferAndConnectTimeoutsComeFromTheOptions) {
    // One attempt each: a time-out is otherwise retried.
    Options::Set(QStringLiteral("HttpRetryAttempts"), QStringLiteral("0"));
    Options::Set(QStringLiteral("HttpTransferTimeoutSeconds"), QStringLiteral("0.5"));
    Clock::time_point start = Clock::now();
    const HTTPException transfer = ExpectHttpFailure(*Binary(QStringLiteral("/slow")));
    EXPECT_LT(Clock::now() - start, kPromptBound);
    EXPECT_EQ(transfer.GetCode(), 0);
    EXPECT_TRUE(transfer.IsTimeout()) << transfer.what();

    // Lifted for a request: twenty chunks, 100 ms apart, four times the limit.
    const RefCntPtr<BinaryHTTPRequestor> lifted =
        Binary(QStringLiteral("/slow?chunks=20&interval_ms=100"), InfiniteTimeout::Yes);
    lifted->Execute();
    std::vector<unsigned char> bytes;
    lifted->GetBytes(bytes, true);
    EXPECT_EQ(bytes.size(), 20u * 1024u);

    SilentPort stalled;
    stalled.Listen(true);
    Options::Set(QStringLiteral("HttpConnectTimeoutSeconds"), QStringLiteral("0.5"));
    const auto request = MakeRefCnt<BinaryHTTPRequestor>(
        kLoopback, stalled.Port(), kGet, RequestInfo(QStringLiteral("/")), InfiniteTimeout::Yes);
    start = Clock::now();
    const HTTPException connect = ExpectHttpFailure(*request);
    EXPECT_LT(Clock::now() - start, kPromptBound);
    EXPECT_EQ(connect.GetCode(), 0);
    EXPECT_TRUE(connect.IsTimeout()) << connect.what();
}

TEST_F(HttpRequestorTest, ServerCredentialsComeFromThePromptOnceAndAreRemembered) {
    const TString path = QStringLiteral("/auth/basic");
    int prompts = 0;
    HTTPRequest::AuthenticationChallenge seen;
    HTTPRequestor::SetAuthenticationPrompt([&](const HTTPRequest::AuthenticationChallenge& c) {
        ++prompts;
        seen = c;
        return HTTPRequest::Credentials{FixtureServer::kUser, FixtureServer::kPassword};
    });

    EXPECT_EQ(ExpectHttpFailure(*Text(path)).GetCode(), 401);
    EXPECT_EQ(prompts, 0);

    const RefCntPtr<StringHTTPRequestor> withUI = Text(path);
    withUI->SetShowAuthenticationUI(true);
    withUI->Execute();
    EXPECT_EQ(withUI->GetString(), QStringLiteral("welcome"));
    EXPECT_EQ(prompts, 1);
    EXPECT_FALSE(seen.proxy);
    EXPECT_EQ(seen.url, s_server->Url(path));
    EXPECT_EQ(seen.challenge, QStringLiteral("Basic realm=\"lmx-fixture\""));

    const RefCntPtr<StringHTTPRequestor> later = Text(path);
    later->Execute();
    EXPECT_EQ(later->GetString(), QStringLiteral("welcome"));
    EXPECT_EQ(prompts, 1);
    EXPECT_FALSE(HTTPRequestor::GetProxyAuthenticationCanceled());
}

TEST_F(HttpRequestorTest, ProxyFromTheOptionsWithCredentialsFromThePromptButNotForLoopback) {
    Options::Set(QStringLiteral("HttpProxy"), s_server->BaseUrl());
    const auto viaProxy = [] {
        return MakeRefCnt<BinaryHTTPRequestor>(kOtherLoopback, Port(), kGet,
                                               RequestInfo(QStringLiteral("/tile.png")));
    };
    // A cancelled prompt is remembered until a new prompt.
    int prompts = 0;
    HTTPRequestor::SetAuthenticationPrompt([&](const HTTPRequest::AuthenticationChallenge&) {
        ++prompts;
        return std::optional<HTTPRequest::Credentials>();
    });
    for (int i = 0; i < 2; ++i) {
        const RefCntPtr<BinaryHTTPRequestor> request = viaProxy();
        request->SetShowAuthenticationUI(true);
        EXPECT_EQ(ExpectHttpFailure(*request).GetCode(), 407);
        EXPECT_TRUE(HTTPRequestor::GetProxyAuthenticationCanceled());
    }
    EXPECT_EQ(prompts, 1);
    HTTPRequestor::SetAuthenticationPrompt(nullptr);
    EXPECT_FALSE(HTTPRequestor::GetProxyAuthenticationCanceled());

    prompts = 0;
    HTTPRequestor::SetAuthenticationPrompt([&](const HTTPRequest::AuthenticationChallenge& c) {
        ++prompts;
        EXPECT_TRUE(c.proxy);
        return HTTPRequest::Credentials{FixtureServer::kProxyUser, FixtureServer::kProxyPassword};
    });
    const RefCntPtr<BinaryHTTPRequestor> withUI = viaProxy();
    EXPECT_EQ(ExpectHttpFailure(*withUI).GetCode(), 407);
    EXPECT_EQ(prompts, 0);
    // Run again with the prompt allowed, as a map image retries a proxy failure.
    withUI->ClearExceptions();
    withUI->SetShowAuthenticationUI(true);
    withUI->Execute();
    std::vector<unsigned char> bytes;
    withUI->GetBytes(bytes, true);
    EXPECT_EQ(bytes, Bytes(s_server->TilePng()));
    EXPECT_EQ(withUI->GetHeader(QStringLiteral("X-Fixture-Proxied")), withUI->GetFullUrl());
    EXPECT_EQ(prompts, 1);
    // Every request went to the fixture as the proxy; none to the other address.
    for (const FixtureRequest& request : s_server->Requests()) {
        EXPECT_EQ(request.target, withUI->GetFullUrl().toStdString());
    }

    // Loopback requests never go through a proxy.
    const SilentPort closed;
    Options::Set(QStringLiteral("HttpProxy"),
                 QStringLiteral("http://127.0.0.1:%1").arg(closed.Port()));
    EXPECT_EQ(Fetch(QStringLiteral("/tile.png")), Bytes(s_server->TilePng()));
}
