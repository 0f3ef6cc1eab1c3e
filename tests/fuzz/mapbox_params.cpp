// A Mapbox parameters document as a parameters server would serve it. Whatever the instance
// holds afterwards (the new values, or the old ones when the document is refused) must have
// the mapbox:// URL of each id, and, written back as a parameters document, read again to the
// same values.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <lmxmaps/MapboxParams.h>
#include <lmxmaps/MapboxUtils.h>
#include <lmxmaps/host/Options.h>

#include "FuzzSupport.h"

namespace {

// Every question comes this long after the last failure, so no refetch is ever throttled.
constexpr std::int64_t kClockStepSeconds = MapboxParams::kFailureWindowSeconds;

TString g_served;
std::int64_t g_now = 0;
std::shared_ptr<MapboxParams> g_params;

struct Loaded {
    TString token;
    TString account;
    MapboxParams::MapboxIDs styles;
    MapboxParams::MapboxIDs tilesets;

    bool operator==(const Loaded&) const = default;
};

Loaded Load(const TString& document) {
    g_served = document;
    g_params->ReportParamsFailure();
    return {g_params->GetToken(), g_params->GetMapboxAccount(), g_params->GetStyleIDs(),
            g_params->GetTilesetIDs()};
}

void WriteString(rapidjson::Writer<rapidjson::StringBuffer>& writer, const TString& text) {
    const QByteArray utf8 = text.toUtf8();
    writer.String(utf8.constData(), rapidjson::SizeType(utf8.size()));
}

void WriteIds(rapidjson::Writer<rapidjson::StringBuffer>& writer, const char* key,
              const MapboxParams::MapboxIDs& ids) {
    writer.Key(key);
    writer.StartObject();
    for (const auto& [name, id] : ids) {
        WriteString(writer, name);
        writer.StartObject();
        writer.Key("id");
        WriteString(writer, id.id);
        writer.EndObject();
    }
    writer.EndObject();
}

TString Write(const Loaded& loaded) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("access_token");
    writer.StartObject();
    writer.Key("token");
    WriteString(writer, loaded.token);
    writer.EndObject();
    writer.Key("mapbox_account");
    WriteString(writer, loaded.account);
    WriteIds(writer, "styles", loaded.styles);
    WriteIds(writer, "tilesets", loaded.tilesets);
    writer.EndObject();
    return QString::fromUtf8(buffer.GetString(), int(buffer.GetSize()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::SetOptions();
    // No "MapboxFetch" store: a document must not outlive its input.
    Options::Set(QStringLiteral("ExternalCacheDirectory"), QString());
    g_params = MapboxParams::CreateTestInstance(
        QStringLiteral("http://127.0.0.1:1/fuzz/params.json"),
        [](const TString&) { return g_served; }, [] { return g_now += kClockStepSeconds; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Loaded loaded = Load(QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)));
    for (const auto& [name, style] : loaded.styles) {
        if (style.url != MapboxUtils::CreateMapboxVectorStyleUrl(loaded.account, style.id))
            std::abort();
    }
    for (const auto& [name, tileset] : loaded.tilesets) {
        if (tileset.url != QStringLiteral("mapbox://") + tileset.id)
            std::abort();
    }
    if (Load(Write(loaded)) != loaded)
        std::abort();
    return 0;
}
