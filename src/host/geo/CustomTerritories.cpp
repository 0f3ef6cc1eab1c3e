#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <thread>

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

// The shapes (taken) united into one: several shapes, or the parts of a single multi-shape,
// dissolve into one another.
geos::GeometryPtr UnaryUnion(std::vector<geos::GeometryPtr>::iterator begin,
                             std::vector<geos::GeometryPtr>::iterator end) {
    const GEOSContextHandle_t handle = geos::ThreadContext::Get().Handle();
    std::vector<GEOSGeometry*> members;
    members.reserve(static_cast<std::size_t>(end - begin));
    for (auto it = begin; it != end; ++it) {
        members.push_back(it->get());
    }
    GEOSGeometry* collection = GEOSGeom_createCollection_r(
        handle, GEOS_GEOMETRYCOLLECTION, members.data(), static_cast<unsigned>(members.size()));
    if (collection == nullptr) {
        geos::ThrowGeosError("collecting shapes");
    }
    // The collection owns its members now.
    for (auto it = begin; it != end; ++it) {
        static_cast<void>(it->release());
    }
    const geos::GeometryPtr owned(collection);
    return Checked(GEOSUnaryUnion_r(handle, owned.get()), "uniting shapes");
}

// One group per hardware thread: each group is united by GEOS's cascaded union on its own
// thread, then the groups' results are united.
std::size_t UnionGroupCount() {
    return std::max(1U, std::thread::hardware_concurrency());
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
    // Neighbouring input shapes stay in one group, which keeps the partial results small when
    // the input runs along the map.
    const std::size_t groups = std::min<std::size_t>(count, UnionGroupCount());
    std::vector<geos::GeometryPtr> united(groups);
    m_impl->executor(groups, [&shapes, &united, count, groups](std::size_t group) {
        const std::size_t begin = group * count / groups;
        const std::size_t end = (group + 1) * count / groups;
        united[group] = UnaryUnion(shapes.begin() + static_cast<std::ptrdiff_t>(begin),
                                   shapes.begin() + static_cast<std::ptrdiff_t>(end));
    });
    if (groups == 1) {
        return ToWkt(*united[0]);
    }
    return ToWkt(*UnaryUnion(united.begin(), united.end()));
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
