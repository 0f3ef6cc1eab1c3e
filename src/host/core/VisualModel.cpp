#include <mutex>

#include <lmxmaps/host/VisualModel.h>

namespace {

// One installed hook. Calls run on a copy taken under the lock, so a hook may be replaced
// while another thread is inside it.
template <class Function>
class Hook {
public:
    void Set(Function function) {
        std::lock_guard lock(m_mutex);
        m_function = std::move(function);
    }

    Function Get() const {
        std::lock_guard lock(m_mutex);
        return m_function;
    }

private:
    mutable std::mutex m_mutex;
    Function m_function;
};

Hook<SpatialProjectorInterpreter::LatLongFieldFinder>& LatLongHook() {
    static Hook<SpatialProjectorInterpreter::LatLongFieldFinder> hook;
    return hook;
}

Hook<ScnqlUtils::PaneDescriptorComputer>& PaneHook() {
    static Hook<ScnqlUtils::PaneDescriptorComputer> hook;
    return hook;
}

} // namespace

namespace SpatialProjectorInterpreter {

void SetLatLongFieldFinder(LatLongFieldFinder finder) {
    LatLongHook().Set(std::move(finder));
}

bool GetLatLongFieldNames(const INamespace& dataNamespace, const std::vector<PaneDescriptor>& panes,
                          FieldName& latitude, FieldName& longitude) {
    const LatLongFieldFinder finder = LatLongHook().Get();
    if (!finder) {
        return false;
    }
    FieldName foundLatitude;
    FieldName foundLongitude;
    if (!finder(dataNamespace, panes, foundLatitude, foundLongitude)) {
        return false;
    }
    latitude = std::move(foundLatitude);
    longitude = std::move(foundLongitude);
    return true;
}

} // namespace SpatialProjectorInterpreter

namespace ScnqlUtils {

void SetPaneDescriptorComputer(PaneDescriptorComputer computer) {
    PaneHook().Set(std::move(computer));
}

std::vector<PaneDescriptor> ComputePaneDescriptors(const INamespace& dataNamespace,
                                                   const VisualSpecification& specification) {
    const PaneDescriptorComputer computer = PaneHook().Get();
    return computer ? computer(dataNamespace, specification) : std::vector<PaneDescriptor>();
}

} // namespace ScnqlUtils

AxisVisualCoordinate::AxisVisualCoordinate(std::optional<DataValue> x, std::optional<DataValue> y)
    : m_x(std::move(x)), m_y(std::move(y)) {}

void AxisVisualCoordinate::SetIsMapAndProjection(bool isMap, const TString& projectorName,
                                                 const DataValue& longitude,
                                                 const DataValue& latitude) {
    m_projection = ProjectionInfo{isMap, projectorName, longitude, latitude};
}
