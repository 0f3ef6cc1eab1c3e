#include "HttpRetryPolicy.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <algorithm>
#include <array>

#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/net/HttpDate.h>

namespace {

constexpr std::chrono::milliseconds kFirstRetryWait{500};
// Each wait is drawn between this share of its exponential value and the whole of it, so
// that clients failed together do not come back together.
constexpr double kLowestJitterShare = 0.5;
constexpr std::array<int, 6> kTransientStatuses = {408, 429, 500, 502, 503, 504};
constexpr int kMaxDoublings = 30;
constexpr double kMillisecondsPerSecond = 1000.0;

std::optional<std::chrono::milliseconds> RetryAfterWait(const TString& retryAfter,
                                                        const QDateTime& now) {
    const TString text = retryAfter.trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    static const QRegularExpression digits(QStringLiteral("^\\d{1,9}$"));
    if (digits.match(text).hasMatch()) {
        return std::chrono::seconds(text.toLongLong());
    }
    const QDateTime when = HttpDate::Parse(text, now);
    if (!when.isValid()) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(std::max<qint64>(0, now.msecsTo(when)));
}

} // namespace

namespace HttpRetryPolicy {

Limits CurrentLimits() {
    Limits limits;
    limits.maxRetries = static_cast<int>(
        std::max<long long>(0, Options::GetInt(QStringLiteral("HttpRetryAttempts"))));
    const double seconds = Options::GetDouble(QStringLiteral("HttpRetryMaxWaitSeconds"));
    limits.longestWait = std::chrono::milliseconds(
        seconds > 0 ? static_cast<long long>(seconds * kMillisecondsPerSecond) : 0);
    return limits;
}

bool IsTransientTransportFailure(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return true;
    default:
        return false;
    }
}

bool IsTransientStatus(int status) {
    return std::find(kTransientStatuses.begin(), kTransientStatuses.end(), status) !=
           kTransientStatuses.end();
}

std::optional<std::chrono::milliseconds>
WaitBeforeRetry(int retry, const TString& retryAfter, const Limits& limits, const QDateTime& now) {
    if (retry < 1 || retry > limits.maxRetries) {
        return std::nullopt;
    }
    if (const auto asked = RetryAfterWait(retryAfter, now)) {
        return *asked <= limits.longestWait ? asked : std::nullopt;
    }
    const int doublings = std::min(retry - 1, kMaxDoublings);
    const auto exponential =
        std::min(kFirstRetryWait * (std::int64_t{1} << doublings),
                 std::chrono::duration_cast<std::chrono::milliseconds>(limits.longestWait));
    const double share = kLowestJitterShare +
                         (1.0 - kLowestJitterShare) * QRandomGenerator::global()->generateDouble();
    return std::chrono::milliseconds(
        static_cast<long long>(static_cast<double>(exponential.count()) * share));
}

} // namespace HttpRetryPolicy
