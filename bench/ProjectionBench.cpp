// Projection throughput: the lmxmaps batch entry points beside PROJ, a plain loop of the same
// formulas, the per-point virtual path and the bare maths-library calls, all on the same points
// in the same process. Before timing, the paths are checked against each other so that each
// row compares the same work; after the runs a table of Mpts/s and ratios is printed.

#include <algorithm>
#include <benchmark/benchmark.h>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <proj.h>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <lmxmaps/MapProjector.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/host/TMath.h>

namespace {

constexpr std::size_t kPointCount = 1'000'000;
// The Albers inverse runs a Nelder-Mead search per point (about 1.5 ms each here); more points
// would push one run of this program past a minute.
constexpr std::size_t kAlbersInversePointCount = 1'000;
constexpr std::uint64_t kSeed = 20240611;

constexpr double kPi = TMath::PI;
constexpr double kRadiansPerDegree = kPi / 180.0;
constexpr double kDegreesPerRadian = 180.0 / kPi;
constexpr double kEarthRadius = 6378137.0;
constexpr double kWebMercatorHalfExtent = kPi * kEarthRadius;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kCeaStandardParallel = 30.0;

constexpr double kAlbersLambda0 = -96.0;
constexpr double kAlbersPhi0 = 23.0;
constexpr double kAlbersPhi1 = 29.5;
constexpr double kAlbersPhi2 = 45.5;
constexpr double kAlbersA = 6378206.4;
constexpr double kAlbersE = 0.0822718542230038;

constexpr double kMinProjRatio = 3.0;
constexpr double kMaxHandLoopRatio = 1.25;

using Span = std::span<double>;
using ConstSpan = std::span<const double>;
using Kernel = std::function<void(ConstSpan, ConstSpan, Span, Span)>;

// Two coordinate arrays of one length: (longitude, latitude) or (x, y).
struct Points {
    std::vector<double> a;
    std::vector<double> b;

    explicit Points(std::size_t n = 0) : a(n), b(n) {}
    std::size_t size() const { return a.size(); }
};

Points RandomPoints(std::size_t n, double lonMin, double lonMax, double latMin, double latMax,
                    std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> lon(lonMin, lonMax);
    std::uniform_real_distribution<double> lat(latMin, latMax);
    Points points(n);
    for (std::size_t i = 0; i < n; ++i) {
        points.a[i] = lon(engine);
        points.b[i] = lat(engine);
    }
    return points;
}

Points Prefix(const Points& points, std::size_t n) {
    Points prefix(n);
    std::copy_n(points.a.begin(), n, prefix.a.begin());
    std::copy_n(points.b.begin(), n, prefix.b.begin());
    return prefix;
}

// Every pairing of the values of as with those of bs.
Points Grid(const std::vector<double>& as, const std::vector<double>& bs) {
    Points grid;
    for (const double a : as) {
        for (const double b : bs) {
            grid.a.push_back(a);
            grid.b.push_back(b);
        }
    }
    return grid;
}

// ---------------------------------------------------------------------------------------------
// The formulas written out as plain loops, with the same folding and clamping so that their
// results match lmxmaps bit for bit. The clamps are compare-and-select rather than std::fmin and
// std::fmax (library calls on x86-64): the same bits for these non-zero limits and quiet NaNs,
// and the faster of the two, so that this loop is a hard baseline.

double Fold(double u) {
    if (u >= -180.0 && u <= 180.0) {
        return u;
    }
    double r = std::fmod(u, 360.0);
    if (r > 180.0) {
        r -= 360.0;
    }
    if (r < -180.0) {
        r += 360.0;
    }
    return r;
}

double SphericalMercatorY(double latitude) {
    if (latitude <= -90.0) {
        return -kInfinity;
    }
    if (latitude >= 90.0) {
        return kInfinity;
    }
    const double phi = latitude * kRadiansPerDegree;
    return std::log(std::tan(kPi * 0.25 + phi * 0.5)) * kEarthRadius;
}

// lmxmaps limits Mercator Y to the Y of latitude 86.
const double kMercatorMaxY = SphericalMercatorY(86.0);

// std::fmin(limit, t) and std::fmax(limit, t) for a limit that is neither NaN nor zero.
double Min(double limit, double t) {
    return t < limit ? t : limit;
}

double Max(double limit, double t) {
    return t > limit ? t : limit;
}

void HandMercatorForward(ConstSpan u, ConstSpan v, Span x, Span y) {
    const double maxY = kMercatorMaxY;
    for (std::size_t i = 0; i < u.size(); ++i) {
        x[i] = Fold(u[i]) * kRadiansPerDegree * kEarthRadius;
        y[i] = Max(-maxY, Min(maxY, SphericalMercatorY(v[i])));
    }
}

void HandWebMercatorForward(ConstSpan u, ConstSpan v, Span x, Span y) {
    const double maxY = kMercatorMaxY;
    const double h = kWebMercatorHalfExtent;
    for (std::size_t i = 0; i < u.size(); ++i) {
        x[i] = Min(h, Max(-h, Fold(u[i]) * kRadiansPerDegree * kEarthRadius));
        const double lat = v[i];
        double py;
        if (lat <= -90.0) {
            py = -h;
        } else if (lat >= 90.0) {
            py = h;
        } else {
            py = Min(h, Max(-h, Max(-maxY, Min(maxY, SphericalMercatorY(lat)))));
        }
        y[i] = py;
    }
}

// Mercator and Web Mercator share the inverse.
void HandMercatorInverse(ConstSpan x, ConstSpan y, Span u, Span v) {
    const double halfWidth = kEarthRadius * kPi;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double px = x[i];
        const double py = y[i];
        double lon;
        if (px == -halfWidth) {
            lon = -180.0;
        } else if (px == halfWidth) {
            lon = 180.0;
        } else {
            lon = px / kEarthRadius * kDegreesPerRadian;
        }
        u[i] = Fold(lon);
        v[i] = (2.0 * std::atan(std::exp(py / kEarthRadius)) - kPi * 0.5) * kDegreesPerRadian;
    }
}

