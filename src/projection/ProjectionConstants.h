#pragma once
// Constants and small formulas shared by the projections.

#include <cmath>
#include <limits>

#include <lmxmaps/host/TMath.h>

namespace ProjectionConstants {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kEarthRadius = 6378137.0;
inline constexpr double kRadiansPerDegree = TMath::PI / 180.0;
inline constexpr double kDegreesPerRadian = 180.0 / TMath::PI;
// 111319.49079327358: the length of one degree along the equator.
inline constexpr double kMetresPerDegree = TMath::DegreesToRadians(kEarthRadius);
// 8.983152841195214e-06
inline constexpr double kDegreesPerMetre = TMath::RadiansToDegrees(1.0 / kEarthRadius);
// 20037508.342789244: half the width (and height) of the Web Mercator square.
inline constexpr double kWebMercatorHalfExtent = TMath::PI * kEarthRadius;
inline constexpr double kWrapPeriodDegrees = 360.0;

// Folds a longitude into [-180, 180]: 180 and -180 stay, 540 gives 180, 190 gives -170 and
// NaN stays NaN.
inline double FoldLongitude(double u) {
    // fmod leaves these unchanged, and skipping it keeps the common case cheap.
    if (u >= -180.0 && u <= 180.0) {
        return u;
    }
    double r = std::fmod(u, 360.0);
    if (r > 180.0) {
        r -= 360.0;
    }
    if (r < -180.0) {
        r += 360.0;
    }
    return r;
}

// Moves value into [low, high] by whole periods of (high - low) and returns the number of
// periods taken off (negative when added). Values within a few periods are folded one period
// at a time so that boundary values behave exactly; far values first jump most of the way.
// A non-finite value, an empty or non-finite range, or a value too far out to count its turns
// in an int is left alone with zero turns, so the folding always ends.
inline int FoldWholeTurns(double& value, double low, double high) {
    const double period = high - low;
    if (!std::isfinite(value) || !(period > 0.0) || !std::isfinite(period)) {
        return 0;
    }
    constexpr double kStepwiseTurns = 64.0;
    constexpr double kMaxTurns = 1 << 30;
    double turns = 0.0;
    double folded = value;
    const double estimate = std::floor((folded - low) / period);
    if (std::fabs(estimate) > kMaxTurns) {
        return 0;
    }
    if (std::fabs(estimate) > kStepwiseTurns) {
        folded -= estimate * period;
        turns = estimate;
    }
    while (folded < low) {
        turns -= 1.0;
        folded += period;
    }
    while (folded > high) {
        turns += 1.0;
        folded -= period;
    }
    value = folded;
    return static_cast<int>(turns);
}

} // namespace ProjectionConstants
