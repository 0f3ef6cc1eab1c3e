// Geometry preparation beside its references, on the same shapes in the same process:
// - plumping a multipolygon of star-shaped rings (a third across the antimeridian, a third near
//   the poles, a few around a pole) for Web Mercator, in output vertices per second, beside the
//   same split rule run with GeographicLib's geodesic midpoints (one thread: GeographicLib has no
//   parallel form) and beside GEOSDensify on the same rings as lines (straight lines only);
// - generalization beside GEOSSimplify on the same random-walk lines;
// - WKT parsing beside GEOS's WKT reader alone on the same text;
// - union of a grid of adjacent cells on one thread and on two.
// Prints medians and the ratios against their targets.

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/GeodesicLine.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <geos_c.h>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tbb/global_control.h>
#include <vector>

#include <lmxmaps/Geom.h>
#include <lmxmaps/GeometryEngine.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/WktParser.h>
#include <lmxmaps/host/DataValue.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kSeed = 20261206;
constexpr int kRepetitions = 5;

constexpr int kStarRings = 1000;
constexpr int kStarVertices = 160;
constexpr int kPoleRings = 20;
constexpr double kStarInnerRadius = 3.0;
constexpr double kStarOuterRadius = 25.0;
constexpr double kMaxLatitude = 84.0;
// Large enough that the 0.09-degree latitude term sets the tolerance, not the pixels.
constexpr int kDeviceSize = 65536;
constexpr double kLatitudeStep = 0.09;
constexpr int kMaxSplitDepth = 100;

constexpr int kWalkLines = 1000;
constexpr int kWalkVertices = 1000;
constexpr double kWalkStep = 0.01;
constexpr double kGeneralizeTolerance = 5.0; // the generalizer uses a thousandth of it
constexpr double kGeneralizerScale = 0.001;

constexpr int kUnionRows = 15;
constexpr int kUnionColumns = 20;
constexpr int kCellSideVertices = 50;

constexpr double kPlumpOverGeographicLibTarget = 4.0;
constexpr double kPlumpOverGeosDensifyTarget = 0.25;
constexpr double kGeneralizeOverGeosTarget = 2.0;
constexpr double kWktOverGeosTarget = 1.2;

