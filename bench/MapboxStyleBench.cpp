// Mapbox style documents: parsing a large generated style into feature layers beside RapidJSON
// parsing the same text alone, and the cost of one style-cache hit. Both run in this process on
// the same document; the medians of repeated runs give the ratio.

#include <QDateTime>
#include <chrono>
#include <cstdio>
#include <rapidjson/document.h>
#include <string>
#include <vector>

#include <lmxmaps/MapboxCaching.h>

#include "Median.h"
#include "mapbox/MapboxDocuments.h"

namespace {

constexpr int kLayers = 300;
constexpr int kGroups = 12;
constexpr int kParseRuns = 41;
constexpr int kHitsPerRun = 200'000;
constexpr int kHitRuns = 15;
constexpr double kParseRatioTarget = 2.0;
constexpr double kHitTargetNanoseconds = 1000.0;

using Clock = std::chrono::steady_clock;

// A style of the size and shape of a real base map: grouped layers with filters, zoom
// functions of sizes and opacities, data functions, hidden layers and the metadata the
// module reads.
std::string GenerateStyle() {
    std::string groups;
    std::string groupLayers;
    std::string groupOrder;
    for (int g = 0; g < kGroups; ++g) {
        const std::string name = "Group " + std::to_string(g);
        const std::string separator = g == 0 ? "" : ",";
        groups += separator + "\"g" + std::to_string(g) + "\":{\"name\":\"" + name +
                  "\",\"collapsed\":false}";
        groupLayers += separator + "\"" + name + "\":{\"display-name\":\"" + name +
                       "\",\"display-name-de\":\"Gruppe " + std::to_string(g) +
                       "\",\"display-name-fr\":\"Groupe " + std::to_string(g) +
                       "\",\"category\":\"base\"}";
        groupOrder +=
            separator + "\"" + name + "\":{\"presentation-order\":" + std::to_string(g) + "}";
    }
    std::string layers;
    for (int i = 0; i < kLayers; ++i) {
        const std::string id = "layer-" + std::to_string(i);
        const std::string group = "g" + std::to_string(i % kGroups);
        const int from = i % 10;
        std::string layer =
            "{\"id\":\"" + id +
            "\",\"type\":\"line\",\"source\":\"composite\",\"source-layer\":\"road\","
            "\"minzoom\":" +
            std::to_string(i % 7) + ",\"metadata\":{\"mapbox:group\":\"" + group +
            "\"},\"filter\":[\"all\",[\"==\",[\"geometry-type\"],\"LineString\"],"
            "[\"match\",[\"get\",\"class\"],[\"motorway\",\"trunk\",\"primary\","
            "\"secondary\",\"tertiary\"],true,false]],"
            "\"layout\":{\"line-cap\":\"round\",\"line-join\":\"round\"" +
            std::string(i % 9 == 0 ? ",\"visibility\":\"none\"" : "") +
            ",\"text-size\":{\"stops\":[[" + std::to_string(from) + ",0],[" +
            std::to_string(from + 4) +
            ",14]]}},"
            "\"paint\":{\"line-color\":\"hsl(" +
            std::to_string(i % 360) + ", 60%, 70%)\",\"line-width\":{\"base\":1.5,\"stops\":[[" +
            std::to_string(from) + ",0],[" + std::to_string(from + 6) +
            ",4],[22,60]]},\"line-opacity\":{\"property\":\"rank\",\"stops\":"
            "[[0,0],[10,1]]},\"line-dasharray\":[2,1,0.5,1]}}";
        layers += (i == 0 ? "" : ",") + layer;
    }
    return "{\"version\":8,\"name\":\"Generated\",\"sources\":{\"composite\":{\"type\":\"vector\","
           "\"url\":\"mapbox://lumivex.streets\"}},\"metadata\":{\"mapbox:groups\":{" +
           groups + "},\"lumivex:layers\":{" + groupLayers + "},\"lumivex:grouporder\":{" +
           groupOrder +
           "},\"lumivex:languages\":{\"lumivex_default_language\":\"{name}\",\"de\":\"{name_de}\","
           "\"fr\":\"{name_fr}\"},\"lumivex:demographics\":{\"insert_above\":\"layer-3\","
           "\"opacity\":0.8}},\"layers\":[" +
           layers + "]}";
}

template <class Work>
double MedianSeconds(int runs, Work&& work) {
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        work();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    return bench::Median(std::move(seconds));
}

void PrintRatio(const char* what, double value, double target) {
    std::printf("%-46s %9.2f   target <= %.2f   %s\n", what, value, target,
                value <= target ? "met" : "NOT MET");
}

} // namespace

int main() {
    const std::string style = GenerateStyle();
    const QString text = QString::fromStdString(style);

    std::size_t parsedLayers = 0;
    const double layersSeconds = MedianSeconds(kParseRuns, [&] {
        rapidjson::Document document;
        if (!MapboxDocuments::ReadStyle(text, document)) {
            std::fprintf(stderr, "the generated style does not read as a style\n");
            std::exit(1);
        }
        MapboxCaching::StyleEntry entry;
        entry.layers = MapboxDocuments::StyleLayers(document, QStringLiteral("Generated"), false);
        MapboxDocuments::ReadStyleSettings(document, entry);
        parsedLayers = entry.layers.size();
    });
    std::size_t rapidJsonLayers = 0;
    const double rapidJsonSeconds = MedianSeconds(kParseRuns, [&] {
        rapidjson::Document document;
        document.Parse(style.c_str(), style.size());
        rapidJsonLayers = document["layers"].Size();
    });
    if (parsedLayers != kLayers || rapidJsonLayers != kLayers) {
        std::fprintf(stderr, "expected %d layers, read %zu and %zu\n", kLayers, parsedLayers,
                     rapidJsonLayers);
        return 1;
    }

    rapidjson::Document document;
    MapboxDocuments::ReadStyle(text, document);
    MapboxCaching::StyleEntry entry;
    entry.styleJson = text;
    entry.layers = MapboxDocuments::StyleLayers(document, QStringLiteral("Generated"), false);
    entry.expires = QDateTime::currentDateTimeUtc().addSecs(3600);
    const auto cache = MapboxCaching::MakeDefaultStyleCache();
    const QString url = QStringLiteral("https://api.example/styles/v1/acct/generated");
    cache->Put(url, entry);
    std::size_t seen = 0;
    const double hitSeconds = MedianSeconds(kHitRuns, [&] {
        for (int i = 0; i < kHitsPerRun; ++i) {
            cache->TryUse(url,
                          [&](const MapboxCaching::StyleEntry& hit) { seen += hit.layers.size(); });
        }
    });
    if (seen != static_cast<std::size_t>(kHitRuns) * kHitsPerRun * kLayers) {
        std::fprintf(stderr, "the cache missed\n");
        return 1;
    }
    const double hitNanoseconds = hitSeconds / kHitsPerRun * 1e9;

    std::printf("style: %d layers, %zu bytes\n", kLayers, style.size());
    std::printf("  into feature layers (parse, check, build)  %8.3f ms\n", layersSeconds * 1e3);
    std::printf("  RapidJSON parse alone                      %8.3f ms\n", rapidJsonSeconds * 1e3);
    std::printf("style-cache hit (callback, no copy)          %8.1f ns\n\n", hitNanoseconds);
    PrintRatio("style into layers / RapidJSON parse", layersSeconds / rapidJsonSeconds,
               kParseRatioTarget);
    PrintRatio("style-cache hit, ns", hitNanoseconds, kHitTargetNanoseconds);
    return 0;
}
