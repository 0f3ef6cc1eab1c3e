// The HTTP requestors against the loopback fixture server: status mapping, bodies, headers,
// connection reuse, cancellation, time limits, authentication and many threads at once.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <lmxmaps/Version.h>
#include <lmxmaps/host/HTTPRequestor.h>
#include <lmxmaps/host/Options.h>

#include "fixture/SharedFixtureServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using HTTPRequest::InfiniteTimeout;
using HTTPRequest::RequestInfo;

const TString kGet = QStringLiteral("GET");
const TString kLoopback = QStringLiteral("127.0.0.1");
// Another loopback address: never a target in these tests, only a name for the proxy to get.
const TString kOtherLoopback = QStringLiteral("127.0.0.2");
// Waits that only end early when something is wrong; far beyond anything a loaded machine
// needs, far below the slow body's 30 seconds.
constexpr std::chrono::seconds kGenerousWait{10};
constexpr std::chrono::seconds kPromptBound{5};
constexpr std::size_t kMaxRedirects = 5;
constexpr int kSequentialRequests = 10;
constexpr int kThreads = 8;
constexpr int kConcurrentRequests = 240;

// Restores the HTTP options after a test.
class HttpOptionsGuard {
public:
    ~HttpOptionsGuard() {
        for (const char* name :
             {"HttpConnectTimeoutSeconds", "HttpTransferTimeoutSeconds", "HttpProxy"}) {
            Options::Set(QLatin1String(name), std::nullopt);
        }
    }
};

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

// A port on 127.0.0.1 whose listener never accepts and whose queue is full, so that a connect
// to it neither succeeds nor fails.
class StalledListener {
public:
    StalledListener() {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(m_listener, 0) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "cannot set up the stalled listener";
            return;
        }
        m_port = ntohs(address.sin_port);
        // Linux queues backlog + 1 connections; these fill the queue.
        for (int i = 0; i < kQueueFillers; ++i) {
            const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(filler, reinterpret_cast<sockaddr*>(&address), length);
            m_fillers.push_back(filler);
        }
    }
    ~StalledListener() {
        for (const int filler : m_fillers) {
            close(filler);
        }
        close(m_listener);
    }
    unsigned int Port() const { return m_port; }

private:
    static constexpr int kQueueFillers = 3;
    int m_listener = -1;
    unsigned int m_port = 0;
    std::vector<int> m_fillers;
};

// A free port on 127.0.0.1 with nothing listening.
unsigned int ClosedPort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    bind(probe, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

std::vector<unsigned char> Bytes(const QByteArray& bytes) {
    return {bytes.begin(), bytes.end()};
}

class HttpRequestorTest : public SharedFixtureServer<::testing::Test> {
protected:
    void SetUp() override {
        SharedFixtureServer::SetUp();
        HTTPRequestor::SetAuthenticationPrompt(nullptr);
    }
    void TearDown() override { HTTPRequestor::CloseIdleConnections(); }

    static unsigned int Port() { return static_cast<unsigned int>(s_server->Port()); }

    static RefCntPtr<BinaryHTTPRequestor> Binary(const TString& path,
                                                 InfiniteTimeout timeout = InfiniteTimeout::No) {
        return MakeRefCnt<BinaryHTTPRequestor>(kLoopback, Port(), kGet, RequestInfo(path), timeout);
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

    HttpOptionsGuard m_optionsGuard;
};

} // namespace

TEST_F(HttpRequestorTest, ErrorStatusesAreStoredWithTheirCodeAndRethrownByTheGetters) {
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
    }
    const RefCntPtr<BinaryHTTPRequestor> proxyChallenge = Binary(QStringLiteral("/status/407"));
    ExpectHttpFailure(*proxyChallenge);
    EXPECT_EQ(proxyChallenge->GetHeader(QStringLiteral("proxy-authenticate")),
              QStringLiteral("Basic realm=\"lmx-fixture-proxy\""));
}

