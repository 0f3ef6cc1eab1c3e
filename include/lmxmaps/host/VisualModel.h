#pragma once
// The few pieces of the host's visualization model that the maps module asks about. The model
// itself belongs to the host: it implements the interfaces and installs the two look-ups as
// hooks. Without hooks no latitude and longitude fields are found and a specification has no
// panes.

#include <functional>
#include <optional>
#include <vector>

#include <lmxmaps/host/DataValue.h>
#include <lmxmaps/host/FieldName.h>
#include <lmxmaps/host/TString.h>

// A data namespace of the host (the fields and their roles); opaque here.
class INamespace {
public:
    virtual ~INamespace() = default;
};

// A chart's visual specification.
class VisualSpecification {
public:
    virtual ~VisualSpecification() = default;

    // The name of the map source the chart is drawn on; meaningful when HasMapSource().
    virtual TString GetMapSourceForRendering() const = 0;
    virtual bool HasMapSource() const = 0;
};

// One pane of a chart: its place in the pane grid and the fields on its two axes.
struct PaneDescriptor {
    int row = 0;
    int column = 0;
    FieldName xField;
    FieldName yField;
};

namespace SpatialProjectorInterpreter {

using LatLongFieldFinder =
    std::function<bool(const INamespace& dataNamespace, const std::vector<PaneDescriptor>& panes,
                       FieldName& latitude, FieldName& longitude)>;

// Installs the host's look-up; an empty function restores the default.
void SetLatLongFieldFinder(LatLongFieldFinder finder);

// Whether the panes show a latitude and a longitude field, and which; the outputs are left
// alone when not.
bool GetLatLongFieldNames(const INamespace& dataNamespace, const std::vector<PaneDescriptor>& panes,
                          FieldName& latitude, FieldName& longitude);

} // namespace SpatialProjectorInterpreter

namespace ScnqlUtils {

using PaneDescriptorComputer = std::function<std::vector<PaneDescriptor>(
    const INamespace& dataNamespace, const VisualSpecification& specification)>;

// Installs the host's computation; an empty function restores the default.
void SetPaneDescriptorComputer(PaneDescriptorComputer computer);

std::vector<PaneDescriptor> ComputePaneDescriptors(const INamespace& dataNamespace,
                                                   const VisualSpecification& specification);

} // namespace ScnqlUtils

// Where a mark sits on a chart's two axes. An axis coordinate is a value coordinate when it
// carries the data value drawn there; other axis coordinates (a pane edge, a computed
// position) carry none. A map marks the coordinate with its projection and the longitude and
// latitude behind the position.
class AxisVisualCoordinate {
public:
    struct ProjectionInfo {
        bool isMap = false;
        TString projectorName;
        DataValue longitude;
        DataValue latitude;
    };

    AxisVisualCoordinate(std::optional<DataValue> x, std::optional<DataValue> y);

    const std::optional<DataValue>& GetXValue() const { return m_x; }
    const std::optional<DataValue>& GetYValue() const { return m_y; }

    void SetIsMapAndProjection(bool isMap, const TString& projectorName, const DataValue& longitude,
                               const DataValue& latitude);
    // Empty until SetIsMapAndProjection.
    const std::optional<ProjectionInfo>& GetProjectionInfo() const { return m_projection; }

private:
    std::optional<DataValue> m_x;
    std::optional<DataValue> m_y;
    std::optional<ProjectionInfo> m_projection;
};
