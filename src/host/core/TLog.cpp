#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>

#include "host/core/CaptureBuffer.h"

namespace TLog {

namespace {

spdlog::level::level_enum ToSpdlog(Severity severity) {
    switch (severity) {
    case Severity::Debug:
        return spdlog::level::debug;
    case Severity::Info:
        return spdlog::level::info;
    case Severity::Warn:
        return spdlog::level::warn;
    case Severity::Error:
        return spdlog::level::err;
    }
    return spdlog::level::err;
}

struct LogState {
    std::shared_ptr<spdlog::logger> logger;
    std::shared_mutex tagMutex;
    std::set<int> detailTags;
    CaptureBuffer<Record> capture;

    LogState()
        : logger(std::make_shared<spdlog::logger>(
              "lmxmaps", std::make_shared<spdlog::sinks::stderr_sink_mt>())) {
        logger->set_pattern("%Y-%m-%d %H:%M:%S.%e [%l] %v");
        ApplyOptions();
    }

    void ApplyOptions() {
        logger->set_level(spdlog::level::from_str(
            ToUtf8(Options::GetString(QStringLiteral("LogLevel")).trimmed().toLower())));
        std::set<int> tags;
        for (const QString& item :
             Options::GetString(QStringLiteral("LogDetailTags")).split(u',', Qt::SkipEmptyParts)) {
            bool ok = false;
            const int tag = item.trimmed().toInt(&ok);
            if (ok) {
                tags.insert(tag);
            }
        }
        std::unique_lock lock(tagMutex);
        detailTags = std::move(tags);
    }
};

LogState& State() {
    static LogState state;
    return state;
}

} // namespace

void LogMessage(Severity severity, const TString& message) {
    LogMessage(severity, TString(), message);
}

void LogMessage(Severity severity, const TString& logSite, const TString& message) {
    LogState& state = State();
    state.capture.Offer({severity, logSite, message});
    if (logSite.isEmpty()) {
        state.logger->log(ToSpdlog(severity), "{}", ToUtf8(message));
    } else {
        state.logger->log(ToSpdlog(severity), "{}: {}", ToUtf8(logSite), ToUtf8(message));
    }
}

bool IsDetailTagOn(int tag) {
    LogState& state = State();
    std::shared_lock lock(state.tagMutex);
    return state.detailTags.count(tag) != 0;
}

void ReloadOptions() {
    State().ApplyOptions();
}

ScopedCapture::ScopedCapture() {
    State().capture.Open();
}

ScopedCapture::~ScopedCapture() {
    State().capture.Close();
}

std::vector<Record> ScopedCapture::Records() const {
    return State().capture.Records();
}

} // namespace TLog
