// A second process for the integration tests, where what a process reads once (the options, the
// network rules, the disk cache) comes from its own environment.
//
//   lmx_integration_helper store DB FIRST COUNT MAX_AGE_SECONDS
//   lmx_integration_helper check DB FIRST COUNT
//   lmx_integration_helper churn DB FIRST COUNT ROUNDS
//   lmx_integration_helper singleton INDEX
//       The disk image cache: store and check answer 0 when every tile FIRST..FIRST+COUNT-1 was
//       stored or found; churn stores and checks its range ROUNDS times over; singleton stores
//       INDEX through the process-wide cache and prints its database path, or exits with
//       kNoSingleton when there is none.
//   lmx_integration_helper external-put NAME KEY VALUE
//   lmx_integration_helper external-get NAME KEY
//       The named external cache in the directory the environment configures
//       (LMX_ExternalCacheDirectory): external-put answers 0 when VALUE was stored under KEY;
//       external-get prints the value under KEY, or exits 1 when there is none.
//   lmx_integration_helper view SERVER URL_FORMAT LEVEL COLUMN ROW COLUMNS ROWS
//       Renders one view of a tile server through the view pipeline; prints "new N disk N memory
//       N missing N" once every tile arrived. The disk cache is the one the environment
//       configures (LMX_ImageCacheDirectory).
//   lmx_integration_helper connect PORT URL
//       Connects the WMS source at 127.0.0.1:PORT whose capabilities path is URL. Prints
//       "connected" and then fetches one GetMap tile; or prints "error TYPE", the message on the
//       next line and "disallowed" on a third when the address check logged its warning, and
//       still exits 0.
//
// Anything else that goes wrong exits 1 and says what on stderr; bad usage exits 2.

#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/MapTileServer.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/storage/ExternalCache.h>
#include <lmxmaps/host/storage/SqliteImageCache.h>

#include "imagery/ImageryTestSupport.h"
#include "integration/ImageCacheTiles.h"
#include "providers/TileGrid.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kNoSingleton = 3;
constexpr std::chrono::hours kChurnMaxAge{1};
constexpr unsigned int kWmsTileSize = 256;
constexpr std::int64_t kExternalCacheBytes = 1 << 20;
constexpr std::int64_t kExternalCacheEntries = 1000;

// Stores tiles first..first+count-1 with that maximum age or, without one, looks them up.
int Each(IPersistentImageCache& cache, int first, int count,
         std::optional<std::chrono::seconds> store) {
    int failures = 0;
    for (int index = first; index < first + count; ++index) {
        if (store ? !ImageCacheTiles::Store(cache, index, *store)
                  : !ImageCacheTiles::Holds(cache, index)) {
            std::fprintf(stderr, "tile %d was not %s\n", index, store ? "stored" : "found");
            ++failures;
        }
    }
    return failures == 0 ? 0 : kFailed;
}

int Singleton(int index) {
    IPersistentImageCache* cache = IPersistentImageCache::GetSingleton();
    if (cache == nullptr) {
        return kNoSingleton;
    }
    if (!ImageCacheTiles::Store(*cache, index, kChurnMaxAge) ||
        !ImageCacheTiles::Holds(*cache, index)) {
        return kFailed;
    }
    const auto* sqlite = dynamic_cast<SqliteImageCache*>(cache);
    std::printf("%s\n",
                sqlite != nullptr ? sqlite->GetDatabasePath().toLocal8Bit().constData() : "");
    return 0;
}

int ImageCache(const std::string& command, const char* path, int first, int count, int last) {
    SqliteImageCache::Settings settings;
    settings.databasePath = QString::fromLocal8Bit(path);
    SqliteImageCache cache(std::move(settings));
    if (command == "store") {
        return Each(cache, first, count, std::chrono::seconds(last));
    }
    if (command == "check") {
        return Each(cache, first, count, std::nullopt);
    }
    for (int round = 0; round < last; ++round) {
        if (Each(cache, first, count, kChurnMaxAge) != 0 ||
            Each(cache, first, count, std::nullopt) != 0) {
            return kFailed;
        }
    }
    return 0;
}

std::shared_ptr<IExternalCache> ExternalCache(const char* name) {
    auto cache = ExternalCaches::MakeCache(QString::fromLocal8Bit(name), kExternalCacheBytes,
                                           kExternalCacheEntries);
    if (!cache) {
        std::fputs("there is no external cache\n", stderr);
    }
    return cache;
}

