#pragma once
// SpatialProjector: a MapProjector tied to the data fields it reads longitude (U) and latitude
// (V) from, with overloads on DataValue, plus the factories for every projection. Immutable,
// so one instance may serve many threads. SpatialProjectorTransforms wrap a projector as a
// SpatialTransform from degrees into [0, 1] x [0, 1] over its world, and back.

#include <memory>

#include <lmxmaps/MapProjector.h>
#include <lmxmaps/host/DataValue.h>
#include <lmxmaps/host/FieldName.h>
#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/SpatialTransform.h>

class SpatialProjector;
using SpatialProjectorPtr = RefCntPtr<const SpatialProjector>;

class SpatialProjector : public RefCntObject {
public:
    SpatialProjector(std::unique_ptr<const MapProjector> projector, FieldName uField,
                     FieldName vField);

    static SpatialProjectorPtr AlbersFactory(const FieldName& u, const FieldName& v,
                                             const TString& name, double lambda0, double phi0,
                                             double phi1, double phi2, double a, double e);
    // Throws MapProjectorException when c is outside [0, 1].
    static SpatialProjectorPtr CylindricEqualAreaFactory(const FieldName& u, const FieldName& v,
                                                         const TString& name, double c);
    static SpatialProjectorPtr IdentityFactory(const FieldName& u, const FieldName& v);
    static SpatialProjectorPtr MercatorFactory(const FieldName& u, const FieldName& v,
                                               const TString& name, double eccentricity);
    static SpatialProjectorPtr PlateCarreeFactory(const FieldName& u, const FieldName& v);
    static SpatialProjectorPtr SmythEqualSurfaceFactory(const FieldName& u, const FieldName& v,
                                                        const TString& name);
    static SpatialProjectorPtr WebMercatorFactory(const FieldName& u, const FieldName& v,
                                                  const TString& name);

    const MapProjector& GetProjector() const { return *m_projector; }
    TString GetName() const { return m_projector->GetName(); }
    FieldName GetUField() const { return m_uField; }
    FieldName GetVField() const { return m_vField; }

    bool DoesWrap() const { return m_projector->DoesWrap(); }
    double ProjectionUnitsPerUV() const { return m_projector->ProjectionUnitsPerUV(); }
    double UVPerProjectionUnits() const { return m_projector->UVPerProjectionUnits(); }
    bool XIsFunctionOfUOnly() const { return m_projector->XIsFunctionOfUOnly(); }
    bool YIsFunctionOfVOnly() const { return m_projector->YIsFunctionOfVOnly(); }

    // X of a longitude; NaN when X also depends on latitude.
    double GetX(double u) const;
    // Y of a latitude; NaN when Y also depends on longitude.
    double GetY(double v) const;
    XYPair GetXY(double u, double v) const { return m_projector->GetXY(u, v); }
    // Longitude of x at y = 0, whether or not the projection is separable.
    double GetInverseOfX(double x) const;
    // Unfolded longitude of x; NaN when X also depends on latitude.
    double GetUnwrappedInverseOfX(double x) const;
    // Latitude of y; NaN when Y also depends on longitude.
    double GetInverseOfY(double y) const;
    // False exactly when the result has a NaN.
    bool GetInverseOfXY(double x, double y, double& u, double& v) const;
    double GetYScaleAtPoint(double x, double y) const;

    // Batch forms (see MapProjector::GetXYArray).
    void GetXYArray(std::span<const double> u, std::span<const double> v, std::span<double> x,
                    std::span<double> y) const;
    void GetInverseOfXYArray(std::span<const double> x, std::span<const double> y,
                             std::span<double> u, std::span<double> v) const;

    // Fills the default extent as four reals; valid is false when any bound is NaN.
    void GetDefaultExtent(bool& valid, DataValue& minX, DataValue& maxX, DataValue& minY,
                          DataValue& maxY) const;
    DataValueRect GetWorldBounds() const;
    // 400 m at the equator (radius 6378137 m), expressed in this projector's plane units.
    double GetBoundingBoxCutoff() const;
    // Same fields and equal projectors.
    bool IsEqual(const SpatialProjector& other) const;

    // DataValue overloads: a special input (null, ...) yields a special output.
    DataValue GetX(const DataValue& u) const;
    DataValue GetY(const DataValue& v) const;
    DataValue GetInverseOfX(const DataValue& x) const;
    DataValue GetInverseOfY(const DataValue& y) const;
    std::pair<DataValue, DataValue> GetXY(const DataValue& u, const DataValue& v) const;
    bool GetInverseOfXY(const DataValue& x, const DataValue& y, DataValue& u, DataValue& v) const;
    double GetYScaleAtPoint(const DataValue& x, const DataValue& y) const;

    static bool HaveSpecials(const DataValue& a, const DataValue& b);
    // Two special values sharing one special code, each keeping its input's data type.
    static std::pair<DataValue, DataValue> MakeSpecialPair(const DataValue& a, const DataValue& b);

protected:
    ~SpatialProjector() override;

private:
    FieldName m_uField;
    FieldName m_vField;
    std::unique_ptr<const MapProjector> m_projector;
};

namespace SpatialProjectorTransforms {

// Degrees into [0, 1] x [0, 1] over the projector's world. For a wrapping projector each full
// turn of longitude past +-180 degrees adds or subtracts 1 in X. Holds a reference: the
// projector has to stay alive as long as the transform.
class Forward : public SpatialTransform {
public:
    explicit Forward(const SpatialProjector& projector);
    std::pair<double, double> operator()(double u, double v) const override;

private:
    const SpatialProjector& m_projector;
    bool m_wraps;
    double m_minX;
    double m_minY;
    double m_inverseWidth;
    double m_inverseHeight;
    double m_inverseWrapPeriod;
};

// Back from [0, 1] x [0, 1] to degrees. An X beyond the square is folded back into it, and every
// whole unit folded away returns as 360 degrees of longitude.
class Inverse : public SpatialTransform {
public:
    explicit Inverse(const SpatialProjector& projector);
    std::pair<double, double> operator()(double x, double y) const override;

private:
    const SpatialProjector& m_projector;
    bool m_wraps;
    double m_minX;
    double m_minY;
    double m_width;
    double m_height;
};

} // namespace SpatialProjectorTransforms
