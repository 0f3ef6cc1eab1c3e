#pragma once
// Per-point formulas of the spherical Mercator and Web Mercator projections, inline so that
// the per-point virtual operations and the batch loops share one definition. The formulas
// that call two maths functions in a row are cut in two stages (SphericalTangent, then
// MercatorYFromTangent; exp, then LatitudeFromExp) so that a batch loop can run each stage over
// a block of points: independent calls overlap, a chain of dependent ones per point waits.

#include <cmath>

#include "BatchLoop.h"
#include "ProjectionConstants.h"

namespace MercatorFormulas {

using namespace ProjectionConstants;

// fmin(limit, t) and fmax(limit, t) as compare-and-select: a NaN t gives the limit, a NaN
// limit gives t. Unlike the library calls they compile to a few instructions.
inline double LimitAbove(double limit, double t) {
    return (t < limit || std::isnan(limit)) ? t : limit;
}

inline double LimitBelow(double limit, double t) {
    return (t > limit || std::isnan(limit)) ? t : limit;
}

inline bool IsPoleOrBeyond(double latitude) {
    return latitude <= -90.0 || latitude >= 90.0;
}

// Y of a latitude in degrees for eccentricity e; infinite at and beyond the poles.
inline double ForwardY(double latitude, double e) {
    if (latitude <= -90.0) {
        return -std::numeric_limits<double>::infinity();
    }
    if (latitude >= 90.0) {
        return std::numeric_limits<double>::infinity();
    }
    const double phi = latitude * kRadiansPerDegree;
    double f = 1.0;
    if (e != 0.0) {
        const double s = e * std::sin(phi);
        f = std::pow((1.0 - s) / (1.0 + s), e / 2.0);
    }
    return std::log(std::tan(TMath::PI * 0.25 + phi * 0.5) * f) * kEarthRadius;
}

// First stage of ForwardY(latitude, 0): the tangent, not computed at or beyond the poles.
inline double SphericalTangent(double latitude) {
    if (IsPoleOrBeyond(latitude)) {
        return 0.0;
    }
    const double phi = latitude * kRadiansPerDegree;
    return std::tan(TMath::PI * 0.25 + phi * 0.5);
}

// Second stage: ForwardY(latitude, 0) from SphericalTangent(latitude), limited to
// [-maxY, maxY]. A NaN latitude comes out as maxY.
inline double MercatorYFromTangent(double latitude, double tangent, double maxY) {
    double y;
    if (latitude <= -90.0) {
        y = -std::numeric_limits<double>::infinity();
    } else if (latitude >= 90.0) {
        y = std::numeric_limits<double>::infinity();
    } else {
        y = std::log(tangent) * kEarthRadius;
    }
    return LimitBelow(-maxY, LimitAbove(maxY, y));
}

inline double MercatorY(double v, double maxY) {
    return MercatorYFromTangent(v, SphericalTangent(v), maxY);
}

inline double WebMercatorYFromTangent(double v, double tangent, double maxY) {
    if (v <= -90.0) {
        return -kWebMercatorHalfExtent;
    }
    if (v >= 90.0) {
        return kWebMercatorHalfExtent;
    }
    return LimitAbove(kWebMercatorHalfExtent,
                      LimitBelow(-kWebMercatorHalfExtent, MercatorYFromTangent(v, tangent, maxY)));
}

inline double WebMercatorY(double v, double maxY) {
    return WebMercatorYFromTangent(v, SphericalTangent(v), maxY);
}

inline double MercatorX(double u) {
    return FoldLongitude(u) * kRadiansPerDegree * kEarthRadius;
}

// A NaN longitude comes out as -H.
inline double WebMercatorX(double u) {
    return LimitAbove(kWebMercatorHalfExtent, LimitBelow(-kWebMercatorHalfExtent, MercatorX(u)));
}

// Longitude of x, not folded; the world's edges map exactly to -180 and 180.
inline double UnfoldedLongitude(double x, double halfWorldWidth) {
    if (x == -halfWorldWidth) {
        return -180.0;
    }
    if (x == halfWorldWidth) {
        return 180.0;
    }
    return x / kEarthRadius * kDegreesPerRadian;
}

// First stage of Latitude(y).
inline double LatitudeExp(double y) {
    return std::exp(y / kEarthRadius);
}

inline double LatitudeFromExp(double expOfY) {
    const double chi = 2.0 * std::atan(expOfY) - TMath::PI * 0.5;
    return chi * kDegreesPerRadian;
}

inline double Latitude(double y) {
    return LatitudeFromExp(LatitudeExp(y));
}

// Projects arrays a block at a time: every tangent of the block first, then X and Y.
template <class XOf, class YOfTangent>
void ProjectInBlocks(std::span<const double> u, std::span<const double> v, std::span<double> x,
                     std::span<double> y, XOf xOf, YOfTangent yOfTangent) {
    BatchLoop::ForEachBlock(u.size(), [&](std::size_t first, std::size_t count) {
        double tangent[BatchLoop::kBlockSize];
        for (std::size_t j = 0; j < count; ++j) {
            tangent[j] = SphericalTangent(v[first + j]);
        }
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t i = first + j;
            const double py = yOfTangent(v[i], tangent[j]);
            x[i] = xOf(u[i]);
            y[i] = py;
        }
    });
}

} // namespace MercatorFormulas
