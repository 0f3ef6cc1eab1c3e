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

#include "CommandLine.h"
#include "ExitCodes.h"
#include "NumberParsing.h"
#include "ProjectorNames.h"

namespace {

constexpr const char* kDefaultProjection = "webmercator";
constexpr int kDefaultDeviceSize = 1024;
// The window of world units that plumping folds X into starts here.
constexpr double kWorldXOrigin = 0.0;
constexpr double kUnusedPlumpArgument = 0.0;
constexpr double kDegreesPerTurn = 360.0;

constexpr const char* kNotes =
    "Blank lines are ignored. A line that is not WKT, or that an operation rejects, is\n"
    "reported on standard error with its line number and skipped.\n"
    "Exit status: 0 every line handled, 1 some lines were not, 2 bad arguments.\n";

struct GeomOptions {
    SpatialProjectorPtr projector;
    int deviceSize = kDefaultDeviceSize;
    double tolerance = 0.0;
};

int ParseDeviceSize(const std::string& text) {
    int size = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (error != std::errc() || end != text.data() + text.size() || size <= 0) {
        throw std::invalid_argument("needs a positive whole number, not '" + text + "'");
    }
    return size;
}

double ParseTolerance(const std::string& text) {
    const std::optional<double> tolerance = ParseDouble(text);
    if (!tolerance || !std::isfinite(*tolerance) || *tolerance < 0.0) {
        throw std::invalid_argument("needs a number of at least 0, not '" + text + "'");
    }
    return *tolerance;
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

geom::Geom MapAllPoints(const geom::ConstGeom& geometry, const SpatialTransform& transform) {
    geom::Geom mapped;
    geom::ForAll(geometry.Get(), mapped, [&transform](const geom::Point& point) {
        const auto [x, y] = transform(point.x, point.y);
        return geom::Point{x, y};
    });
    return mapped;
}

geom::ConstGeomPtr MapPoints(const geom::ConstGeom& geometry, const SpatialTransform& transform) {
    return std::make_shared<const geom::ConstGeom>(MapAllPoints(geometry, transform),
                                                   geometry.GetType());
}

// Moves path by whole turns of longitude so that it starts next to where given started.
void StartNextTo(geom::Path& path, const geom::Path& given) {
    if (path.empty() || given.empty()) {
        return;
    }
    const double shift =
        kDegreesPerTurn * std::round((given.front().x - path.front().x) / kDegreesPerTurn);
    if (!std::isfinite(shift) || shift == 0.0) {
        return;
    }
    for (geom::Point& point : path) {
        point.x += shift;
    }
}

// The plumped geometry back in degrees. Plumping folds every path into one window of the
// world; on a wrapping world each path is moved back by whole turns to start where it was
// given, and its later vertices follow on continuously from there.
geom::ConstGeomPtr PlumpedToDegrees(const geom::ConstGeom& plumped, const geom::ConstGeom& given,
                                    const SpatialTransform& inverse, bool wraps) {
    geom::Geom degrees = MapAllPoints(plumped, inverse);
    if (wraps) {
        std::vector<geom::Path>& lines = degrees.GetLines();
        for (std::size_t i = 0; i < lines.size() && i < given.GetLines().size(); ++i) {
            StartNextTo(lines[i], given.GetLines()[i]);
        }
        std::vector<geom::Polygon>& polys = degrees.GetPolys();
        for (std::size_t i = 0; i < polys.size() && i < given.GetPolys().size(); ++i) {
            const geom::Polygon& givenPolygon = given.GetPolys()[i];
            for (std::size_t r = 0; r < polys[i].size() && r < givenPolygon.size(); ++r) {
                StartNextTo(polys[i][r], givenPolygon[r]);
            }
        }
    }
    return std::make_shared<const geom::ConstGeom>(std::move(degrees), plumped.GetType());
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
                plumped == world
                    ? input->geometry
                    : PlumpedToDegrees(*plumped, *input->geometry, inverse, projector.DoesWrap());
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

int RunGeomCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                   std::ostream& err) {
    GeomOptions options;
    CommandApp app("Reads WKT in longitude/latitude, one geometry per line, from standard input "
                   "and\nwrites WKT in longitude/latitude.",
                   "lmxmaps geom");
    app.require_subcommand(1);
    const std::string projections = std::string("\nProjections:\n") + ProjectorNamesHelp();
    app.footer(kNotes + projections);

    CLI::App* plump = app.add_subcommand(
        "plump", "densifies lines and rings along great arcs until every segment is\n"
                 "short enough to draw straight on a world PIXELS wide in the\n"
                 "projection, and repairs rings that cross the antimeridian or\n"
                 "enclose a pole");
    AddParsedOption(*plump, "--projection", options.projector, CreateProjectorFromName,
                    "the projection of that world, one of those below")
        ->type_name("NAME")
        ->default_str(kDefaultProjection)
        // Without the option its default is parsed as a given name is.
        ->force_callback();
    AddParsedOption(*plump, "--device-size", options.deviceSize, ParseDeviceSize,
                    "the width of that world in pixels")
        ->type_name("PIXELS")
        ->default_str(std::to_string(kDefaultDeviceSize));

    CLI::App* generalize = app.add_subcommand(
        "generalize", "thins lines and rings (Douglas-Peucker, a thousandth of T in\n"
                      "degrees); a geometry with nothing to thin is written as it was read");
    AddParsedOption(*generalize, "--tolerance", options.tolerance, ParseTolerance,
                    "the tolerance in thousandths of a degree")
        ->type_name("T")
        ->required();

    CLI::App* unite = app.add_subcommand("union", "unites all geometries into one");
    CLI::App* centroid = app.add_subcommand(
        "centroid", "one POINT per geometry (an empty line for an empty geometry)");
    for (CLI::App* withoutProjection : {generalize, unite, centroid}) {
        withoutProjection->footer(kNotes);
    }
    if (const std::optional<int> status = app.ParseArguments(args, out, err)) {
        return *status;
    }

    if (app.got_subcommand(plump) && !HasFiniteWorld(*options.projector)) {
        err << "lmxmaps geom: --projection: the projection '"
            << ToUtf8(options.projector->GetName())
            << "' has no finite world bounds, so there is no world to plump in\n";
        return ExitCode::kUsage;
    }

    GeometryReader reader(in, err);
    bool succeeded = true;
    if (app.got_subcommand(plump)) {
        RunPlump(reader, *options.projector, options.deviceSize, out);
    } else if (app.got_subcommand(generalize)) {
        RunGeneralize(reader, options.tolerance, out);
    } else if (app.got_subcommand(unite)) {
        succeeded = RunUnion(reader, out, err);
    } else if (app.got_subcommand(centroid)) {
        RunCentroid(reader, out);
    }
    return succeeded && !reader.AnyFailed() ? ExitCode::kSuccess : ExitCode::kPartialFailure;
}
