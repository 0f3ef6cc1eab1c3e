#pragma once
// Angle constants and conversions. The operand order is fixed (value * PI / 180) so that
// derived constants such as metres per degree come out bit-identical everywhere.

namespace TMath {

inline constexpr double PI = 3.141592653589793238462643383279502884;

constexpr double DegreesToRadians(double degrees) {
    return degrees * PI / 180.0;
}

constexpr double RadiansToDegrees(double radians) {
    return radians * 180.0 / PI;
}

} // namespace TMath
