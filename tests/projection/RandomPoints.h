#pragma once
// Reproducible random longitude/latitude samples for property tests.

#include <random>
#include <utility>
#include <vector>

inline std::vector<std::pair<double, double>> RandomPoints(std::size_t count, double minLon,
                                                           double maxLon, double minLat,
                                                           double maxLat,
                                                           std::uint64_t seed = 20261206) {
    std::mt19937_64 generator(seed);
    std::uniform_real_distribution<double> lon(minLon, maxLon);
    std::uniform_real_distribution<double> lat(minLat, maxLat);
    std::vector<std::pair<double, double>> points;
    points.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double u = lon(generator);
        points.emplace_back(u, lat(generator));
    }
    return points;
}