struct HandCea {
    double c;

    void Forward(ConstSpan u, ConstSpan v, Span x, Span y) const {
        for (std::size_t i = 0; i < u.size(); ++i) {
            const double lon = u[i];
            double phi = v[i] * kRadiansPerDegree;
            if (phi > kPi * 0.5) {
                phi = kPi * 0.5;
            } else if (phi < -kPi * 0.5) {
                phi = -kPi * 0.5;
            }
            y[i] = std::sin(phi) / c;
            x[i] = lon * kRadiansPerDegree * c;
        }
    }

    void Inverse(ConstSpan x, ConstSpan y, Span u, Span v) const {
        const double inverseC = 1.0 / c;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double px = x[i];
            const double py = y[i];
            u[i] = px * inverseC * kDegreesPerRadian;
            v[i] = std::asin(c * py) * kDegreesPerRadian;
        }
    }
};

// ---------------------------------------------------------------------------------------------
// Only the maths-library calls each formula needs, with a multiply for the other coordinate,
// each call made in its own pass over a block of points (independent calls overlap in the
// processor; a chain per point does not): the floor for any code that must give the same bits
// as these scalar functions.

constexpr std::size_t kBlock = 128;

template <typename Body>
void ForEachBlock(std::size_t size, Body&& body) {
    for (std::size_t first = 0; first < size; first += kBlock) {
        body(first, std::min(kBlock, size - first));
    }
}

void LibmMercatorForward(ConstSpan u, ConstSpan v, Span x, Span y) {
    ForEachBlock(u.size(), [&](std::size_t first, std::size_t count) {
        double t[kBlock];
        for (std::size_t j = 0; j < count; ++j) {
            t[j] = std::tan(kPi * 0.25 + v[first + j] * kRadiansPerDegree * 0.5);
        }
        for (std::size_t j = 0; j < count; ++j) {
            x[first + j] = u[first + j] * kRadiansPerDegree;
            y[first + j] = std::log(t[j]);
        }
    });
}

void LibmMercatorInverse(ConstSpan x, ConstSpan y, Span u, Span v) {
    ForEachBlock(x.size(), [&](std::size_t first, std::size_t count) {
        double e[kBlock];
        for (std::size_t j = 0; j < count; ++j) {
            e[j] = std::exp(y[first + j] / kEarthRadius);
        }
        for (std::size_t j = 0; j < count; ++j) {
            u[first + j] = x[first + j] * kDegreesPerRadian;
            v[first + j] = std::atan(e[j]);
        }
    });
}

void LibmCeaForward(ConstSpan u, ConstSpan v, Span x, Span y) {
    for (std::size_t i = 0; i < u.size(); ++i) {
        x[i] = u[i] * kRadiansPerDegree;
        y[i] = std::sin(v[i] * kRadiansPerDegree);
    }
}

struct LibmCeaInverse {
    double c;

    void operator()(ConstSpan x, ConstSpan y, Span u, Span v) const {
        for (std::size_t i = 0; i < x.size(); ++i) {
            u[i] = x[i] * kDegreesPerRadian;
            v[i] = std::asin(c * y[i]);
        }
    }
};

// ---------------------------------------------------------------------------------------------
// lmxmaps paths.

void LmxForward(const SpatialProjector& projector, ConstSpan u, ConstSpan v, Span x, Span y) {
    projector.GetXYArray(u, v, x, y);
}

void LmxInverse(const SpatialProjector& projector, ConstSpan x, ConstSpan y, Span u, Span v) {
    projector.GetInverseOfXYArray(x, y, u, v);
}

// What a caller without the batch entry point writes: one virtual call per point.
void VirtualForward(const MapProjector& projector, ConstSpan u, ConstSpan v, Span x, Span y) {
    for (std::size_t i = 0; i < u.size(); ++i) {
        const XYPair xy = projector.GetXY(u[i], v[i]);
        x[i] = xy.first;
        y[i] = xy.second;
    }
}

