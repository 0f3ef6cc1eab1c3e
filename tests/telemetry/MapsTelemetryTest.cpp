#include <gtest/gtest.h>
#include <optional>

#include <lmxmaps/MapsTelemetry.h>
#include <lmxmaps/host/FeatureFlags.h>
#include <lmxmaps/host/Telemetry.h>
#include <lmxmaps/host/Tracing.h>

#include "host/OptionGuard.h"

namespace {

using Properties = std::vector<std::pair<std::string, Telemetry::Value>>;
using Int = std::int64_t;

const QString kTraceFlagOn = QStringLiteral("0x1, 0xa76cc2ca");

void SetOption(const char* name, const QString& value) {
    Options::Set(QString::fromLatin1(name), value);
}

struct Expected {
    const char* category;
    const char* spanName; // null: no span
    Properties event;
};

// A span carries its event's properties without the worksheet and sheet ids.
Properties SpanAttributes(Properties event) {
    std::erase_if(event, [](const auto& property) {
        return property.first == "worksheet_Id" || property.first == "sheet_Id";
    });
    return event;
}

// One call of each capture function, and what each must send.
void CaptureEach() {
    MapsTelemetry::CaptureCustomGeocodingEvent(true);
    MapsTelemetry::CaptureDualAxisEvent(false, true, QStringLiteral("ws-1"));
    MapsTelemetry::CaptureMapsGeoRoleEvent(QStringLiteral("Country/Région"), QStringLiteral("ws-2"),
                                           QStringLiteral("assign"));
    MapsTelemetry::CaptureMapLayerActionsEvent(QStringLiteral("hide"), 3, QStringLiteral("s-9"),
                                               false, true, std::nullopt);
    MapsTelemetry::CaptureServerRenderMapEvent(41.5, 3.25, 0.5f, QStringLiteral("Dark"), 2.0f);
    MapsTelemetry::CaptureSpatialDataSourceEvent(QStringLiteral("shapefile"));
    MapsTelemetry::CaptureMapsWorkbookLoadEvent({4, 2, 1, 5, -1});
}

const std::vector<Expected> kExpected = {
    {"Maps_Custom_Geocoding_Telemetry",
     "maps_custom_geocoding_telemetry",
     {{"is_custom_geocoding", "true"}}},
    {"Dual_Axis_Telemetry",
     "dual_axis_telemetry",
     {{"is_dual_axis_enabled", "false"}, {"is_map", "true"}, {"worksheet_Id", "ws-1"}}},
    {"Maps_Geo_Role_Telemetry",
     "maps_geo_role_telemetry",
     {{"geo_role", "Country/R\xC3\xA9gion"}, {"worksheet_Id", "ws-2"}, {"user_action", "assign"}}},
    {"Maps_Map_Layer_Actions_Telemetry",
     "maps_map_layer_actions_telemetry",
     {{"action_name", "hide"},
      {"layer_Id", Int{3}},
      {"sheet_Id", "s-9"},
      {"is_called_from_layer_control", true}}},
    {"Maps_Server_Render_Map_Telemetry",
     "maps_server_render_map_telemetry",
     {{"server_render_time", 41.5},
      {"zoom_level", 3.25},
      {"washout", 0.5},
      {"style_name", "Dark"},
      {"pixel_ratio", 2.0}}},
    {"Spatial_Data_Source_Telemetry",
     "spatial_data_source_telemetry",
     {{"spatial_data_source_type", "shapefile"}}},
    {"Maps_Workbook_Load_Telemetry",
     nullptr,
     {{"map_count", Int{4}},
      {"layered_map_count", Int{2}},
      {"layers_min", Int{1}},
      {"layers_max", Int{5}},
      {"buffer_count", Int{-1}}}},
};

} // namespace

TEST(MapsTelemetry, EveryCaptureSendsItsEventAndOnlyUnderTheTraceFlagItsSpan) {
    OptionGuard flags("FeatureFlags");
    for (const bool flagOn : {false, true}) {
        SCOPED_TRACE(flagOn ? "trace flag on" : "trace flag off");
        SetOption("FeatureFlags", flagOn ? kTraceFlagOn : QStringLiteral("0x1"));
        Telemetry::ScopedCapture events;
        Tracing::ScopedCapture spans;
        CaptureEach();

        const std::vector<Telemetry::Event> sent = events.Events();
        const std::vector<Tracing::Span> recorded = spans.Spans();
        ASSERT_EQ(sent.size(), kExpected.size());
        std::size_t spanCount = 0;
        for (std::size_t i = 0; i < kExpected.size(); ++i) {
            const Expected& expected = kExpected[i];
            EXPECT_EQ(sent[i].GetCategory(), expected.category);
            EXPECT_EQ(sent[i].GetProperties(), expected.event);
            if (flagOn && expected.spanName != nullptr) {
                ASSERT_LT(spanCount, recorded.size());
                EXPECT_EQ(recorded[spanCount].name, expected.spanName);
                EXPECT_EQ(recorded[spanCount].attributes, SpanAttributes(expected.event));
                ++spanCount;
            }
        }
        EXPECT_EQ(recorded.size(), spanCount);
    }
}

TEST(MapsTelemetry, LayerActionFlagsAppearOnlyWhenTrueAndTheResultOnlyWhenKnown) {
    OptionGuard flags("FeatureFlags");
    SetOption("FeatureFlags", kTraceFlagOn);
    const struct {
        bool consumerMode;
        bool fromLayerControl;
        std::optional<bool> result;
        Properties optional;
    } cases[] = {
        {false, false, std::nullopt, {}},
        {true, false, false, {{"is_consumer_mode", true}, {"action_result", false}}},
        {false, true, true, {{"is_called_from_layer_control", true}, {"action_result", true}}},
        {true,
         true,
         std::nullopt,
         {{"is_consumer_mode", true}, {"is_called_from_layer_control", true}}},
    };
    for (const auto& c : cases) {
        Telemetry::ScopedCapture events;
        Tracing::ScopedCapture spans;
        MapsTelemetry::CaptureMapLayerActionsEvent(QStringLiteral("zoom"), 7, QStringLiteral("s"),
                                                   c.consumerMode, c.fromLayerControl, c.result);
        Properties event{{"action_name", "zoom"}, {"layer_Id", Int{7}}, {"sheet_Id", "s"}};
        event.insert(event.end(), c.optional.begin(), c.optional.end());
        ASSERT_EQ(events.Events().size(), 1u);
        EXPECT_EQ(events.Events()[0].GetProperties(), event);
        ASSERT_EQ(spans.Spans().size(), 1u);
        EXPECT_EQ(spans.Spans()[0].attributes, SpanAttributes(event));
    }
}

TEST(MapsTelemetry, FeatureFlagsListHexIdsSeparatedByCommas) {
    OptionGuard flags("FeatureFlags");
    const struct {
        const char* option;
        bool traceFlagOn;
    } cases[] = {{"", false},
                 {"0x1", false},
                 {" 0x1 ,0XA76CC2CA ", true},
                 {"a76cc2ca", true},
                 {"0xA76CC2CB", false},
                 {"0xA76CC2CA0", false},
                 {"0xA76CC2C", false},
                 {"junk,,0xA76CC2CA", true}};
    for (const auto& c : cases) {
        SetOption("FeatureFlags", QString::fromLatin1(c.option));
        EXPECT_EQ(FeatureFlags::IsOn(MapsTelemetry::kTraceTelemetryFlag), c.traceFlagOn)
            << c.option;
    }
}
