// Projects a point, makes a map source from its attributes and reads the version, as a program
// of another project would; exits with 1 when a result is wrong.
#include <cmath>
#include <cstring>
#include <iostream>

#include <lmxmaps/MapSource.h>
#include <lmxmaps/SpatialProjector.h>
#include <lmxmaps/Version.h>

int main() {
    // New York in Web Mercator metres, as PROJ gives it.
    constexpr double kExpectedX = -8238310.2356470041;
    constexpr double kExpectedY = 4970071.5791424252;
    constexpr double kToleranceMetres = 1e-6;

    const SpatialProjectorPtr projector = SpatialProjector::WebMercatorFactory(
        FieldName(QStringLiteral("Longitude")), FieldName(QStringLiteral("Latitude")),
        QStringLiteral("EPSG:3857"));
    const auto [x, y] = projector->GetXY(-74.006, 40.7128);
    const auto source = MapSourceFactory({{QStringLiteral("name"), QStringLiteral("Blank")},
                                          {QStringLiteral("class"), QStringLiteral("blank")}});

    std::cout.precision(17);
    std::cout << "lmxmaps " << LMX_VERSION_STRING << ": " << x << ' ' << y << ", source "
              << source->GetName().toStdString() << '\n';
    const bool ok = std::abs(x - kExpectedX) < kToleranceMetres &&
                    std::abs(y - kExpectedY) < kToleranceMetres && source->GetMapProvider() &&
                    std::strcmp(LMX_VERSION_STRING, LMX_EXPECTED_VERSION) == 0;
    return ok ? 0 : 1;
}
