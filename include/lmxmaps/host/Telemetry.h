#pragma once
// Product-usage telemetry: an event is a category and typed properties, handed to the
// process's reporter.
//
// The reporter writes each event as one line of JSON to the file named by the option
// "TelemetryEventsFile", read when the first event comes; when it is empty, events are
// dropped. A line reads
//   {"time":"2025-01-31T12:00:00.000Z","category":"...","properties":{"key":value,...}}
// with the properties in the order they were set: strings, integers, numbers (NaN and the
// infinities as the texts "NaN", "Infinity", "-Infinity") and booleans.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <lmxmaps/host/Tracing.h>

namespace Telemetry {

// Property values have the kinds of span attributes.
using Value = Tracing::AttributeValue;

// The kind of an event, by name; made once and shared by every event of that kind.
class EventCategory {
public:
    explicit EventCategory(std::string name) : m_name(std::move(name)) {}
    const std::string& GetName() const { return m_name; }

private:
    std::string m_name;
};

class Event {
public:
    explicit Event(const EventCategory& category) : m_category(category.GetName()) {}

    // A key set again keeps its place and takes the new value.
    void SetString(const std::string& key, std::string value);
    void SetInt(const std::string& key, std::int64_t value);
    void SetDouble(const std::string& key, double value);
    void SetBool(const std::string& key, bool value);
    void Set(const std::string& key, Value value);

    const std::string& GetCategory() const { return m_category; }
    const std::vector<std::pair<std::string, Value>>& GetProperties() const { return m_properties; }

private:
    std::string m_category;
    std::vector<std::pair<std::string, Value>> m_properties;
};

// Hands a finished event to the reporter. Safe on any thread; never throws.
void Report(const Event& event);

// Collects the events reported on any thread while it lives (for tests and diagnostics); they
// still go to the file too. Captures do not nest.
class ScopedCapture {
public:
    ScopedCapture();
    ~ScopedCapture();
    ScopedCapture(const ScopedCapture&) = delete;
    ScopedCapture& operator=(const ScopedCapture&) = delete;

    std::vector<Event> Events() const;
};

} // namespace Telemetry
