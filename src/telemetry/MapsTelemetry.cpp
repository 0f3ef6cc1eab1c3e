#include <vector>

#include <lmxmaps/MapsTelemetry.h>
#include <lmxmaps/host/AppConfig.h>
#include <lmxmaps/host/FeatureFlags.h>
#include <lmxmaps/host/Telemetry.h>
#include <lmxmaps/host/Tracing.h>

namespace MapsTelemetry {

namespace {

struct Property {
    const char* key;
    Telemetry::Value value;
    // Worksheet and sheet ids identify a customer's document: events may carry them, spans
    // never do.
    bool inSpan = true;
};

struct Kind {
    Telemetry::EventCategory category;
    // Null for an event that is never a span.
    const char* spanName;
};

const Kind kCustomGeocoding{Telemetry::EventCategory("Maps_Custom_Geocoding_Telemetry"),
                            "maps_custom_geocoding_telemetry"};
const Kind kDualAxis{Telemetry::EventCategory("Dual_Axis_Telemetry"), "dual_axis_telemetry"};
const Kind kGeoRole{Telemetry::EventCategory("Maps_Geo_Role_Telemetry"), "maps_geo_role_telemetry"};
const Kind kMapLayerActions{Telemetry::EventCategory("Maps_Map_Layer_Actions_Telemetry"),
                            "maps_map_layer_actions_telemetry"};
const Kind kServerRenderMap{Telemetry::EventCategory("Maps_Server_Render_Map_Telemetry"),
                            "maps_server_render_map_telemetry"};
const Kind kSpatialDataSource{Telemetry::EventCategory("Spatial_Data_Source_Telemetry"),
                              "spatial_data_source_telemetry"};
const Kind kWorkbookLoad{Telemetry::EventCategory("Maps_Workbook_Load_Telemetry"), nullptr};

std::string BoolText(bool value) {
    return value ? "true" : "false";
}

bool IsTestMode() {
    static const bool testMode = AppConfig::IsTestMode();
    return testMode;
}

void Send(const Kind& kind, const std::vector<Property>& properties) {
    if (IsTestMode()) {
        return;
    }
    Telemetry::Event event(kind.category);
    for (const Property& property : properties) {
        event.Set(property.key, property.value);
    }
    Telemetry::Report(event);
    if (kind.spanName == nullptr || !FeatureFlags::IsOn(kTraceTelemetryFlag)) {
        return;
    }
    Tracing::Activity span(kind.spanName);
    for (const Property& property : properties) {
        if (property.inSpan) {
            span.SetAttribute(property.key, property.value);
        }
    }
}

} // namespace

void CaptureCustomGeocodingEvent(bool isCustomGeocoding) {
    Send(kCustomGeocoding, {{"is_custom_geocoding", BoolText(isCustomGeocoding)}});
}

void CaptureDualAxisEvent(bool isDualAxisEnabled, bool isMap, const TString& worksheetId) {
    Send(kDualAxis, {{"is_dual_axis_enabled", BoolText(isDualAxisEnabled)},
                     {"is_map", BoolText(isMap)},
                     {"worksheet_Id", ToUtf8(worksheetId), false}});
}

void CaptureMapsGeoRoleEvent(const TString& geoRole, const TString& worksheetId,
                             const TString& userAction) {
    Send(kGeoRole, {{"geo_role", ToUtf8(geoRole)},
                    {"worksheet_Id", ToUtf8(worksheetId), false},
                    {"user_action", ToUtf8(userAction)}});
}

void CaptureMapLayerActionsEvent(const TString& actionName, int layerId, const TString& sheetId,
                                 bool isConsumerMode, bool isCalledFromLayerControl,
                                 std::optional<bool> actionResult) {
    std::vector<Property> properties{{"action_name", ToUtf8(actionName)},
                                     {"layer_Id", std::int64_t{layerId}},
                                     {"sheet_Id", ToUtf8(sheetId), false}};
    if (isConsumerMode) {
        properties.push_back({"is_consumer_mode", true});
    }
    if (isCalledFromLayerControl) {
        properties.push_back({"is_called_from_layer_control", true});
    }
    if (actionResult) {
        properties.push_back({"action_result", *actionResult});
    }
    Send(kMapLayerActions, properties);
}

void CaptureServerRenderMapEvent(double serverRenderTime, double zoomLevel, float washout,
                                 const TString& styleName, float pixelRatio) {
    Send(kServerRenderMap, {{"server_render_time", serverRenderTime},
                            {"zoom_level", zoomLevel},
                            {"washout", double{washout}},
                            {"style_name", ToUtf8(styleName)},
                            {"pixel_ratio", double{pixelRatio}}});
}

void CaptureSpatialDataSourceEvent(const TString& spatialDataSourceType) {
    Send(kSpatialDataSource, {{"spatial_data_source_type", ToUtf8(spatialDataSourceType)}});
}

void CaptureMapsWorkbookLoadEvent(const WorkbookLoadData& data) {
    Send(kWorkbookLoad, {{"map_count", std::int64_t{data.mapCount}},
                         {"layered_map_count", std::int64_t{data.layeredMapCount}},
                         {"layers_min", std::int64_t{data.minLayerCount}},
                         {"layers_max", std::int64_t{data.maxLayerCount}},
                         {"buffer_count", std::int64_t{data.bufferCount}}});
}

} // namespace MapsTelemetry