void VirtualInverse(const MapProjector& projector, ConstSpan x, ConstSpan y, Span u, Span v) {
    for (std::size_t i = 0; i < x.size(); ++i) {
        const XYPair uv = projector.GetInverseOfXY(x[i], y[i]);
        u[i] = uv.first;
        v[i] = uv.second;
    }
}

// ---------------------------------------------------------------------------------------------
// PROJ. proj_trans_generic works in place, so each run first copies the inputs into the output
// arrays (the lmxmaps calls write separate outputs and leave the inputs alone), and that copy is
// timed as part of PROJ. Bare "+proj=..." operations take and return radians where the lmxmaps
// calls use degrees; for those the degree conversion is folded into the copy (and, for the
// inverse, done in one more pass afterwards) and timed as PROJ's too, since a caller with degrees
// must do it. The EPSG:4326 -> EPSG:3857 operation takes degrees itself (its pipeline has its own
// unit conversion step), so it gets a plain copy.

class ProjOperation {
public:
    ProjOperation(PJ_CONTEXT* context, PJ* pj, const char* description)
        : m_pj(pj), m_description(description) {
        if (m_pj == nullptr) {
            std::fprintf(stderr, "PROJ could not create %s: %s\n", description,
                         proj_context_errno_string(context, proj_context_errno(context)));
            std::exit(1);
        }
        m_radiansIn[0] = proj_angular_input(m_pj, PJ_FWD) != 0;
        m_radiansIn[1] = proj_angular_input(m_pj, PJ_INV) != 0;
        m_radiansOut[0] = proj_angular_output(m_pj, PJ_FWD) != 0;
        m_radiansOut[1] = proj_angular_output(m_pj, PJ_INV) != 0;
    }
    ProjOperation(const ProjOperation&) = delete;
    ProjOperation& operator=(const ProjOperation&) = delete;
    ~ProjOperation() { proj_destroy(m_pj); }

    const char* Description() const { return m_description; }
    bool RadiansIn(PJ_DIRECTION direction) const { return m_radiansIn[Index(direction)]; }

    void Forward(ConstSpan u, ConstSpan v, Span x, Span y) const { Run(PJ_FWD, u, v, x, y); }
    void Inverse(ConstSpan x, ConstSpan y, Span u, Span v) const { Run(PJ_INV, x, y, u, v); }

private:
    static int Index(PJ_DIRECTION direction) { return direction == PJ_FWD ? 0 : 1; }

    void Run(PJ_DIRECTION direction, ConstSpan a, ConstSpan b, Span outA, Span outB) const {
        const std::size_t n = a.size();
        if (m_radiansIn[Index(direction)]) {
            for (std::size_t i = 0; i < n; ++i) {
                outA[i] = a[i] * kRadiansPerDegree;
                outB[i] = b[i] * kRadiansPerDegree;
            }
        } else {
            std::copy(a.begin(), a.end(), outA.begin());
            std::copy(b.begin(), b.end(), outB.begin());
        }
        proj_trans_generic(m_pj, direction, outA.data(), sizeof(double), n, outB.data(),
                           sizeof(double), n, nullptr, 0, 0, nullptr, 0, 0);
        if (m_radiansOut[Index(direction)]) {
            for (std::size_t i = 0; i < n; ++i) {
                outA[i] *= kDegreesPerRadian;
                outB[i] *= kDegreesPerRadian;
            }
        }
    }

    PJ* m_pj;
    const char* m_description;
    bool m_radiansIn[2] = {false, false};
    bool m_radiansOut[2] = {false, false};
};

// ---------------------------------------------------------------------------------------------
// Checks run once before timing.

bool g_checksFailed = false;

std::size_t CountBitDifferences(ConstSpan expected, ConstSpan actual) {
    std::size_t differences = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        differences +=
            std::bit_cast<std::uint64_t>(expected[i]) != std::bit_cast<std::uint64_t>(actual[i]);
    }
    return differences;
}

std::size_t CountBitDifferences(const Points& expected, const Points& actual) {
    return CountBitDifferences(expected.a, actual.a) + CountBitDifferences(expected.b, actual.b);
}

// Largest absolute difference; NaN anywhere counts as infinite.
double MaxAbsDifference(const Points& expected, const Points& actual) {
    double worst = 0.0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const double da = std::fabs(expected.a[i] - actual.a[i]);
        const double db = std::fabs(expected.b[i] - actual.b[i]);
        worst = std::max({worst, std::isnan(da) ? kInfinity : da, std::isnan(db) ? kInfinity : db});
    }
    return worst;
}

void ReportIdentical(const std::string& what, std::size_t differences, std::size_t points) {
    if (differences == 0) {
        std::printf("  %-58s bit-identical (%zu points)\n", what.c_str(), points);
        return;
    }
    std::printf("  %-58s %zu coordinates differ  <-- FAILED\n", what.c_str(), differences);
    g_checksFailed = true;
}

void CheckIdentical(const std::string& what, const Points& expected, const Points& actual) {
    ReportIdentical(what, CountBitDifferences(expected, actual), expected.size());
}

