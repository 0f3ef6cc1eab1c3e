// Geometry values as the runtime reads them from its store: the bytes go to the deserializer
// registered for "GeomExternal". The module's own byte form is write-only, so the host's text
// form (WKT) stands in as the installed pair. What reads must write back and read back equal,
// its float stream must hold exactly the tokens of its paths, and generalizing must never add
// coordinates.
#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <lmxmaps/GeomExternal.h>
#include <lmxmaps/WktParser.h>
#include <lmxmaps/host/SpatialException.h>

namespace {

const int kLevels[] = {1, 7, 360};

std::size_t Coordinates(const geom::Path& path) {
    return 2 * path.size();
}

// Block marker, origin, the origin marker when the first line has a point, the paths (marker,
// count, coordinates), the end marker; polygon blocks add a marker per polygon.
std::size_t LineBlockFloats(const std::vector<geom::Path>& lines) {
    std::size_t floats = lines.front().empty() ? 4 : 5;
    for (const geom::Path& line : lines)
        floats += line.empty() ? 0 : 2 + Coordinates(line);
    return floats;
}

std::size_t ExpectedFloats(const geom::ConstGeom& geometry) {
    std::size_t floats = geometry.GetPoints().empty() ? 0 : 5 + Coordinates(geometry.GetPoints());
    if (!geometry.GetLines().empty())
        floats += LineBlockFloats(geometry.GetLines());
    const std::vector<geom::Polygon>& polys = geometry.GetPolys();
    if (polys.empty())
        return floats;
    floats += polys.front().empty() || polys.front().front().empty() ? 4 : 5;
    for (const geom::Polygon& polygon : polys) {
        if (polygon.empty() || polygon.front().empty())
            continue;
        floats += 1;
        for (const geom::Path& ring : polygon)
            floats += ring.empty() ? 0 : 2 + Coordinates(ring);
    }
    return floats;
}

std::size_t CoordinateCount(const geom::ConstGeom& geometry) {
    std::size_t count = geometry.GetPoints().size();
    for (const geom::Path& line : geometry.GetLines())
        count += line.size();
    for (const geom::Polygon& polygon : geometry.GetPolys())
        for (const geom::Path& ring : polygon)
            count += ring.size();
    return count;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    GeomExternal::Register();
    GeomExternal::SetSerializerMethodsForTest(
        [](const geom::ConstGeom& geometry) {
            const std::string wkt = WktWriter::ToWkt(geometry);
            return lrt::core::ByteArray(wkt.begin(), wkt.end());
        },
        [](const TString& text) {
            geom::ConstGeomPtr parsed;
            WktParser::FromString(text, parsed);
            return parsed;
        });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const lrt::core::ExternalType type =
        *lrt::core::FindExternalType(GeomExternal::kTypeCode);
    std::shared_ptr<lrt::core::ValueExternal> value;
    try {
        value = type.deserialize(lrt::core::ArrayView(data, size));
    } catch (const SpatialOGRTypeException&) {
        return 0; // a line or ring too short: reported to the user, not read
    }
    const auto* read = dynamic_cast<const GeomExternal*>(value.get());
    if (read == nullptr || !read->GetNonGeneralizedGeometryPtr())
        std::abort();
    const geom::ConstGeomPtr& geometry = read->GetNonGeneralizedGeometryPtr();
    if (geometry->GetType() == geom::GeometryType::Unknown)
        return 0;

    const std::shared_ptr<lrt::core::ValueExternal> back = type.deserialize(type.serialize(*value));
    if (!back || !value->IsEqual(*back) || !back->IsEqual(*value->Clone()))
        std::abort();
    if (GeomExternal::FloatarizeUncastGeometry(*value).size() != ExpectedFloats(*geometry))
        std::abort();

    for (const int level : kLevels) {
        read->GeneralizeGeometry(level);
        const geom::ConstGeomPtr generalized = read->GetGeometryPtr(level);
        if (!generalized || CoordinateCount(*generalized) > CoordinateCount(*geometry))
            std::abort();
    }
    if (read->GetGeometryPtr(0) != geometry)
        std::abort();
    return 0;
}