int ExternalPut(const char* name, const char* key, const char* value) {
    const auto cache = ExternalCache(name);
    return cache && cache->Put(QString::fromLocal8Bit(key), QByteArray(value)) ? 0 : kFailed;
}

int ExternalGet(const char* name, const char* key) {
    const auto cache = ExternalCache(name);
    const std::optional<QByteArray> value =
        cache ? cache->Get(QString::fromLocal8Bit(key)) : std::nullopt;
    if (!value) {
        std::fputs("no value\n", stderr);
        return kFailed;
    }
    std::printf("%s\n", value->constData());
    return 0;
}

int View(char** argv) {
    MapTileServerProvider provider(
        {{QStringLiteral("class"), QString::fromUtf16(MapTileServerProvider::valueClassAttr)},
         {QStringLiteral("server"), QString::fromLocal8Bit(argv[0])},
         {QStringLiteral("port"), QString()},
         {QStringLiteral("url-format"), QString::fromLocal8Bit(argv[1])}});
    RasterMapProvider::TileCounts counts;
    const auto images = provider.GetMappedImages(
        TileGrid::TileView(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                           std::atoi(argv[5]), std::atoi(argv[6])),
        false, MapCode::Default, 0, ColorObject::Transparent(), &counts);
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

// One small tile in the middle of the world, as a view would ask for it.
void FetchOneTile(MapProvider& provider) {
    const MapConnectionPtr connection = provider.Connect();
    const RefCntPtr<MapLayers> layers = provider.GetFeatureLayers(QString());
    for (MapLayer& layer : layers->GetLayers()) {
        layer.SetEnabled(true);
    }
    const DataValueRect box(DataValue::Real(-1000.0), DataValue::Real(1000.0),
                            DataValue::Real(-1000.0), DataValue::Real(1000.0));
    const MapRequestorPtr request = connection->CreateMapRequestor(
        provider.GetDefaultSpatialProjector(),
        MakeRefCnt<MapQuery>(layers, QString(), box, kWmsTileSize, kWmsTileSize, QString(),
                             QString(), false, false));
    request->Execute();
    request->GetResult();
}

int Connect(const char* port, const char* url) {
    const TLog::ScopedCapture capture;
    try {
        const std::shared_ptr<MapSource> source = MapSourceFactory(
            {{QStringLiteral("name"), QStringLiteral("Denied WMS")},
             {QStringLiteral("class"), QString::fromUtf16(WmsProvider::valueClassAttr)},
             {QStringLiteral("service"), QStringLiteral("http")},
             {QStringLiteral("server"), QStringLiteral("127.0.0.1")},
             {QStringLiteral("port"), QString::fromLocal8Bit(port)},
             {QStringLiteral("url"), QString::fromLocal8Bit(url)}});
        source->Connect();
        std::puts("connected");
        std::fflush(stdout);
        FetchOneTile(*source->GetMapProvider());
    } catch (const MapProviderException& e) {
        std::printf("error %d\n%s\n", static_cast<int>(e.GetType()),
                    e.GetMessage().toUtf8().constData());
        const std::vector<TLog::Record> records = capture.Records();
        if (std::any_of(records.begin(), records.end(), [](const TLog::Record& record) {
                return record.message.contains(QStringLiteral("disallowed IP address"));
            })) {
            std::puts("disallowed");
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "singleton" && argc == 3) {
        return Singleton(std::atoi(argv[2]));
    }
    if ((command == "store" || command == "churn") && argc == 6) {
        return ImageCache(command, argv[2], std::atoi(argv[3]), std::atoi(argv[4]),
                          std::atoi(argv[5]));
    }
    if (command == "check" && argc == 5) {
        return ImageCache(command, argv[2], std::atoi(argv[3]), std::atoi(argv[4]), 0);
    }
    if (command == "external-put" && argc == 5) {
        return ExternalPut(argv[2], argv[3], argv[4]);
    }
    if (command == "external-get" && argc == 4) {
        return ExternalGet(argv[2], argv[3]);
    }
    if (command == "view" && argc == 9) {
        return View(argv + 2);
    }
    if (command == "connect" && argc == 4) {
        return Connect(argv[2], argv[3]);
    }
    std::fputs("usage: lmx_integration_helper "
               "store|check|churn|singleton|external-put|external-get|view|connect ARG...\n",
               stderr);
    return kUsage;
}
