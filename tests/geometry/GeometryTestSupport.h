#pragma once
// Shared pieces of the geometry tests: projectors with their world transforms and small
// geometric checks written independently of the code under test.

#include <cmath>
#include <string>
#include <vector>

#include <lmxmaps/Geom.h>
#include <lmxmaps/SpatialProjector.h>

namespace geomtest {

// A projector with its forward and inverse transforms (the transforms refer to the projector).
struct World {
    explicit World(SpatialProjectorPtr p)
        : projector(std::move(p)), forward(*projector), inverse(*projector) {}
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    SpatialProjectorPtr projector;
    SpatialProjectorTransforms::Forward forward;
    SpatialProjectorTransforms::Inverse inverse;
};

inline SpatialProjectorPtr WebMercatorProjector() {
    return SpatialProjector::WebMercatorFactory(FieldName(QStringLiteral("Longitude")),
                                                FieldName(QStringLiteral("Latitude")),
                                                QStringLiteral("EPSG:3857"));
}

inline SpatialProjectorPtr PlateCarreeProjector() {
    return SpatialProjector::PlateCarreeFactory(FieldName(QStringLiteral("Longitude")),
                                                FieldName(QStringLiteral("Latitude")));
}

inline double SquaredLength(const geom::Point& a, const geom::Point& b) {
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

// Twice the signed area (shoelace); positive for a counter-clockwise ring.
inline double TwiceSignedArea(const geom::Path& ring) {
    double sum = 0.0;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        sum += ring[i].x * ring[i + 1].y - ring[i + 1].x * ring[i].y;
    }
    return sum;
}

inline std::string ToString(const geom::Path& path) {
    std::string text;
    for (const geom::Point& p : path) {
        text += "(" + std::to_string(p.x) + ", " + std::to_string(p.y) + ") ";
    }
    return text;
}

} // namespace geomtest
