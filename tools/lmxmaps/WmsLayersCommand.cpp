#include "WmsLayersCommand.h"

#include <algorithm>
#include <array>
#include <optional>
#include <ostream>
#include <rapidjson/ostreamwrapper.h>
#include <rapidjson/prettywriter.h>
#include <stdexcept>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/net/TUrl.h>

#include "CommandLine.h"
#include "ExitCodes.h"
#include "NumberParsing.h"

namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr int kColumnGap = 2;

struct WmsLayersOptions {
    AttributeMap connection;
    bool json = false;
};

// The connection attributes of a base URL, which must be an http(s) URL with a host.
AttributeMap ConnectionAttributes(const std::string& text) {
    const TUrl url(QString::fromStdString(text));
    const TString scheme = url.GetScheme();
    if (!url.IsValid() || (scheme != u"http" && scheme != u"https")) {
        throw std::invalid_argument("'" + text + "' is not an http or https URL with a host");
    }
    TString path = url.GetPath().isEmpty() ? QStringLiteral("/") : url.GetPath();
    if (!url.GetQuery().isEmpty()) {
        path += u'?' + url.GetQuery();
    }
    return AttributeMap{
        {TStr(MapProvider::attrClass), TStr(WmsProvider::valueClassAttr)},
        {TStr(MapProvider::attrService), scheme},
        {TStr(MapProvider::attrServer), url.GetHost()},
        {TStr(MapProvider::attrPort), TString::number(url.GetPort())},
        {TStr(MapProvider::attrURL), path},
    };
}

// Through the provider, as a map source connects; throws MapProviderException.
WmsCapabilities FetchCapabilities(const AttributeMap& attributes) {
    const std::shared_ptr<MapProvider> provider = MapProvider::Create(attributes);
    const MapConnectionPtr connection = provider->Connect();
    const auto* wms = dynamic_cast<const WmsConnection*>(connection.get());
    LMX_LOGIC_ASSERT(wms != nullptr);
    return wms->GetCapabilities();
}

// The GetMap address as a URL; empty when the document names none.
std::string GetMapAddress(const WmsCapabilities& capabilities) {
    if (capabilities.getMapScheme.isEmpty()) {
        return {};
    }
    TString host = capabilities.getMapHost;
    const TString schemePrefix = capabilities.getMapScheme + QStringLiteral("://");
    if (host.startsWith(schemePrefix)) {
        host = host.mid(schemePrefix.size());
    }
    if (host.contains(u':')) {
        host = u'[' + host + u']';
    }
    TString address = schemePrefix + host;
    const int ownPort = capabilities.getMapScheme == u"https" ? kHttpsPort : kHttpPort;
    if (capabilities.getMapPort > 0 && capabilities.getMapPort != ownPort) {
        address += u':' + TString::number(capabilities.getMapPort);
    }
    return ToUtf8(address + capabilities.getMapPath);
}

// A scale denominator as the layer states it; nullopt when absent or not a number, as the
// layer's own visibility checks read it.
std::optional<double> ScaleDenominator(const MapLayer& layer, const char16_t* key) {
    return ParseDouble(ToUtf8(layer.GetAttribute(key).trimmed()));
}

std::string ScaleRange(const MapLayer& layer) {
    const std::optional<double> min = ScaleDenominator(layer, MapLayer::attrMinScaleDenom);
    const std::optional<double> max = ScaleDenominator(layer, MapLayer::attrMaxScaleDenom);
    if (!min && !max) {
        return {};
    }
    const auto text = [](const std::optional<double>& value) {
        return value ? ToUtf8(TString::number(*value, 'g', 15)) : std::string();
    };
    return text(min) + ".." + text(max);
}

