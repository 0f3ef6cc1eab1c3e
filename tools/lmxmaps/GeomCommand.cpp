#include "GeomCommand.h"

#include <charconv>
#include <cmath>
#include <istream>
#include <optional>
#include <ostream>
#include <stdexcept>

#include <lmxmaps/Geom.h>
#include <lmxmaps/GeometryEngine.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/WktParser.h>
#include <lmxmaps/host/SpatialException.h>

#include "ExitCodes.h"
#include "NumberParsing.h"
#include "OptionValue.h"
#include "ProjectorNames.h"

namespace {

constexpr const char* kDefaultProjection = "webmercator";
constexpr int kDefaultDeviceSize = 1024;
// The window of world units that plumping folds X into starts here.
constexpr double kWorldXOrigin = 0.0;
constexpr double kUnusedPlumpArgument = 0.0;

enum class Operation { Plump, Generalize, Union, Centroid };

struct GeomOptions {
    Operation operation = Operation::Plump;
    std::string projection = kDefaultProjection;
    int deviceSize = kDefaultDeviceSize;
    std::optional<double> tolerance;
    bool help = false;
};

Operation ParseOperation(const std::string& word) {
    if (word == "plump") {
        return Operation::Plump;
    }
    if (word == "generalize") {
        return Operation::Generalize;
    }
    if (word == "union") {
        return Operation::Union;
    }
    if (word == "centroid") {
        return Operation::Centroid;
    }
    throw std::invalid_argument("unknown operation '" + word +
                                "' (plump, generalize, union or centroid)");
}

int ParseDeviceSize(const std::string& text) {
    int size = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (error != std::errc() || end != text.data() + text.size() || size <= 0) {
        throw std::invalid_argument("--device-size needs a positive whole number, not '" + text +
                                    "'");
    }
    return size;
}

double ParseTolerance(const std::string& text) {
    const std::optional<double> tolerance = ParseDouble(text);
    if (!tolerance || !std::isfinite(*tolerance) || *tolerance < 0.0) {
        throw std::invalid_argument("--tolerance needs a number of at least 0, not '" + text + "'");
    }
    return *tolerance;
}

void RequireOperation(const GeomOptions& options, Operation operation, const char* option) {
    if (options.operation != operation) {
        throw std::invalid_argument(std::string(option) + " does not apply to this operation");
    }
}

GeomOptions ParseOptions(const std::vector<std::string>& args) {
    GeomOptions options;
    if (args.empty()) {
        throw std::invalid_argument("an operation is required");
    }
    if (args[0] == "--help" || args[0] == "-h") {
        options.help = true;
        return options;
    }
    options.operation = ParseOperation(args[0]);
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            options.help = true;
        } else if (const auto projection = OptionValue(args, i, "--projection")) {
            RequireOperation(options, Operation::Plump, "--projection");
            options.projection = *projection;
        } else if (const auto deviceSize = OptionValue(args, i, "--device-size")) {
            RequireOperation(options, Operation::Plump, "--device-size");
            options.deviceSize = ParseDeviceSize(*deviceSize);
        } else if (const auto tolerance = OptionValue(args, i, "--tolerance")) {
            RequireOperation(options, Operation::Generalize, "--tolerance");
            options.tolerance = ParseTolerance(*tolerance);
        } else {
            throw std::invalid_argument("unknown argument '" + args[i] + "'");
        }
    }
    if (!options.help && options.operation == Operation::Generalize && !options.tolerance) {
        throw std::invalid_argument("generalize needs --tolerance");
    }
    return options;
}