TEST_F(HttpRequestorTest, FailuresWithoutAStatusHaveCodeZeroAndNameTheUrl) {
    const auto refused = MakeRefCnt<BinaryHTTPRequestor>(kLoopback, ClosedPort(), kGet,
                                                         RequestInfo(QStringLiteral("/x")));
    const HTTPException error = ExpectHttpFailure(*refused);
    EXPECT_EQ(error.GetCode(), 0);
    EXPECT_EQ(refused->GetStatusCode(), 0);
    EXPECT_FALSE(error.IsTimeout());
    EXPECT_TRUE(error.GetMessage().contains(refused->GetFullUrl())) << error.what();

    // Redirects are followed only so far.
    const RefCntPtr<BinaryHTTPRequestor> loop = Binary(QStringLiteral("/redirect/loop"));
    EXPECT_EQ(ExpectHttpFailure(*loop).GetCode(), 0);
    EXPECT_EQ(s_server->RequestCount(), 1u + kMaxRedirects);
}

TEST_F(HttpRequestorTest, BodiesArriveAsTheServerSentThem) {
    const std::vector<unsigned char> tile = Fetch(QStringLiteral("/tile.png"));
    EXPECT_EQ(tile, Bytes(s_server->TilePng()));
    const QImage image = QImage::fromData(tile.data(), static_cast<int>(tile.size()));
    EXPECT_EQ(image.size(), QSize(FixtureServer::kTileSize, FixtureServer::kTileSize));

    EXPECT_EQ(Fetch(QStringLiteral("/white.png")), Bytes(s_server->WhiteTilePng()));
    const std::vector<unsigned char> garbage = Fetch(QStringLiteral("/garbage"));
    EXPECT_FALSE(garbage.empty());
    EXPECT_TRUE(QImage::fromData(garbage.data(), static_cast<int>(garbage.size())).isNull());

    const RefCntPtr<BinaryHTTPRequestor> empty = Binary(QStringLiteral("/empty"));
    empty->Execute();
    EXPECT_FALSE(empty->HasException());
    EXPECT_EQ(empty->GetStatusCode(), 200);
    EXPECT_TRUE(Fetch(QStringLiteral("/empty")).empty());
}

TEST_F(HttpRequestorTest, GetBytesCopiesOrHandsTheBodyOver) {
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
}

TEST_F(HttpRequestorTest, GzipBodiesAreDecoded) {
    const RefCntPtr<BinaryHTTPRequestor> request = Binary(QStringLiteral("/gzip/tile.png"));
    request->Execute();
    std::vector<unsigned char> bytes;
    request->GetBytes(bytes, true);
    EXPECT_EQ(request->GetHeader(QStringLiteral("Content-Encoding")), QStringLiteral("gzip"));
    EXPECT_EQ(bytes, Bytes(s_server->TilePng()));
    const std::string offered = s_server->Requests().at(0).Header("Accept-Encoding");
    EXPECT_NE(offered.find("gzip"), std::string::npos) << offered;
    EXPECT_NE(offered.find("deflate"), std::string::npos) << offered;
}

TEST_F(HttpRequestorTest, TextBodiesAreDecodedFromUtf8) {
    const auto request = MakeRefCnt<StringHTTPRequestor>(kLoopback, Port(), kGet,
                                                         RequestInfo(QStringLiteral("/utf8")));
    request->Execute();
    EXPECT_EQ(request->GetString(), QString::fromUtf8(FixtureServer::kUtf8Text));

    const auto failed = MakeRefCnt<StringHTTPRequestor>(kLoopback, Port(), kGet,
                                                        RequestInfo(QStringLiteral("/status/404")));
    failed->Execute();
    EXPECT_THROW(failed->GetString(), HTTPException);
}