double MedianSeconds(const std::function<void()>& run) {
    std::vector<double> seconds;
    for (int i = 0; i < kRepetitions; ++i) {
        const auto start = Clock::now();
        run();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

double WrapLongitude(double longitude) {
    return longitude - 360.0 * std::floor((longitude + 180.0) / 360.0);
}

// Star-shaped rings in degrees: long spikes so that most segments are split a few times.
std::vector<geom::Path> MakeStarRings(std::mt19937_64& random) {
    std::uniform_real_distribution<double> anyLongitude(-180.0, 180.0);
    std::uniform_real_distribution<double> edgeLongitude(170.0, 190.0);
    std::uniform_real_distribution<double> polarLatitude(62.0, 72.0);
    std::uniform_real_distribution<double> midLatitude(-50.0, 50.0);
    std::vector<geom::Path> rings;
    for (int r = 0; r < kStarRings; ++r) {
        double centreLongitude = anyLongitude(random);
        double centreLatitude = midLatitude(random);
        if (r % 3 == 0) {
            centreLongitude = edgeLongitude(random);
        } else if (r % 3 == 1) {
            centreLatitude = (r % 2 == 0 ? 1.0 : -1.0) * polarLatitude(random);
        }
        geom::Path ring;
        for (int k = 0; k < kStarVertices; ++k) {
            const double angle = 2.0 * M_PI * k / kStarVertices;
            const double radius = k % 2 == 0 ? kStarOuterRadius : kStarInnerRadius;
            const double latitude =
                std::clamp(centreLatitude + radius * std::sin(angle), -kMaxLatitude, kMaxLatitude);
            ring.push_back({WrapLongitude(centreLongitude + radius * std::cos(angle)), latitude});
        }
        ring.push_back(ring.front());
        rings.push_back(std::move(ring));
    }
    // Rings around a pole: one full turn of longitude at a wavy latitude.
    for (int r = 0; r < kPoleRings; ++r) {
        const double sign = r % 2 == 0 ? 1.0 : -1.0;
        geom::Path ring;
        for (int k = 0; k < kStarVertices; ++k) {
            const double longitude = -180.0 + 360.0 * k / kStarVertices;
            ring.push_back(
                {longitude, sign * (75.0 + 5.0 * std::sin(8.0 * M_PI * k / kStarVertices))});
        }
        ring.push_back(ring.front());
        rings.push_back(std::move(ring));
    }
    return rings;
}

std::vector<geom::Path> ToWorld(const std::vector<geom::Path>& paths,
                                const SpatialTransform& forward) {
    std::vector<geom::Path> out;
    for (const geom::Path& path : paths) {
        geom::Path world;
        for (const geom::Point& p : path) {
            const auto [x, y] = forward(p.x, p.y);
            world.push_back({x, y});
        }
        out.push_back(std::move(world));
    }
    return out;
}

// The same rings with their longitudes made continuous, so the reference densifies the shapes
// without having to repair them.
std::vector<geom::Path> Unwrapped(std::vector<geom::Path> paths) {
    for (geom::Path& path : paths) {
        for (std::size_t i = 1; i < path.size(); ++i) {
            while (path[i].x - path[i - 1].x > 0.5) {
                path[i].x -= 1.0;
            }
            while (path[i].x - path[i - 1].x < -0.5) {
                path[i].x += 1.0;
            }
        }
    }
    return paths;
}

double Tolerance(const SpatialTransform& forward) {
    return std::max(2.0 / kDeviceSize,
                    forward(0.0, kLatitudeStep).second - forward(0.0, 0.0).second);
}

double SquaredDistance(const geom::Point& a, const geom::Point& b) {
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

// The split rule of plumping with GeographicLib's geodesic midpoint, serially.
class GeographicLibDensifier {
public:
    GeographicLibDensifier(const SpatialTransform& forward, const SpatialTransform& inverse,
                           double tolerance)
        : m_forward(forward), m_inverse(inverse), m_tolerance(tolerance) {}

    std::size_t Densify(const std::vector<geom::Path>& paths) const {
        std::size_t vertices = 0;
        for (const geom::Path& path : paths) {
            geom::Path out{path.front()};
            for (std::size_t i = 1; i < path.size(); ++i) {
                Split(path[i - 1], path[i], 0, out);
            }
            vertices += out.size();
        }
        return vertices;
    }

private:
    geom::Point Midpoint(const geom::Point& a, const geom::Point& b) const {
        const auto [lonA, latA] = m_inverse(a.x, a.y);
        const auto [lonB, latB] = m_inverse(b.x, b.y);
        const GeographicLib::GeodesicLine line =
            GeographicLib::Geodesic::WGS84().InverseLine(latA, lonA, latB, lonB);
        double latitude = 0.0;
        double longitude = 0.0;
        line.Position(0.5 * line.Distance(), latitude, longitude);
        auto [x, y] = m_forward(longitude, latitude);
        while (x - a.x > 0.5) {
            x -= 1.0;
        }
        while (x - a.x < -0.5) {
            x += 1.0;
        }
        return {x, y};
    }

    void Split(const geom::Point& a, const geom::Point& b, int depth, geom::Path& out) const {
        if (depth > kMaxSplitDepth || SquaredDistance(a, b) <= m_tolerance) {
            out.push_back(b);
            return;
        }
        const geom::Point m = Midpoint(a, b);
        if (IsSplit(a, b, m)) {
            Split(a, m, depth + 1, out);
            Split(m, b, depth + 1, out);
            return;
        }
        out.push_back(b);
    }

    bool IsSplit(const geom::Point& a, const geom::Point& b, const geom::Point& m) const {
        if (SquaredDistance(a, m) >= m_tolerance && SquaredDistance(m, b) >= m_tolerance) {
            return true;
        }
        const geom::Point reverse = Midpoint(b, a);
        const double half = std::sqrt(m_tolerance) * 0.5;
        auto distance = [](const geom::Point& p, const geom::Point& q) {
            return std::sqrt(SquaredDistance(p, q));
        };
        return distance(a, m) >= half && distance(b, m) >= half && distance(b, reverse) >= half &&
               distance(a, reverse) >= half;
    }

    const SpatialTransform& m_forward;
    const SpatialTransform& m_inverse;
    double m_tolerance;
};

std::size_t VertexCount(const geom::ConstGeom& geometry) {
    std::size_t count = geometry.GetPoints().size();
    for (const geom::Path& line : geometry.GetLines()) {
        count += line.size();
    }
    for (const geom::Polygon& polygon : geometry.GetPolys()) {
        for (const geom::Path& ring : polygon) {
            count += ring.size();
        }
    }
    return count;
}

class GeosContext {
public:
    GeosContext() : m_handle(GEOS_init_r()) {}
    ~GeosContext() { GEOS_finish_r(m_handle); }
    GeosContext(const GeosContext&) = delete;
    GeosContext& operator=(const GeosContext&) = delete;
    GEOSContextHandle_t get() const { return m_handle; }

private:
    GEOSContextHandle_t m_handle;
};

using GeosGeometries = std::vector<GEOSGeometry*>;

GeosGeometries ToGeosLines(const GeosContext& geos, const std::vector<geom::Path>& paths) {
    GeosGeometries lines;
    for (const geom::Path& path : paths) {
        GEOSCoordSequence* sequence =
            GEOSCoordSeq_create_r(geos.get(), static_cast<unsigned>(path.size()), 2);
        for (std::size_t i = 0; i < path.size(); ++i) {
            GEOSCoordSeq_setXY_r(geos.get(), sequence, static_cast<unsigned>(i), path[i].x,
                                 path[i].y);
        }
        lines.push_back(GEOSGeom_createLineString_r(geos.get(), sequence));
    }
    return lines;
}

void Destroy(const GeosContext& geos, GeosGeometries& geometries) {
    for (GEOSGeometry* geometry : geometries) {
        GEOSGeom_destroy_r(geos.get(), geometry);
    }
    geometries.clear();
}

std::string Wkt(const std::vector<geom::Path>& rings) {
    std::ostringstream text;
    text.precision(17);
    text << "MULTIPOLYGON (";
    for (std::size_t r = 0; r < rings.size(); ++r) {
        text << (r == 0 ? "((" : ", ((");
        for (std::size_t i = 0; i < rings[r].size(); ++i) {
            text << (i == 0 ? "" : ", ") << rings[r][i].x << ' ' << rings[r][i].y;
        }
        text << "))";
    }
    text << ')';
    return text.str();
}

std::vector<geom::Path> MakeRandomWalks(std::mt19937_64& random) {
    std::uniform_real_distribution<double> start(-100.0, 100.0);
    std::normal_distribution<double> step(0.0, kWalkStep);
    std::vector<geom::Path> lines;
    for (int l = 0; l < kWalkLines; ++l) {
        geom::Path line{{start(random), start(random)}};
        for (int i = 1; i < kWalkVertices; ++i) {
            line.push_back({line.back().x + step(random), line.back().y + step(random)});
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// A grid of adjacent square cells, row by row, like the regions a territory is made of: every
// side carries kCellSideVertices points at the same places as its neighbour's side.
std::vector<DataValue> MakeUnionInput() {
    const auto coordinate = [](int cell, int step) {
        return static_cast<double>(cell * kCellSideVertices + step) / kCellSideVertices;
    };
    std::vector<DataValue> values;
    for (int row = 0; row < kUnionRows; ++row) {
        for (int column = 0; column < kUnionColumns; ++column) {
            geom::Path ring;
            for (int k = 0; k < kCellSideVertices; ++k) {
                ring.push_back({coordinate(column, k), coordinate(row, 0)});
            }
            for (int k = 0; k < kCellSideVertices; ++k) {
                ring.push_back({coordinate(column + 1, 0), coordinate(row, k)});
            }
            for (int k = kCellSideVertices; k > 0; --k) {
                ring.push_back({coordinate(column, k), coordinate(row + 1, 0)});
            }
            for (int k = kCellSideVertices; k > 0; --k) {
                ring.push_back({coordinate(column, 0), coordinate(row, k)});
            }
            ring.push_back(ring.front());
            values.push_back(DataValue::String(QString::fromStdString(Wkt({ring}))));
        }
    }
    return values;
}

void PrintRatio(const char* what, double ratio, double target, bool higherIsBetter) {
    const bool met = higherIsBetter ? ratio >= target : ratio <= target;
    std::printf("%-48s %8.2f   target %s %.2f   %s\n", what, ratio,
                higherIsBetter ? ">=" : "<=", target, met ? "met" : "NOT MET");
}

} // namespace

int main() {
    std::mt19937_64 random(kSeed);
    const SpatialProjectorPtr projector = SpatialProjector::WebMercatorFactory(
        FieldName(QStringLiteral("Longitude")), FieldName(QStringLiteral("Latitude")),
        QStringLiteral("webmercator"));
    const SpatialProjectorTransforms::Forward forward(*projector);
    const SpatialProjectorTransforms::Inverse inverse(*projector);
    const double tolerance = Tolerance(forward);
    GeosContext geos;

    // Plumping.
    const std::vector<geom::Path> degrees = MakeStarRings(random);
    const std::vector<geom::Path> world = ToWorld(degrees, forward);
    std::vector<geom::Polygon> polygons;
    for (const geom::Path& ring : world) {
        polygons.push_back({ring});
    }
    const auto multipolygon = std::make_shared<const geom::ConstGeom>(geom::Geom({}, {}, polygons));
    const std::size_t inputVertices = VertexCount(*multipolygon);
    std::size_t plumpedVertices = 0;
    const double plumpSeconds = MedianSeconds([&] {
        const geom::ConstGeomPtr plumped = geom::PlumpGeometryForProjectionAndDevice(
            multipolygon, forward, inverse, 0.0, 0.0, kDeviceSize);
        plumpedVertices = VertexCount(*plumped);
    });
    const std::vector<geom::Path> continuous = Unwrapped(world);
    const GeographicLibDensifier densifier(forward, inverse, tolerance);
    std::size_t geographicLibVertices = 0;
    const double geographicLibSeconds =
        MedianSeconds([&] { geographicLibVertices = densifier.Densify(continuous); });
    GeosGeometries geosRings = ToGeosLines(geos, continuous);
    std::size_t geosDensifiedVertices = 0;
    const double geosDensifySeconds = MedianSeconds([&] {
        geosDensifiedVertices = 0;
        for (const GEOSGeometry* ring : geosRings) {
            GEOSGeometry* dense = GEOSDensify_r(geos.get(), ring, std::sqrt(tolerance));
            geosDensifiedVertices +=
                static_cast<std::size_t>(GEOSGetNumCoordinates_r(geos.get(), dense));
            GEOSGeom_destroy_r(geos.get(), dense);
        }
    });
    Destroy(geos, geosRings);

    // Generalization.
    const std::vector<geom::Path> walks = MakeRandomWalks(random);
    const geom::ConstGeom walkGeometry(geom::Geom({}, walks, {}));
    std::size_t generalizedVertices = 0;
    const double generalizeSeconds = MedianSeconds([&] {
        geom::Geom out;
        if (!geom::GeneralizeGeometryIfTooDetailed(walkGeometry, out, kGeneralizeTolerance)) {
            throw std::runtime_error("the generalizer kept nothing");
        }
        generalizedVertices = VertexCount(geom::ConstGeom(std::move(out)));
    });
    GeosGeometries geosWalks = ToGeosLines(geos, walks);
    std::size_t geosSimplifiedVertices = 0;
    const double geosSimplifySeconds = MedianSeconds([&] {
        geosSimplifiedVertices = 0;
        for (const GEOSGeometry* line : geosWalks) {
            GEOSGeometry* simple =
                GEOSSimplify_r(geos.get(), line, kGeneralizeTolerance * kGeneralizerScale);
            geosSimplifiedVertices +=
                static_cast<std::size_t>(GEOSGetNumCoordinates_r(geos.get(), simple));
            GEOSGeom_destroy_r(geos.get(), simple);
        }
    });
    Destroy(geos, geosWalks);

    // WKT.
    const std::string wkt = Wkt(degrees);
    const TString wktText = QString::fromStdString(wkt);
    const double wktSeconds = MedianSeconds([&] {
        geom::ConstGeomPtr parsed;
        if (!WktParser::FromString(wktText, parsed)) {
            throw std::runtime_error("the benchmark's WKT did not parse");
        }
    });
    GEOSWKTReader* reader = GEOSWKTReader_create_r(geos.get());
    const double geosWktSeconds = MedianSeconds([&] {
        GEOSGeometry* parsed = GEOSWKTReader_read_r(geos.get(), reader, wkt.c_str());
        if (parsed == nullptr) {
            throw std::runtime_error("GEOS did not read the benchmark's WKT");
        }
        GEOSGeom_destroy_r(geos.get(), parsed);
    });
    GEOSWKTReader_destroy_r(geos.get(), reader);

    // Union on one and two threads.
    const std::vector<DataValue> unionInput = MakeUnionInput();
    auto unionSeconds = [&](int threads) {
        const tbb::global_control limit(tbb::global_control::max_allowed_parallelism,
                                        static_cast<std::size_t>(threads));
        return MedianSeconds([&] {
            std::vector<DataValue> values = unionInput;
            GeometryEngine().Union(values);
        });
    };
    const double unionOneThread = unionSeconds(1);
    const double unionTwoThreads = unionSeconds(2);

    const double plumpRate = plumpedVertices / plumpSeconds;
    const double geographicLibRate = geographicLibVertices / geographicLibSeconds;
    const double geosDensifyRate = geosDensifiedVertices / geosDensifySeconds;
    std::printf("plumping: %zu rings, %zu input vertices, tolerance %.3g (squared world units)\n",
                degrees.size(), inputVertices, tolerance);
    std::printf("  lmxmaps plump          %9zu vertices  %8.1f ms  %7.2f M vertices/s\n",
                plumpedVertices, plumpSeconds * 1e3, plumpRate / 1e6);
    std::printf("  GeographicLib densify  %9zu vertices  %8.1f ms  %7.2f M vertices/s\n",
                geographicLibVertices, geographicLibSeconds * 1e3, geographicLibRate / 1e6);
    std::printf("  GEOSDensify            %9zu vertices  %8.1f ms  %7.2f M vertices/s\n",
                geosDensifiedVertices, geosDensifySeconds * 1e3, geosDensifyRate / 1e6);
    std::printf("generalization: %d lines of %d vertices\n", kWalkLines, kWalkVertices);
    std::printf("  lmxmaps generalize     %9zu kept      %8.1f ms\n", generalizedVertices,
                generalizeSeconds * 1e3);
    std::printf("  GEOSSimplify           %9zu kept      %8.1f ms\n", geosSimplifiedVertices,
                geosSimplifySeconds * 1e3);
    std::printf("WKT: %zu bytes\n", wkt.size());
    std::printf("  lmxmaps WktParser      %8.1f ms\n", wktSeconds * 1e3);
    std::printf("  GEOS WKT reader        %8.1f ms\n", geosWktSeconds * 1e3);
    std::printf("union: a grid of %d x %d adjacent cells of %d vertices\n", kUnionColumns,
                kUnionRows, 4 * kCellSideVertices);
    std::printf("  1 thread               %8.1f ms\n", unionOneThread * 1e3);
    std::printf("  2 threads              %8.1f ms\n", unionTwoThreads * 1e3);
    std::printf("\n");
    PrintRatio("plump / GeographicLib densify (vertices/s)", plumpRate / geographicLibRate,
               kPlumpOverGeographicLibTarget, true);
    PrintRatio("plump / GEOSDensify (vertices/s)", plumpRate / geosDensifyRate,
               kPlumpOverGeosDensifyTarget, true);
    PrintRatio("generalize speed / GEOSSimplify speed", geosSimplifySeconds / generalizeSeconds,
               kGeneralizeOverGeosTarget, true);
    PrintRatio("WKT parse time / GEOS reader time", wktSeconds / geosWktSeconds, kWktOverGeosTarget,
               false);
    std::printf("%-48s %8.2f\n", "union speed-up, 1 -> 2 threads",
                unionOneThread / unionTwoThreads);
    return 0;
}
