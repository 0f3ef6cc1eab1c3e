#pragma once
// Map projections: longitude/latitude (u, v) in degrees to plane coordinates (x, y) and back.
//
// A MapProjector is immutable and may be shared between threads. Projection operations never
// throw: results outside a projection's domain are NaN.

#include <cstdint>
#include <span>
#include <utility>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/TString.h>

// Plane bounds in the order minimum X, maximum X, minimum Y, maximum Y; NaN where undefined.
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
    // Whether the plane repeats every 360 degrees of longitude.
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
    // The projection's scale factor at the projected point.
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
        // A cylindrical equal-area projector was given a cosine outside [0, 1].
        eInvalidStandardParallel = 0,
    };

    MapProjectorException(ErrorCases errorCase, TString message, TError::ErrorInfo errorInfo);

    std::unique_ptr<LumivexException> Clone() const override;
    [[noreturn]] void Throw() const override;

    ErrorCases GetErrorCase() const { return m_errorCase; }

private:
    ErrorCases m_errorCase;
};
