// WKT text as it arrives in data sources: whatever parses must write out as WKT that parses back
// to the same geometry, and writing that again must give the same text. Rejected text (false, or
// a line or ring too short once cleaned) is fine; the writer's own output must never be rejected.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <lmxmaps/WktParser.h>
#include <lmxmaps/host/SpatialException.h>

namespace {

geom::ConstGeomPtr Parse(const QString& text) {
    geom::ConstGeomPtr parsed;
    try {
        if (WktParser::FromString(text, parsed))
            return parsed;
    } catch (const SpatialOGRTypeException&) {
    }
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parsed = Parse(QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)));
    if (!parsed)
        return 0;

    const std::string written = WktWriter::ToWkt(*parsed);
    const auto reparsed = Parse(QString::fromStdString(written));
    if (!reparsed || WktWriter::ToWkt(*reparsed) != written)
        std::abort();
    return 0;
}
