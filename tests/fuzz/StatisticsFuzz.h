#pragma once
// What the two statistics targets share: the area levels of the map, the checks every area's
// statistics must pass, and writing them back as a statistics object, which must read again to
// the same statistics (the rounding to three significant digits keeps rounded values).
#include <cmath>
#include <cstdlib>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <vector>

#include <lmxmaps/UrbanMappingIndicators.h>

namespace StatisticsFuzz {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

// Values from this size on are rounded to whole multiples of a power of ten.
constexpr double kFirstRoundedValue = 1000.0;
constexpr std::size_t kBreakCount = 6;

inline const std::vector<MapArea>& Areas() {
    static const std::vector<MapArea> areas = {
        {QStringLiteral("State"), QStringLiteral("state"), 0},
        {QStringLiteral("County"), QStringLiteral("county"), 0},
        {QStringLiteral("Tract"), QStringLiteral("tract"), 0},
        {QStringLiteral("Zip"), QStringLiteral("zip-\u00e9"), 0}};
    return areas;
}

inline void Check(const UrbanMappingIndicator& indicator, bool suppressThousands) {
    for (const MapArea& area : Areas()) {
        const UMAreaInfo* info = indicator.GetAreaInfo(area.GetObjectName());
        if (info == nullptr)
            continue;
        if (info->breaks.size() != kBreakCount || info->decimals < 0 ||
            info->statisticsKey != area.GetRequestString() ||
            info->suppressThousands != suppressThousands)
            std::abort();
        for (const double value : info->breaks) {
            if (!std::isfinite(value) ||
                (value != std::floor(value) && std::fabs(value) >= kFirstRoundedValue))
                std::abort();
        }
    }
}

inline void WriteString(Writer& writer, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    writer.String(utf8.constData(), rapidjson::SizeType(utf8.size()));
}

// "statistics": each area's one entry, its breaks as minimum, maximum and deciles.
inline void WriteStatistics(Writer& writer, const UrbanMappingIndicator& indicator) {
    writer.Key("statistics");
    writer.StartObject();
    for (const MapArea& area : Areas()) {
        const UMAreaInfo* info = indicator.GetAreaInfo(area.GetObjectName());
        if (info == nullptr)
            continue;
        WriteString(writer, info->statisticsKey);
        writer.StartObject();
        WriteString(writer, QString::number(info->statisticsId));
        writer.StartObject();
        writer.Key("min");
        writer.Double(info->breaks.front());
        writer.Key("max");
        writer.Double(info->breaks.back());
        writer.Key("deciles");
        writer.StartArray();
        for (std::size_t i = 1; i < kBreakCount; ++i) {
            writer.Double(info->breaks[i]);
            writer.Double(info->breaks[i]);
        }
        writer.EndArray();
        writer.EndObject();
        writer.EndObject();
    }
    writer.EndObject();
}

inline bool Same(const UrbanMappingIndicator* read, const UrbanMappingIndicator& written) {
    for (const MapArea& area : Areas()) {
        const UMAreaInfo* a = read ? read->GetAreaInfo(area.GetObjectName()) : nullptr;
        const UMAreaInfo* b = written.GetAreaInfo(area.GetObjectName());
        if ((a == nullptr) != (b == nullptr))
            return false;
        if (a && (a->breaks != b->breaks || a->statisticsId != b->statisticsId ||
                  a->statisticsKey != b->statisticsKey || a->decimals != b->decimals ||
                  a->suppressThousands != b->suppressThousands))
            return false;
    }
    return true;
}

} // namespace StatisticsFuzz