// Runs kernel with each output array one element past its input array in one buffer, so that
// every output overwrites the next point's input: only a point-by-point loop gets this right.
std::vector<double> RunShifted(const Kernel& kernel, const Points& input) {
    const std::size_t n = input.size();
    std::vector<double> buffer(2 * n + 2);
    std::copy(input.a.begin(), input.a.end(), buffer.begin());
    std::copy(input.b.begin(), input.b.end(), buffer.begin() + n + 1);
    double* data = buffer.data();
    kernel(ConstSpan(data, n), ConstSpan(data + n + 1, n), Span(data + 1, n),
           Span(data + n + 2, n));
    return buffer;
}

void CheckShifted(const std::string& what, const Kernel& reference, const Kernel& kernel,
                  const Points& input) {
    const std::vector<double> expected = RunShifted(reference, input);
    const std::vector<double> actual = RunShifted(kernel, input);
    ReportIdentical(what, CountBitDifferences(expected, actual), input.size());
}

void CheckClose(const std::string& what, const Points& expected, const Points& actual,
                double tolerance, const char* unit) {
    const double worst = MaxAbsDifference(expected, actual);
    const bool ok = worst <= tolerance;
    std::printf("  %-58s max |diff| %.3g %s (limit %.3g)%s\n", what.c_str(), worst, unit, tolerance,
                ok ? "" : "  <-- FAILED");
    g_checksFailed = g_checksFailed || !ok;
}

// The batch entry points against the per-point operations on special and boundary values,
// also with the outputs written over the inputs.
void CheckEdgeCases(const SpatialProjector& projector, const Kernel& handForward,
                    const Kernel& handInverse) {
    const double sNaN = std::numeric_limits<double>::signaling_NaN();
    const double tiny = std::numeric_limits<double>::denorm_min();
    const double h = kWebMercatorHalfExtent;
    std::vector<double> lons = {kNaN, -kNaN, sNaN, kInfinity, -kInfinity, 0.0, -0.0, tiny};
    std::vector<double> lats = lons;
    for (const double lon : {45.0, 179.99999999999997, 180.0, std::nextafter(180.0, 200.0), 190.0,
                             360.0, 540.0, 1e300}) {
        lons.push_back(lon);
        lons.push_back(-lon);
    }
    for (const double lat :
         {30.0, 85.0, std::nextafter(86.0, 0.0), 86.0, std::nextafter(86.0, 90.0),
          89.99999999999999, 90.0, std::nextafter(90.0, 100.0), 180.0, 1e300}) {
        lats.push_back(lat);
        lats.push_back(-lat);
    }
    std::vector<double> planes = {kNaN, -kNaN, sNaN, kInfinity, -kInfinity, 0.0, -0.0, tiny};
    for (const double p : {h, std::nextafter(h, 0.0), std::nextafter(h, 3e7), kMercatorMaxY, 1e7,
                           3e7, 1e300, 1.0, std::nextafter(1.0, 2.0), 0.5, 2.0, kPi}) {
        planes.push_back(p);
        planes.push_back(-p);
    }
    const MapProjector& mp = projector.GetProjector();
    const Points forwardIn = Grid(lons, lats);
    const Points inverseIn = Grid(planes, planes);
    Points expected(forwardIn.size());
    Points actual(forwardIn.size());
    VirtualForward(mp, forwardIn.a, forwardIn.b, expected.a, expected.b);
    LmxForward(projector, forwardIn.a, forwardIn.b, actual.a, actual.b);
    CheckIdentical("edge values, forward: lmxmaps batch vs per-point", expected, actual);
    actual = forwardIn;
    LmxForward(projector, actual.a, actual.b, actual.a, actual.b);
    CheckIdentical("edge values, forward in place: lmxmaps batch vs per-point", expected, actual);
    if (handForward) {
        handForward(forwardIn.a, forwardIn.b, actual.a, actual.b);
        CheckIdentical("edge values, forward: hand loop vs per-point", expected, actual);
    }
    expected = Points(inverseIn.size());
    actual = Points(inverseIn.size());
    VirtualInverse(mp, inverseIn.a, inverseIn.b, expected.a, expected.b);
    LmxInverse(projector, inverseIn.a, inverseIn.b, actual.a, actual.b);
    CheckIdentical("edge values, inverse: lmxmaps batch vs per-point", expected, actual);
    actual = inverseIn;
    LmxInverse(projector, actual.a, actual.b, actual.a, actual.b);
    CheckIdentical("edge values, inverse in place: lmxmaps batch vs per-point", expected, actual);
    if (handInverse) {
        handInverse(inverseIn.a, inverseIn.b, actual.a, actual.b);
        CheckIdentical("edge values, inverse: hand loop vs per-point", expected, actual);
    }
    const SpatialProjector* sp = &projector;
    CheckShifted(
        "edge values, forward, shifted arrays: batch vs per-point",
        [&mp](ConstSpan u, ConstSpan v, Span x, Span y) { VirtualForward(mp, u, v, x, y); },
        [sp](ConstSpan u, ConstSpan v, Span x, Span y) { LmxForward(*sp, u, v, x, y); }, forwardIn);
    CheckShifted(
        "edge values, inverse, shifted arrays: batch vs per-point",
        [&mp](ConstSpan x, ConstSpan y, Span u, Span v) { VirtualInverse(mp, x, y, u, v); },
        [sp](ConstSpan x, ConstSpan y, Span u, Span v) { LmxInverse(*sp, x, y, u, v); }, inverseIn);
}

