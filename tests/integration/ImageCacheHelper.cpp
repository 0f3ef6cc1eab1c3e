// A second process for the disk image cache tests.
//
//   lmx_image_cache_helper store DB FIRST COUNT MAX_AGE_SECONDS
//   lmx_image_cache_helper check DB FIRST COUNT
//   lmx_image_cache_helper churn DB FIRST COUNT ROUNDS
//   lmx_image_cache_helper singleton INDEX
//
// store and check answer 0 when every tile FIRST..FIRST+COUNT-1 was stored or found; churn
// stores and checks its range ROUNDS times over; singleton stores INDEX through the
// process-wide cache and prints its database path, or exits with kNoSingleton when there is
// none. Anything else that goes wrong exits 1 and says what on stderr.

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <lmxmaps/host/SqliteImageCache.h>

#include "ImageCacheTiles.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kNoSingleton = 3;
constexpr std::chrono::hours kChurnMaxAge{1};

int Usage() {
    std::fputs("usage: lmx_image_cache_helper store|check|churn DB FIRST COUNT [ARG] | singleton "
               "INDEX\n",
               stderr);
    return kUsage;
}

SqliteImageCache Open(const char* path) {
    SqliteImageCache::Settings settings;
    settings.databasePath = QString::fromLocal8Bit(path);
    return SqliteImageCache(std::move(settings));
}

int Store(IPersistentImageCache& cache, int first, int count, std::chrono::seconds maxAge) {
    int failures = 0;
    for (int index = first; index < first + count; ++index) {
        if (!ImageCacheTiles::Store(cache, index, maxAge)) {
            std::fprintf(stderr, "tile %d was not stored\n", index);
            ++failures;
        }
    }
    return failures == 0 ? 0 : kFailed;
}

int Check(IPersistentImageCache& cache, int first, int count) {
    int failures = 0;
    for (int index = first; index < first + count; ++index) {
        if (!ImageCacheTiles::Holds(cache, index)) {
            std::fprintf(stderr, "tile %d was not found\n", index);
            ++failures;
        }
    }
    return failures == 0 ? 0 : kFailed;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::string command = argv[1];
    if (command == "singleton") {
        IPersistentImageCache* cache = IPersistentImageCache::GetSingleton();
        if (cache == nullptr) {
            return kNoSingleton;
        }
        const int index = std::atoi(argv[2]);
        if (!ImageCacheTiles::Store(*cache, index, kChurnMaxAge) ||
            !ImageCacheTiles::Holds(*cache, index)) {
            return kFailed;
        }
        const auto* sqlite = dynamic_cast<SqliteImageCache*>(cache);
        std::printf("%s\n",
                    sqlite != nullptr ? sqlite->GetDatabasePath().toLocal8Bit().constData() : "");
        return 0;
    }
    if (argc < 5) {
        return Usage();
    }
    const int first = std::atoi(argv[3]);
    const int count = std::atoi(argv[4]);
    SqliteImageCache cache = Open(argv[2]);
    if (command == "store" && argc == 6) {
        return Store(cache, first, count, std::chrono::seconds(std::atoll(argv[5])));
    }
    if (command == "check") {
        return Check(cache, first, count);
    }
    if (command == "churn" && argc == 6) {
        const int rounds = std::atoi(argv[5]);
        for (int round = 0; round < rounds; ++round) {
            if (Store(cache, first, count, kChurnMaxAge) != 0 || Check(cache, first, count) != 0) {
                return kFailed;
            }
        }
        return 0;
    }
    return Usage();
}
