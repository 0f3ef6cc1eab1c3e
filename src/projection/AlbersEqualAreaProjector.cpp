#include <cmath>
#include <cstdint>
#include <limits>

#include <lmxmaps/AlbersEqualAreaProjector.h>
#include <lmxmaps/NelderMead.h>

#include "ProjectionConstants.h"

using namespace ProjectionConstants;

namespace {

// The inverse searches on this radius (Clarke 1866's semi-major axis) whatever the projector's
// own a; the acceptance check below uses a.
constexpr double kSolverRadius = 6378206.44;
// An inverse whose forward projection misses the target by this much (metres) or more fails.
constexpr double kAcceptanceMetres = 1000.0;
constexpr double kSolverStep = 0.1;
constexpr double kSolverAlpha = 1.0;
constexpr double kSolverRho = 2.0;
constexpr double kSolverGamma = 0.5;
constexpr double kSolverSigma = 0.5;
constexpr std::uint64_t kSolverMaxLoops = 5000;
constexpr double kSolverTolerance = 1e-8;
// 2 pi R / 360 for R = 6378137 m, from the earth's circumference.
const double kEarthCircumference = 2.0 * TMath::PI * kEarthRadius;
const double kAlbersMetresPerDegree = kEarthCircumference / 360.0;
const double kAlbersDegreesPerMetre = 1.0 / kAlbersMetresPerDegree;
constexpr std::uint32_t kEqualStandardParallelsSite = 0xAEA00001;

double Radians(double degrees) {
    return TMath::DegreesToRadians(degrees);
}

double Degrees(double radians) {
    return TMath::RadiansToDegrees(radians);
}

struct QM {
    double q;
    double m2;
};

QM ComputeQM(double phi, double e) {
    const double s = std::sin(phi);
    const double es = e * s;
    const double w = 1.0 - es * es;
    const double q = (1.0 - e * e) * (s / w - std::log((1.0 - es) / (1.0 + es)) / (2.0 * e));
    const double c = std::cos(phi);
    return {q, c * c / w};
}

// Truncation to a 32-bit integer as the processor does it: out-of-range values and NaN give
// the lowest int (defined here instead of undefined behaviour).
std::int32_t TruncateToInt32(double value) {
    if (!(value >= static_cast<double>(std::numeric_limits<std::int32_t>::min()) &&
          value < static_cast<double>(std::numeric_limits<std::int32_t>::max()) + 1.0)) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

// Folds value into [centre - half, centre + half) by whole periods of 2 half.
double Norm(double value, double centre, double half) {
    if (std::fabs(value - centre) < half) {
        return value;
    }
    const double period = 2.0 * half;
    const std::int32_t k = TruncateToInt32(std::floor((value - (centre - half)) / period));
    return value - k * period;
}

struct Cone {
    double C;
    double n;
    double rho0;
};

Cone ComputeCone(double phi0, double phi1, double phi2, double a, double e) {
    const QM at1 = ComputeQM(Radians(phi1), e);
    const QM at2 = ComputeQM(Radians(phi2), e);
    const double q0 = ComputeQM(Radians(phi0), e).q;
    const double n = (at1.m2 - at2.m2) / (at2.q - at1.q);
    const double C = at1.m2 + n * at1.q;
    return {C, n, a * std::sqrt(C - n * q0) / n};
}

// Plane point of (lambda, phi) in radians on a cone.
XYPair ProjectOnCone(const Cone& cone, double a, double e, double lambda0Radians, double lambda,
                     double phi) {
    const double q = ComputeQM(phi, e).q;
    const double theta = cone.n * (lambda - lambda0Radians);
    const double rho = std::sqrt(cone.C - cone.n * q) * a / cone.n;
    return {rho * std::sin(theta), cone.rho0 - rho * std::cos(theta)};
}

// Plane distance between the projection of a (lambda, phi) vertex on the solver's cone and
// the target point.
class InverseAlbersError : public NelderMead::ObjectiveFunction {
public:
    InverseAlbersError(double x, double y, double lambda0, double phi0, double phi1, double phi2,
                       double e)
        : m_x(x), m_y(y), m_e(e), m_lambda0Radians(Radians(lambda0)),
          m_cone(ComputeCone(phi0, phi1, phi2, kSolverRadius, e)) {}

    double operator()(const NelderMead::Vertex& vertex) const override {
        const XYPair xy =
            ProjectOnCone(m_cone, kSolverRadius, m_e, m_lambda0Radians, vertex[0], vertex[1]);
        const double dx = xy.first - m_x;
        const double dy = xy.second - m_y;
        return std::sqrt(dx * dx + dy * dy);
    }

private:
    double m_x;
    double m_y;
    double m_e;
    double m_lambda0Radians;
    Cone m_cone;
};

} // namespace

AlbersEqualAreaProjector::AlbersEqualAreaProjector(TString name, double lambda0, double phi0,
                                                   double phi1, double phi2, double a, double e)
    : m_lambda0(lambda0), m_phi0(phi0), m_phi1(phi1), m_phi2(phi2), m_a(a), m_e(e),
      m_name(std::move(name)) {
    // One parallel given twice makes the cone constant 0 / 0; two opposite ones make it 0 (a
    // cylinder, not a cone): either way every result is NaN or infinite.
    if (phi1 == phi2 || phi1 == -phi2) {
        throw MapProjectorException(
            MapProjectorException::eInvalidStandardParallel,
            QStringLiteral("The two standard parallels of an Albers projection must be neither "
                           "equal nor opposite; they are %1 and %2 degrees.")
                .arg(phi1)
                .arg(phi2),
            TError::AutoGen(QStringLiteral("MapProjectorException"), kEqualStandardParallelsSite));
    }
    const Cone cone = ComputeCone(phi0, phi1, phi2, a, e);
    m_C = cone.C;
    m_n = cone.n;
    m_rho0 = cone.rho0;
}

bool AlbersEqualAreaProjector::operator==(const MapProjector& other) const {
    const auto* albers = dynamic_cast<const AlbersEqualAreaProjector*>(&other);
    return albers != nullptr && albers->m_name == m_name && albers->m_lambda0 == m_lambda0 &&
           albers->m_phi0 == m_phi0 && albers->m_phi1 == m_phi1 && albers->m_phi2 == m_phi2 &&
           albers->m_a == m_a && albers->m_e == m_e;
}

double AlbersEqualAreaProjector::GetX(double u, double v) const {
    return GetXY(u, v).first;
}

double AlbersEqualAreaProjector::GetY(double u, double v) const {
    return GetXY(u, v).second;
}

XYPair AlbersEqualAreaProjector::GetXY(double u, double v) const {
    const double lambda = Radians(Norm(u, m_lambda0, 180.0));
    const double phi = Radians(Norm(v, 0.0, 90.0));
    return ProjectOnCone({m_C, m_n, m_rho0}, m_a, m_e, Radians(m_lambda0), lambda, phi);
}

double AlbersEqualAreaProjector::GetLatitudeInverseOfXY(double x, double y) const {
    return GetInverseOfXY(x, y).second;
}

double AlbersEqualAreaProjector::GetLongitudeInverseOfXY(double x, double y) const {
    return GetInverseOfXY(x, y).first;
}

XYPair AlbersEqualAreaProjector::GetInverseOfXY(double x, double y) const {
    const InverseAlbersError objective(x, y, m_lambda0, m_phi0, m_phi1, m_phi2, m_e);

    // Start from the closed-form inverse on a sphere of the solver's radius.
    const double phi0 = Radians(m_phi0);
    const double phi1 = Radians(m_phi1);
    const double phi2 = Radians(m_phi2);
    const double xs = x / kSolverRadius;
    const double ys = y / kSolverRadius;
    const double ns = (std::sin(phi1) + std::sin(phi2)) / 2.0;
    const double cs = std::cos(phi1) * std::cos(phi1) + 2.0 * ns * std::sin(phi1);
    const double rho0s = std::sqrt(cs - 2.0 * ns * std::sin(phi0)) / ns;
    const double d = rho0s - ys;
    const double rhos = std::sqrt(xs * xs + d * d);
    const double lambda = std::atan(xs / d) / ns + Radians(m_lambda0);
    const double sinPhi =
        std::fmax(-1.0, std::fmin(1.0, (cs - rhos * rhos * ns * ns) / (2.0 * ns)));
    const double phi = std::asin(sinPhi);

    NelderMead::Simplex simplex(NelderMead::Vertex(lambda, phi), kSolverStep, objective,
                                kSolverAlpha, kSolverRho, kSolverGamma, kSolverSigma,
                                kSolverMaxLoops);
    const NelderMead::Vertex solution = simplex.Solve(kSolverTolerance);

    const double longitude = Norm(Degrees(solution[0]), m_lambda0, 180.0);
    const double latitude = Norm(Degrees(solution[1]), 0.0, 90.0);
    const XYPair check = GetXY(longitude, latitude);
    if (std::fabs(check.first - x) < kAcceptanceMetres &&
        std::fabs(check.second - y) < kAcceptanceMetres) {
        return {longitude, latitude};
    }
    return {kNaN, kNaN};
}

XYPair AlbersEqualAreaProjector::GetUnwrappedInverseOfXY(double x, double y) const {
    return GetInverseOfXY(x, y);
}

double AlbersEqualAreaProjector::GetYScaleAtPoint(double x, double y) const {
    const XYPair first = GetInverseOfXY(x, y);
    if (std::isnan(first.first + first.second)) {
        return 1.0;
    }
    const XYPair second = GetInverseOfXY(x, y + 1.0);
    if (std::isnan(second.first + second.second)) {
        return 1.0;
    }
    const double lon1 = Radians(first.first);
    const double lat1 = Radians(first.second);
    const double lon2 = Radians(second.first);
    const double lat2 = Radians(second.second);
    const double sinHalfLat = std::sin((lat2 - lat1) / 2.0);
    const double sinHalfLon = std::sin((lon2 - lon1) / 2.0);
    const double h =
        sinHalfLat * sinHalfLat + std::cos(lat1) * std::cos(lat2) * sinHalfLon * sinHalfLon;
    return std::fabs(2.0 * m_a * std::asin(std::fmin(1.0, std::sqrt(h))));
}

double AlbersEqualAreaProjector::ProjectionUnitsPerUV() const {
    return kAlbersMetresPerDegree;
}

double AlbersEqualAreaProjector::UVPerProjectionUnits() const {
    return kAlbersDegreesPerMetre;
}

MapExtent AlbersEqualAreaProjector::GetDefaultExtent() const {
    return {-180.0, 180.0, -90.0, 90.0};
}

MapExtent AlbersEqualAreaProjector::GetWorldBounds() const {
    return {kNaN, kNaN, kNaN, kNaN};
}
