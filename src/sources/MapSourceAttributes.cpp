#include <algorithm>
#include <cmath>
#include <optional>

#include <lmxmaps/MapSourceAttributes.h>

namespace MapSourceAttributeRules {

namespace {

std::optional<double> ParseFiniteDecimal(const TString& value) {
    bool ok = false;
    const double parsed = value.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(parsed)) {
        return std::nullopt;
    }
    return parsed;
}

} // namespace

bool IsOffline(const TString& value) {
    return !value.isEmpty();
}

bool IsInline(const TString& value) {
    return value == QLatin1String("true");
}

double ReadMaxStretch(const TString& value) {
    const std::optional<double> parsed = ParseFiniteDecimal(value);
    return parsed ? std::max(*parsed, 1.0) : kDefaultMaxStretch;
}

double ReadMinShrink(const TString& value) {
    const std::optional<double> parsed = ParseFiniteDecimal(value);
    return parsed ? std::min(*parsed, 1.0) : kDefaultMinShrink;
}

int ReadIntermediateLevels(const TString& value) {
    bool ok = false;
    const int parsed = value.trimmed().toInt(&ok, 10);
    if (!ok) {
        return kDefaultIntermediateLevels;
    }
    return std::max(parsed, 1);
}

double ReadMaxScaleLevel(const TString& value, double providerDefault) {
    return ParseFiniteDecimal(value).value_or(providerDefault);
}

} // namespace MapSourceAttributeRules