std::string Trimmed(const std::string& line) {
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

// One input geometry: its text as given and as parsed.
struct InputGeometry {
    long lineNumber = 0;
    std::string text;
    geom::ConstGeomPtr geometry;
};

// Reads every non-blank line; lines that are not WKT are reported and left out.
class GeometryReader {
public:
    GeometryReader(std::istream& in, std::ostream& err) : m_in(in), m_err(err) {}

    std::optional<InputGeometry> Next() {
        std::string line;
        while (std::getline(m_in, line)) {
            ++m_lineNumber;
            InputGeometry input{m_lineNumber, Trimmed(line), nullptr};
            if (input.text.empty()) {
                continue;
            }
            try {
                if (WktParser::FromString(QString::fromStdString(input.text), input.geometry)) {
                    return input;
                }
                ReportFailure(m_lineNumber, "not WKT: '" + input.text + "'");
            } catch (const SpatialOGRTypeException& e) {
                ReportFailure(m_lineNumber, e.what());
            }
        }
        return std::nullopt;
    }

    void ReportFailure(long lineNumber, const std::string& message) {
        m_err << "lmxmaps geom: line " << lineNumber << ": " << message << "\n";
        m_failed = true;
    }

    bool AnyFailed() const { return m_failed; }

private:
    std::istream& m_in;
    std::ostream& m_err;
    long m_lineNumber = 0;
    bool m_failed = false;
};

geom::ConstGeomPtr MapPoints(const geom::ConstGeom& geometry, const SpatialTransform& transform) {
    geom::Geom mapped;
    geom::ForAll(geometry.Get(), mapped, [&transform](const geom::Point& point) {
        const auto [x, y] = transform(point.x, point.y);
        return geom::Point{x, y};
    });
    return std::make_shared<const geom::ConstGeom>(std::move(mapped), geometry.GetType());
}

void RunPlump(GeometryReader& reader, const SpatialProjector& projector, int deviceSize,
              std::ostream& out) {
    const SpatialProjectorTransforms::Forward forward(projector);
    const SpatialProjectorTransforms::Inverse inverse(projector);
    while (const std::optional<InputGeometry> input = reader.Next()) {
        try {
            const geom::ConstGeomPtr world = MapPoints(*input->geometry, forward);
            const geom::ConstGeomPtr plumped = geom::PlumpGeometryForProjectionAndDevice(
                world, forward, inverse, kWorldXOrigin, kUnusedPlumpArgument, deviceSize);
            // Unchanged geometry is written as read rather than through a round trip.
            const geom::ConstGeomPtr result =
                plumped == world ? input->geometry : MapPoints(*plumped, inverse);
            out << WktWriter::ToWkt(*result) << "\n";
        } catch (const std::exception& e) {
            reader.ReportFailure(input->lineNumber, e.what());
        }
    }
}

void RunGeneralize(GeometryReader& reader, double tolerance, std::ostream& out) {
    while (const std::optional<InputGeometry> input = reader.Next()) {
        try {
            geom::Geom generalized;
            if (geom::GeneralizeGeometryIfTooDetailed(*input->geometry, generalized, tolerance)) {
                out << WktWriter::ToWkt(
                           geom::ConstGeom(std::move(generalized), input->geometry->GetType()))
                    << "\n";
            } else {
                out << input->text << "\n";
            }
        } catch (const std::exception& e) {
            reader.ReportFailure(input->lineNumber, e.what());
        }
    }
}

// False when the union itself failed.
bool RunUnion(GeometryReader& reader, std::ostream& out, std::ostream& err) {
    std::vector<DataValue> geometries;
    while (const std::optional<InputGeometry> input = reader.Next()) {
        geometries.push_back(DataValue::String(QString::fromStdString(input->text)));
    }
    try {
        out << ToUtf8(GeometryEngine().Union(geometries).GetString()) << "\n";
        return true;
    } catch (const std::exception& e) {
        err << "lmxmaps geom: union failed: " << e.what() << "\n";
        return false;
    }
}

void RunCentroid(GeometryReader& reader, std::ostream& out) {
    const GeometryEngine engine;
    while (const std::optional<InputGeometry> input = reader.Next()) {
        try {
            const std::optional<GeometryEngine::XY> centroid =
                engine.ComputeCentroid(DataValue::String(QString::fromStdString(input->text)));
            if (centroid) {
                out << ToUtf8(engine.CreatePoint(centroid->first, centroid->second).GetString());
            }
            out << "\n";
        } catch (const std::exception& e) {
            reader.ReportFailure(input->lineNumber, e.what());
        }
    }
}

} // namespace

const char* GeomCommandHelp() {
    return "usage: lmxmaps geom plump [--projection NAME] [--device-size PIXELS]\n"
           "       lmxmaps geom generalize --tolerance T\n"
           "       lmxmaps geom union\n"
           "       lmxmaps geom centroid\n"
           "\n"
           "Reads WKT in longitude/latitude, one geometry per line, from standard input and\n"
           "writes WKT in longitude/latitude.\n"
           "  plump       densifies lines and rings along great arcs until every segment is\n"
           "              short enough to draw straight on a world DEVICE-SIZE pixels wide\n"
           "              (default 1024) in the projection (default webmercator), and repairs\n"
           "              rings that cross the antimeridian or enclose a pole\n"
           "  generalize  thins lines and rings (Douglas-Peucker, a thousandth of T in degrees);\n"
           "              a geometry with nothing to thin is written as it was read\n"
           "  union       unites all geometries into one\n"
           "  centroid    one POINT per geometry (an empty line for an empty geometry)\n"
           "Blank lines are ignored. A line that is not WKT, or that an operation rejects, is\n"
           "reported on standard error with its line number and skipped.\n"
           "\n"
           "Projections:\n";
}

int RunGeomCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                   std::ostream& err) {
    GeomOptions options;
    SpatialProjectorPtr projector;
    try {
        options = ParseOptions(args);
        if (options.help) {
            out << GeomCommandHelp() << ProjectorNamesHelp();
            return ExitCode::kSuccess;
        }
        if (options.operation == Operation::Plump) {
            projector = CreateProjectorFromName(options.projection);
        }
    } catch (const std::invalid_argument& e) {
        err << "lmxmaps geom: " << e.what() << "\n"
            << "Run 'lmxmaps geom --help' for usage.\n";
        return ExitCode::kUsage;
    }

    GeometryReader reader(in, err);
    bool succeeded = true;
    switch (options.operation) {
    case Operation::Plump:
        RunPlump(reader, *projector, options.deviceSize, out);
        break;
    case Operation::Generalize:
        RunGeneralize(reader, *options.tolerance, out);
        break;
    case Operation::Union:
        succeeded = RunUnion(reader, out, err);
        break;
    case Operation::Centroid:
        RunCentroid(reader, out);
        break;
    }
    return succeeded && !reader.AnyFailed() ? ExitCode::kSuccess : ExitCode::kPartialFailure;
}
