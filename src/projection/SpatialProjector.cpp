#include <cmath>

#include <lmxmaps/AlbersEqualAreaProjector.h>
#include <lmxmaps/Projectors.h>
#include <lmxmaps/SpatialProjector.h>

#include "ProjectionConstants.h"

using namespace ProjectionConstants;

namespace {

// The length of 400 m along the equator, in degrees of a sphere of radius 6378137 m.
constexpr double kBoundingBoxCutoffMetres = 400.0;

SpatialProjectorPtr Make(std::unique_ptr<const MapProjector> projector, const FieldName& u,
                         const FieldName& v) {
    return SpatialProjectorPtr(new SpatialProjector(std::move(projector), u, v));
}

DataValue SpecialLike(const DataValue& value) {
    return DataValue::Special(value.GetSpecialCode(), value.GetDataType());
}

} // namespace

SpatialProjector::SpatialProjector(std::unique_ptr<const MapProjector> projector, FieldName uField,
                                   FieldName vField)
    : m_uField(std::move(uField)), m_vField(std::move(vField)), m_projector(std::move(projector)) {
    LMX_LOGIC_ASSERT_ID(m_projector != nullptr, 0x00BF554A);
}

SpatialProjector::~SpatialProjector() = default;

SpatialProjectorPtr SpatialProjector::AlbersFactory(const FieldName& u, const FieldName& v,
                                                    const TString& name, double lambda0,
                                                    double phi0, double phi1, double phi2, double a,
                                                    double e) {
    return Make(std::make_unique<AlbersEqualAreaProjector>(name, lambda0, phi0, phi1, phi2, a, e),
                u, v);
}

SpatialProjectorPtr SpatialProjector::CylindricEqualAreaFactory(const FieldName& u,
                                                                const FieldName& v,
                                                                const TString& name, double c) {
    return Make(std::make_unique<CylindricEqualAreaProjector>(name, c), u, v);
}

SpatialProjectorPtr SpatialProjector::IdentityFactory(const FieldName& u, const FieldName& v) {
    return Make(std::make_unique<IdentitySpatialProjector>(), u, v);
}

SpatialProjectorPtr SpatialProjector::MercatorFactory(const FieldName& u, const FieldName& v,
                                                      const TString& name, double eccentricity) {
    return Make(std::make_unique<MercatorProjector>(name, eccentricity), u, v);
}

SpatialProjectorPtr SpatialProjector::PlateCarreeFactory(const FieldName& u, const FieldName& v) {
    return Make(std::make_unique<PlateCarreeProjector>(), u, v);
}

SpatialProjectorPtr SpatialProjector::SmythEqualSurfaceFactory(const FieldName& u,
                                                               const FieldName& v,
                                                               const TString& name) {
    return Make(std::make_unique<SmythEqualSurfaceProjector>(name), u, v);
}

SpatialProjectorPtr SpatialProjector::WebMercatorFactory(const FieldName& u, const FieldName& v,
                                                         const TString& name) {
    return Make(std::make_unique<WebMercatorProjector>(name), u, v);
}

double SpatialProjector::GetX(double u) const {
    return XIsFunctionOfUOnly() ? m_projector->GetX(u, 0.0) : kNaN;
}

double SpatialProjector::GetY(double v) const {
    return YIsFunctionOfVOnly() ? m_projector->GetY(0.0, v) : kNaN;
}

double SpatialProjector::GetInverseOfX(double x) const {
    return m_projector->GetLongitudeInverseOfXY(x, 0.0);
}

double SpatialProjector::GetUnwrappedInverseOfX(double x) const {
    return XIsFunctionOfUOnly() ? m_projector->GetUnwrappedInverseOfXY(x, 0.0).first : kNaN;
}

double SpatialProjector::GetInverseOfY(double y) const {
    return YIsFunctionOfVOnly() ? m_projector->GetLatitudeInverseOfXY(0.0, y) : kNaN;
}

bool SpatialProjector::GetInverseOfXY(double x, double y, double& u, double& v) const {
    const XYPair uv = m_projector->GetInverseOfXY(x, y);
    u = uv.first;
    v = uv.second;
    return !std::isnan(u + v);
}

double SpatialProjector::GetYScaleAtPoint(double x, double y) const {
    return m_projector->GetYScaleAtPoint(x, y);
}