// ---------------------------------------------------------------------------------------------
// Benchmarks and the table of results.

enum Method { kLmxBatch, kProj, kHandLoop, kVirtual, kLibm, kMethodCount };
constexpr const char* kMethodNames[kMethodCount] = {"lmxmaps_batch", "PROJ", "hand_loop",
                                                    "per_point_virtual", "libm_only"};

struct Row {
    std::string projection;
    std::string direction;
    std::size_t points = 0;
    bool hasTargets = false;
    std::string names[kMethodCount];
};

std::vector<Row> g_rows;

// repetitions: 0 for the command line's count.
void Register(Row& row, Method method, const Points& input, Points& output, Kernel kernel,
              int repetitions = 0) {
    const std::string name = row.projection + "/" + row.direction + "/" + kMethodNames[method];
    row.names[method] = name;
    const std::size_t n = input.size();
    auto* benchmark = benchmark::RegisterBenchmark(
        name.c_str(), [&input, &output, kernel = std::move(kernel), n](benchmark::State& state) {
            const ConstSpan a(input.a);
            const ConstSpan b(input.b);
            const Span outA(output.a);
            const Span outB(output.b);
            for (auto _ : state) {
                kernel(a, b, outA, outB);
                benchmark::DoNotOptimize(outA.data());
                benchmark::DoNotOptimize(outB.data());
                benchmark::ClobberMemory();
            }
            state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
        });
    benchmark->Unit(benchmark::kMillisecond);
    if (repetitions > 0) {
        benchmark->Repetitions(repetitions);
    }
}

// Keeps items_per_second of every run while the console reporter prints as usual.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const auto rate = run.counters.find("items_per_second");
            if (rate == run.counters.end()) {
                continue;
            }
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration) {
                m_iterationRates[name].push_back(rate->second.value);
            } else if (run.aggregate_name == "median") {
                m_medianRates[name] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Points per second of a benchmark (the median over repetitions); NaN when it did not run.
    double Rate(const std::string& name) const {
        if (const auto median = m_medianRates.find(name); median != m_medianRates.end()) {
            return median->second;
        }
        const auto found = m_iterationRates.find(name);
        if (found == m_iterationRates.end() || found->second.empty()) {
            return kNaN;
        }
        std::vector<double> rates = found->second;
        std::sort(rates.begin(), rates.end());
        const std::size_t mid = rates.size() / 2;
        return rates.size() % 2 == 1 ? rates[mid] : 0.5 * (rates[mid - 1] + rates[mid]);
    }

private:
    std::map<std::string, std::vector<double>> m_iterationRates;
    std::map<std::string, double> m_medianRates;
};

