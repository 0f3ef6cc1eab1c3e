#include <lmxmaps/GeometryEngine.h>
#include <lmxmaps/WktParser.h>
#include <lmxmaps/host/Shapes.h>
#include <lmxmaps/host/SpatialException.h>
#include <lmxmaps/host/SpatialTransform.h>
#include <lmxmaps/host/StringTable.h>

namespace {

constexpr StringId kUnsupportedValueText = 0x2caaf0bbu;
constexpr std::uint32_t kUnsupportedValueSite = 0x4C4D4705u;

class IdentityTransform : public SpatialTransform {
public:
    std::pair<double, double> operator()(double x, double y) const override { return {x, y}; }
};

void TransformPath(const SpatialTransform& transform, geom::Path& path) {
    for (geom::Point& point : path) {
        const auto [x, y] = transform(point.x, point.y);
        point = {x, y};
    }
}

geom::ConstGeomPtr MakeEmptyGeometry() {
    return std::make_shared<const geom::ConstGeom>(geom::Geom(), geom::GeometryType::Empty);
}

geom::ConstGeomPtr FromSpatialValue(const DataValue& value) {
    if (value.IsSpecial()) {
        return MakeEmptyGeometry();
    }
    geom::ConstGeomPtr converted;
    SpatialToGeomConverter::DoConversion(IdentityTransform(), *value.GetSpatial(), converted);
    if (!converted || converted->GetType() == geom::GeometryType::Unknown) {
        return MakeEmptyGeometry();
    }
    return converted;
}

} // namespace

namespace SpatialToGeomConverter {

void DoConversion(const SpatialTransform& transform, const lmxgeo::Spatial& spatial,
                  geom::ConstGeomPtr& out) {
    if (!spatial.IsGeography() && !spatial.IsGeometry()) {
        return;
    }
    std::vector<geom::Point> points;
    std::vector<geom::Path> lines;
    std::vector<geom::Polygon> polys;
    spatial.ToArrays(points, lines, polys);
    TransformPath(transform, points);
    for (geom::Path& line : lines) {
        TransformPath(transform, line);
    }
    for (geom::Polygon& polygon : polys) {
        for (geom::Path& ring : polygon) {
            TransformPath(transform, ring);
        }
    }
    out = std::make_shared<const geom::ConstGeom>(
        geom::Geom(std::move(points), std::move(lines), std::move(polys)));
}

} // namespace SpatialToGeomConverter

namespace geom {

ConstGeomPtr FromDataValue(const DataValue& value) {
    switch (value.GetDataType()) {
    case DataType::String: {
        ConstGeomPtr parsed;
        WktParser::FromString(value, parsed);
        return parsed;
    }
    case DataType::Spatial:
        return FromSpatialValue(value);
    default:
        throw SpatialOGRTypeException(
            LookupTStr(kUnsupportedValueText), __FILE__, __LINE__,
            TError::AutoGen(QStringLiteral("SpatialOGRTypeException"), kUnsupportedValueSite));
    }
}

} // namespace geom
