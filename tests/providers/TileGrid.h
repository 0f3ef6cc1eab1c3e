#pragma once
// Views and tile rectangles on the Web Mercator XYZ grid, for the tile provider tests and their
// helper process. Columns count from the west, rows from the north.

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>

#include <lmxmaps/MapDiskCache.h>
#include <lmxmaps/MapQuery.h>
#include <lmxmaps/MapTileServer.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/storage/SqliteImageCache.h>

namespace TileGrid {

constexpr double kHalfWorld = 6378137.0 * std::numbers::pi;
constexpr int kTileSize = 256;

// Whole level `level` as the tile server provider computes it.
inline MapScaleLevel WholeLevel(int level) {
    static const MapTileServerProvider grid(AttributeMap{
        {QStringLiteral("class"), QString::fromUtf16(MapTileServerProvider::valueClassAttr)}});
    return grid.ComputeScaleLevel(grid.GetPixelsPerCRSUnitAtZoomLevel1() * std::ldexp(1.0, level));
}

// A tile's side in CRS units, computed as the tiling computes it, so that tile edges built
// from it fall exactly where the tiling puts them.
inline double Span(int level) {
    const MapScaleLevel whole = WholeLevel(level);
    return whole.tileSize / whole.pixelsPerCRSUnit;
}

inline DataValueRect Rect(double minX, double maxX, double minY, double maxY) {
    return DataValueRect(DataValue::Real(minX), DataValue::Real(maxX), DataValue::Real(minY),
                         DataValue::Real(maxY));
}

// The rectangle of a block of whole tiles. The tiling counts its grid from the CRS origin.
inline DataValueRect TileRect(int level, int column, int row, int columns = 1, int rows = 1) {
    const double span = Span(level);
    const double half = std::ldexp(1.0, level - 1);
    return Rect((column - half) * span, (column + columns - half) * span,
                (half - row - rows) * span, (half - row) * span);
}

inline MapQueryPtr View(const DataValueRect& rect, unsigned int width, unsigned int height,
                        RefCntPtr<MapLayers> layers = MakeRefCnt<MapLayers>()) {
    return MakeRefCnt<MapQuery>(std::move(layers), QStringLiteral("EPSG:3857"), rect, width, height,
                                QString(), QString(), false, false);
}

// A view of a block of tiles at one tile pixel per view pixel, so its scale level is `level`.
inline MapQueryPtr TileView(int level, int column, int row, int columns = 1, int rows = 1) {
    return View(TileRect(level, column, row, columns, rows),
                static_cast<unsigned int>(columns * kTileSize),
                static_cast<unsigned int>(rows * kTileSize));
}

// One tile query carrying its scale level, as the tiling makes them.
inline MapQueryPtr TileQuery(double level, int column, int row, int tileSize = kTileSize,
                             bool highDPI = false,
                             RefCntPtr<MapLayers> layers = MakeRefCnt<MapLayers>()) {
    const int whole = static_cast<int>(std::floor(level));
    const MapScaleLevel scaleLevel{level, tileSize,
                                   WholeLevel(whole).pixelsPerCRSUnit * tileSize / kTileSize};
    return MakeRefCnt<MapQuery>(std::move(layers), QStringLiteral("EPSG:3857"),
                                TileRect(whole, column, row), tileSize, tileSize, QString(),
                                QString(), highDPI, false, scaleLevel);
}

// The key a fetched tile is stored under on disk: the source's attributes, the tile's properties
// and its index.
inline AttributeMap StoredTileKey(AttributeMap attributes, const MapQuery& tile) {
    for (const auto& [name, value] : tile.GetProperties()) {
        attributes.try_emplace(name, value);
    }
    attributes[QString::fromUtf16(MapTileServerProvider::sIndexProperty)] =
        MapTileServerProvider::ComputeTileIndex(tile).ToString();
    return attributes;
}

// Points this process's disk image cache at a directory of its own (the cache is configured
// once, when first asked for) and returns it.
inline IPersistentImageCache* PrivateDiskCache() {
    static QTemporaryDir directory;
    static IPersistentImageCache* const cache = [] {
        Options::Set(QStringLiteral("ImageCacheDirectory"), directory.path());
        return MapDiskCache::Get();
    }();
    return cache;
}

inline QString PrivateDiskCacheDirectory() {
    PrivateDiskCache();
    return Options::GetString(QStringLiteral("ImageCacheDirectory"));
}

// The private disk cache's database as seen from a clock that runs ahead, for checking
// lifetimes.
inline std::unique_ptr<SqliteImageCache> DiskCacheSeenFrom(std::chrono::seconds ahead) {
    SqliteImageCache::Settings settings;
    settings.databasePath = QDir(PrivateDiskCacheDirectory())
                                .filePath(QLatin1String(SqliteImageCache::kDatabaseFileName));
    settings.now = [ahead] {
        return std::chrono::system_clock::now() + ahead;
    };
    auto cache = std::make_unique<SqliteImageCache>(std::move(settings));
    cache->SetKeyFilter(MapDiskCache::FilterKey);
    return cache;
}

} // namespace TileGrid
