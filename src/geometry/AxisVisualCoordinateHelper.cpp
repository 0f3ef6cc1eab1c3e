#include <cstdint>

#include <lmxmaps/GeometryEngine.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/VisualModel.h>

namespace {

constexpr std::uint32_t kNullProjectorAssert = 0x4C4D4101;

} // namespace

namespace AxisVisualCoordinateHelper {

void AddProjectionInfo(AxisVisualCoordinate& coordinate, bool isMap,
                       SpatialProjectorPtr projector) {
    LMX_LOGIC_ASSERT_ID(projector, kNullProjectorAssert);
    const std::optional<DataValue>& x = coordinate.GetXValue();
    const std::optional<DataValue>& y = coordinate.GetYValue();
    if (!x || !y) {
        return;
    }
    DataValue longitude;
    DataValue latitude;
    if (projector->GetInverseOfXY(*x, *y, longitude, latitude)) {
        coordinate.SetIsMapAndProjection(isMap, projector->GetName(), longitude, latitude);
    }
}

} // namespace AxisVisualCoordinateHelper
