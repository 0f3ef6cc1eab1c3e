#pragma once
// Per-point formulas of the spherical Mercator and Web Mercator projections, inline so that
// the per-point virtual operations and the batch loops share one definition.

#include <cmath>

#include "ProjectionConstants.h"

namespace MercatorFormulas {

using namespace ProjectionConstants;

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

inline double MercatorX(double u) {
    return FoldLongitude(u) * kRadiansPerDegree * kEarthRadius;
}

// A NaN latitude comes out as maxY: fmin drops the NaN.
inline double MercatorY(double v, double maxY) {
    return std::fmax(-maxY, std::fmin(maxY, ForwardY(v, 0.0)));
}

// A NaN longitude comes out as -H: fmax drops the NaN.
inline double WebMercatorX(double u) {
    return std::fmin(kWebMercatorHalfExtent, std::fmax(-kWebMercatorHalfExtent, MercatorX(u)));
}

inline double WebMercatorY(double v, double maxY) {
    if (v <= -90.0) {
        return -kWebMercatorHalfExtent;
    }
    if (v >= 90.0) {
        return kWebMercatorHalfExtent;
    }
    return std::fmin(kWebMercatorHalfExtent,
                     std::fmax(-kWebMercatorHalfExtent, MercatorY(v, maxY)));
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

inline double Latitude(double y) {
    const double chi = 2.0 * std::atan(std::exp(y / kEarthRadius)) - TMath::PI * 0.5;
    return chi * kDegreesPerRadian;
}

} // namespace MercatorFormulas
