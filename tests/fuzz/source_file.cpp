// Map-source files as the tool reads them (--source FILE), then the source made from the
// attributes. An accepted file names its source and class, its attributes written back as JSON
// read back the same, and a refused one says why. No source connects: nothing is fetched.
#include <QDir>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>

#include "FuzzSupport.h"
#include "SourceFile.h"

namespace {

std::string g_inputPath;
std::string g_rewrittenPath;

void WriteFile(const std::string& path, const char* bytes, std::size_t size) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes, std::streamsize(size));
}

std::string ToJson(const AttributeMap& attributes) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    for (const auto& [key, value] : attributes) {
        const QByteArray keyUtf8 = key.toUtf8();
        const QByteArray valueUtf8 = value.toUtf8();
        writer.Key(keyUtf8.constData(), rapidjson::SizeType(keyUtf8.size()));
        writer.String(valueUtf8.constData(), rapidjson::SizeType(valueUtf8.size()));
    }
    writer.EndObject();
    return {buffer.GetString(), buffer.GetSize()};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static QTemporaryDir directory;
    g_inputPath = QDir(directory.path()).filePath(QStringLiteral("source.json")).toStdString();
    g_rewrittenPath = QDir(directory.path()).filePath(QStringLiteral("again.json")).toStdString();
    // Should a source try to connect after all, it reaches nothing.
    FuzzSupport::SetOptions(
        {{"ForceNoConnectionMap", "true"}, {"ConnectionIpBlacklist", "0.0.0.0/0 ::/0"}});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WriteFile(g_inputPath, reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<AttributeMap> attributes = ReadSourceFile(g_inputPath, error);
    if (!attributes) {
        if (error.empty())
            std::abort();
        return 0;
    }
    const std::string json = ToJson(*attributes);
    WriteFile(g_rewrittenPath, json.data(), json.size());
    if (ReadSourceFile(g_rewrittenPath, error) != attributes)
        std::abort();

    std::shared_ptr<MapSource> source;
    try {
        source = MakeMapSource(*attributes);
    } catch (const MapProviderException&) {
        return 0; // an unknown class or an unusable attribute set: refused with a message
    }
    const TString name = attributes->at(QStringLiteral("name"));
    if (!source || source->GetName() != name || !source->GetMapProvider() ||
        !source->GetMapProvider()->GetStoredLayers())
        std::abort();
    return 0;
}
