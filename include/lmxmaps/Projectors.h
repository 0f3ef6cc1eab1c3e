#pragma once
// Concrete projections: identity, Plate Carree, Mercator, Web Mercator and the cylindrical
// equal-area family (Smyth equal surface among it). Inputs are degrees.

#include <lmxmaps/MapProjector.h>

// Longitude/latitude unchanged, with longitudes folded into [-180, 180]. It has no world
// bounds (all NaN).
class IdentitySpatialProjector : public MapProjector {
public:
    TString GetName() const override;
    // True for another identity-family projector with the same name.
    bool operator==(const MapProjector& other) const override;
    bool DoesWrap() const override { return true; }
    double GetX(double u, double v) const override;
    double GetY(double u, double v) const override;
    XYPair GetXY(double u, double v) const override;
    double GetLatitudeInverseOfXY(double x, double y) const override;
    double GetLongitudeInverseOfXY(double x, double y) const override;
    XYPair GetInverseOfXY(double x, double y) const override;
    XYPair GetUnwrappedInverseOfXY(double x, double y) const override;
    bool XIsFunctionOfUOnly() const override { return true; }
    bool YIsFunctionOfVOnly() const override { return true; }
    double GetYScaleAtPoint(double x, double y) const override;
    double ProjectionUnitsPerUV() const override { return 1.0; }
    double UVPerProjectionUnits() const override { return 1.0; }
    MapExtent GetDefaultExtent() const override;
    MapExtent GetWorldBounds() const override;

private:
    virtual double WrapU(double u) const;
};

// The identity projection named "plate carree", with the world bounds (-180, 180, -90, 90).
class PlateCarreeProjector : public IdentitySpatialProjector {
public:
    TString GetName() const override;
    MapExtent GetWorldBounds() const override;
};

// Mercator on the sphere (radius 6378137 m), output in metres. Longitude wraps into
// [-180, 180]; Y never goes past latitude 86. Any two Mercator or Web Mercator projectors
// compare equal; the name plays no part.
class MercatorProjector : public MapProjector {
public:
    // The eccentricity only sets the Y limit; the projection itself stays spherical.
    MercatorProjector(TString name, double eccentricity);

    TString GetName() const override { return m_name; }
    bool operator==(const MapProjector& other) const override;
    bool DoesWrap() const override { return true; }
    double GetX(double u, double v) const override;
    double GetY(double u, double v) const override;
    XYPair GetXY(double u, double v) const override;
    double GetLatitudeInverseOfXY(double x, double y) const override;
    double GetLongitudeInverseOfXY(double x, double y) const override;
    XYPair GetInverseOfXY(double x, double y) const override;
    XYPair GetUnwrappedInverseOfXY(double x, double y) const override;
    bool XIsFunctionOfUOnly() const override { return true; }
    bool YIsFunctionOfVOnly() const override { return true; }
    double GetYScaleAtPoint(double x, double y) const override;
    double ProjectionUnitsPerUV() const override;
    double UVPerProjectionUnits() const override;
    MapExtent GetDefaultExtent() const override;
    MapExtent GetWorldBounds() const override;
    void GetXYArray(std::span<const double> u, std::span<const double> v, std::span<double> x,
                    std::span<double> y) const override;
    void GetInverseOfXYArray(std::span<const double> x, std::span<const double> y,
                             std::span<double> u, std::span<double> v) const override;

    virtual double GetEccentricity() const { return m_eccentricity; }

    double GetMaxY() const { return m_maxY; }

private:
    TString m_name;
    double m_eccentricity;
    double m_halfWorldWidth;
    double m_maxY;
};

// Web Mercator as tile servers use it: a square plane, X and Y clamped to
// [-20037508.342789244, 20037508.342789244]; a pole or anything past it lands on the edge.
class WebMercatorProjector : public MercatorProjector {
public:
    explicit WebMercatorProjector(TString name);

    double GetX(double u, double v) const override;
    double GetY(double u, double v) const override;
    XYPair GetXY(double u, double v) const override;
    MapExtent GetDefaultExtent() const override;
    MapExtent GetWorldBounds() const override;
    void GetXYArray(std::span<const double> u, std::span<const double> v, std::span<double> x,
                    std::span<double> y) const override;
};

// Cylindrical equal-area on a sphere of radius 1 (plane units are radians). c: cosine of the
// standard parallel. Longitude is used as given, without wrapping.
class CylindricEqualAreaProjector : public MapProjector {
public:
    // Throws MapProjectorException (eInvalidStandardParallel) when c is outside [0, 1] or NaN.
    CylindricEqualAreaProjector(TString name, double c);

    TString GetName() const override { return m_name; }
    // True for another cylindrical equal-area projector with the same c; names do not count.
    bool operator==(const MapProjector& other) const override;
    bool DoesWrap() const override { return true; }
    double GetX(double u, double v) const override;
    double GetY(double u, double v) const override;
    XYPair GetXY(double u, double v) const override;
    double GetLatitudeInverseOfXY(double x, double y) const override;
    double GetLongitudeInverseOfXY(double x, double y) const override;
    XYPair GetInverseOfXY(double x, double y) const override;
    XYPair GetUnwrappedInverseOfXY(double x, double y) const override;
    bool XIsFunctionOfUOnly() const override { return true; }
    bool YIsFunctionOfVOnly() const override { return true; }
    double GetYScaleAtPoint(double x, double y) const override;
    double ProjectionUnitsPerUV() const override;
    double UVPerProjectionUnits() const override;
    MapExtent GetDefaultExtent() const override;
    MapExtent GetWorldBounds() const override { return m_worldBounds; }
    void GetXYArray(std::span<const double> u, std::span<const double> v, std::span<double> x,
                    std::span<double> y) const override;
    void GetInverseOfXYArray(std::span<const double> x, std::span<const double> y,
                             std::span<double> u, std::span<double> v) const override;

    virtual double GetCosStandardParallel() const { return m_c; }

private:
    TString m_name;
    double m_c;
    double m_inverseC;
    double m_halfWorldWidth;
    MapExtent m_worldBounds;
};

// Smyth equal surface: the cylindrical equal-area projection with c = sqrt(2 / pi).
class SmythEqualSurfaceProjector : public CylindricEqualAreaProjector {
public:
    explicit SmythEqualSurfaceProjector(TString name);
};
