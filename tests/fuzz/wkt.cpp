// WKT text as it arrives in data sources: whatever parses must write out as WKT that parses back
// to the same geometry, and writing that again must give the same text.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <lmxmaps/WktParser.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    geom::ConstGeomPtr parsed;
    if (!WktParser::FromString(text, parsed) || !parsed)
        return 0;

    const std::string written = WktWriter::ToWkt(*parsed);
    geom::ConstGeomPtr reparsed;
    if (!WktParser::FromString(QString::fromStdString(written), reparsed) || !reparsed)
        std::abort();
    if (WktWriter::ToWkt(*reparsed) != written)
        std::abort();
    return 0;
}
