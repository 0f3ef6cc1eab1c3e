#pragma once
// Map usage reporting. Every function here emits a single product-usage event to the host's
// telemetry; with feature flag 0xA76CC2CA on it also records a trace span carrying the same
// data minus the worksheet and sheet ids. A span recorded inside an open Tracing::Activity of
// the same thread (a render, a connection's fetch) is its child. Nothing is sent while the
// application runs in test mode. None of them fails its caller.

#include <cstdint>
#include <optional>

#include <lmxmaps/host/TString.h>

namespace MapsTelemetry {

// What a workbook holds in maps when it has been loaded.
struct WorkbookLoadData {
    std::int32_t mapCount = 0;
    std::int32_t layeredMapCount = 0;
    std::int32_t minLayerCount = 0;
    std::int32_t maxLayerCount = 0;
    std::int32_t bufferCount = 0;
};

// The feature flag under which every event is also recorded as a span.
inline constexpr std::uint32_t kTraceTelemetryFlag = 0xA76CC2CA;

void CaptureCustomGeocodingEvent(bool isCustomGeocoding);
void CaptureDualAxisEvent(bool isDualAxisEnabled, bool isMap, const TString& worksheetId);
void CaptureMapsGeoRoleEvent(const TString& geoRole, const TString& worksheetId,
                             const TString& userAction);
// The consumer-mode and layer-control properties are sent only when true, the result only when
// there is one.
void CaptureMapLayerActionsEvent(const TString& actionName, int layerId, const TString& sheetId,
                                 bool isConsumerMode, bool isCalledFromLayerControl,
                                 std::optional<bool> actionResult);
void CaptureServerRenderMapEvent(double serverRenderTime, double zoomLevel, float washout,
                                 const TString& styleName, float pixelRatio);
void CaptureSpatialDataSourceEvent(const TString& spatialDataSourceType);
// An event only: the load of a workbook is never a span.
void CaptureMapsWorkbookLoadEvent(const WorkbookLoadData& data);

} // namespace MapsTelemetry
