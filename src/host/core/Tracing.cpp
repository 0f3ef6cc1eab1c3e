#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <random>

#include <lmxmaps/host/Tracing.h>

#include "OtlpJsonSpanFile.h"
#include "host/core/CaptureBuffer.h"

namespace Tracing {

namespace {

struct TracingState {
    std::mutex sinkMutex;
    std::shared_ptr<const Sink> sink;
    bool sinkWasSet = false;
    std::once_flag configuredSinkOnce;
    CaptureBuffer<Span> capture;
};

TracingState& State() {
    static TracingState state;
    return state;
}

thread_local Activity* t_current = nullptr;

template <std::size_t N>
std::array<std::uint8_t, N> RandomId() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::array<std::uint8_t, N> id{};
    // An id of all zeros means "none" to readers of the format.
    while (std::all_of(id.begin(), id.end(), [](std::uint8_t b) { return b == 0; })) {
        for (std::size_t i = 0; i < N; i += 8) {
            const std::uint64_t bits = generator();
            for (std::size_t j = 0; j < 8 && i + j < N; ++j) {
                id[i + j] = static_cast<std::uint8_t>(bits >> (8 * j));
            }
        }
    }
    return id;
}

template <std::size_t N>
std::string Hex(const std::array<std::uint8_t, N>& id) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * N);
    for (const std::uint8_t byte : id) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

// Deferred to the first span so that a process that never traces never reads the option.
void InstallConfiguredSinkOnce(TracingState& state) {
    std::call_once(state.configuredSinkOnce, [&state] {
        Sink configured = OtlpJsonSpanFile::ConfiguredSink();
        if (!configured) {
            return;
        }
        std::lock_guard lock(state.sinkMutex);
        if (!state.sinkWasSet) {
            state.sink = std::make_shared<const Sink>(std::move(configured));
        }
    });
}

void Deliver(const Span& span) {
    TracingState& state = State();
    InstallConfiguredSinkOnce(state);
    std::shared_ptr<const Sink> sink;
    {
        std::lock_guard lock(state.sinkMutex);
        sink = state.sink;
    }
    if (sink && *sink) {
        (*sink)(span);
    }
    state.capture.Offer(span);
}

} // namespace

void SetSink(Sink sink) {
    auto shared = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
    TracingState& state = State();
    std::lock_guard lock(state.sinkMutex);
    state.sink = std::move(shared);
    state.sinkWasSet = true;
}

Activity::Activity(std::string name) : m_parent(t_current) {
    m_span.name = std::move(name);
    m_span.spanId = RandomId<8>();
    if (m_parent != nullptr) {
        m_span.traceId = m_parent->m_span.traceId;
        m_span.parentSpanId = m_parent->m_span.spanId;
    } else {
        m_span.traceId = RandomId<16>();
    }
    t_current = this;
    m_span.start = std::chrono::system_clock::now();
}

Activity::~Activity() {
    m_span.end = std::chrono::system_clock::now();
    t_current = m_parent;
    try {
        Deliver(m_span);
    } catch (...) {
        // A failing sink must not take the traced work down with it.
    }
}

void Activity::SetAttribute(const std::string& key, AttributeValue value) {
    for (auto& attribute : m_span.attributes) {
        if (attribute.first == key) {
            attribute.second = std::move(value);
            return;
        }
    }
    m_span.attributes.emplace_back(key, std::move(value));
}

void Activity::SetAttribute(const std::string& key, std::string value) {
    SetAttribute(key, AttributeValue(std::move(value)));
}

void Activity::SetAttribute(const std::string& key, const char* value) {
    SetAttribute(key, AttributeValue(std::string(value)));
}

void Activity::SetAttribute(const std::string& key, double value) {
    SetAttribute(key, AttributeValue(value));
}

void Activity::SetAttribute(const std::string& key, bool value) {
    SetAttribute(key, AttributeValue(value));
}

void Activity::SetFailed(std::string message) {
    m_span.failed = true;
    m_span.statusMessage = std::move(message);
}

ScopedCapture::ScopedCapture() {
    State().capture.Open();
}

ScopedCapture::~ScopedCapture() {
    State().capture.Close();
}

std::vector<Span> ScopedCapture::Spans() const {
    return State().capture.Records();
}

std::string ToHex(const TraceId& id) {
    return Hex(id);
}

std::string ToHex(const SpanId& id) {
    return Hex(id);
}

} // namespace Tracing
