#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <latch>
#include <map>
#include <rapidjson/document.h>
#include <thread>

#include <lmxmaps/MapsTelemetry.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/Telemetry.h>
#include <lmxmaps/host/Tracing.h>

// Test mode and the two files are chosen once per process, so these scenarios run in a child
// process of their own: gtest starts the test binary again for just this test, and the child's
// exit status carries the scenario's failures, which it prints.
namespace {

constexpr int kThreads = 4;
constexpr int kEventsPerThread = 200;

[[noreturn]] void RunAndExit(void (*scenario)(const QString& dir)) {
    testing::TestPartResultArray failures;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
        QTemporaryDir dir;
        Options::Set(QStringLiteral("TelemetryEventsFile"), dir.filePath(QStringLiteral("ev")));
        Options::Set(QStringLiteral("TraceSpansFile"), dir.filePath(QStringLiteral("spans")));
        Options::Set(QStringLiteral("FeatureFlags"), QStringLiteral("0xA76CC2CA"));
        scenario(dir.path());
    }
    for (int i = 0; i < failures.size(); ++i) {
        const testing::TestPartResult& failure = failures.GetTestPartResult(i);
        std::fprintf(stderr, "%s:%d: %s\n", failure.file_name(), failure.line_number(),
                     failure.message());
    }
    std::exit(failures.size() == 0 ? 0 : 1);
}

std::vector<rapidjson::Document> ReadJsonLines(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.endsWith('\n'));
    std::vector<rapidjson::Document> lines;
    for (const QByteArray& line : text.split('\n')) {
        if (!line.isEmpty()) {
            lines.emplace_back().Parse(line.constData(), line.size());
            EXPECT_FALSE(lines.back().HasParseError()) << line.constData();
        }
    }
    return lines;
}

// Safe reads: a missing member or a value of another kind reads as null, "" or NaN, so a
// wrong file fails the expectations instead of the test program.
const rapidjson::Value& Field(const rapidjson::Value& object, const char* key) {
    static const rapidjson::Value kNull;
    const auto member = object.IsObject() ? object.FindMember(key) : object.MemberEnd();
    return object.IsObject() && member != object.MemberEnd() ? member->value : kNull;
}

const rapidjson::Value& First(const rapidjson::Value& array) {
    static const rapidjson::Value kNull;
    return array.IsArray() && !array.Empty() ? array[0] : kNull;
}

std::string Text(const rapidjson::Value& value) {
    return value.IsString() ? std::string(value.GetString(), value.GetStringLength()) : "";
}

double Number(const rapidjson::Value& value) {
    return value.IsNumber() ? value.GetDouble() : std::nan("");
}

bool IsHex(const rapidjson::Value& id, std::size_t length) {
    const std::string text = Text(id);
    return text.size() == length && text.find_first_not_of("0123456789abcdef") == text.npos;
}

unsigned long long Nanos(const rapidjson::Value& time) {
    const std::string digits = Text(time);
    EXPECT_TRUE(!digits.empty() && digits.find_first_not_of("0123456789") == digits.npos);
    return digits.empty() ? 0 : std::stoull(digits);
}

const rapidjson::Value& AnyValue(const rapidjson::Value& span, const char* key) {
    static const rapidjson::Value kNull;
    const rapidjson::Value& attributes = Field(span, "attributes");
    for (rapidjson::SizeType i = 0; attributes.IsArray() && i < attributes.Size(); ++i) {
        if (Text(Field(attributes[i], "key")) == key) {
            return Field(attributes[i], "value");
        }
    }
    return kNull;
}

void TestModeScenario(const QString& dir) {
    Options::Set(QStringLiteral("AppMode"), QStringLiteral("test"));
    Telemetry::ScopedCapture events;
    Tracing::ScopedCapture spans;
    MapsTelemetry::CaptureCustomGeocodingEvent(true);
    MapsTelemetry::CaptureDualAxisEvent(true, true, QStringLiteral("w"));
    MapsTelemetry::CaptureMapsWorkbookLoadEvent({1, 1, 1, 1, 1});
    // Switching test mode off later changes nothing: it was decided on the first call.
    Options::Set(QStringLiteral("AppMode"), QStringLiteral("server"));
    MapsTelemetry::CaptureSpatialDataSourceEvent(QStringLiteral("kml"));
    EXPECT_TRUE(events.Events().empty());
    EXPECT_TRUE(spans.Spans().empty());
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/ev")));
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/spans")));
}

