#include "LayersCommand.h"

#include <algorithm>
#include <map>
#include <optional>
#include <rapidjson/ostreamwrapper.h>
#include <rapidjson/prettywriter.h>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>

#include "CommandLine.h"
#include "ExitCodes.h"
#include "SourceFile.h"

namespace {

struct LayersOptions {
    std::string source;
    std::optional<std::string> style;
    std::optional<std::string> area;
    bool json = false;
};

struct Listing {
    std::vector<MapLayer> featureLayers;
    std::vector<MapLayer> dataLayers;
    std::vector<TString> warnings;
};

// Attributes in key order, so that output compares between runs.
std::map<TString, TString> SortedAttributes(const MapLayer& layer) {
    return {layer.GetAttributes().begin(), layer.GetAttributes().end()};
}

void WriteJson(const Listing& listing, std::ostream& out) {
    rapidjson::OStreamWrapper stream(out);
    rapidjson::PrettyWriter<rapidjson::OStreamWrapper> writer(stream);
    writer.SetIndent(' ', 2);
    const auto string = [&](const TString& text) {
        const std::string utf8 = ToUtf8(text);
        writer.String(utf8.c_str(), static_cast<rapidjson::SizeType>(utf8.size()));
    };
    const auto layers = [&](const char* key, const std::vector<MapLayer>& list) {
        writer.Key(key);
        writer.StartArray();
        for (const MapLayer& layer : list) {
            writer.StartObject();
            for (const auto& [name, value] : SortedAttributes(layer)) {
                string(name);
                string(value);
            }
            writer.EndObject();
        }
        writer.EndArray();
    };
    writer.StartObject();
    layers("feature-layers", listing.featureLayers);
    layers("data-layers", listing.dataLayers);
    writer.Key("warnings");
    writer.StartArray();
    for (const TString& warning : listing.warnings) {
        string(warning);
    }
    writer.EndArray();
    writer.EndObject();
    out << "\n";
}

void WriteText(const Listing& listing, std::ostream& out) {
    const auto layers = [&](const char* kind, const std::vector<MapLayer>& list) {
        for (const MapLayer& layer : list) {
            out << kind << " "
                << ToUtf8(layer.GetName().isEmpty() ? layer.GetAttribute(MapLayer::attrDataId)
                                                    : layer.GetName())
                << "\n";
            for (const auto& [name, value] : SortedAttributes(layer)) {
                out << "  " << ToUtf8(name) << ": " << ToUtf8(value) << "\n";
            }
        }
    };
    layers("feature layer", listing.featureLayers);
    layers("data layer", listing.dataLayers);
}

std::vector<MapLayer> LayersOf(const RefCntPtr<MapLayers>& layers) {
    return layers ? layers->GetLayers() : std::vector<MapLayer>();
}

} // namespace

int RunLayersCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    LayersOptions options;
    CommandApp app("Connects a map source as the host does and lists its feature layers for a "
                   "style, or its data layers for an area, with all their attributes.",
                   "lmxmaps layers");
    app.add_option("--source", options.source,
                   "a JSON object of map-source attributes (\"name\" and \"class\" required)")
        ->required();
    app.add_option("--style", options.style,
                   "the style whose feature layers to list (required for vector sources)");
    app.add_option("--area", options.area,
                   "list the data layers of this area (\"State\", \"County\", ...) instead; with "
                   "--style, both");
    app.add_flag("--json", options.json,
                 "one JSON object {\"feature-layers\": [...], \"data-layers\": [...], "
                 "\"warnings\": [...]}");
    app.footer("Warnings of the source also go to standard error.\nExit status: 0 listed, 1 "
               "listed with warnings, 2 bad arguments or an unusable source.");
    if (const std::optional<int> status = app.ParseArguments(args, out, err)) {
        return *status;
    }

    std::string error;
    const std::optional<AttributeMap> attributes = ReadSourceFile(options.source, error);
    if (!attributes) {
        err << "lmxmaps layers: " << error << "\n";
        return ExitCode::kUsage;
    }
    Listing listing;
    std::shared_ptr<MapSource> source;
    try {
        source = MakeMapSource(*attributes);
        const std::shared_ptr<MapProvider> provider = source->GetMapProvider();
        if (provider->IsVector() && !options.style && !options.area) {
            err << "lmxmaps layers: the vector map source '" << ToUtf8(source->GetName())
                << "' needs --style NAME\n";
            return ExitCode::kUsage;
        }
        source->Connect();
        if (options.style || !options.area) {
            listing.featureLayers = LayersOf(
                provider->GetFeatureLayers(QString::fromStdString(options.style.value_or(""))));
        }
        if (options.area) {
            listing.dataLayers =
                LayersOf(provider->GetDataLayers(QString::fromStdString(*options.area)));
        }
        for (const RefCntPtr<WarningMsg>& warning : provider->FetchErrors()) {
            listing.warnings.push_back(warning->GetDisplayText());
        }
    } catch (const MapProviderException& e) {
        err << "lmxmaps layers: cannot use the map source";
        if (source) {
            err << " '" << ToUtf8(source->GetName()) << "'";
        }
        err << ": " << ToUtf8(e.GetMessage()) << " (error type " << e.GetType() << ")\n";
        return ExitCode::kUsage;
    }
    if (options.json) {
        WriteJson(listing, out);
    } else {
        WriteText(listing, out);
    }
    for (const TString& warning : listing.warnings) {
        err << "lmxmaps layers: warning: "
            << ToUtf8(TString(warning).replace(u'\n', QStringLiteral(": "))) << "\n";
    }
    return listing.warnings.empty() ? ExitCode::kSuccess : ExitCode::kPartialFailure;
}