void WriteJson(const WmsCapabilities& capabilities, std::ostream& out) {
    rapidjson::OStreamWrapper stream(out);
    rapidjson::PrettyWriter<rapidjson::OStreamWrapper> writer(stream);
    writer.SetIndent(' ', 2);
    const auto string = [&](const std::string& text) {
        writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    };
    writer.StartObject();
    writer.Key("title");
    string(ToUtf8(capabilities.title));
    writer.Key("version");
    string(ToUtf8(capabilities.version.ToString()));
    writer.Key("format");
    string(ToUtf8(capabilities.imageFormat));
    writer.Key("getmap");
    string(GetMapAddress(capabilities));
    writer.Key("layers");
    writer.StartArray();
    for (const MapLayer& layer : capabilities.layers->GetLayers()) {
        writer.StartObject();
        writer.Key("name");
        string(ToUtf8(layer.GetName()));
        writer.Key("display-name");
        string(ToUtf8(layer.GetAttribute(MapLayer::attrDisplayName)));
        writer.Key("crs");
        string(ToUtf8(layer.GetAttribute(MapLayer::attrCRS)));
        for (const char16_t* key : {MapLayer::attrMinScaleDenom, MapLayer::attrMaxScaleDenom}) {
            writer.Key(ToUtf8(TStr(key)).c_str());
            if (const std::optional<double> value = ScaleDenominator(layer, key)) {
                writer.Double(*value);
            } else {
                writer.Null();
            }
        }
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
    out << "\n";
}

using Row = std::array<TString, 4>;

// Columns padded to their widest cell (counted in characters, not bytes), without trailing
// blanks.
void WriteTable(const std::vector<Row>& rows, std::ostream& out) {
    constexpr Row::size_type columns = std::tuple_size_v<Row>;
    std::array<int, columns> widths{};
    for (const Row& row : rows) {
        for (Row::size_type column = 0; column < columns; ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    for (const Row& row : rows) {
        TString line;
        for (Row::size_type column = 0; column < columns; ++column) {
            line += column + 1 < columns ? row[column].leftJustified(widths[column] + kColumnGap)
                                         : row[column];
        }
        out << ToUtf8(line.trimmed()) << "\n";
    }
}

void WriteText(const WmsCapabilities& capabilities, std::ostream& out) {
    out << "title:   " << ToUtf8(capabilities.title) << "\n"
        << "version: " << ToUtf8(capabilities.version.ToString()) << "\n"
        << "format:  " << ToUtf8(capabilities.imageFormat) << "\n"
        << "getmap:  " << GetMapAddress(capabilities) << "\n"
        << "\n";
    std::vector<Row> rows = {{QStringLiteral("name"), QStringLiteral("display name"),
                              QStringLiteral("crs"), QStringLiteral("scale range")}};
    for (const MapLayer& layer : capabilities.layers->GetLayers()) {
        rows.push_back({layer.GetName(), layer.GetAttribute(MapLayer::attrDisplayName),
                        layer.GetAttribute(MapLayer::attrCRS),
                        QString::fromStdString(ScaleRange(layer))});
    }
    WriteTable(rows, out);
}

} // namespace

int RunWmsLayersCommand(const std::vector<std::string>& args, std::ostream& out,
                        std::ostream& err) {
    WmsLayersOptions options;
    CommandApp app("Reads the capabilities of a WMS server and lists its layers.",
                   "lmxmaps wms-layers");
    AddParsedOption(app, "URL", options.connection, ConnectionAttributes,
                    "the server's base address, e.g. http://127.0.0.1:8080/mapserv? or\n"
                    "https://host/wms?map=world.map (port: the URL's own, else 80 or 443)")
        ->required();
    app.add_flag("--json", options.json,
                 "one JSON object: title, version, format, getmap and the layers with\n"
                 "name, display-name, crs, min-scale-denom and max-scale-denom");
    app.footer("Exit status: 0 listed, 1 the server failed or offers nothing usable, 2 bad\n"
               "arguments.\n");
    if (const std::optional<int> status = app.ParseArguments(args, out, err)) {
        return *status;
    }
    WmsCapabilities capabilities;
    try {
        capabilities = FetchCapabilities(options.connection);
    } catch (const MapProviderException& e) {
        err << "lmxmaps wms-layers: " << ToUtf8(e.GetMessage()) << " (error type " << e.GetType()
            << ")\n";
        return ExitCode::kPartialFailure;
    } catch (const LumivexException& e) {
        err << "lmxmaps wms-layers: " << ToUtf8(e.GetMessage()) << "\n";
        return ExitCode::kPartialFailure;
    }
    if (options.json) {
        WriteJson(capabilities, out);
    } else {
        WriteText(capabilities, out);
    }
    return ExitCode::kSuccess;
}
