#include <typeinfo>

#include <lmxmaps/Projectors.h>

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
    static const MapExtent bounds = [this] {
        const XYPair low = GetXY(-180.0, -90.0);
        const XYPair high = GetXY(180.0, 90.0);
        return MapExtent{low.first, high.first, low.second, high.second};
    }();
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
    for (std::size_t i = 0; i < u.size(); ++i) {
        const double px = WebMercatorX(u[i]);
        const double py = WebMercatorY(v[i], maxY);
        x[i] = px;
        y[i] = py;
    }
}
