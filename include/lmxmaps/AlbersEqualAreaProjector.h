#pragma once
// Ellipsoidal Albers equal-area conic projection. The forward direction is closed-form; the
// inverse starts from the spherical inverse and is refined with a Nelder-Mead search, and an
// answer whose forward projection misses the requested point by 1000 m or more is NaN.

#include <lmxmaps/MapProjector.h>

class AlbersEqualAreaProjector : public MapProjector {
public:
    // lambda0: central meridian; phi0: latitude of origin; phi1, phi2: standard parallels
    // (all degrees); a: semi-major axis in metres; e: eccentricity (0 makes every result NaN).
    // Throws MapProjectorException (eInvalidStandardParallel) when phi1 equals phi2.
    AlbersEqualAreaProjector(TString name, double lambda0, double phi0, double phi1, double phi2,
                             double a, double e);

    TString GetName() const override { return m_name; }
    bool operator==(const MapProjector& other) const override;
    bool DoesWrap() const override { return false; }
    double GetX(double u, double v) const override;
    double GetY(double u, double v) const override;
    XYPair GetXY(double u, double v) const override;
    double GetLatitudeInverseOfXY(double x, double y) const override;
    double GetLongitudeInverseOfXY(double x, double y) const override;
    XYPair GetInverseOfXY(double x, double y) const override;
    XYPair GetUnwrappedInverseOfXY(double x, double y) const override;
    bool XIsFunctionOfUOnly() const override { return false; }
    bool YIsFunctionOfVOnly() const override { return false; }
    // Ground distance in metres of one plane unit along y; 1.0 where the inverse fails.
    double GetYScaleAtPoint(double x, double y) const override;
    double ProjectionUnitsPerUV() const override;
    double UVPerProjectionUnits() const override;
    MapExtent GetDefaultExtent() const override;
    MapExtent GetWorldBounds() const override;

    virtual double GetEccentricity() const { return m_e; }

private:
    double m_lambda0;
    double m_phi0;
    double m_phi1;
    double m_phi2;
    double m_a;
    double m_e;
    double m_C;
    double m_n;
    double m_rho0;
    TString m_name;
};