std::string Cell(double value, const char* format) {
    if (std::isnan(value)) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Mpts/s with two decimals, or three significant digits for the slow Albers inverse.
std::string RateCell(double mpts) {
    return Cell(mpts, mpts < 1.0 ? "%.3g" : "%.2f");
}

void PrintTable(const CollectingReporter& reporter) {
    std::printf("\nProjection throughput in Mpts/s from CPU time (median over repetitions)\n");
    std::printf("%-11s %-7s %7s %9s %8s %9s %9s %9s %9s %9s %9s %9s  %s\n", "projection", "dir",
                "points", "lmx batch", "PROJ", "hand loop", "per-point", "libm only", "lmx/PROJ",
                "hand/lmx", "lmx/point", "libm/PROJ", "targets");
    bool allMet = true;
    for (const Row& row : g_rows) {
        double mpts[kMethodCount];
        for (int m = 0; m < kMethodCount; ++m) {
            mpts[m] = row.names[m].empty() ? kNaN : reporter.Rate(row.names[m]) / 1e6;
        }
        const double lmxVsProj = mpts[kLmxBatch] / mpts[kProj];
        const double handVsLmx = mpts[kHandLoop] / mpts[kLmxBatch];
        const double libmVsProj = mpts[kLibm] / mpts[kProj];
        const double lmxVsVirtual = mpts[kLmxBatch] / mpts[kVirtual];
        std::string verdict = "informational";
        if (row.hasTargets) {
            if (std::isnan(lmxVsProj) || std::isnan(handVsLmx)) {
                verdict = "not measured";
                allMet = false;
            } else {
                const bool projMet = lmxVsProj >= kMinProjRatio;
                const bool handMet = handVsLmx <= kMaxHandLoopRatio;
                allMet = allMet && projMet && handMet;
                verdict = std::string(projMet ? "PROJ met" : "PROJ MISSED") + ", " +
                          (handMet ? "hand met" : "hand MISSED");
            }
        }
        std::printf("%-11s %-7s %7zu %9s %8s %9s %9s %9s %9s %9s %9s %9s  %s\n",
                    row.projection.c_str(), row.direction.c_str(), row.points,
                    RateCell(mpts[kLmxBatch]).c_str(), RateCell(mpts[kProj]).c_str(),
                    RateCell(mpts[kHandLoop]).c_str(), RateCell(mpts[kVirtual]).c_str(),
                    RateCell(mpts[kLibm]).c_str(), Cell(lmxVsProj, "%.3g").c_str(),
                    Cell(handVsLmx, "%.3f").c_str(), Cell(lmxVsVirtual, "%.3f").c_str(),
                    Cell(libmVsProj, "%.3g").c_str(), verdict.c_str());
    }
    std::printf(
        "Targets (WebMercator, Mercator, cea): lmx/PROJ >= %.2f, and hand/lmx <= %.2f (the "
        "lmxmaps\n"
        "batch within %.2fx of the plain hand-written loop).\n"
        "lmx/point: what the batch entry point gains over virtual per-point calls in a loop.\n"
        "libm only: the maths-library calls alone; libm/PROJ is about the most lmx/PROJ can be\n"
        "while results stay bit-identical to the scalar maths library.\n"
        "Albers is informational: its lmxmaps batch is the per-point loop, and its inverse a\n"
        "Nelder-Mead search timed on %zu points beside PROJ's inverse on the same points.\n",
        kMinProjRatio, kMaxHandLoopRatio, kMaxHandLoopRatio, kAlbersInversePointCount);
    std::printf("All targets %s.\n", allMet ? "met" : "NOT met");
}

// ---------------------------------------------------------------------------------------------
// One projection measured forward and inverse.

struct Case {
    std::string name;
    SpatialProjectorPtr projector;
    ProjOperation* proj;
    Kernel handForward;
    Kernel handInverse;
    Kernel libmForward;
    Kernel libmInverse;
    double forwardTolerance;
    const char* forwardUnit;
};

// Per-case arrays; they live until the end of main because the benchmarks refer to them.
struct CaseData {
    Points inverseInput; // lmxmaps batch forward results
    Points forwardOutput;
    Points inverseOutput;
};

void SetUpCase(const Case& c, const Points& lonLat, CaseData& data) {
    const SpatialProjector& sp = *c.projector;
    const MapProjector& mp = sp.GetProjector();
    const std::size_t n = lonLat.size();
    data.inverseInput = Points(n);
    data.forwardOutput = Points(n);
    data.inverseOutput = Points(n);
    Points& forward = data.inverseInput;
    LmxForward(sp, lonLat.a, lonLat.b, forward.a, forward.b);

    std::printf("%s:\n", c.name.c_str());
    Points other(n);
    VirtualForward(mp, lonLat.a, lonLat.b, other.a, other.b);
    CheckIdentical("forward: lmxmaps batch vs per-point virtual", forward, other);
    c.handForward(lonLat.a, lonLat.b, other.a, other.b);
    CheckIdentical("forward: hand loop vs lmxmaps batch", forward, other);
    c.proj->Forward(lonLat.a, lonLat.b, other.a, other.b);
    CheckClose("forward: PROJ vs lmxmaps batch", forward, other, c.forwardTolerance, c.forwardUnit);

    Points inverse(n);
    LmxInverse(sp, forward.a, forward.b, inverse.a, inverse.b);
    VirtualInverse(mp, forward.a, forward.b, other.a, other.b);
    CheckIdentical("inverse: lmxmaps batch vs per-point virtual", inverse, other);
    c.handInverse(forward.a, forward.b, other.a, other.b);
    CheckIdentical("inverse: hand loop vs lmxmaps batch", inverse, other);
    c.proj->Inverse(forward.a, forward.b, other.a, other.b);
    CheckClose("inverse: PROJ vs lmxmaps batch", inverse, other, 1e-9, "deg");
    CheckClose("inverse: lmxmaps round trip", lonLat, inverse, 1e-9, "deg");
    CheckEdgeCases(sp, c.handForward, c.handInverse);
}

void RegisterCase(const Case& c, const Points& lonLat, CaseData& data) {
    const SpatialProjector* sp = c.projector.get();
    const MapProjector* mp = &sp->GetProjector();
    ProjOperation* proj = c.proj;

    Row& forward = g_rows.emplace_back();
    forward.projection = c.name;
    forward.direction = "forward";
    forward.points = lonLat.size();
    forward.hasTargets = true;
    Register(forward, kLmxBatch, lonLat, data.forwardOutput,
             [sp](ConstSpan u, ConstSpan v, Span x, Span y) { LmxForward(*sp, u, v, x, y); });
    Register(forward, kProj, lonLat, data.forwardOutput,
             [proj](ConstSpan u, ConstSpan v, Span x, Span y) { proj->Forward(u, v, x, y); });
    Register(forward, kHandLoop, lonLat, data.forwardOutput, c.handForward);
    Register(forward, kVirtual, lonLat, data.forwardOutput,
             [mp](ConstSpan u, ConstSpan v, Span x, Span y) { VirtualForward(*mp, u, v, x, y); });
    Register(forward, kLibm, lonLat, data.forwardOutput, c.libmForward);

    Row& inverse = g_rows.emplace_back();
    inverse.projection = c.name;
    inverse.direction = "inverse";
    inverse.points = data.inverseInput.size();
    inverse.hasTargets = true;
    Register(inverse, kLmxBatch, data.inverseInput, data.inverseOutput,
             [sp](ConstSpan x, ConstSpan y, Span u, Span v) { LmxInverse(*sp, x, y, u, v); });
    Register(inverse, kProj, data.inverseInput, data.inverseOutput,
             [proj](ConstSpan x, ConstSpan y, Span u, Span v) { proj->Inverse(x, y, u, v); });
    Register(inverse, kHandLoop, data.inverseInput, data.inverseOutput, c.handInverse);
    Register(inverse, kVirtual, data.inverseInput, data.inverseOutput,
             [mp](ConstSpan x, ConstSpan y, Span u, Span v) { VirtualInverse(*mp, x, y, u, v); });
    Register(inverse, kLibm, data.inverseInput, data.inverseOutput, c.libmInverse);
}

} // namespace

