#include "ProjectorNames.h"

#include <cmath>
#include <stdexcept>
#include <vector>

#include "NumberParsing.h"

namespace {

std::vector<double> ParseParameters(const std::string& name, const std::string& text,
                                    std::size_t expected) {
    std::vector<double> values;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::optional<double> value = ParseDouble(item);
        if (!value) {
            throw std::invalid_argument("projection '" + name + "': '" + item +
                                        "' is not a number");
        }
        values.push_back(*value);
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (values.size() != expected) {
        throw std::invalid_argument("projection '" + name + "' takes " + std::to_string(expected) +
                                    " comma-separated numbers, not " +
                                    std::to_string(values.size()));
    }
    return values;
}

} // namespace

SpatialProjectorPtr CreateProjectorFromName(const std::string& name) {
    const FieldName u(QStringLiteral("Longitude"));
    const FieldName v(QStringLiteral("Latitude"));
    const std::size_t colon = name.find(':');
    const std::string family = name.substr(0, colon);
    const std::string parameters =
        colon == std::string::npos ? std::string() : name.substr(colon + 1);
    const bool hasParameters = colon != std::string::npos;

    try {
        if (family == "albers") {
            const std::vector<double> p = ParseParameters(name, parameters, 6);
            return SpatialProjector::AlbersFactory(u, v, QStringLiteral("Albers"), p[0], p[1], p[2],
                                                   p[3], p[4], p[5]);
        }
        if (family == "cea") {
            const std::vector<double> p = ParseParameters(name, parameters, 1);
            return SpatialProjector::CylindricEqualAreaFactory(u, v, QStringLiteral("cea"), p[0]);
        }
    } catch (const MapProjectorException& e) {
        throw std::invalid_argument("projection '" + name + "': " + e.what());
    }
    if (hasParameters) {
        throw std::invalid_argument("projection '" + family + "' takes no parameters");
    }
    if (family == "webmercator") {
        return SpatialProjector::WebMercatorFactory(u, v, QStringLiteral("EPSG:3857"));
    }
    if (family == "mercator") {
        return SpatialProjector::MercatorFactory(u, v, QStringLiteral("Mercator"), 0.0);
    }
    if (family == "platecarree") {
        return SpatialProjector::PlateCarreeFactory(u, v);
    }
    if (family == "identity") {
        return SpatialProjector::IdentityFactory(u, v);
    }
    if (family == "smyth") {
        return SpatialProjector::SmythEqualSurfaceFactory(u, v, QStringLiteral("Smyth"));
    }
    throw std::invalid_argument("unknown projection '" + name + "'");
}

bool HasFiniteWorld(const SpatialProjector& projector) {
    const DataValueRect bounds = projector.GetWorldBounds();
    return std::isfinite(bounds.Width()) && std::isfinite(bounds.Height()) &&
           bounds.Width() > 0.0 && bounds.Height() > 0.0;
}

const char* ProjectorNamesHelp() {
    return "  webmercator                      Web Mercator (EPSG:3857), metres\n"
           "  mercator                         spherical Mercator, metres\n"
           "  platecarree                      longitude/latitude as plane coordinates\n"
           "  identity                         longitude/latitude, no world bounds\n"
           "  albers:LON0,LAT0,LAT1,LAT2,A,E   Albers equal-area conic: central meridian,\n"
           "                                   origin latitude, standard parallels (degrees),\n"
           "                                   semi-major axis (metres), eccentricity\n"
           "  cea:C                            cylindrical equal-area on the unit sphere, C the\n"
           "                                   cosine of the standard parallel (0 to 1)\n"
           "  smyth                            Smyth equal surface (cea with C = sqrt(2/pi))\n";
}
