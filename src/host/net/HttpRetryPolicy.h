#pragma once
// When a failed HTTP request is sent again, and after how long: failures that say the server
// or the way to it is in trouble for now are retried, up to "HttpRetryAttempts" times, after
// exponentially growing, jittered waits, or after the wait the server's Retry-After names;
// no wait exceeds "HttpRetryMaxWaitSeconds".

#include <QDateTime>
#include <chrono>
#include <curl/curl.h>
#include <optional>

#include <lmxmaps/host/TString.h>

namespace HttpRetryPolicy {

struct Limits {
    int maxRetries = 0;
    std::chrono::milliseconds longestWait{0};
};

// The limits as the options say now.
Limits CurrentLimits();

// No connection, a reset, a time-out, a body cut short.
bool IsTransientTransportFailure(CURLcode code);
// 408, 429, 500, 502, 503 and 504.
bool IsTransientStatus(int status);

// The wait before retry number `retry` (1 for the first); nullopt when the retries are used up
// or the server's Retry-After (seconds or an HTTP date; empty when absent) asks for a longer
// wait than the limit allows. An unreadable Retry-After is ignored.
std::optional<std::chrono::milliseconds>
WaitBeforeRetry(int retry, const TString& retryAfter, const Limits& limits, const QDateTime& now);

} // namespace HttpRetryPolicy