TEST_F(HttpRequestorTest, FileBodiesAppearOnlyWhenComplete) {
    const QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const TString target = directory.filePath(QStringLiteral("tile.png"));
    const auto request = MakeRefCnt<FileHTTPRequestor>(
        kLoopback, Port(), kGet, RequestInfo(QStringLiteral("/tile.png")), target);
    request->Execute();
    request->CheckExceptions();
    QFile written(target);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), s_server->TilePng());

    const TString missing = directory.filePath(QStringLiteral("missing.png"));
    const auto notFound = MakeRefCnt<FileHTTPRequestor>(
        kLoopback, Port(), kGet, RequestInfo(QStringLiteral("/status/404")), missing);
    EXPECT_EQ(ExpectHttpFailure(*notFound).GetCode(), 404);
    EXPECT_FALSE(QFile::exists(missing));

    // A failed download leaves an earlier file alone.
    const auto serverError = MakeRefCnt<FileHTTPRequestor>(
        kLoopback, Port(), kGet, RequestInfo(QStringLiteral("/status/500")), target);
    ExpectHttpFailure(*serverError);
    written.seek(0);
    EXPECT_EQ(written.readAll(), s_server->TilePng());
    EXPECT_EQ(QDir(directory.path()).entryList(QDir::Files), QStringList{"tile.png"});
}

TEST_F(HttpRequestorTest, CancelledFileDownloadLeavesNoPartialFile) {
    const QTemporaryDir directory;
    const TString target = directory.filePath(QStringLiteral("slow.bin"));
    const auto request = MakeRefCnt<FileHTTPRequestor>(
        kLoopback, Port(), kGet, RequestInfo(QStringLiteral("/slow")), target);
    std::thread worker([&] { request->Execute(); });
    ASSERT_TRUE(s_server->WaitForRequest("/slow", kGenerousWait));
    request->Cancel();
    worker.join();
    ExpectCancelled(*request);
    EXPECT_TRUE(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(HttpRequestorTest, HeadersAreSentAndReceived) {
    const auto request = MakeRefCnt<StringHTTPRequestor>(
        kLoopback, Port(), kGet,
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
    const auto custom = MakeRefCnt<StringHTTPRequestor>(
        kLoopback, Port(), kGet,
        RequestInfo(QStringLiteral("/echo"), {}, {{QStringLiteral("User-Agent"), "probe/1"}}));
    custom->Execute();
    EXPECT_TRUE(custom->GetString().contains(QStringLiteral("user-agent: probe/1\n")));

    const RefCntPtr<BinaryHTTPRequestor> headers = Binary(QStringLiteral("/headers"));
    headers->Execute();
    EXPECT_EQ(headers->GetHeader(QStringLiteral("x-repeated")), QStringLiteral("first, second"));
    EXPECT_EQ(headers->GetHeader(QStringLiteral("X-MIXED-CASE")), QStringLiteral("Value"));
    EXPECT_EQ(headers->GetHeader(QStringLiteral("X-Absent")), QString());
}

TEST_F(HttpRequestorTest, MethodsBodiesQueriesAndRedirects) {
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

    const auto query = MakeRefCnt<BinaryHTTPRequestor>(
        kLoopback, Port(), kGet,
        RequestInfo(QStringLiteral("/echo?fixed=%41"),
                    {{QStringLiteral("b"), QStringLiteral("x y")}, {QStringLiteral("a"), "1"}}));
    query->Execute();
    EXPECT_EQ(query->GetFullUrl(), s_server->Url(QStringLiteral("/echo?fixed=%41&a=1&b=x%20y")));

    EXPECT_EQ(Fetch(QStringLiteral("/redirect?to=/tile.png")), Bytes(s_server->TilePng()));

    const std::vector<FixtureRequest> seen = s_server->Requests();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[1].method, "HEAD");
    EXPECT_EQ(seen[2].target, "/echo?fixed=%41&a=1&b=x%20y");
    EXPECT_EQ(seen[4].path, "/tile.png");
}

TEST_F(HttpRequestorTest, SequentialRequestsShareOneConnection) {
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
}

TEST_F(HttpRequestorTest, ConnectionsAreReusedAcrossThreads) {
    std::thread([] { Fetch(QStringLiteral("/tile.png")); }).join();
    std::thread([] { Fetch(QStringLiteral("/tile.png")); }).join();
    const std::vector<FixtureRequest> seen = s_server->Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].clientPort, seen[1].clientPort);
}

