// Throughput of the process-wide map image cache at its working size of 101 entries: look-ups
// that hit, look-ups that miss, and stores that make the policy evict.

#include <benchmark/benchmark.h>

#include <lmxmaps/MappedImageCache.h>

namespace {

AttributeMap Key(int index) {
    return {{QStringLiteral("class"), QStringLiteral("OpenStreetMap")},
            {QStringLiteral("server"), QStringLiteral("tiles.example")},
            {QStringLiteral("LAYERS"), QStringLiteral("base")},
            {QStringLiteral("INDEX"), QString::number(index)}};
}

MappedImageInstancePtr Tile() {
    return MakeRefCnt<MappedImageInstance>(nullptr, QtImageObject::BitmapOptions(), QString(),
                                           QString(), QString(), true, false, false);
}

void FillCache(MappedImageCache& cache) {
    for (int i = 0; i < static_cast<int>(MappedImageCache::kHardLimit); ++i) {
        cache.Put(Key(i), Tile());
    }
}

void GetHit(benchmark::State& state) {
    MappedImageCache cache;
    FillCache(cache);
    int index = 0;
    for (auto _ : state) {
        MappedImageCacheDataPtr found;
        benchmark::DoNotOptimize(cache.Get(Key(index), found));
        index = (index + 37) % static_cast<int>(MappedImageCache::kHardLimit);
    }
    state.SetItemsProcessed(state.iterations());
}

void GetMiss(benchmark::State& state) {
    MappedImageCache cache;
    FillCache(cache);
    const AttributeMap absent = Key(-1);
    for (auto _ : state) {
        MappedImageCacheDataPtr found;
        benchmark::DoNotOptimize(cache.Get(absent, found));
    }
    state.SetItemsProcessed(state.iterations());
}

void PutWithEviction(benchmark::State& state) {
    MappedImageCache cache;
    FillCache(cache);
    int index = static_cast<int>(MappedImageCache::kHardLimit);
    for (auto _ : state) {
        benchmark::DoNotOptimize(cache.Put(Key(index++), Tile()));
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(GetHit);
BENCHMARK(GetMiss);
BENCHMARK(PutWithEviction);
BENCHMARK_MAIN();
