#include <algorithm>
#include <cmath>

#include <lmxmaps/host/ColorObject.h>

namespace {

constexpr int kMaxChannel = 255;
constexpr double kFullPercent = 100.0;
constexpr int kHexBase = 16;
constexpr int kShortHexLength = 3;
constexpr int kHexLength = 6;
constexpr int kHexWithAlphaLength = 8;

bool IsHexDigits(QStringView digits) {
    return std::all_of(digits.begin(), digits.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    });
}

std::optional<ColorObject> ParseHex(QStringView digits) {
    if (!IsHexDigits(digits)) {
        return std::nullopt;
    }
    const uint value = digits.toString().toUInt(nullptr, kHexBase);
    switch (digits.size()) {
    case kShortHexLength: {
        // Each digit stands for itself twice: #f80 is #ff8800.
        const auto expand = [&](int shift) {
            const auto nibble = static_cast<std::uint8_t>((value >> shift) & 0xF);
            return static_cast<std::uint8_t>(nibble * (kHexBase + 1));
        };
        return ColorObject(expand(8), expand(4), expand(0));
    }
    case kHexLength:
        return ColorObject::FromArgb(qRgba(qRed(value), qGreen(value), qBlue(value), kMaxChannel));
    case kHexWithAlphaLength:
        return ColorObject::FromArgb(value);
    default:
        return std::nullopt;
    }
}

std::optional<std::uint8_t> FromPercent(QStringView text) {
    bool ok = false;
    const double percent = text.chopped(1).trimmed().toString().toDouble(&ok);
    if (!ok || !(percent >= 0.0 && percent <= kFullPercent)) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(std::lround(percent / kFullPercent * kMaxChannel));
}

std::optional<std::uint8_t> ParseChannel(QStringView text) {
    if (text.endsWith(u'%')) {
        return FromPercent(text);
    }
    bool ok = false;
    const int value = text.toString().toInt(&ok, 10);
    if (!ok || value < 0 || value > kMaxChannel) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

std::optional<std::uint8_t> ParseAlpha(QStringView text) {
    if (text.endsWith(u'%')) {
        return FromPercent(text);
    }
    bool ok = false;
    const double fraction = text.toString().toDouble(&ok);
    if (!ok || !(fraction >= 0.0 && fraction <= 1.0)) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(std::lround(fraction * kMaxChannel));
}

// The arguments of "rgb(...)" or "rgba(...)"; text is already lower case and trimmed.
std::optional<ColorObject> ParseFunctional(QStringView text) {
    const bool withAlpha = text.startsWith(u"rgba(");
    const qsizetype open = text.indexOf(u'(');
    if (!text.endsWith(u')') || (!withAlpha && !text.startsWith(u"rgb("))) {
        return std::nullopt;
    }
    const QStringList arguments = text.mid(open + 1, text.size() - open - 2).toString().split(u',');
    const qsizetype expected = withAlpha ? 4 : 3;
    if (arguments.size() != expected) {
        return std::nullopt;
    }
    const auto red = ParseChannel(arguments[0].trimmed());
    const auto green = ParseChannel(arguments[1].trimmed());
    const auto blue = ParseChannel(arguments[2].trimmed());
    const auto alpha =
        withAlpha ? ParseAlpha(arguments[3].trimmed()) : std::optional<std::uint8_t>(kMaxChannel);
    if (!red || !green || !blue || !alpha) {
        return std::nullopt;
    }
    return ColorObject(*red, *green, *blue, *alpha);
}

bool IsColorName(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'a' && c <= u'z'; });
}

} // namespace

ColorObject ColorObject::FromQColor(const QColor& color) {
    return FromArgb(color.rgba());
}

ColorObject ColorObject::FromArgb(QRgb argb) {
    return ColorObject(
        static_cast<std::uint8_t>(qRed(argb)), static_cast<std::uint8_t>(qGreen(argb)),
        static_cast<std::uint8_t>(qBlue(argb)), static_cast<std::uint8_t>(qAlpha(argb)));
}

std::optional<ColorObject> ColorObject::Parse(const TString& text) {
    const TString normalized = text.trimmed().toLower();
    if (normalized.isEmpty()) {
        return std::nullopt;
    }
    if (normalized.startsWith(u'#')) {
        return ParseHex(QStringView(normalized).mid(1));
    }
    if (normalized.startsWith(u"rgb")) {
        return ParseFunctional(normalized);
    }
    // Only names go to QColor, which would also take forms this parser does not promise.
    if (IsColorName(normalized) && QColor::isValidColor(normalized)) {
        return FromQColor(QColor(normalized));
    }
    return std::nullopt;
}

TString ColorObject::ToString() const {
    const auto hex = [](std::uint8_t channel) {
        return QStringLiteral("%1").arg(channel, 2, kHexBase, QLatin1Char('0')).toUpper();
    };
    const TString rgb = hex(m_red) + hex(m_green) + hex(m_blue);
    return IsOpaque() ? u'#' + rgb : u'#' + hex(m_alpha) + rgb;
}