TEST_F(HttpRequestorTest, CancellingFromAnotherThreadStopsASlowTransferPromptly) {
    const RefCntPtr<BinaryHTTPRequestor> request = Binary(QStringLiteral("/slow"));
    Clock::time_point finished;
    std::thread worker([&] {
        request->Execute();
        finished = Clock::now();
    });
    ASSERT_TRUE(s_server->WaitForRequest("/slow", kGenerousWait));
    const Clock::time_point cancelled = Clock::now();
    EXPECT_EQ(request->Cancel(), 1);
    worker.join();
    EXPECT_LT(finished - cancelled, kPromptBound);
    EXPECT_TRUE(request->HasFinished());
    ExpectCancelled(*request);
    std::vector<unsigned char> bytes;
    EXPECT_THROW(request->GetBytes(bytes, true), AsyncTask::CancelException);
}

TEST_F(HttpRequestorTest, ARequestCancelledBeforeItRunsSendsNothing) {
    const RefCntPtr<BinaryHTTPRequestor> request = Binary(QStringLiteral("/tile.png"));
    request->Cancel();
    request->Execute();
    ExpectCancelled(*request);
    EXPECT_EQ(s_server->RequestCount(), 0u);
}

TEST_F(HttpRequestorTest, CancellingTheOuterTaskStopsTheInnerRequest) {
    const RefCntPtr<BinaryHTTPRequestor> inner = Binary(QStringLiteral("/slow"));
    const auto outer = MakeRefCnt<OuterTask>(inner);
    Clock::time_point finished;
    std::thread worker([&] {
        outer->Execute();
        finished = Clock::now();
    });
    ASSERT_TRUE(s_server->WaitForRequest("/slow", kGenerousWait));
    const Clock::time_point cancelled = Clock::now();
    outer->Cancel();
    worker.join();
    EXPECT_LT(finished - cancelled, kPromptBound);
    EXPECT_FALSE(inner->WasCancelled());
    ExpectCancelled(*inner);
    ExpectCancelled(*outer);
}

TEST_F(HttpRequestorTest, TransferTimeoutComesFromTheOptionsUnlessLifted) {
    Options::Set(QStringLiteral("HttpTransferTimeoutSeconds"), QStringLiteral("0.5"));
    const Clock::time_point start = Clock::now();
    const RefCntPtr<BinaryHTTPRequestor> limited = Binary(QStringLiteral("/slow"));
    const HTTPException error = ExpectHttpFailure(*limited);
    EXPECT_LT(Clock::now() - start, kPromptBound);
    EXPECT_EQ(error.GetCode(), 0);
    EXPECT_TRUE(error.IsTimeout()) << error.what();

    // Twenty chunks, 100 ms apart: four times the limit.
    const TString twoSeconds = QStringLiteral("/slow?chunks=20&interval_ms=100");
    const RefCntPtr<BinaryHTTPRequestor> lifted = Binary(twoSeconds, InfiniteTimeout::Yes);
    lifted->Execute();
    std::vector<unsigned char> bytes;
    lifted->GetBytes(bytes, true);
    EXPECT_EQ(bytes.size(), 20u * 1024u);
}

TEST_F(HttpRequestorTest, ConnectTimeoutComesFromTheOptions) {
    const StalledListener stalled;
    Options::Set(QStringLiteral("HttpConnectTimeoutSeconds"), QStringLiteral("0.5"));
    const auto request = MakeRefCnt<BinaryHTTPRequestor>(
        kLoopback, stalled.Port(), kGet, RequestInfo(QStringLiteral("/")), InfiniteTimeout::Yes);
    const Clock::time_point start = Clock::now();
    const HTTPException error = ExpectHttpFailure(*request);
    EXPECT_LT(Clock::now() - start, kPromptBound);
    EXPECT_EQ(error.GetCode(), 0);
    EXPECT_TRUE(error.IsTimeout()) << error.what();
}

