// HTTP fetch throughput: 1,000 small tiles from the loopback fixture server, fetched by
// lmxmaps' BinaryHTTPRequestor on a QThreadPool of 1, 2, 4 and 8 threads, beside the curl
// program fetching the same URLs with the same number of parallel transfers (one thread:
// curl's plain sequential run). Both start without open
// connections. After the runs a table of medians and the lmxmaps/curl time ratio is printed.

#include <QProcess>
#include <QRunnable>
#include <QStringList>
#include <QTemporaryFile>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <lmxmaps/host/net/HTTPRequestor.h>

#include "FixtureServer.h"
#include "Median.h"

namespace {

using bench::Median;

using Clock = std::chrono::steady_clock;

constexpr int kTileCount = 1000;
constexpr int kZoom = 10;
constexpr int kColumns = 40;
// One thread beside curl's plain sequential run, then the parallel runs.
constexpr int kThreadCounts[] = {1, 2, 4, 8};
constexpr double kTargetRatio = 1.3;
constexpr int kCurlTimeoutMs = 120000;
constexpr int kPoolTimeoutMs = 120000;

FixtureServer* g_server = nullptr;
std::vector<TString> g_paths;
QTemporaryFile* g_curlConfig = nullptr;
// Seconds of each repetition, by benchmark name.
std::map<std::string, std::vector<double>> g_seconds;

void BuildUrls() {
    for (int i = 0; i < kTileCount; ++i) {
        g_paths.push_back(
            QStringLiteral("/tiles/%1/%2/%3.png").arg(kZoom).arg(i % kColumns).arg(i / kColumns));
    }
    g_curlConfig = new QTemporaryFile();
    if (!g_curlConfig->open()) {
        std::fprintf(stderr, "cannot write the curl configuration\n");
        std::exit(1);
    }
    QByteArray config;
    for (const TString& path : g_paths) {
        config += "url = \"" + g_server->Url(path).toUtf8() + "\"\noutput = \"/dev/null\"\n";
    }
    g_curlConfig->write(config);
    g_curlConfig->flush();
}

// Fetches every tile once; returns how many did not arrive intact.
int FetchWithLmxmaps(QThreadPool& pool) {
    std::atomic<int> failures{0};
    const auto expectedSize = static_cast<std::size_t>(g_server->TilePng().size());
    const auto port = static_cast<unsigned int>(g_server->Port());
    for (const TString& path : g_paths) {
        pool.start(QRunnable::create([&failures, expectedSize, port, path] {
            const auto request = MakeRefCnt<BinaryHTTPRequestor>(QStringLiteral("127.0.0.1"), port,
                                                                 QStringLiteral("GET"),
                                                                 HTTPRequest::RequestInfo(path));
            request->Execute();
            std::vector<unsigned char> bytes;
            try {
                request->GetBytes(bytes, true);
                failures += bytes.size() != expectedSize;
            } catch (const LumivexException&) {
                ++failures;
            }
        }));
    }
    if (!pool.waitForDone(kPoolTimeoutMs)) {
        return kTileCount;
    }
    return failures;
}

// Runs curl over the same URLs; returns how many transfers did not answer 200.
int FetchWithCurl(int parallel) {
    QStringList arguments = {QStringLiteral("--no-progress-meter"), QStringLiteral("-w"),
                             QStringLiteral("%{http_code}\\n"), QStringLiteral("-K"),
                             g_curlConfig->fileName()};
    if (parallel > 1) {
        // Immediate: open the connections at once, as the pool threads do, rather than wait
        // to see whether transfers could share one.
        arguments << QStringLiteral("--parallel") << QStringLiteral("--parallel-immediate")
                  << QStringLiteral("--parallel-max") << QString::number(parallel);
    }
    QProcess curl;
    curl.start(QStringLiteral("curl"), arguments);
    if (!curl.waitForFinished(kCurlTimeoutMs) || curl.exitCode() != 0) {
        return kTileCount;
    }
    const QList<QByteArray> codes = curl.readAllStandardOutput().split('\n');
    const auto ok = std::count(codes.begin(), codes.end(), QByteArray("200"));
    return kTileCount - static_cast<int>(ok);
}

void Record(benchmark::State& state, const char* client, double seconds, int failures) {
    if (failures != 0) {
        state.SkipWithError("some tiles did not arrive intact");
        return;
    }
    state.SetIterationTime(seconds);
    const std::string name = std::string(client) + "/" + std::to_string(state.range(0));
    g_seconds[name].push_back(seconds);
}

void BM_Lmxmaps(benchmark::State& state) {
    QThreadPool pool;
    pool.setMaxThreadCount(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        HTTPRequestor::CloseIdleConnections();
        const Clock::time_point start = Clock::now();
        const int failures = FetchWithLmxmaps(pool);
        Record(state, "lmxmaps", std::chrono::duration<double>(Clock::now() - start).count(),
               failures);
    }
    state.SetItemsProcessed(state.iterations() * kTileCount);
}

void BM_Curl(benchmark::State& state) {
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const int failures = FetchWithCurl(static_cast<int>(state.range(0)));
        Record(state, "curl", std::chrono::duration<double>(Clock::now() - start).count(),
               failures);
    }
    state.SetItemsProcessed(state.iterations() * kTileCount);
}

void PrintTable() {
    std::printf("\n%d tiles of %lld bytes from 127.0.0.1; medians of the repetitions\n", kTileCount,
                static_cast<long long>(g_server->TilePng().size()));
    std::printf("threads  lmxmaps ms  curl ms  lmxmaps tiles/s  curl tiles/s  lmxmaps/curl\n");
    bool allMet = true;
    for (const int threads : kThreadCounts) {
        const double lmx = Median(g_seconds["lmxmaps/" + std::to_string(threads)]);
        const double curl = Median(g_seconds["curl/" + std::to_string(threads)]);
        if (lmx <= 0.0 || curl <= 0.0) {
            std::printf("%7d  (no result)\n", threads);
            allMet = false;
            continue;
        }
        const double ratio = lmx / curl;
        allMet = allMet && ratio <= kTargetRatio;
        std::printf("%7d  %10.1f  %7.1f  %15.0f  %12.0f  %12.2f\n", threads, lmx * 1e3, curl * 1e3,
                    kTileCount / lmx, kTileCount / curl, ratio);
    }
    std::printf("Target: lmxmaps/curl <= %.1f (time ratio, lower is better). %s.\n", kTargetRatio,
                allMet ? "Met" : "NOT met");
}

} // namespace

int main(int argc, char** argv) {
    // Defaults for a shared machine; flags on the command line come after these and win.
    static char repetitions[] = "--benchmark_repetitions=7";
    static char interleaving[] = "--benchmark_enable_random_interleaving=true";
    static char aggregatesOnly[] = "--benchmark_display_aggregates_only=true";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, {repetitions, interleaving, aggregatesOnly});
    int argCount = static_cast<int>(args.size());
    benchmark::Initialize(&argCount, args.data());
    if (benchmark::ReportUnrecognizedArguments(argCount, args.data())) {
        return 1;
    }

    FixtureServer server;
    server.Start();
    g_server = &server;
    BuildUrls();

    for (const int threads : kThreadCounts) {
        benchmark::RegisterBenchmark("lmxmaps", BM_Lmxmaps)
            ->Arg(threads)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("curl", BM_Curl)
            ->Arg(threads)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintTable();

    HTTPRequestor::CloseIdleConnections();
    server.Stop();
    delete g_curlConfig;
    return 0;
}
