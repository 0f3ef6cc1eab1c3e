#include <array>
#include <charconv>
#include <cmath>

#include <lmxmaps/host/Shapes.h>

#include "GeosSupport.h"

namespace lmxgeo::WktSerialization {

namespace {

// Longest shortest-round-trip double ("-2.2250738585072014e-308").
constexpr std::size_t kNumberBufferSize = 32;

void AppendNumber(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::isinf(value)) {
        out += value > 0 ? "Inf" : "-Inf";
        return;
    }
    std::array<char, kNumberBufferSize> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), result.ptr);
}

void AppendCoordinate(std::string& out, const XY& point) {
    AppendNumber(out, point.x);
    out += ' ';
    AppendNumber(out, point.y);
}

// "(x y, x y)" or "EMPTY".
void AppendPathText(std::string& out, const Path& path) {
    if (path.empty()) {
        out += "EMPTY";
        return;
    }
    out += '(';
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (i > 0) {
            out += ", ";
        }
        AppendCoordinate(out, path[i]);
    }
    out += ')';
}

void AppendPolygonText(std::string& out, const Polygon& polygon) {
    if (polygon.empty()) {
        out += "EMPTY";
        return;
    }
    out += '(';
    for (std::size_t i = 0; i < polygon.size(); ++i) {
        if (i > 0) {
            out += ", ";
        }
        AppendPathText(out, polygon[i]);
    }
    out += ')';
}

template <class Item, class AppendItem>
void AppendList(std::string& out, const std::vector<Item>& items, AppendItem appendItem) {
    out += '(';
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            out += ", ";
        }
        appendItem(out, items[i]);
    }
    out += ')';
}

void AppendPointText(std::string& out, const XY& point) {
    out += '(';
    AppendCoordinate(out, point);
    out += ')';
}

int DeriveType(std::size_t points, std::size_t lines, std::size_t polys) {
    const int kinds = (points > 0 ? 1 : 0) + (lines > 0 ? 1 : 0) + (polys > 0 ? 1 : 0);
    if (kinds == 0) {
        return ShapeType::kEmpty;
    }
    if (kinds > 1) {
        return ShapeType::kCollection;
    }
    if (points > 0) {
        return points == 1 ? ShapeType::kPoint : ShapeType::kMultiPoint;
    }
    if (lines > 0) {
        return lines == 1 ? ShapeType::kLine : ShapeType::kMultiLine;
    }
    return polys == 1 ? ShapeType::kPolygon : ShapeType::kMultiPolygon;
}

bool FitsType(int shapeType, std::size_t points, std::size_t lines, std::size_t polys) {
    const std::size_t total = points + lines + polys;
    switch (shapeType) {
    case ShapeType::kPoint:
        return points == 1 && total == 1;
    case ShapeType::kLine:
        return lines == 1 && total == 1;
    case ShapeType::kPolygon:
        return polys == 1 && total == 1;
    case ShapeType::kMultiPoint:
        return points > 0 && points == total;
    case ShapeType::kMultiLine:
        return lines > 0 && lines == total;
    case ShapeType::kMultiPolygon:
        return polys > 0 && polys == total;
    case ShapeType::kCollection:
        return total > 0;
    default:
        return false;
    }
}

void AppendCollection(std::string& out, const std::vector<XY>& points,
                      const std::vector<Path>& lines, const std::vector<Polygon>& polys) {
    out += "GEOMETRYCOLLECTION (";
    bool first = true;
    auto separate = [&out, &first] {
        if (!first) {
            out += ", ";
        }
        first = false;
    };
    for (const XY& point : points) {
        separate();
        out += "POINT ";
        AppendPointText(out, point);
    }
    for (const Path& line : lines) {
        separate();
        out += "LINESTRING ";
        AppendPathText(out, line);
    }
    for (const Polygon& polygon : polys) {
        separate();
        out += "POLYGON ";
        AppendPolygonText(out, polygon);
    }
    out += ')';
}

} // namespace

int Extract(std::string_view wkt, std::vector<XY>& points, std::vector<Path>& lines,
            std::vector<Polygon>& polys) {
    points.clear();
    lines.clear();
    polys.clear();
    geos::GeometryPtr geometry;
    try {
        geometry = geos::ReadWkt(wkt);
    } catch (const geos::UnreadableWkt&) {
        return ShapeType::kUnknown;
    }
    return geos::AppendArrays(*geometry, points, lines, polys);
}

std::string Compose(int shapeType, const std::vector<XY>& points, const std::vector<Path>& lines,
                    const std::vector<Polygon>& polys) {
    const int type = FitsType(shapeType, points.size(), lines.size(), polys.size())
                         ? shapeType
                         : DeriveType(points.size(), lines.size(), polys.size());
    std::string out;
    switch (type) {
    case ShapeType::kPoint:
        out += "POINT ";
        AppendPointText(out, points.front());
        break;
    case ShapeType::kMultiPoint:
        out += "MULTIPOINT ";
        AppendList(out, points, AppendPointText);
        break;
    case ShapeType::kLine:
        out += "LINESTRING ";
        AppendPathText(out, lines.front());
        break;
    case ShapeType::kMultiLine:
        out += "MULTILINESTRING ";
        AppendList(out, lines, AppendPathText);
        break;
    case ShapeType::kPolygon:
        out += "POLYGON ";
        AppendPolygonText(out, polys.front());
        break;
    case ShapeType::kMultiPolygon:
        out += "MULTIPOLYGON ";
        AppendList(out, polys, AppendPolygonText);
        break;
    case ShapeType::kCollection:
        AppendCollection(out, points, lines, polys);
        break;
    default:
        out += "GEOMETRYCOLLECTION EMPTY";
        break;
    }
    return out;
}

} // namespace lmxgeo::WktSerialization
