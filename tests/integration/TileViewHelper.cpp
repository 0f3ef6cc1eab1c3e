// A second process for the tile server integration tests: renders one view of a tile server
// through the view pipeline and tells where its tiles came from.
//
//   lmx_tile_view_helper SERVER URL_FORMAT LEVEL COLUMN ROW COLUMNS ROWS
//
// Prints "new N disk N memory N missing N" once every tile arrived and exits 0; exits 1 when a
// tile failed or did not arrive in time. The disk cache is the one the environment configures
// (LMX_ImageCacheDirectory).

#include <cstdio>
#include <cstdlib>

#include <lmxmaps/MapTileServer.h>

#include "imagery/ImageryTestSupport.h"
#include "providers/TileGrid.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

} // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fputs("usage: lmx_tile_view_helper SERVER URL_FORMAT LEVEL COLUMN ROW COLUMNS ROWS\n",
                   stderr);
        return kUsage;
    }
    MapTileServerProvider provider(
        {{QStringLiteral("class"), QString::fromUtf16(MapTileServerProvider::valueClassAttr)},
         {QStringLiteral("server"), QString::fromLocal8Bit(argv[1])},
         {QStringLiteral("port"), QString()},
         {QStringLiteral("url-format"), QString::fromLocal8Bit(argv[2])}});
    const MapQueryPtr view =
        TileGrid::TileView(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                           std::atoi(argv[6]), std::atoi(argv[7]));
    RasterMapProvider::TileCounts counts;
    const auto images = provider.GetMappedImages(view, false, MapCode::Default, 0,
                                                 ColorObject::Transparent(), &counts);
    auto* composite =
        images->images.empty()
            ? nullptr
            : dynamic_cast<CompositeMappedImage*>(images->images.front().GetInstance().get());
    if (composite == nullptr) {
        std::fputs("the view has no composite image\n", stderr);
        return kFailed;
    }
    int count = 0;
    if (!PollUntilSettled(*composite, count)) {
        std::fputs("the tiles did not arrive\n", stderr);
        return kFailed;
    }
    for (const MappedImageInstancePtr& tile : composite->GetTiles()) {
        WarningList errors;
        bool hadErrors = false;
        tile->GetErrors(errors, hadErrors);
        if (hadErrors || !tile->GetImageObject()) {
            std::fprintf(stderr, "tile %d failed\n", tile->GetTileNumber());
            return kFailed;
        }
    }
    std::printf("new %d disk %d memory %d missing %d\n", counts.fresh, counts.fromDisk,
                counts.fromMemory, counts.missing);
    return 0;
}
