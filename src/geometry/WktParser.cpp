#include <cmath>
#include <exception>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <lmxmaps/WktParser.h>
#include <lmxmaps/host/Shapes.h>
#include <lmxmaps/host/SpatialException.h>
#include <lmxmaps/host/StringTable.h>

namespace {

constexpr StringId kLineTooShortText = 0x83d114c3u;
constexpr StringId kRingTooShortText = 0xd238b0dau;
constexpr std::uint32_t kLineTooShortSite = 0x4C4D4701u;
constexpr std::uint32_t kRingTooShortSite = 0x4C4D4702u;
constexpr std::string_view kLineTooShortMessage = "line has less than";
constexpr std::string_view kRingTooShortMessage = "ring has less than";
constexpr std::size_t kMinLinePoints = 2;
// Three corners and the closing repeat of the first.
constexpr std::size_t kMinRingPoints = 4;

[[noreturn]] void ThrowTooShort(StringId text, std::uint32_t site, int line) {
    throw SpatialOGRTypeException(LookupTStr(text), __FILE__, line,
                                  TError::AutoGen(QStringLiteral("SpatialOGRTypeException"), site));
}

bool IsNaNPoint(const geom::Point& point) {
    return std::isnan(point.x + point.y);
}

// Drops NaN points and points equal to the previous kept one, in place.
void CleanPath(geom::Path& path) {
    std::size_t kept = 0;
    for (const geom::Point& point : path) {
        if (IsNaNPoint(point) || (kept > 0 && path[kept - 1] == point)) {
            continue;
        }
        path[kept++] = point;
    }
    path.resize(kept);
}

// Cleans every line and drops those left with fewer than two points.
void CleanLines(std::vector<geom::Path>& lines) {
    for (geom::Path& line : lines) {
        CleanPath(line);
    }
    std::erase_if(lines, [](const geom::Path& line) { return line.size() < kMinLinePoints; });
}

// Cleans every ring and drops those left with fewer than four points; a polygon whose outer
// ring went goes with its holes.
void CleanPolygons(std::vector<geom::Polygon>& polys) {
    const auto tooShort = [](const geom::Path& ring) {
        return ring.size() < kMinRingPoints;
    };
    for (geom::Polygon& polygon : polys) {
        for (geom::Path& ring : polygon) {
            CleanPath(ring);
        }
        if (!polygon.empty() && tooShort(polygon.front())) {
            polygon.clear();
        }
        std::erase_if(polygon, tooShort);
    }
    std::erase_if(polys, [](const geom::Polygon& polygon) { return polygon.empty(); });
}

} // namespace

bool WktParser::FromString(const TString& text, geom::ConstGeomPtr& out) {
    std::vector<geom::Point> points;
    std::vector<geom::Path> lines;
    std::vector<geom::Polygon> polys;
    int shapeType = lmxgeo::ShapeType::kUnknown;
    try {
        shapeType = lmxgeo::WktSerialization::Extract(ToUtf8(text), points, lines, polys);
    } catch (const std::invalid_argument& error) {
        const std::string_view message = error.what();
        if (message.find(kLineTooShortMessage) != std::string_view::npos) {
            ThrowTooShort(kLineTooShortText, kLineTooShortSite, __LINE__);
        }
        if (message.find(kRingTooShortMessage) != std::string_view::npos) {
            ThrowTooShort(kRingTooShortText, kRingTooShortSite, __LINE__);
        }
    } catch (const std::exception&) {
        shapeType = lmxgeo::ShapeType::kUnknown;
    }
    if (shapeType == lmxgeo::ShapeType::kUnknown) {
        points.clear();
        lines.clear();
        polys.clear();
    }
    // Whatever is written of the result must read back (the reader refuses short paths) and
    // equal itself.
    std::erase_if(points, IsNaNPoint);
    CleanLines(lines);
    CleanPolygons(polys);
    // A shape cleaned away entirely is empty, as its written form reads back.
    if (shapeType != lmxgeo::ShapeType::kUnknown && points.empty() && lines.empty() &&
        polys.empty()) {
        shapeType = lmxgeo::ShapeType::kEmpty;
    }
    out = std::make_shared<const geom::ConstGeom>(
        geom::Geom(std::move(points), std::move(lines), std::move(polys)),
        static_cast<geom::GeometryType>(shapeType));
    return shapeType != lmxgeo::ShapeType::kUnknown;
}

bool WktParser::FromString(const DataValue& value, geom::ConstGeomPtr& out) {
    return FromString(value.GetString(), out);
}

std::string WktWriter::ToWkt(const geom::ConstGeom& geometry) {
    return lmxgeo::WktSerialization::Compose(static_cast<int>(geometry.GetType()),
                                             geometry.GetPoints(), geometry.GetLines(),
                                             geometry.GetPolys());
}
