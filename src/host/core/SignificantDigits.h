#pragma once
// Rounding statistics to three significant digits for class breaks and legends: values of
// 1000 and more lose their lower digits (1234.5 -> 1230), smaller ones stay as they are.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

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

// The double nearest to units * 10^exponent, as the decimal reads; infinite beyond the
// doubles. Multiplying by a power of ten instead is a unit in the last place off at times, and
// the value rounded again would then move.
inline double Scaled(double units, int exponent) {
    char text[32];
    char* const end = text + sizeof text;
    char* const mantissaEnd = std::to_chars(text, end, static_cast<std::int64_t>(units)).ptr;
    *mantissaEnd = 'e';
    char* const textEnd = std::to_chars(mantissaEnd + 1, end, exponent).ptr;
    double scaled = 0;
    if (std::from_chars(text, textEnd, scaled).ec != std::errc()) {
        return units < 0 ? -HUGE_VAL : HUGE_VAL;
    }
    return scaled;
}

inline double Round(double value, Direction direction) {
    if (value == 0.0 || !std::isfinite(value)) {
        return value;
    }
    const int magnitude = Magnitude(value);
    if (magnitude < kDigits) {
        return value;
    }
    const int exponent = magnitude - (kDigits - 1);
    const double units = std::floor(value / std::pow(10.0, exponent) + 0.5);
    double rounded = Scaled(units, exponent);
    if (direction == Down && rounded > value) {
        rounded = Scaled(units - 1, exponent);
    } else if (direction == Up && value > rounded) {
        rounded = Scaled(units + 1, exponent);
    }
    // Next to the largest double, rounding away from zero overflows (1.797e308 up is 1.80e308):
    // such a value is cut toward zero instead, so that it still has three digits.
    return std::isfinite(rounded) ? rounded
                                  : Scaled(std::trunc(value / std::pow(10.0, exponent)), exponent);
}

} // namespace SignificantDigits
