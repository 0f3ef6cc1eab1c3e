#pragma once
// A colour with 8-bit red, green, blue and alpha channels (alpha 255 is opaque), not
// premultiplied.
//
// Parse accepts, ignoring case and surrounding blanks:
//   "#RGB", "#RRGGBB"            opaque hexadecimal colours;
//   "#AARRGGBB"                  hexadecimal with alpha first, as Qt writes it;
//   "rgb(r, g, b)"               channels as integers 0-255 or percentages ("50%");
//   "rgba(r, g, b, a)"           the same with alpha as a fraction 0-1 or a percentage;
//   a colour name                the SVG colour names that QColor knows ("steelblue"), and
//                                "transparent".
// Anything else, including out-of-range channels, is not a colour.

#include <QColor>
#include <cstdint>
#include <optional>

#include <lmxmaps/host/TString.h>

class ColorObject {
public:
    static constexpr std::uint8_t kOpaque = 255;

    constexpr ColorObject() = default;
    constexpr ColorObject(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                          std::uint8_t alpha = kOpaque)
        : m_red(red), m_green(green), m_blue(blue), m_alpha(alpha) {}

    static constexpr ColorObject Transparent() { return ColorObject(0, 0, 0, 0); }
    static ColorObject FromQColor(const QColor& color);
    // QRgb is 0xAARRGGBB.
    static ColorObject FromArgb(QRgb argb);

    static std::optional<ColorObject> Parse(const TString& text);

    constexpr std::uint8_t GetRed() const { return m_red; }
    constexpr std::uint8_t GetGreen() const { return m_green; }
    constexpr std::uint8_t GetBlue() const { return m_blue; }
    constexpr std::uint8_t GetAlpha() const { return m_alpha; }
    constexpr bool IsOpaque() const { return m_alpha == kOpaque; }
    constexpr bool IsFullyTransparent() const { return m_alpha == 0; }

    QColor ToQColor() const { return QColor(m_red, m_green, m_blue, m_alpha); }
    QRgb ToArgb() const { return qRgba(m_red, m_green, m_blue, m_alpha); }
    // "#RRGGBB" for an opaque colour, else "#AARRGGBB"; upper-case digits. Parse reads it back.
    TString ToString() const;

    constexpr bool operator==(const ColorObject&) const = default;

private:
    // Default: opaque black, as QColor.
    std::uint8_t m_red = 0;
    std::uint8_t m_green = 0;
    std::uint8_t m_blue = 0;
    std::uint8_t m_alpha = kOpaque;
};
