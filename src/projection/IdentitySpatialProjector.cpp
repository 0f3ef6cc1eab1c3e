#include <lmxmaps/Projectors.h>

#include "ProjectionConstants.h"

using namespace ProjectionConstants;

TString IdentitySpatialProjector::GetName() const {
    return QStringLiteral("Identity");
}

bool IdentitySpatialProjector::operator==(const MapProjector& other) const {
    const auto* identity = dynamic_cast<const IdentitySpatialProjector*>(&other);
    return identity != nullptr && identity->GetName() == GetName();
}

double IdentitySpatialProjector::GetX(double u, double) const {
    return WrapU(u);
}

double IdentitySpatialProjector::GetY(double, double v) const {
    return v;
}

XYPair IdentitySpatialProjector::GetXY(double u, double v) const {
    return {WrapU(u), v};
}

double IdentitySpatialProjector::GetLatitudeInverseOfXY(double, double y) const {
    return y;
}

double IdentitySpatialProjector::GetLongitudeInverseOfXY(double x, double) const {
    return x;
}

XYPair IdentitySpatialProjector::GetInverseOfXY(double x, double y) const {
    return {x, y};
}

XYPair IdentitySpatialProjector::GetUnwrappedInverseOfXY(double x, double y) const {
    return {x, y};
}

double IdentitySpatialProjector::GetYScaleAtPoint(double, double) const {
    return 1.0;
}

MapExtent IdentitySpatialProjector::GetDefaultExtent() const {
    return {-180.0, 180.0, -90.0, 90.0};
}

MapExtent IdentitySpatialProjector::GetWorldBounds() const {
    return {kNaN, kNaN, kNaN, kNaN};
}

double IdentitySpatialProjector::WrapU(double u) const {
    return FoldLongitude(u);
}

TString PlateCarreeProjector::GetName() const {
    return QStringLiteral("plate carree");
}

MapExtent PlateCarreeProjector::GetWorldBounds() const {
    return GetDefaultExtent();
}
