#pragma once
// Rounding statistics to three significant digits for class breaks and legends: values of
// 1000 and more lose their lower digits (1234.5 -> 1230), smaller ones stay as they are.

#include <cmath>
#include <cstdint>

namespace SignificantDigits {

inline constexpr int kDigits = 3;

enum Direction { Down, Nearest, Up };

// The decimal exponent of a non-zero finite value, cut toward zero (0.5 -> 0, 12.25 -> 1).
inline int Magnitude(double value) {
    return static_cast<int>(std::trunc(std::log10(std::fabs(value))));
}

// Decimals that show three significant digits of a value that is not a whole number.
inline int DecimalsToShow(double value) {
    return kDigits - Magnitude(value);
}

inline double Round(double value, Direction direction) {
    if (value == 0.0 || !std::isfinite(value)) {
        return value;
    }
    const int magnitude = Magnitude(value);
    if (magnitude < kDigits) {
        return value;
    }
    const double step = std::pow(10.0, magnitude - (kDigits - 1));
    const double nearest = std::floor(value / step + 0.5) * step;
    double rounded = nearest;
    if (direction == Down && nearest > value) {
        rounded = nearest - step;
    } else if (direction == Up && value > nearest) {
        rounded = nearest + step;
    }
    // Next to the largest double, rounding away from zero overflows (1.797e308 up is 1.80e308):
    // such a value stays as it is rather than become infinite.
    return std::isfinite(rounded) ? rounded : value;
}

} // namespace SignificantDigits
