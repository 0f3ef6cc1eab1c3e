#pragma once
// Finished spans as OTLP/JSON, the protobuf JSON form of an OpenTelemetry
// ExportTraceServiceRequest, one request per line: the file format the OpenTelemetry
// Collector's file exporter writes and its otlpjsonfile receiver reads.

#include <string>

#include <lmxmaps/host/Tracing.h>

namespace OtlpJsonSpanFile {

// One request holding the span, as a single line of JSON without the line end.
std::string ExportRequestLine(const Tracing::Span& span);

// A sink that appends each span to the file named by the option "TraceSpansFile"; an empty
// sink when the option is empty.
Tracing::Sink ConfiguredSink();

} // namespace OtlpJsonSpanFile
