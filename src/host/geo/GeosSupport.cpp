#include "GeosSupport.h"

#include <algorithm>
#include <cctype>

namespace lmxgeo::geos {

namespace {

constexpr int kMinLinePoints = 2;
constexpr int kMinRingPoints = 4;
// GEOS refuses a one-point line itself, with this text.
constexpr std::string_view kGeosShortLineMessage = "point array must contain";
constexpr std::string_view kEmptyKeyword = "EMPTY";

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// GEOS stops reading after the shape and ignores what follows; WKT ends with ")" or "EMPTY".
bool EndsLikeWkt(std::string_view wkt) {
    while (!wkt.empty() && IsBlank(wkt.back())) {
        wkt.remove_suffix(1);
    }
    if (!wkt.empty() && wkt.back() == ')') {
        return true;
    }
    if (wkt.size() < kEmptyKeyword.size()) {
        return false;
    }
    const std::string_view tail = wkt.substr(wkt.size() - kEmptyKeyword.size());
    return std::equal(tail.begin(), tail.end(), kEmptyKeyword.begin(), [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == b;
    });
}

bool IsShortRing(GEOSContextHandle_t handle, const GEOSGeometry* ring) {
    const int count = GEOSGeomGetNumPoints_r(handle, ring);
    return count > 0 && count < kMinRingPoints;
}

// GEOS accepts rings of fewer than four points once it closes unclosed rings.
bool HasShortRing(GEOSContextHandle_t handle, const GEOSGeometry* geometry) {
    switch (GEOSGeomTypeId_r(handle, geometry)) {
    case GEOS_LINEARRING:
        return IsShortRing(handle, geometry);
    case GEOS_POLYGON: {
        if (GEOSisEmpty_r(handle, geometry) == 1) {
            return false;
        }
        if (IsShortRing(handle, GEOSGetExteriorRing_r(handle, geometry))) {
            return true;
        }
        const int holes = GEOSGetNumInteriorRings_r(handle, geometry);
        for (int i = 0; i < holes; ++i) {
            if (IsShortRing(handle, GEOSGetInteriorRingN_r(handle, geometry, i))) {
                return true;
            }
        }
        return false;
    }
    case GEOS_MULTIPOLYGON:
    case GEOS_GEOMETRYCOLLECTION: {
        const int count = GEOSGetNumGeometries_r(handle, geometry);
        for (int i = 0; i < count; ++i) {
            if (HasShortRing(handle, GEOSGetGeometryN_r(handle, geometry, i))) {
                return true;
            }
        }
        return false;
    }
    default:
        return false;
    }
}

Path ReadPath(GEOSContextHandle_t handle, const GEOSGeometry* geometry) {
    const GEOSCoordSequence* sequence = GEOSGeom_getCoordSeq_r(handle, geometry);
    unsigned int size = 0;
    if (sequence == nullptr || GEOSCoordSeq_getSize_r(handle, sequence, &size) == 0) {
        ThrowGeosError("reading coordinates");
    }
    std::vector<double> buffer(2 * static_cast<std::size_t>(size));
    if (size > 0 && GEOSCoordSeq_copyToBuffer_r(handle, sequence, buffer.data(), 0, 0) == 0) {
        ThrowGeosError("reading coordinates");
    }
    Path path(size);
    for (std::size_t i = 0; i < path.size(); ++i) {
        path[i] = {buffer[2 * i], buffer[2 * i + 1]};
    }
    return path;
}

Polygon ReadPolygon(GEOSContextHandle_t handle, const GEOSGeometry* geometry) {
    Polygon polygon{ReadPath(handle, GEOSGetExteriorRing_r(handle, geometry))};
    const int holes = GEOSGetNumInteriorRings_r(handle, geometry);
    for (int i = 0; i < holes; ++i) {
        polygon.push_back(ReadPath(handle, GEOSGetInteriorRingN_r(handle, geometry, i)));
    }
    return polygon;
}

void AppendMembers(GEOSContextHandle_t handle, const GEOSGeometry& geometry,
                   std::vector<XY>& points, std::vector<Path>& lines, std::vector<Polygon>& polys) {
    const int count = GEOSGetNumGeometries_r(handle, &geometry);
    for (int i = 0; i < count; ++i) {
        AppendArrays(*GEOSGetGeometryN_r(handle, &geometry, i), points, lines, polys);
    }
}

} // namespace

ThreadContext& ThreadContext::Get() {
    thread_local ThreadContext context;
    return context;
}

ThreadContext::ThreadContext() : m_handle(GEOS_init_r()), m_reader(nullptr) {
    GEOSContext_setErrorMessageHandler_r(m_handle, &ThreadContext::OnError, this);
    m_reader = GEOSWKTReader_create_r(m_handle);
    GEOSWKTReader_setFixStructure_r(m_handle, m_reader, 1);
}

ThreadContext::~ThreadContext() {
    GEOSWKTReader_destroy_r(m_handle, m_reader);
    GEOS_finish_r(m_handle);
}

void ThreadContext::OnError(const char* message, void* context) {
    std::string& lastError = static_cast<ThreadContext*>(context)->m_lastError;
    lastError = message;
    while (!lastError.empty() && IsBlank(lastError.back())) {
        lastError.pop_back();
    }
}

void GeometryDeleter::operator()(GEOSGeometry* geometry) const {
    GEOSGeom_destroy_r(ThreadContext::Get().Handle(), geometry);
}

GeometryPtr ReadWkt(std::string_view wkt) {
    ThreadContext& context = ThreadContext::Get();
    context.ClearLastError();
    GeometryPtr geometry(
        GEOSWKTReader_read_r(context.Handle(), context.Reader(), std::string(wkt).c_str()));
    if (!geometry) {
        if (context.LastError().find(kGeosShortLineMessage) != std::string::npos) {
            throw std::invalid_argument("line has less than " + std::to_string(kMinLinePoints) +
                                        " points");
        }
        throw UnreadableWkt("not WKT: " + context.LastError());
    }
    if (!EndsLikeWkt(wkt)) {
        throw UnreadableWkt("not WKT: text follows the shape");
    }
    if (HasShortRing(context.Handle(), geometry.get())) {
        throw std::invalid_argument("ring has less than " + std::to_string(kMinRingPoints) +
                                    " points");
    }
    return geometry;
}

int AppendArrays(const GEOSGeometry& geometry, std::vector<XY>& points, std::vector<Path>& lines,
                 std::vector<Polygon>& polys) {
    const GEOSContextHandle_t handle = ThreadContext::Get().Handle();
    if (GEOSisEmpty_r(handle, &geometry) == 1) {
        return ShapeType::kEmpty;
    }
    switch (GEOSGeomTypeId_r(handle, &geometry)) {
    case GEOS_POINT: {
        const Path point = ReadPath(handle, &geometry);
        points.insert(points.end(), point.begin(), point.end());
        return ShapeType::kPoint;
    }
    case GEOS_LINESTRING:
    case GEOS_LINEARRING:
        lines.push_back(ReadPath(handle, &geometry));
        return ShapeType::kLine;
    case GEOS_POLYGON:
        polys.push_back(ReadPolygon(handle, &geometry));
        return ShapeType::kPolygon;
    case GEOS_MULTIPOINT:
        AppendMembers(handle, geometry, points, lines, polys);
        return ShapeType::kMultiPoint;
    case GEOS_MULTILINESTRING:
        AppendMembers(handle, geometry, points, lines, polys);
        return ShapeType::kMultiLine;
    case GEOS_MULTIPOLYGON:
        AppendMembers(handle, geometry, points, lines, polys);
        return ShapeType::kMultiPolygon;
    case GEOS_GEOMETRYCOLLECTION:
        AppendMembers(handle, geometry, points, lines, polys);
        return ShapeType::kCollection;
    default:
        return ShapeType::kUnknown;
    }
}

void ThrowGeosError(const char* operation) {
    throw std::runtime_error(std::string(operation) +
                             " failed: " + ThreadContext::Get().LastError());
}

} // namespace lmxgeo::geos
