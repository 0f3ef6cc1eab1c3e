#include <algorithm>
#include <cmath>

#include <lmxmaps/MapSourceAttributes.h>

namespace MapSourceAttributeRules {

namespace {
constexpr int kDecimalBase = 10;
} // namespace

double ReadHostNumber(const TString& text) {
    return text.trimmed().toDouble();
}

int ReadHostInteger(const TString& text) {
    return text.trimmed().toInt(nullptr, kDecimalBase);
}

bool IsOffline(const TString& value) {
    return !value.isEmpty();
}

bool IsInline(const TString& value) {
    return value == QLatin1String("true");
}

double ReadMaxStretch(const std::optional<TString>& value) {
    return value ? std::fmax(ReadHostNumber(*value), 1.0) : kDefaultMaxStretch;
}

double ReadMinShrink(const std::optional<TString>& value) {
    return value ? std::fmin(ReadHostNumber(*value), 1.0) : kDefaultMinShrink;
}

int ReadIntermediateLevels(const std::optional<TString>& value) {
    return value ? std::max(ReadHostInteger(*value), 1) : kDefaultIntermediateLevels;
}

double ReadMaxScaleLevel(const std::optional<TString>& value, double providerDefault) {
    return value ? ReadHostNumber(*value) : providerDefault;
}

} // namespace MapSourceAttributeRules
