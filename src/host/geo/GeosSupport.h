#pragma once
// GEOS plumbing shared by the shape operations: one GEOS context per thread, owned geometries,
// WKT reading with the host's rules, and conversion to point, line and ring arrays.

#include <geos_c.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <lmxmaps/host/Shapes.h>

namespace lmxgeo::geos {

// The calling thread's GEOS context with its WKT reader. A context must not be used by two
// threads at once (it records the last error), and making one per call would cost more than
// most calls; GEOS geometries themselves may move between threads.
class ThreadContext {
public:
    static ThreadContext& Get();

    ThreadContext(const ThreadContext&) = delete;
    ThreadContext& operator=(const ThreadContext&) = delete;
    ~ThreadContext();

    GEOSContextHandle_t Handle() const { return m_handle; }
    GEOSWKTReader* Reader() const { return m_reader; }
    // The message of the last GEOS error on this thread.
    const std::string& LastError() const { return m_lastError; }
    void ClearLastError() { m_lastError.clear(); }

private:
    ThreadContext();
    static void OnError(const char* message, void* context);

    GEOSContextHandle_t m_handle;
    GEOSWKTReader* m_reader;
    std::string m_lastError;
};

struct GeometryDeleter {
    void operator()(GEOSGeometry* geometry) const;
};
using GeometryPtr = std::unique_ptr<GEOSGeometry, GeometryDeleter>;

// Text that GEOS cannot read as WKT (as opposed to WKT with a too short path).
class UnreadableWkt : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Reads WKT on the calling thread. Raises UnreadableWkt for text that is not WKT (trailing
// text after the shape included) and std::invalid_argument with "line has less than 2 points"
// or "ring has less than 4 points" for short paths.
GeometryPtr ReadWkt(std::string_view wkt);

// Appends the shape's points, lines and rings (collections flattened, empty members skipped)
// and returns its shape type.
int AppendArrays(const GEOSGeometry& geometry, std::vector<XY>& points, std::vector<Path>& lines,
                 std::vector<Polygon>& polys);

// Raises std::runtime_error naming what failed and GEOS's last message.
[[noreturn]] void ThrowGeosError(const char* operation);

} // namespace lmxgeo::geos
