#include <cmath>
#include <limits>
#include <string>

#include <lmxmaps/host/Shapes.h>

#include "GeosSupport.h"

namespace lmxgeo::CustomTerritories {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kArealDimension = 2;
// GEOS predicates answer 2 when they raised.
constexpr char kGeosPredicateFailed = 2;

struct PreparedDeleter {
    void operator()(const GEOSPreparedGeometry* prepared) const {
        GEOSPreparedGeom_destroy_r(geos::ThreadContext::Get().Handle(), prepared);
    }
};
using PreparedPtr = std::unique_ptr<const GEOSPreparedGeometry, PreparedDeleter>;

geos::GeometryPtr Checked(GEOSGeometry* result, const char* operation) {
    if (result == nullptr) {
        geos::ThrowGeosError(operation);
    }
    return geos::GeometryPtr(result);
}

void MakeValid(geos::GeometryPtr& shape) {
    const GEOSContextHandle_t handle = geos::ThreadContext::Get().Handle();
    if (GEOSisValid_r(handle, shape.get()) == 1) {
        return;
    }
    shape = Checked(GEOSMakeValid_r(handle, shape.get()), "making a shape valid");
}

XY PointCoordinates(const GEOSGeometry& point) {
    const GEOSContextHandle_t handle = geos::ThreadContext::Get().Handle();
    XY xy{kNaN, kNaN};
    if (GEOSisEmpty_r(handle, &point) == 0) {
        GEOSGeomGetX_r(handle, &point, &xy.x);
        GEOSGeomGetY_r(handle, &point, &xy.y);
    }
    return xy;
}

bool Covers(const GEOSPreparedGeometry& territory, const XY& point) {
    const GEOSContextHandle_t handle = geos::ThreadContext::Get().Handle();
    const geos::GeometryPtr pointShape =
        Checked(GEOSGeom_createPointFromXY_r(handle, point.x, point.y), "making a point");
    const char covers = GEOSPreparedCovers_r(handle, &territory, pointShape.get());
    if (covers == kGeosPredicateFailed) {
        geos::ThrowGeosError("testing a point against a territory");
    }
    return covers == 1;
}

double SquaredDistance(const XY& a, const XY& b) {
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

std::string ToWkt(const GEOSGeometry& shape) {
    std::vector<XY> points;
    std::vector<Path> lines;
    std::vector<Polygon> polys;
    const int type = geos::AppendArrays(shape, points, lines, polys);
    return WktSerialization::Compose(type, points, lines, polys);
}

} // namespace

std::string CreatePoint(double x, double y) {
    if (std::isnan(x) || std::isnan(y)) {
        return "POINT EMPTY";
    }
    return WktSerialization::Compose(ShapeType::kPoint, {XY{x, y}}, {}, {});
}

struct Union::Impl {
    Executor executor;
    int options = 0;
    std::vector<geos::GeometryPtr> shapes;
};

Union::Union(Executor executor, int options) : m_impl(std::make_unique<Impl>()) {
    if ((options & ~kUnionMakeValid) != 0) {
        throw std::invalid_argument("unknown union options " + std::to_string(options));
    }
    m_impl->executor = std::move(executor);
    m_impl->options = options;
}

Union::~Union() = default;

void Union::Add(std::string_view wkt) {
    m_impl->shapes.push_back(geos::ReadWkt(wkt));
}

std::string Union::Finish(int output) {
    if (output != kOutputWkt) {
        throw std::invalid_argument("unknown union output " + std::to_string(output));
    }
    std::vector<geos::GeometryPtr> shapes = std::move(m_impl->shapes);
    m_impl->shapes.clear();
    const std::size_t count = shapes.size();
    if (count == 0) {
        return "GEOMETRYCOLLECTION EMPTY";
    }
    if ((m_impl->options & kUnionMakeValid) != 0) {
        m_impl->executor(count, [&shapes](std::size_t i) { MakeValid(shapes[i]); });
    }
    if (count == 1) {
        // Dissolves the parts of a single multi-shape as a union of several shapes would.
        shapes[0] = Checked(GEOSUnaryUnion_r(geos::ThreadContext::Get().Handle(), shapes[0].get()),
                            "uniting shapes");
    }
    // Round by round, shape i absorbs shape i + stride; the pairs of a round are disjoint.
    for (std::size_t stride = 1; stride < count; stride *= 2) {
        const std::size_t pairs = (count - stride + 2 * stride - 1) / (2 * stride);
        m_impl->executor(pairs, [&shapes, stride](std::size_t pair) {
            const std::size_t left = pair * 2 * stride;
            const std::size_t right = left + stride;
            shapes[left] = Checked(GEOSUnion_r(geos::ThreadContext::Get().Handle(),
                                               shapes[left].get(), shapes[right].get()),
                                   "uniting shapes");
            shapes[right].reset();
        });
    }
    return ToWkt(*shapes[0]);
}

void Centroid::AddConstituent(double x, double y) {
    m_constituents.push_back({x, y});
}

XY Centroid::Finish(std::string_view wkt) const {
    const geos::GeometryPtr territory = geos::ReadWkt(wkt);
    const GEOSContextHandle_t handle = geos::ThreadContext::Get().Handle();
    if (GEOSisEmpty_r(handle, territory.get()) == 1) {
        return {kNaN, kNaN};
    }
    const geos::GeometryPtr centroidShape =
        Checked(GEOSGetCentroid_r(handle, territory.get()), "computing a centroid");
    const XY centroid = PointCoordinates(*centroidShape);
    if (GEOSGeom_getDimensions_r(handle, territory.get()) < kArealDimension) {
        return centroid;
    }
    const PreparedPtr prepared(GEOSPrepare_r(handle, territory.get()));
    if (!prepared) {
        geos::ThrowGeosError("preparing a territory");
    }
    if (Covers(*prepared, centroid)) {
        return centroid;
    }
    const XY* nearest = nullptr;
    for (const XY& constituent : m_constituents) {
        if (std::isnan(constituent.x) || std::isnan(constituent.y) ||
            !Covers(*prepared, constituent)) {
            continue;
        }
        if (nearest == nullptr ||
            SquaredDistance(constituent, centroid) < SquaredDistance(*nearest, centroid)) {
            nearest = &constituent;
        }
    }
    if (nearest != nullptr) {
        return *nearest;
    }
    const geos::GeometryPtr surfacePoint =
        Checked(GEOSPointOnSurface_r(handle, territory.get()), "finding a point on a surface");
    return PointCoordinates(*surfacePoint);
}

} // namespace lmxgeo::CustomTerritories
