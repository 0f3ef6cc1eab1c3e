#pragma once
// The projection interface: (u, v) = (longitude, latitude) in degrees to plane (x, y), and the
// inverse.
//
// Projectors do not change after construction, so threads can share them. Nothing here throws;
// a point the projection cannot handle gives NaN.

#include <cstdint>
#include <span>
#include <utility>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/TString.h>

// A box in the plane (fields: min X, max X, min Y, max Y); a side without a limit is NaN.
struct MapExtent {
    double minX;
    double maxX;
    double minY;
    double maxY;
};

using XYPair = std::pair<double, double>;

class MapProjector {
public:
    MapProjector() = default;
    MapProjector(const MapProjector&) = default;
    MapProjector& operator=(const MapProjector&) = default;
    virtual ~MapProjector() = default;

    virtual TString GetName() const = 0;
    virtual bool operator==(const MapProjector& other) const = 0;
    virtual bool operator!=(const MapProjector& other) const { return !(*this == other); }
    // True when longitudes 360 degrees apart land on the same plane point.
    virtual bool DoesWrap() const = 0;
    virtual double GetX(double u, double v) const = 0;
    virtual double GetY(double u, double v) const = 0;
    virtual XYPair GetXY(double u, double v) const = 0;
    virtual double GetLatitudeInverseOfXY(double x, double y) const = 0;
    virtual double GetLongitudeInverseOfXY(double x, double y) const = 0;
    // (longitude, latitude); each family says whether the longitude is folded into the world.
    virtual XYPair GetInverseOfXY(double x, double y) const = 0;
    // (longitude, latitude) with the longitude keeping the whole turns of x.
    virtual XYPair GetUnwrappedInverseOfXY(double x, double y) const = 0;
    virtual bool XIsFunctionOfUOnly() const = 0;
    virtual bool YIsFunctionOfVOnly() const = 0;
    // Local scale factor of the projection at plane point (x, y).
    virtual double GetYScaleAtPoint(double x, double y) const = 0;
    // Plane units per degree, and degrees per plane unit.
    virtual double ProjectionUnitsPerUV() const = 0;
    virtual double UVPerProjectionUnits() const = 0;
    virtual MapExtent GetDefaultExtent() const = 0;
    virtual MapExtent GetWorldBounds() const = 0;

    // Batch forms over arrays of equal length: x[i], y[i] = GetXY(u[i], v[i]) and
    // u[i], v[i] = GetInverseOfXY(x[i], y[i]). Outputs may alias the inputs. Families
    // override them with loops free of per-point virtual calls; results are identical.
    virtual void GetXYArray(std::span<const double> u, std::span<const double> v,
                            std::span<double> x, std::span<double> y) const;
    virtual void GetInverseOfXYArray(std::span<const double> x, std::span<const double> y,
                                     std::span<double> u, std::span<double> v) const;

protected:
    // The bounds spanned by the projections of (-180, -90) and (180, 90).
    MapExtent ProjectWorldCorners() const;
    // Raises a logic error unless the four batch arrays have one length.
    static void CheckArrayLengths(std::size_t a, std::size_t b, std::size_t c, std::size_t d);
};

class MapProjectorException : public LumivexException {
public:
    enum ErrorCases : std::int32_t {
        // A cylindrical equal-area projector was given a cosine outside [0, 1], or an Albers
        // projector the same standard parallel twice.
        eInvalidStandardParallel = 0,
    };

    MapProjectorException(ErrorCases errorCase, TString message, TError::ErrorInfo errorInfo);

    std::unique_ptr<LumivexException> Clone() const override;
    [[noreturn]] void Throw() const override;

    ErrorCases GetErrorCase() const { return m_errorCase; }

private:
    ErrorCases m_errorCase;
};
