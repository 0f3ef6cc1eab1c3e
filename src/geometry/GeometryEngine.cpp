#include <cmath>
#include <limits>

#include <lmxmaps/GeometryEngine.h>
#include <lmxmaps/ParallelFor.h>
#include <lmxmaps/host/Shapes.h>

namespace {

// Distances closer than this count as a tie between central-point candidates.
constexpr double kCentralPointTieTolerance = 1e-12;

void RunInParallel(std::size_t count, const std::function<void(std::size_t)>& task) {
    ParallelFor(0, count, 1, task);
}

std::optional<GeometryEngine::XY> ToOptional(const lmxgeo::XY& point) {
    if (std::isnan(point.x) || std::isnan(point.y)) {
        return std::nullopt;
    }
    return GeometryEngine::XY{point.x, point.y};
}

double SquaredDistance(const GeometryEngine::XY& a, const GeometryEngine::XY& b) {
    const double dx = a.first - b.first;
    const double dy = a.second - b.second;
    return dx * dx + dy * dy;
}

bool IsLowerLeft(const GeometryEngine::XY& a, const GeometryEngine::XY& b) {
    return a.first < b.first || (a.first == b.first && a.second < b.second);
}

} // namespace

DataValue GeometryEngine::CreatePoint(double x, double y) const {
    return DataValue::String(FromUtf8(lmxgeo::CustomTerritories::CreatePoint(x, y)),
                             kUnknownCollation);
}

DataValue GeometryEngine::Union(std::vector<DataValue>& geometries) const {
    const std::vector<DataValue> inputs = std::move(geometries);
    geometries.clear();
    const Collation collation = inputs.empty() ? kUnknownCollation : inputs.front().GetCollation();
    lmxgeo::CustomTerritories::Union territories(&RunInParallel,
                                                 lmxgeo::CustomTerritories::kUnionMakeValid);
    for (const DataValue& geometry : inputs) {
        if (!geometry.IsSpecial()) {
            territories.Add(ToUtf8(geometry.GetString()));
        }
    }
    return DataValue::String(FromUtf8(territories.Finish(lmxgeo::CustomTerritories::kOutputWkt)),
                             collation);
}

std::optional<GeometryEngine::XY> GeometryEngine::ComputeCentroid(const DataValue& geometry) const {
    return ComputeCentroid(geometry, {});
}

std::optional<GeometryEngine::XY>
GeometryEngine::ComputeCentroid(const DataValue& geometry,
                                const std::vector<XY>& constituents) const {
    lmxgeo::CustomTerritories::Centroid centroid;
    for (const auto& [x, y] : constituents) {
        centroid.AddConstituent(x, y);
    }
    return ToOptional(centroid.Finish(ToUtf8(geometry.GetString())));
}

std::optional<GeometryEngine::XY>
GeometryEngine::GetCentralPoint(const std::vector<XY>& points) const {
    if (points.empty()) {
        return std::nullopt;
    }
    XY mean{0.0, 0.0};
    for (const auto& [x, y] : points) {
        mean.first += x;
        mean.second += y;
    }
    mean.first /= static_cast<double>(points.size());
    mean.second /= static_cast<double>(points.size());

    std::size_t best = 0;
    double bestDistance = std::numeric_limits<double>::max();
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double distance = SquaredDistance(points[i], mean);
        const bool tie = std::abs(distance - bestDistance) < kCentralPointTieTolerance;
        const bool wins = tie ? IsLowerLeft(points[i], points[best]) : distance < bestDistance;
        if (wins) {
            best = i;
            bestDistance = distance;
        }
    }
    return points[best];
}