TEST_F(HttpRequestorTest, ManyRequestsFromSeveralThreadsAtOnce) {
    // Plain threads rather than a QThreadPool: ThreadSanitizer cannot see the hand-over inside
    // the uninstrumented Qt library, and the requestors do not care which thread runs them.
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

TEST_F(HttpRequestorTest, ServerCredentialsComeFromThePromptOnceAndAreRemembered) {
    const TString path = QStringLiteral("/auth/basic");
    int prompts = 0;
    HTTPRequest::AuthenticationChallenge seen;
    HTTPRequestor::SetAuthenticationPrompt([&](const HTTPRequest::AuthenticationChallenge& c) {
        ++prompts;
        seen = c;
        return HTTPRequest::Credentials{FixtureServer::kUser, FixtureServer::kPassword};
    });

    const auto withoutUI =
        MakeRefCnt<StringHTTPRequestor>(kLoopback, Port(), kGet, RequestInfo(path));
    EXPECT_EQ(ExpectHttpFailure(*withoutUI).GetCode(), 401);
    EXPECT_EQ(prompts, 0);

    const auto withUI = MakeRefCnt<StringHTTPRequestor>(kLoopback, Port(), kGet, RequestInfo(path));
    withUI->SetShowAuthenticationUI(true);
    withUI->Execute();
    EXPECT_EQ(withUI->GetString(), QStringLiteral("welcome"));
    EXPECT_EQ(prompts, 1);
    EXPECT_FALSE(seen.proxy);
    EXPECT_EQ(seen.url, s_server->Url(path));
    EXPECT_EQ(seen.challenge, QStringLiteral("Basic realm=\"lmx-fixture\""));

    const auto later = MakeRefCnt<StringHTTPRequestor>(kLoopback, Port(), kGet, RequestInfo(path));
    later->Execute();
    EXPECT_EQ(later->GetString(), QStringLiteral("welcome"));
    EXPECT_EQ(prompts, 1);
    EXPECT_FALSE(HTTPRequestor::GetProxyAuthenticationCanceled());
}

TEST_F(HttpRequestorTest, ProxyFromTheOptionsWithCredentialsFromThePrompt) {
    Options::Set(QStringLiteral("HttpProxy"), s_server->BaseUrl());
    int prompts = 0;
    HTTPRequestor::SetAuthenticationPrompt([&](const HTTPRequest::AuthenticationChallenge& c) {
        ++prompts;
        EXPECT_TRUE(c.proxy);
        return HTTPRequest::Credentials{FixtureServer::kProxyUser, FixtureServer::kProxyPassword};
    });
    const auto withUI = MakeRefCnt<BinaryHTTPRequestor>(kOtherLoopback, Port(), kGet,
                                                        RequestInfo(QStringLiteral("/tile.png")));
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
}

TEST_F(HttpRequestorTest, ACancelledProxyPromptIsRememberedUntilANewPrompt) {
    Options::Set(QStringLiteral("HttpProxy"), s_server->BaseUrl());
    int prompts = 0;
    HTTPRequestor::SetAuthenticationPrompt([&](const HTTPRequest::AuthenticationChallenge&) {
        ++prompts;
        return std::optional<HTTPRequest::Credentials>();
    });
    for (int i = 0; i < 2; ++i) {
        const auto request = MakeRefCnt<BinaryHTTPRequestor>(kOtherLoopback, Port(), kGet,
                                                             RequestInfo(QStringLiteral("/x")));
        request->SetShowAuthenticationUI(true);
        EXPECT_EQ(ExpectHttpFailure(*request).GetCode(), 407);
        EXPECT_TRUE(HTTPRequestor::GetProxyAuthenticationCanceled());
    }
    EXPECT_EQ(prompts, 1);
    HTTPRequestor::SetAuthenticationPrompt(nullptr);
    EXPECT_FALSE(HTTPRequestor::GetProxyAuthenticationCanceled());
}

TEST_F(HttpRequestorTest, LoopbackRequestsNeverGoThroughAProxy) {
    Options::Set(QStringLiteral("HttpProxy"),
                 QStringLiteral("http://127.0.0.1:%1").arg(ClosedPort()));
    EXPECT_EQ(Fetch(QStringLiteral("/tile.png")), Bytes(s_server->TilePng()));
}
