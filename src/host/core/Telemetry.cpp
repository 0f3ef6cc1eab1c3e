#include <QDateTime>
#include <atomic>
#include <memory>
#include <mutex>
#include <type_traits>

#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/Telemetry.h>

#include "JsonLinesFile.h"
#include "host/core/CaptureBuffer.h"

namespace Telemetry {

namespace {

constexpr const char* kFileOption = "TelemetryEventsFile";

CaptureBuffer<Event>& Capture() {
    static CaptureBuffer<Event> capture;
    return capture;
}

// Null when the option is empty; chosen once, when the first event comes.
JsonLinesFile* EventsFile() {
    static const std::unique_ptr<JsonLinesFile> file = []() -> std::unique_ptr<JsonLinesFile> {
        const TString path = Options::GetString(QLatin1String(kFileOption)).trimmed();
        return path.isEmpty() ? nullptr : std::make_unique<JsonLinesFile>(path);
    }();
    return file.get();
}

void WriteValue(JsonLineWriter& writer, const Value& value) {
    std::visit(
        [&writer](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                writer.String(v.c_str(), static_cast<rapidjson::SizeType>(v.size()));
            } else if constexpr (std::is_same_v<T, bool>) {
                writer.Bool(v);
            } else if constexpr (std::is_same_v<T, double>) {
                WriteJsonDouble(writer, v);
            } else {
                writer.Int64(v);
            }
        },
        value);
}

std::string EventLine(const Event& event) {
    rapidjson::StringBuffer buffer;
    JsonLineWriter writer(buffer);
    writer.StartObject();
    writer.Key("time");
    writer.String(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8().constData());
    writer.Key("category");
    writer.String(event.GetCategory().c_str(),
                  static_cast<rapidjson::SizeType>(event.GetCategory().size()));
    writer.Key("properties");
    writer.StartObject();
    for (const auto& [key, value] : event.GetProperties()) {
        writer.Key(key.c_str(), static_cast<rapidjson::SizeType>(key.size()));
        WriteValue(writer, value);
    }
    writer.EndObject();
    writer.EndObject();
    return {buffer.GetString(), buffer.GetSize()};
}

} // namespace

void Event::Set(const std::string& key, Value value) {
    for (auto& property : m_properties) {
        if (property.first == key) {
            property.second = std::move(value);
            return;
        }
    }
    m_properties.emplace_back(key, std::move(value));
}

void Event::SetString(const std::string& key, std::string value) {
    Set(key, Value(std::move(value)));
}

void Event::SetInt(const std::string& key, std::int64_t value) {
    Set(key, Value(value));
}

void Event::SetDouble(const std::string& key, double value) {
    Set(key, Value(value));
}

void Event::SetBool(const std::string& key, bool value) {
    Set(key, Value(value));
}

void Report(const Event& event) {
    try {
        Capture().Offer(event);
        if (JsonLinesFile* file = EventsFile()) {
            file->Append(EventLine(event));
        }
    } catch (...) {
        // Reporting usage must never fail the use being reported.
    }
}

ScopedCapture::ScopedCapture() {
    Capture().Open();
}

ScopedCapture::~ScopedCapture() {
    Capture().Close();
}

std::vector<Event> ScopedCapture::Events() const {
    return Capture().Records();
}

} // namespace Telemetry
