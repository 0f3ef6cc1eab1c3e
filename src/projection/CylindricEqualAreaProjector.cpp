#include <cmath>
#include <typeinfo>

#include <lmxmaps/Projectors.h>

#include "ProjectionConstants.h"

using namespace ProjectionConstants;

namespace {

constexpr double kHalfPi = TMath::PI / 2.0;
constexpr std::uint32_t kInvalidStandardParallelSite = 0xCEA00001;

double RadiansPerDegree() {
    static const double value = TMath::DegreesToRadians(1.0);
    return value;
}

double DegreesPerRadian() {
    static const double value = TMath::RadiansToDegrees(1.0);
    return value;
}

// Latitudes beyond the poles are held at the poles; NaN stays NaN.
double ClampedLatitudeRadians(double v, double radiansPerDegree) {
    double phi = v * radiansPerDegree;
    if (phi > kHalfPi) {
        phi = kHalfPi;
    } else if (phi < -kHalfPi) {
        phi = -kHalfPi;
    }
    return phi;
}

} // namespace

CylindricEqualAreaProjector::CylindricEqualAreaProjector(TString name, double c)
    : m_name(std::move(name)), m_c(c), m_inverseC(1.0 / c),
      m_halfWorldWidth(c * TMath::PI), m_worldBounds{0.0, 0.0, 0.0, 0.0} {
    // Written so that NaN fails too.
    if (!(c >= 0.0 && c <= 1.0)) {
        throw MapProjectorException(
            MapProjectorException::eInvalidStandardParallel,
            QStringLiteral("The cosine of the standard parallel must lie in [0, 1], not %1.")
                .arg(c),
            TError::AutoGen(QStringLiteral("MapProjectorException"), kInvalidStandardParallelSite));
    }
    m_worldBounds = ProjectWorldCorners();
}

bool CylindricEqualAreaProjector::operator==(const MapProjector& other) const {
    const auto* cea = dynamic_cast<const CylindricEqualAreaProjector*>(&other);
    return cea != nullptr && cea->GetCosStandardParallel() == GetCosStandardParallel();
}

double CylindricEqualAreaProjector::GetX(double u, double) const {
    return u * RadiansPerDegree() * m_c;
}

double CylindricEqualAreaProjector::GetY(double, double v) const {
    return std::sin(ClampedLatitudeRadians(v, RadiansPerDegree())) / m_c;
}

XYPair CylindricEqualAreaProjector::GetXY(double u, double v) const {
    const double y = GetY(u, v);
    return {GetX(u, v), y};
}

double CylindricEqualAreaProjector::GetLatitudeInverseOfXY(double, double y) const {
    return std::asin(m_c * y) * DegreesPerRadian();
}

double CylindricEqualAreaProjector::GetLongitudeInverseOfXY(double x, double) const {
    return x * m_inverseC * DegreesPerRadian();
}

XYPair CylindricEqualAreaProjector::GetInverseOfXY(double x, double y) const {
    return {GetLongitudeInverseOfXY(x, y), GetLatitudeInverseOfXY(x, y)};
}

XYPair CylindricEqualAreaProjector::GetUnwrappedInverseOfXY(double x, double y) const {
    double folded = x;
    const int turns = FoldWholeTurns(folded, -m_halfWorldWidth, m_halfWorldWidth);
    return {GetLongitudeInverseOfXY(folded, y) + kWrapPeriodDegrees * turns,
            GetLatitudeInverseOfXY(folded, y)};
}

double CylindricEqualAreaProjector::GetYScaleAtPoint(double, double y) const {
    return std::cos(std::asin(m_c * y)) / m_c;
}

double CylindricEqualAreaProjector::ProjectionUnitsPerUV() const {
    return TMath::PI / 180.0;
}

double CylindricEqualAreaProjector::UVPerProjectionUnits() const {
    return 180.0 / TMath::PI;
}

MapExtent CylindricEqualAreaProjector::GetDefaultExtent() const {
    return GetWorldBounds();
}

void CylindricEqualAreaProjector::GetXYArray(std::span<const double> u, std::span<const double> v,
                                             std::span<double> x, std::span<double> y) const {
    if (typeid(*this) != typeid(CylindricEqualAreaProjector) &&
        typeid(*this) != typeid(SmythEqualSurfaceProjector)) {
        MapProjector::GetXYArray(u, v, x, y);
        return;
    }
    CheckArrayLengths(u.size(), v.size(), x.size(), y.size());
    const double radiansPerDegree = RadiansPerDegree();
    const double c = m_c;
    for (std::size_t i = 0; i < u.size(); ++i) {
        const double py = std::sin(ClampedLatitudeRadians(v[i], radiansPerDegree)) / c;
        const double px = u[i] * radiansPerDegree * c;
        x[i] = px;
        y[i] = py;
    }
}

void CylindricEqualAreaProjector::GetInverseOfXYArray(std::span<const double> x,
                                                      std::span<const double> y,
                                                      std::span<double> u,
                                                      std::span<double> v) const {
    if (typeid(*this) != typeid(CylindricEqualAreaProjector) &&
        typeid(*this) != typeid(SmythEqualSurfaceProjector)) {
        MapProjector::GetInverseOfXYArray(x, y, u, v);
        return;
    }
    CheckArrayLengths(x.size(), y.size(), u.size(), v.size());
    const double degreesPerRadian = DegreesPerRadian();
    const double c = m_c;
    const double inverseC = m_inverseC;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double lon = x[i] * inverseC * degreesPerRadian;
        const double lat = std::asin(c * y[i]) * degreesPerRadian;
        u[i] = lon;
        v[i] = lat;
    }
}

SmythEqualSurfaceProjector::SmythEqualSurfaceProjector(TString name)
    : CylindricEqualAreaProjector(std::move(name), std::sqrt(2.0 / TMath::PI)) {}
