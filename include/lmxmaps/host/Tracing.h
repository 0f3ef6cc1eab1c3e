#pragma once
// Tracing: an Activity is one span of work (a name, attributes, a start and an end) that is
// handed to the process's span sink when it ends. Activities opened while another is open on
// the same thread become its children (same trace, the open one as parent).
//
// Without a sink, spans cost a clock read and are dropped. The sink runs on the thread that
// ends the activity and must not open activities itself.
//
// The option "TraceSpansFile" is read once, when the first span of the process ends: when it
// names a file and the program has set no sink by then, that file becomes the sink, and every
// finished span is appended to it as one line of OTLP/JSON (an ExportTraceServiceRequest), which
// the OpenTelemetry Collector's otlpjsonfile receiver reads. A sink set later takes its place.

#include <array>
#include <chrono>
#include <concepts>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace Tracing {

using TraceId = std::array<std::uint8_t, 16>;
using SpanId = std::array<std::uint8_t, 8>;
// The value kinds of OTLP attributes that this system records.
using AttributeValue = std::variant<std::string, std::int64_t, double, bool>;

struct Span {
    std::string name;
    TraceId traceId{};
    SpanId spanId{};
    // All zero for a span without a parent.
    SpanId parentSpanId{};
    std::chrono::system_clock::time_point start;
    std::chrono::system_clock::time_point end;
    // In the order they were set; a key set again keeps its place and takes the new value.
    std::vector<std::pair<std::string, AttributeValue>> attributes;
    bool failed = false;
    std::string statusMessage;
};

using Sink = std::function<void(const Span&)>;

// Replaces the receiver of finished spans; an empty sink drops them. Safe on any thread.
void SetSink(Sink sink);

class Activity {
public:
    explicit Activity(std::string name);
    // Ends the span and hands it to the sink.
    ~Activity();
    Activity(const Activity&) = delete;
    Activity& operator=(const Activity&) = delete;

    void SetAttribute(const std::string& key, AttributeValue value);
    // Without these a text literal would become a bool and a plain int would be ambiguous.
    void SetAttribute(const std::string& key, std::string value);
    void SetAttribute(const std::string& key, const char* value);
    void SetAttribute(const std::string& key, double value);
    void SetAttribute(const std::string& key, bool value);
    // Any other integer, kept as a signed 64-bit value.
    template <std::integral Integer>
    requires(!std::same_as<Integer, bool>) void SetAttribute(const std::string& key,
                                                             Integer value) {
        SetAttribute(key, AttributeValue(static_cast<std::int64_t>(value)));
    }
    // Marks the span failed with a message (the last one set wins).
    void SetFailed(std::string message);
    const Span& GetSpan() const { return m_span; }

private:
    Span m_span;
    Activity* m_parent;
};

// Collects the spans ended on any thread while it lives, after handing them to the sink that
// was set before; for tests and diagnostics. Captures do not nest.
class ScopedCapture {
public:
    ScopedCapture();
    ~ScopedCapture();
    ScopedCapture(const ScopedCapture&) = delete;
    ScopedCapture& operator=(const ScopedCapture&) = delete;

    std::vector<Span> Spans() const;
};

// Lower-case hexadecimal of an id (OTLP's form).
std::string ToHex(const TraceId& id);
std::string ToHex(const SpanId& id);

} // namespace Tracing
