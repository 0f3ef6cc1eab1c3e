#include "OtlpJsonSpanFile.h"

#include <memory>
#include <type_traits>

#include <lmxmaps/host/Options.h>

#include "JsonLinesFile.h"

namespace OtlpJsonSpanFile {

namespace {

constexpr const char* kFileOption = "TraceSpansFile";
// Who the spans come from: the service and the instrumentation scope.
constexpr const char* kServiceName = "lmxmaps";
constexpr const char* kScopeName = "lmxmaps";
// SpanKind and StatusCode of the trace protocol; JSON carries enums as numbers.
constexpr int kSpanKindInternal = 1;
constexpr int kStatusCodeError = 2;

void WriteDecimalString(JsonLineWriter& writer, long long value) {
    writer.String(std::to_string(value).c_str());
}

void WriteUnixNano(JsonLineWriter& writer, std::chrono::system_clock::time_point time) {
    WriteDecimalString(
        writer,
        std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count());
}

void WriteAnyValue(JsonLineWriter& writer, const Tracing::AttributeValue& value) {
    writer.StartObject();
    std::visit(
        [&writer](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                writer.Key("stringValue");
                writer.String(v.c_str(), static_cast<rapidjson::SizeType>(v.size()));
            } else if constexpr (std::is_same_v<T, bool>) {
                writer.Key("boolValue");
                writer.Bool(v);
            } else if constexpr (std::is_same_v<T, double>) {
                writer.Key("doubleValue");
                WriteJsonDouble(writer, v);
            } else {
                // 64-bit integers are strings in protobuf's JSON form.
                writer.Key("intValue");
                WriteDecimalString(writer, v);
            }
        },
        value);
    writer.EndObject();
}

void WriteKeyValue(JsonLineWriter& writer, const std::string& key,
                   const Tracing::AttributeValue& value) {
    writer.StartObject();
    writer.Key("key");
    writer.String(key.c_str(), static_cast<rapidjson::SizeType>(key.size()));
    writer.Key("value");
    WriteAnyValue(writer, value);
    writer.EndObject();
}

void WriteStatus(JsonLineWriter& writer, const Tracing::Span& span) {
    writer.StartObject();
    // An unset status is the default (code 0), which the JSON form leaves out.
    if (span.failed) {
        writer.Key("code");
        writer.Int(kStatusCodeError);
        writer.Key("message");
        writer.String(span.statusMessage.c_str(),
                      static_cast<rapidjson::SizeType>(span.statusMessage.size()));
    }
    writer.EndObject();
}

void WriteSpan(JsonLineWriter& writer, const Tracing::Span& span) {
    writer.StartObject();
    writer.Key("traceId");
    writer.String(Tracing::ToHex(span.traceId).c_str());
    writer.Key("spanId");
    writer.String(Tracing::ToHex(span.spanId).c_str());
    if (span.parentSpanId != Tracing::SpanId{}) {
        writer.Key("parentSpanId");
        writer.String(Tracing::ToHex(span.parentSpanId).c_str());
    }
    writer.Key("name");
    writer.String(span.name.c_str(), static_cast<rapidjson::SizeType>(span.name.size()));
    writer.Key("kind");
    writer.Int(kSpanKindInternal);
    writer.Key("startTimeUnixNano");
    WriteUnixNano(writer, span.start);
    writer.Key("endTimeUnixNano");
    WriteUnixNano(writer, span.end);
    if (!span.attributes.empty()) {
        writer.Key("attributes");
        writer.StartArray();
        for (const auto& [key, value] : span.attributes) {
            WriteKeyValue(writer, key, value);
        }
        writer.EndArray();
    }
    writer.Key("status");
    WriteStatus(writer, span);
    writer.EndObject();
}

void WriteResource(JsonLineWriter& writer) {
    writer.StartObject();
    writer.Key("attributes");
    writer.StartArray();
    WriteKeyValue(writer, "service.name", std::string(kServiceName));
    writer.EndArray();
    writer.EndObject();
}

} // namespace

std::string ExportRequestLine(const Tracing::Span& span) {
    rapidjson::StringBuffer buffer;
    JsonLineWriter writer(buffer);
    writer.StartObject();
    writer.Key("resourceSpans");
    writer.StartArray();
    writer.StartObject();
    writer.Key("resource");
    WriteResource(writer);
    writer.Key("scopeSpans");
    writer.StartArray();
    writer.StartObject();
    writer.Key("scope");
    writer.StartObject();
    writer.Key("name");
    writer.String(kScopeName);
    writer.EndObject();
    writer.Key("spans");
    writer.StartArray();
    WriteSpan(writer, span);
    writer.EndArray();
    writer.EndObject();
    writer.EndArray();
    writer.EndObject();
    writer.EndArray();
    writer.EndObject();
    return {buffer.GetString(), buffer.GetSize()};
}

Tracing::Sink ConfiguredSink() {
    const TString path = Options::GetString(QLatin1String(kFileOption)).trimmed();
    if (path.isEmpty()) {
        return {};
    }
    auto file = std::make_shared<JsonLinesFile>(path);
    return [file](const Tracing::Span& span) {
        file->Append(ExportRequestLine(span));
    };
}

} // namespace OtlpJsonSpanFile