void FilesScenario(const QString& dir) {
    {
        Tracing::Activity render("mapbox-vector-renderer.do-render");
        render.SetAttribute("width", 512);
        render.SetAttribute("scale", 1.5);
        render.SetAttribute("cached", false);
        render.SetAttribute("style", "dark");
        Tracing::Activity("fetch").SetFailed("refused");
        MapsTelemetry::CaptureServerRenderMapEvent(12.5, 3, 0.25f, QStringLiteral("Dark"), 2);
    }
    // The threads start together so that their lines meet in the files.
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&start] {
            start.arrive_and_wait();
            for (int i = 0; i < kEventsPerThread; ++i) {
                MapsTelemetry::CaptureSpatialDataSourceEvent(QStringLiteral("shapefile"));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    const std::vector<rapidjson::Document> events = ReadJsonLines(dir + QStringLiteral("/ev"));
    ASSERT_EQ(events.size(), 1u + kThreads * kEventsPerThread);
    EXPECT_EQ(Text(Field(events[0], "category")), "Maps_Server_Render_Map_Telemetry");
    EXPECT_FALSE(Text(Field(events[0], "time")).empty());
    const rapidjson::Value& render = Field(events[0], "properties");
    EXPECT_EQ(Number(Field(render, "zoom_level")), 3.0);
    EXPECT_EQ(Number(Field(render, "washout")), 0.25);
    EXPECT_EQ(Text(Field(render, "style_name")), "Dark");
    for (std::size_t i = 1; i < events.size(); ++i) {
        EXPECT_EQ(Text(Field(Field(events[i], "properties"), "spatial_data_source_type")),
                  "shapefile");
    }

    // One OTLP request per span; spans by name (the spatial ones collapse into one entry).
    std::map<std::string, const rapidjson::Value*> spans;
    const std::vector<rapidjson::Document> requests = ReadJsonLines(dir + QStringLiteral("/spans"));
    ASSERT_EQ(requests.size(), 3u + kThreads * kEventsPerThread);
    for (const rapidjson::Document& request : requests) {
        const rapidjson::Value& resource = First(Field(request, "resourceSpans"));
        const rapidjson::Value& service = First(Field(Field(resource, "resource"), "attributes"));
        EXPECT_EQ(Text(Field(service, "key")), "service.name");
        const rapidjson::Value& scoped = Field(First(Field(resource, "scopeSpans")), "spans");
        ASSERT_TRUE(scoped.IsArray() && scoped.Size() == 1u);
        const rapidjson::Value& span = scoped[0];
        EXPECT_TRUE(IsHex(Field(span, "traceId"), 32) && IsHex(Field(span, "spanId"), 16));
        EXPECT_EQ(Number(Field(span, "kind")), 1);
        EXPECT_LE(Nanos(Field(span, "startTimeUnixNano")), Nanos(Field(span, "endTimeUnixNano")));
        spans[Text(Field(span, "name"))] = &span;
    }
    const rapidjson::Value& top = *spans.at("mapbox-vector-renderer.do-render");
    const rapidjson::Value& fetch = *spans.at("fetch");
    const rapidjson::Value& usage = *spans.at("maps_server_render_map_telemetry");
    EXPECT_FALSE(top.HasMember("parentSpanId"));
    EXPECT_FALSE(spans.at("spatial_data_source_telemetry")->HasMember("parentSpanId"));
    for (const rapidjson::Value* child : {&fetch, &usage}) {
        EXPECT_EQ(Text(Field(*child, "traceId")), Text(Field(top, "traceId")));
        EXPECT_EQ(Text(Field(*child, "parentSpanId")), Text(Field(top, "spanId")));
        EXPECT_LE(Nanos(Field(top, "startTimeUnixNano")),
                  Nanos(Field(*child, "startTimeUnixNano")));
    }
    EXPECT_EQ(Text(Field(AnyValue(top, "width"), "intValue")), "512");
    EXPECT_EQ(Number(Field(AnyValue(top, "scale"), "doubleValue")), 1.5);
    EXPECT_TRUE(Field(AnyValue(top, "cached"), "boolValue").IsFalse());
    EXPECT_EQ(Text(Field(AnyValue(top, "style"), "stringValue")), "dark");
    EXPECT_EQ(Number(Field(AnyValue(usage, "pixel_ratio"), "doubleValue")), 2.0);
    EXPECT_TRUE(Field(top, "status").IsObject() && Field(top, "status").ObjectEmpty());
    EXPECT_EQ(Number(Field(Field(fetch, "status"), "code")), 2);
    EXPECT_EQ(Text(Field(Field(fetch, "status"), "message")), "refused");
}

} // namespace

TEST(MapsTelemetryInOwnProcess, TestModeSendsNothingForTheLifeOfTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunAndExit(TestModeScenario), testing::ExitedWithCode(0), "");
}

TEST(MapsTelemetryInOwnProcess, FilesHoldOneEventAndOneOtlpRequestPerLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunAndExit(FilesScenario), testing::ExitedWithCode(0), "");
}
