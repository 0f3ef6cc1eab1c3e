#include <typeinfo>

#include <lmxmaps/Projectors.h>

#include "BatchLoop.h"
#include "MercatorFormulas.h"

using namespace MercatorFormulas;

WebMercatorProjector::WebMercatorProjector(TString name)
    : MercatorProjector(std::move(name), 0.0) {}

double WebMercatorProjector::GetX(double u, double) const {
    return WebMercatorX(u);
}

double WebMercatorProjector::GetY(double, double v) const {
    return WebMercatorY(v, GetMaxY());
}

XYPair WebMercatorProjector::GetXY(double u, double v) const {
    const double y = GetY(u, v);
    return {GetX(u, v), y};
}

MapExtent WebMercatorProjector::GetDefaultExtent() const {
    return GetWorldBounds();
}

MapExtent WebMercatorProjector::GetWorldBounds() const {
    static const MapExtent bounds = ProjectWorldCorners();
    return bounds;
}

void WebMercatorProjector::GetXYArray(std::span<const double> u, std::span<const double> v,
                                      std::span<double> x, std::span<double> y) const {
    if (typeid(*this) != typeid(WebMercatorProjector)) {
        MapProjector::GetXYArray(u, v, x, y);
        return;
    }
    CheckArrayLengths(u.size(), v.size(), x.size(), y.size());
    const double maxY = GetMaxY();
    if (BatchLoop::AnyOverlapsShifted(u, v, x, y)) {
        MapProjector::GetXYArray(u, v, x, y);
        return;
    }
    ProjectInBlocks(
        u, v, x, y, [](double lon) { return WebMercatorX(lon); },
        [maxY](double latitude, double tangent) {
            return WebMercatorYFromTangent(latitude, tangent, maxY);
        });
}
