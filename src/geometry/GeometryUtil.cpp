#include <cmath>

#include <lmxmaps/GeometryEngine.h>

namespace GeometryUtil {

bool CircleIntersectsRect(double cx, double cy, double r, const QRectF& rect) {
    const double halfWidth = rect.width() / 2.0;
    const double halfHeight = rect.height() / 2.0;
    const QPointF centre = rect.center();
    const double dx = std::abs(cx - centre.x());
    const double dy = std::abs(cy - centre.y());
    if (dx > halfWidth + r || dy > halfHeight + r) {
        return false;
    }
    if (dx <= halfWidth || dy <= halfHeight) {
        return true;
    }
    const double cornerX = dx - halfWidth;
    const double cornerY = dy - halfHeight;
    return cornerX * cornerX + cornerY * cornerY <= r * r;
}

} // namespace GeometryUtil
