#include "SourceFile.h"

#include <QDir>
#include <fstream>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <sstream>

#include <lmxmaps/LocalMapProviders.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/host/HostPaths.h>
#include <lmxmaps/host/MapCode.h>

namespace {

constexpr const char16_t* kDefaultSourceName = u"World";
constexpr const char16_t* kDefaultAttribution = u"Blue Marble: NASA Earth Observatory";
// The deepest level of the default world tile set.
constexpr const char16_t* kDefaultMaxScaleLevel = u"4";

std::optional<TString> MemberText(const rapidjson::Value& value) {
    if (value.IsString()) {
        return QString::fromUtf8(value.GetString(), static_cast<int>(value.GetStringLength()));
    }
    if (value.IsBool()) {
        return value.GetBool() ? QStringLiteral("true") : QStringLiteral("false");
    }
    if (value.IsInt64()) {
        return TString::number(value.GetInt64());
    }
    if (value.IsNumber()) {
        return TString::number(value.GetDouble(), 'g', 17);
    }
    return std::nullopt;
}

} // namespace

std::optional<AttributeMap> ReadSourceFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open source file '" + path + "'";
        return std::nullopt;
    }
    std::stringstream text;
    text << file.rdbuf();
    const std::string json = text.str();

    rapidjson::Document document;
    // Iterative: a deeply nested file must not recurse off the stack.
    document.Parse<rapidjson::kParseIterativeFlag>(json.c_str(), json.size());
    if (document.HasParseError()) {
        error = "source file '" + path +
                "' is not valid JSON: " + rapidjson::GetParseError_En(document.GetParseError()) +
                " (at byte " + std::to_string(document.GetErrorOffset()) + ")";
        return std::nullopt;
    }
    if (!document.IsObject()) {
        error = "source file '" + path + "' must hold one JSON object of attributes";
        return std::nullopt;
    }
    AttributeMap attributes;
    for (const auto& member : document.GetObject()) {
        const std::string key(member.name.GetString(), member.name.GetStringLength());
        const std::optional<TString> value = MemberText(member.value);
        if (!value) {
            error = "source attribute '" + key + "' must be a string, a number or a boolean";
            return std::nullopt;
        }
        attributes[QString::fromStdString(key)] = *value;
    }
    for (const char16_t* required : {MapSource::attrName, MapProvider::attrClass}) {
        if (attributes.count(TStr(required)) == 0) {
            error =
                "source file '" + path + "' lacks the attribute \"" + ToUtf8(TStr(required)) + "\"";
            return std::nullopt;
        }
    }
    return attributes;
}

AttributeMap DefaultSourceAttributes() {
    return {
        {TStr(MapSource::attrName), TStr(kDefaultSourceName)},
        {TStr(MapProvider::attrClass), TStr(LocalMapProvider::valueClassAttr)},
        {TStr(MapProvider::attrCopyrightString), TStr(kDefaultAttribution)},
        {TStr(MapProvider::attrMaxScaleLevel), TStr(kDefaultMaxScaleLevel)},
    };
}

TString DefaultSourceTileDirectory() {
    return QDir(HostPaths::MapTilesDirectory())
        .filePath(MapCodeString(MapCode::Default) + u'/' +
                  TStr(RasterMapProvider::kTileSetVariant));
}

std::shared_ptr<MapSource> MakeMapSource(const AttributeMap& attributes) {
    std::shared_ptr<MapSource> source = MapSourceFactory(attributes);
    const std::shared_ptr<MapProvider> provider = source->GetMapProvider();
    if (!provider->GetStoredLayers()) {
        provider->SetStoredLayers(MakeRefCnt<MapLayers>());
    }
    return source;
}
