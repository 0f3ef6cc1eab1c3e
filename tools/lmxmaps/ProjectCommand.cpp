#include "ProjectCommand.h"

#include <array>
#include <cstdio>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>

#include <lmxmaps/SpatialProjector.h>

#include "CommandLine.h"
#include "ExitCodes.h"
#include "NumberParsing.h"
#include "ProjectorNames.h"

namespace {

constexpr const char* kNotes =
    "Numbers may be separated by blanks or a comma and are written with 17 significant\n"
    "digits; an undefined result is written as nan. A line that is not two numbers is\n"
    "reported on standard error with its line number and gives an empty output line.\n"
    "Exit status: 0 every line handled, 1 some lines were not, 2 bad arguments.\n"
    "\n"
    "Projections:\n";

struct ProjectOptions {
    SpatialProjectorPtr projector;
    bool inverse = false;
    bool unitSquare = false;
};

// Two numbers separated by blanks and/or one comma; nullopt for anything else.
std::optional<std::array<double, 2>> ParsePoint(const std::string& line) {
    std::vector<std::string_view> tokens;
    const std::string_view text(line);
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() &&
               (text[i] == ' ' || text[i] == '\t' || text[i] == ',' || text[i] == '\r')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != ',' &&
               text[i] != '\r') {
            ++i;
        }
        if (i > start) {
            tokens.push_back(text.substr(start, i - start));
        }
    }
    if (tokens.size() != 2) {
        return std::nullopt;
    }
    const std::optional<double> first = ParseDouble(tokens[0]);
    const std::optional<double> second = ParseDouble(tokens[1]);
    if (!first || !second) {
        return std::nullopt;
    }
    return std::array<double, 2>{*first, *second};
}

using PointFunction = std::function<std::pair<double, double>(double, double)>;

PointFunction MakePointFunction(const SpatialProjector& projector, const ProjectOptions& options) {
    if (options.unitSquare && options.inverse) {
        return SpatialProjectorTransforms::Inverse(projector);
    }
    if (options.unitSquare) {
        return SpatialProjectorTransforms::Forward(projector);
    }
    if (options.inverse) {
        return [&projector](double x, double y) {
            double u = 0.0;
            double v = 0.0;
            projector.GetInverseOfXY(x, y, u, v);
            return std::pair{u, v};
        };
    }
    return [&projector](double u, double v) {
        return projector.GetXY(u, v);
    };
}

std::string FormatPoint(std::pair<double, double> point) {
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%.17g %.17g", point.first, point.second);
    return buffer.data();
}

} // namespace

int RunProjectCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                      std::ostream& err) {
    ProjectOptions options;
    CommandApp app("Reads one point per line from standard input and writes one line per input "
                   "line.\nForward, the input is \"longitude latitude\" in degrees and the output "
                   "\"x y\"\nin the projection's plane units.",
                   "lmxmaps project");
    AddParsedOption(app, "--projection", options.projector, CreateProjectorFromName,
                    "the map projection, one of those below")
        ->type_name("NAME")
        ->required();
    app.add_flag("--inverse", options.inverse, "input \"x y\", output \"longitude latitude\"");
    app.add_flag("--unit-square", options.unitSquare,
                 "use the unit square of the projection's world instead of plane\n"
                 "units: the world spans [0, 1] on both axes, and on a wrapping\n"
                 "projection each whole turn of longitude adds 1 to x");
    app.footer(std::string(kNotes) + ProjectorNamesHelp());
    if (const std::optional<int> status = app.ParseArguments(args, out, err)) {
        return *status;
    }
    if (options.unitSquare && !HasFiniteWorld(*options.projector)) {
        err << "lmxmaps project: --unit-square: the projection '"
            << ToUtf8(options.projector->GetName())
            << "' has no finite world bounds, so it has no unit square\n";
        return ExitCode::kUsage;
    }

    const PointFunction apply = MakePointFunction(*options.projector, options);
    int status = ExitCode::kSuccess;
    std::string line;
    for (long lineNumber = 1; std::getline(in, line); ++lineNumber) {
        const std::optional<std::array<double, 2>> point = ParsePoint(line);
        if (!point) {
            err << "lmxmaps project: line " << lineNumber << ": expected two numbers, got '" << line
                << "'\n";
            out << "\n";
            status = ExitCode::kPartialFailure;
            continue;
        }
        out << FormatPoint(apply((*point)[0], (*point)[1])) << "\n";
    }
    return status;
}
