#pragma once
// Geometry services the host calls on the maps module: custom-territory points, unions and
// centroids, a representative central point, a circle-rectangle test, conversion of the
// host's spatial values to the module's geometry, and projection info on axis coordinates.

#include <QRectF>
#include <optional>
#include <utility>
#include <vector>

#include <lmxmaps/Geom.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/host/DataValue.h>

class AxisVisualCoordinate;
class SpatialTransform;

namespace lmxgeo {
class Spatial;
}

class GeometryEngine {
public:
    using XY = std::pair<double, double>;

    // The WKT of the point as a string value of unknown collation.
    DataValue CreatePoint(double x, double y) const;
    // The union of the WKT geometries (null values are left out) as WKT, with the collation of
    // the first value. Each input is made valid first and the pieces are merged in parallel.
    // The array is consumed. Raises std::invalid_argument for a value that is not WKT.
    DataValue Union(std::vector<DataValue>& geometries) const;
    // The centroid of the WKT geometry; nothing for an empty geometry. When the centroid of a
    // territory with area falls outside it, the constituent inside it nearest the centroid
    // stands in (see lmxgeo::CustomTerritories::Centroid).
    std::optional<XY> ComputeCentroid(const DataValue& geometry) const;
    std::optional<XY> ComputeCentroid(const DataValue& geometry,
                                      const std::vector<XY>& constituents) const;
    // The point nearest the mean of the points (ties: smaller x, then smaller y); nothing for
    // no points.
    std::optional<XY> GetCentralPoint(const std::vector<XY>& points) const;
};

namespace GeometryUtil {

// Whether the circle and the rectangle share a point (touching counts).
bool CircleIntersectsRect(double cx, double cy, double r, const QRectF& rect);

} // namespace GeometryUtil

namespace SpatialToGeomConverter {

// out becomes the spatial value's shape with every coordinate passed through transform
// ((x, y) of a planar shape, (longitude, latitude) of a geographic one).
void DoConversion(const SpatialTransform& transform, const lmxgeo::Spatial& spatial,
                  geom::ConstGeomPtr& out);

} // namespace SpatialToGeomConverter

namespace geom {

// The geometry of a string value (WKT; type Unknown when it is not WKT) or of a spatial value
// (a null one gives an empty geometry). Raises SpatialOGRTypeException for other values.
ConstGeomPtr FromDataValue(const DataValue& value);

} // namespace geom

namespace AxisVisualCoordinateHelper {

// Gives a coordinate whose two axes carry values the longitude and latitude behind them,
// with the projector's name. projector must not be null.
void AddProjectionInfo(AxisVisualCoordinate& coordinate, bool isMap, SpatialProjectorPtr projector);

} // namespace AxisVisualCoordinateHelper