void SpatialProjector::GetXYArray(std::span<const double> u, std::span<const double> v,
                                  std::span<double> x, std::span<double> y) const {
    m_projector->GetXYArray(u, v, x, y);
}

void SpatialProjector::GetInverseOfXYArray(std::span<const double> x, std::span<const double> y,
                                           std::span<double> u, std::span<double> v) const {
    m_projector->GetInverseOfXYArray(x, y, u, v);
}

void SpatialProjector::GetDefaultExtent(bool& valid, DataValue& minX, DataValue& maxX,
                                        DataValue& minY, DataValue& maxY) const {
    const MapExtent extent = m_projector->GetDefaultExtent();
    minX = DataValue::Real(extent.minX);
    maxX = DataValue::Real(extent.maxX);
    minY = DataValue::Real(extent.minY);
    maxY = DataValue::Real(extent.maxY);
    valid = !std::isnan(extent.minX + extent.maxX + extent.minY + extent.maxY);
}

DataValueRect SpatialProjector::GetWorldBounds() const {
    const MapExtent bounds = m_projector->GetWorldBounds();
    return DataValueRect(DataValue::Real(bounds.minX), DataValue::Real(bounds.maxX),
                         DataValue::Real(bounds.minY), DataValue::Real(bounds.maxY));
}

double SpatialProjector::GetBoundingBoxCutoff() const {
    return ProjectionUnitsPerUV() * kBoundingBoxCutoffMetres /
           TMath::DegreesToRadians(kEarthRadius);
}

bool SpatialProjector::IsEqual(const SpatialProjector& other) const {
    return m_uField == other.m_uField && m_vField == other.m_vField &&
           *m_projector == *other.m_projector;
}

DataValue SpatialProjector::GetX(const DataValue& u) const {
    return u.IsSpecial() ? u : DataValue::Real(GetX(u.GetReal()));
}

DataValue SpatialProjector::GetY(const DataValue& v) const {
    return v.IsSpecial() ? v : DataValue::Real(GetY(v.GetReal()));
}

DataValue SpatialProjector::GetInverseOfX(const DataValue& x) const {
    return x.IsSpecial() ? x : DataValue::Real(GetInverseOfX(x.GetReal()));
}

DataValue SpatialProjector::GetInverseOfY(const DataValue& y) const {
    return y.IsSpecial() ? y : DataValue::Real(GetInverseOfY(y.GetReal()));
}

std::pair<DataValue, DataValue> SpatialProjector::GetXY(const DataValue& u,
                                                        const DataValue& v) const {
    if (HaveSpecials(u, v)) {
        return MakeSpecialPair(u, v);
    }
    const XYPair xy = GetXY(u.GetReal(), v.GetReal());
    return {DataValue::Real(xy.first), DataValue::Real(xy.second)};
}

bool SpatialProjector::GetInverseOfXY(const DataValue& x, const DataValue& y, DataValue& u,
                                      DataValue& v) const {
    if (HaveSpecials(x, y)) {
        u = SpecialLike(x);
        v = SpecialLike(y);
        return false;
    }
    double lon = 0.0;
    double lat = 0.0;
    if (GetInverseOfXY(x.GetReal(), y.GetReal(), lon, lat)) {
        u = DataValue::Real(lon);
        v = DataValue::Real(lat);
        return true;
    }
    u = DataValue::Special(SpecialCode::Null, DataType::Real);
    v = DataValue::Special(SpecialCode::Null, DataType::Real);
    return false;
}

double SpatialProjector::GetYScaleAtPoint(const DataValue& x, const DataValue& y) const {
    return HaveSpecials(x, y) ? kNaN : GetYScaleAtPoint(x.GetReal(), y.GetReal());
}

bool SpatialProjector::HaveSpecials(const DataValue& a, const DataValue& b) {
    return a.IsSpecial() || b.IsSpecial();
}

std::pair<DataValue, DataValue> SpatialProjector::MakeSpecialPair(const DataValue& a,
                                                                  const DataValue& b) {
    const std::int32_t codeA = a.GetSpecialCode();
    const std::int32_t codeB = b.GetSpecialCode();
    std::int32_t code = SpecialCode::Null;
    if (codeA == codeB) {
        code = codeA;
    } else if (codeA == SpecialCode::NotSpecial) {
        code = codeB;
    } else if (codeB == SpecialCode::NotSpecial) {
        code = codeA;
    }
    return {DataValue::Special(code, a.GetDataType()), DataValue::Special(code, b.GetDataType())};
}
