#include <typeinfo>

#include <lmxmaps/Projectors.h>

#include "BatchLoop.h"
#include "MercatorFormulas.h"

using namespace MercatorFormulas;

namespace {
constexpr double kMaxLatitude = 86.0;
}

MercatorProjector::MercatorProjector(TString name, double eccentricity)
    : m_name(std::move(name)), m_eccentricity(0.0), m_halfWorldWidth(kEarthRadius * TMath::PI),
      m_maxY(ForwardY(kMaxLatitude, eccentricity)) {}

bool MercatorProjector::operator==(const MapProjector& other) const {
    const auto* mercator = dynamic_cast<const MercatorProjector*>(&other);
    return mercator != nullptr && mercator->GetEccentricity() == GetEccentricity();
}

double MercatorProjector::GetX(double u, double) const {
    return MercatorX(u);
}

double MercatorProjector::GetY(double, double v) const {
    return MercatorY(v, m_maxY);
}

XYPair MercatorProjector::GetXY(double u, double v) const {
    const double y = GetY(u, v);
    return {GetX(u, v), y};
}

double MercatorProjector::GetLatitudeInverseOfXY(double, double y) const {
    return Latitude(y);
}

double MercatorProjector::GetLongitudeInverseOfXY(double x, double) const {
    return FoldLongitude(UnfoldedLongitude(x, m_halfWorldWidth));
}

XYPair MercatorProjector::GetInverseOfXY(double x, double y) const {
    return {FoldLongitude(UnfoldedLongitude(x, m_halfWorldWidth)), Latitude(y)};
}

XYPair MercatorProjector::GetUnwrappedInverseOfXY(double x, double y) const {
    return {UnfoldedLongitude(x, m_halfWorldWidth), Latitude(y)};
}

double MercatorProjector::GetYScaleAtPoint(double x, double y) const {
    return 1.0 / std::cos(TMath::DegreesToRadians(GetLatitudeInverseOfXY(x, y)));
}

double MercatorProjector::ProjectionUnitsPerUV() const {
    return kMetresPerDegree;
}

double MercatorProjector::UVPerProjectionUnits() const {
    return kDegreesPerMetre;
}

MapExtent MercatorProjector::GetDefaultExtent() const {
    return GetWorldBounds();
}

MapExtent MercatorProjector::GetWorldBounds() const {
    // One cache for the class: the first caller's corners serve every instance.
    static const MapExtent bounds = ProjectWorldCorners();
    return bounds;
}

void MercatorProjector::GetXYArray(std::span<const double> u, std::span<const double> v,
                                   std::span<double> x, std::span<double> y) const {
    if (typeid(*this) != typeid(MercatorProjector)) {
        // A subclass may override the per-point operations; honour them.
        MapProjector::GetXYArray(u, v, x, y);
        return;
    }
    CheckArrayLengths(u.size(), v.size(), x.size(), y.size());
    const double maxY = m_maxY;
    if (BatchLoop::AnyOverlapsShifted(u, v, x, y)) {
        // Arrays shifted against each other need the points strictly one after the other.
        MapProjector::GetXYArray(u, v, x, y);
        return;
    }
    ProjectInBlocks(
        u, v, x, y, [](double lon) { return MercatorX(lon); },
        [maxY](double latitude, double tangent) {
            return MercatorYFromTangent(latitude, tangent, maxY);
        });
}

void MercatorProjector::GetInverseOfXYArray(std::span<const double> x, std::span<const double> y,
                                            std::span<double> u, std::span<double> v) const {
    if (typeid(*this) != typeid(MercatorProjector) &&
        typeid(*this) != typeid(WebMercatorProjector)) {
        MapProjector::GetInverseOfXYArray(x, y, u, v);
        return;
    }
    CheckArrayLengths(x.size(), y.size(), u.size(), v.size());
    if (BatchLoop::AnyOverlapsShifted(x, y, u, v)) {
        MapProjector::GetInverseOfXYArray(x, y, u, v);
        return;
    }
    const double halfWidth = m_halfWorldWidth;
    BatchLoop::ForEachBlock(x.size(), [&](std::size_t first, std::size_t count) {
        double expOfY[BatchLoop::kBlockSize];
        for (std::size_t j = 0; j < count; ++j) {
            expOfY[j] = LatitudeExp(y[first + j]);
        }
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t i = first + j;
            const double lon = FoldLongitude(UnfoldedLongitude(x[i], halfWidth));
            v[i] = LatitudeFromExp(expOfY[j]);
            u[i] = lon;
        }
    });
}