int main(int argc, char** argv) {
    // Defaults for a machine shared with other work: short repetitions run in random order, so
    // that a busy spell spreads over all the paths, and medians in the table. Flags given on
    // the command line come after these and win.
    static char repetitions[] = "--benchmark_repetitions=9";
    static char interleaving[] = "--benchmark_enable_random_interleaving=true";
    static char minTime[] = "--benchmark_min_time=0.05";
    static char aggregatesOnly[] = "--benchmark_display_aggregates_only=true";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, {repetitions, interleaving, minTime, aggregatesOnly});
    int argCount = static_cast<int>(args.size());
    benchmark::Initialize(&argCount, args.data());
    if (benchmark::ReportUnrecognizedArguments(argCount, args.data())) {
        return 1;
    }

    // Declared first so that it outlives every PJ made in it.
    const std::unique_ptr<PJ_CONTEXT, decltype(&proj_context_destroy)> contextOwner(
        proj_context_create(), &proj_context_destroy);
    PJ_CONTEXT* context = contextOwner.get();
    const double c = std::cos(kCeaStandardParallel * kRadiansPerDegree);

    // Web Mercator as a GIS user gets it: the EPSG operation in lon/lat order, in degrees.
    PJ* webCrs = proj_create_crs_to_crs(context, "EPSG:4326", "EPSG:3857", nullptr);
    PJ* webNormalized = webCrs ? proj_normalize_for_visualization(context, webCrs) : nullptr;
    proj_destroy(webCrs);
    ProjOperation projWeb(context, webNormalized, "EPSG:4326 -> EPSG:3857");
    ProjOperation projMerc(context, proj_create(context, "+proj=merc +R=6378137"),
                           "+proj=merc +R=6378137");
    const std::string ceaDefinition =
        "+proj=cea +R=1 +lat_ts=" + std::to_string(kCeaStandardParallel);
    ProjOperation projCea(context, proj_create(context, ceaDefinition.c_str()),
                          ceaDefinition.c_str());
    const std::string albersDefinition =
        "+proj=aea +a=6378206.4 +e=0.0822718542230038 +lon_0=-96 +lat_0=23 +lat_1=29.5 "
        "+lat_2=45.5";
    ProjOperation projAlbers(context, proj_create(context, albersDefinition.c_str()),
                             albersDefinition.c_str());

    const FieldName uField(QStringLiteral("lon"));
    const FieldName vField(QStringLiteral("lat"));
    const HandCea handCea{c};
    const Case cases[] = {
        {"WebMercator",
         SpatialProjector::WebMercatorFactory(uField, vField, QStringLiteral("web mercator")),
         &projWeb, HandWebMercatorForward, HandMercatorInverse, LibmMercatorForward,
         LibmMercatorInverse, 1e-6, "m"},
        {"Mercator",
         SpatialProjector::MercatorFactory(uField, vField, QStringLiteral("mercator"), 0.0),
         &projMerc, HandMercatorForward, HandMercatorInverse, LibmMercatorForward,
         LibmMercatorInverse, 1e-6, "m"},
        {"cea",
         SpatialProjector::CylindricEqualAreaFactory(uField, vField, QStringLiteral("cea"), c),
         &projCea,
         [handCea](ConstSpan u, ConstSpan v, Span x, Span y) { handCea.Forward(u, v, x, y); },
         [handCea](ConstSpan x, ConstSpan y, Span u, Span v) { handCea.Inverse(x, y, u, v); },
         LibmCeaForward, LibmCeaInverse{c}, 1e-12, "unit"},
    };

    const Points world = RandomPoints(kPointCount, -180.0, 180.0, -85.0, 85.0, kSeed);
    std::printf("Checks before timing (the timed paths must compute the same thing)\n");
    std::printf("PROJ takes radians (forward/inverse): %s %d/%d, %s %d/%d, %s %d/%d, %s %d/%d\n",
                projWeb.Description(), projWeb.RadiansIn(PJ_FWD), projWeb.RadiansIn(PJ_INV),
                projMerc.Description(), projMerc.RadiansIn(PJ_FWD), projMerc.RadiansIn(PJ_INV),
                projCea.Description(), projCea.RadiansIn(PJ_FWD), projCea.RadiansIn(PJ_INV),
                projAlbers.Description(), projAlbers.RadiansIn(PJ_FWD),
                projAlbers.RadiansIn(PJ_INV));
    std::printf("%zu random points, longitudes in [-180, 180], latitudes in [-85, 85]\n",
                kPointCount);
    std::vector<CaseData> caseData(std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SetUpCase(cases[i], world, caseData[i]);
    }

    // The batch loops have a second path for Mercator limits that fmin/fmax treat specially
    // (NaN from a bad eccentricity) and see negative limits for others; both must match too.
    for (const double e : {0.08181919084262149, 1.001, 1.5}) {
        const SpatialProjectorPtr mercator =
            SpatialProjector::MercatorFactory(uField, vField, QStringLiteral("mercator e"), e);
        std::printf("Mercator with eccentricity %g:\n", e);
        CheckEdgeCases(*mercator, {}, {});
    }
    {
        const SpatialProjectorPtr smyth =
            SpatialProjector::SmythEqualSurfaceFactory(uField, vField, QStringLiteral("smyth"));
        std::printf("Smyth equal surface:\n");
        CheckEdgeCases(*smyth, {}, {});
    }

    // Albers over the conterminous United States.
    const SpatialProjectorPtr albers =
        SpatialProjector::AlbersFactory(uField, vField, QStringLiteral("albers"), kAlbersLambda0,
                                        kAlbersPhi0, kAlbersPhi1, kAlbersPhi2, kAlbersA, kAlbersE);
    const Points us = RandomPoints(kPointCount, -125.0, -67.0, 25.0, 49.0, kSeed + 1);
    Points albersForward(kPointCount);
    Points albersForwardOutput(kPointCount);
    LmxForward(*albers, us.a, us.b, albersForward.a, albersForward.b);
    std::printf("Albers, %zu points forward and %zu inverse, longitudes in [-125, -67], latitudes "
                "in [25, 49]:\n",
                kPointCount, kAlbersInversePointCount);
    {
        Points other(kPointCount);
        projAlbers.Forward(us.a, us.b, other.a, other.b);
        CheckClose("forward: PROJ vs lmxmaps batch", albersForward, other, 1e-6, "m");
    }
    const Points albersInverseInput = Prefix(albersForward, kAlbersInversePointCount);
    const Points usPrefix = Prefix(us, kAlbersInversePointCount);
    Points albersInverseOutput(kAlbersInversePointCount);
    {
        Points lmx(kAlbersInversePointCount);
        Points other(kAlbersInversePointCount);
        LmxInverse(*albers, albersInverseInput.a, albersInverseInput.b, lmx.a, lmx.b);
        projAlbers.Inverse(albersInverseInput.a, albersInverseInput.b, other.a, other.b);
        // The search stops at a tolerance and runs on a slightly different radius, so it only
        // agrees with the closed-form inverse to a fraction of a metre.
        CheckClose("inverse: lmxmaps batch vs PROJ", other, lmx, 1e-5, "deg");
        CheckClose("inverse: PROJ round trip", usPrefix, other, 1e-9, "deg");
    }

    if (g_checksFailed) {
        std::printf("A check failed; the timings would not compare like with like.\n");
        return 1;
    }
    std::printf("\n");

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        RegisterCase(cases[i], world, caseData[i]);
    }
    {
        const SpatialProjector* sp = albers.get();
        const MapProjector* mp = &sp->GetProjector();
        ProjOperation* proj = &projAlbers;
        Row& forward = g_rows.emplace_back();
        forward.projection = "Albers";
        forward.direction = "forward";
        forward.points = kPointCount;
        Register(forward, kLmxBatch, us, albersForwardOutput,
                 [sp](ConstSpan u, ConstSpan v, Span x, Span y) { LmxForward(*sp, u, v, x, y); });
        Register(forward, kProj, us, albersForwardOutput,
                 [proj](ConstSpan u, ConstSpan v, Span x, Span y) { proj->Forward(u, v, x, y); });
        Register(
            forward, kVirtual, us, albersForwardOutput,
            [mp](ConstSpan u, ConstSpan v, Span x, Span y) { VirtualForward(*mp, u, v, x, y); });
        Row& inverse = g_rows.emplace_back();
        inverse.projection = "Albers";
        inverse.direction = "inverse";
        inverse.points = kAlbersInversePointCount;
        // One run of this takes over a second; once is enough for a ratio of about 1e-4.
        Register(
            inverse, kLmxBatch, albersInverseInput, albersInverseOutput,
            [sp](ConstSpan x, ConstSpan y, Span u, Span v) { LmxInverse(*sp, x, y, u, v); }, 1);
        Register(inverse, kProj, albersInverseInput, albersInverseOutput,
                 [proj](ConstSpan x, ConstSpan y, Span u, Span v) { proj->Inverse(x, y, u, v); });
    }

    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTable(reporter);
    benchmark::Shutdown();
    return 0;
}
