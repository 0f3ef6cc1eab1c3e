#pragma once
// The host's generic point transform: maps one (x, y) pair to another.

#include <utility>

class SpatialTransform {
public:
    virtual std::pair<double, double> operator()(double x, double y) const = 0;
    virtual ~SpatialTransform() = default;
};
