// One data layer's statistics document (the column metadata served with the layer). What it
// yields must pass the checks every area's statistics must pass and, written back, read again
// to the same statistics.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzSupport.h"
#include "StatisticsFuzz.h"

namespace {

const QString kLayer = QStringLiteral("population");

RefCntPtr<UrbanMappingIndicator> Read(const QString& text) {
    auto indicators = MakeRefCnt<UrbanMappingIndicators>();
    indicators->ParseColumnMetadata(kLayer, text, StatisticsFuzz::Areas());
    return indicators->GetIndicator(kLayer);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::SetOptions();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const RefCntPtr<UrbanMappingIndicator> indicator =
        Read(QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)));
    if (!indicator)
        return 0;
    StatisticsFuzz::Check(*indicator, false);

    rapidjson::StringBuffer buffer;
    StatisticsFuzz::Writer writer(buffer);
    writer.StartObject();
    StatisticsFuzz::WriteStatistics(writer, *indicator);
    writer.EndObject();
    if (!StatisticsFuzz::Same(Read(QString::fromUtf8(buffer.GetString())).get(), *indicator))
        std::abort();
    return 0;
}
