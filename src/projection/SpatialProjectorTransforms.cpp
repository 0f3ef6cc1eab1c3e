#include <cmath>

#include <lmxmaps/SpatialProjector.h>

#include "ProjectionConstants.h"

using namespace ProjectionConstants;

namespace SpatialProjectorTransforms {

namespace {
constexpr double kInverseWrapPeriod = 1.0 / kWrapPeriodDegrees;
}

Forward::Forward(const SpatialProjector& projector)
    : m_projector(projector), m_wraps(projector.DoesWrap()),
      m_inverseWrapPeriod(kInverseWrapPeriod) {
    const DataValueRect bounds = projector.GetWorldBounds();
    m_minX = bounds.MinX().GetReal();
    m_minY = bounds.MinY().GetReal();
    m_inverseWidth = 1.0 / bounds.Width();
    m_inverseHeight = 1.0 / bounds.Height();
}

std::pair<double, double> Forward::operator()(double u, double v) const {
    double turns = 0.0;
    if (m_wraps && (u < -180.0 || u > 180.0)) {
        turns = std::floor(u * m_inverseWrapPeriod + 0.5);
        // The turns are counted here, so the projector sees the folded longitude: one that
        // does not fold (cylindrical equal-area) would otherwise count them a second time.
        u = FoldLongitude(u);
    }
    const XYPair xy = m_projector.GetXY(u, v);
    return {(xy.first - m_minX) * m_inverseWidth + turns, (xy.second - m_minY) * m_inverseHeight};
}

Inverse::Inverse(const SpatialProjector& projector)
    : m_projector(projector), m_wraps(projector.DoesWrap()) {
    const DataValueRect bounds = projector.GetWorldBounds();
    m_minX = bounds.MinX().GetReal();
    m_minY = bounds.MinY().GetReal();
    m_width = bounds.Width();
    m_height = bounds.Height();
}

std::pair<double, double> Inverse::operator()(double x, double y) const {
    double planeX = x * m_width + m_minX;
    const double planeY = y * m_height + m_minY;
    const int turns = FoldWholeTurns(planeX, m_minX, m_minX + m_width);
    double u = 0.0;
    double v = 0.0;
    m_projector.GetInverseOfXY(planeX, planeY, u, v);
    return {u + kWrapPeriodDegrees * turns, v};
}

} // namespace SpatialProjectorTransforms
