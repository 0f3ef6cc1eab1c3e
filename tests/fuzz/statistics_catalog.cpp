// The old statistics catalogue of many data layers ("data" / "columns"). The layers it holds
// under the names the seeds use must pass the checks every area's statistics must pass and,
// written back as a catalogue, read again to the same statistics.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzSupport.h"
#include "StatisticsFuzz.h"

namespace {

const QString kProbedLayers[] = {QStringLiteral("population"), QStringLiteral("income"), QString()};

bool SuppressesThousands(const UrbanMappingIndicator& indicator) {
    for (const MapArea& area : StatisticsFuzz::Areas()) {
        if (const UMAreaInfo* info = indicator.GetAreaInfo(area.GetObjectName()))
            return info->suppressThousands;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::SetOptions();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto catalog = MakeRefCnt<UrbanMappingIndicators>();
    catalog->ParseOldCatalog(QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)),
                             StatisticsFuzz::Areas());

    rapidjson::StringBuffer buffer;
    StatisticsFuzz::Writer writer(buffer);
    writer.StartObject();
    writer.Key("data");
    writer.StartObject();
    writer.Key("columns");
    writer.StartArray();
    for (const QString& layer : kProbedLayers) {
        const RefCntPtr<UrbanMappingIndicator> indicator = catalog->GetIndicator(layer);
        if (!indicator)
            continue;
        const bool suppressThousands = SuppressesThousands(*indicator);
        StatisticsFuzz::Check(*indicator, suppressThousands);
        writer.StartObject();
        writer.Key("code_name");
        StatisticsFuzz::WriteString(writer, layer);
        writer.Key("suppress_thousands");
        writer.Bool(suppressThousands);
        StatisticsFuzz::WriteStatistics(writer, *indicator);
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
    writer.EndObject();

    auto again = MakeRefCnt<UrbanMappingIndicators>();
    again->ParseOldCatalog(QString::fromUtf8(buffer.GetString()), StatisticsFuzz::Areas());
    for (const QString& layer : kProbedLayers) {
        const RefCntPtr<UrbanMappingIndicator> indicator = catalog->GetIndicator(layer);
        if (indicator && !StatisticsFuzz::Same(again->GetIndicator(layer).get(), *indicator))
            std::abort();
    }
    return 0;
}
