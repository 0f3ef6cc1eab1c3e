#include <lmxmaps/host/FeatureFlags.h>
#include <lmxmaps/host/Options.h>

namespace FeatureFlags {

namespace {

constexpr const char* kOption = "FeatureFlags";
constexpr int kHexBase = 16;

} // namespace

bool IsOn(std::uint32_t id) {
    // Read each time: flags are asked for rarely, and a changed option takes effect at once.
    const TString listed = Options::GetString(QLatin1String(kOption));
    for (const QStringView item : QStringView(listed).split(u',', Qt::SkipEmptyParts)) {
        QStringView digits = item.trimmed();
        if (digits.startsWith(u"0x", Qt::CaseInsensitive)) {
            digits = digits.mid(2);
        }
        bool ok = false;
        const uint value = digits.toUInt(&ok, kHexBase);
        if (ok && value == id) {
            return true;
        }
    }
    return false;
}

} // namespace FeatureFlags
