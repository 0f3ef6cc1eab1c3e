#include <algorithm>
#include <cmath>

#include <lmxmaps/host/Legends.h>
#include <lmxmaps/host/LumivexException.h>

namespace {

constexpr std::uint32_t kEmptyPaletteAssertId = 0x4C4D4201;

// Nine-class sequential schemes from light to dark (ColorBrewer, Cynthia Brewer).
struct BuiltInPalette {
    const char16_t* id;
    QRgb colors[9];
};

constexpr BuiltInPalette kBuiltInPalettes[] = {
    {u"Blues",
     {0xf7fbff, 0xdeebf7, 0xc6dbef, 0x9ecae1, 0x6baed6, 0x4292c6, 0x2171b5, 0x08519c, 0x08306b}},
    {u"Greens",
     {0xf7fcf5, 0xe5f5e0, 0xc7e9c0, 0xa1d99b, 0x74c476, 0x41ab5d, 0x238b45, 0x006d2c, 0x00441b}},
    {u"Greys",
     {0xffffff, 0xf0f0f0, 0xd9d9d9, 0xbdbdbd, 0x969696, 0x737373, 0x525252, 0x252525, 0x000000}},
    {u"Oranges",
     {0xfff5eb, 0xfee6ce, 0xfdd0a2, 0xfdae6b, 0xfd8d3c, 0xf16913, 0xd94801, 0xa63603, 0x7f2704}},
    {u"Purples",
     {0xfcfbfd, 0xefedf5, 0xdadaeb, 0xbcbddc, 0x9e9ac8, 0x807dba, 0x6a51a3, 0x54278f, 0x3f007d}},
    {u"Reds",
     {0xfff5f0, 0xfee0d2, 0xfcbba1, 0xfc9272, 0xfb6a4a, 0xef3b2c, 0xcb181d, 0xa50f15, 0x67000d}},
};

std::uint8_t Mix(std::uint8_t from, std::uint8_t to, double weight) {
    return static_cast<std::uint8_t>(std::lround(from + (to - from) * weight));
}

} // namespace

ColorPalette::ColorPalette(std::vector<ColorObject> colors) : m_colors(std::move(colors)) {
    LMX_LOGIC_ASSERT_ID(!m_colors.empty(), kEmptyPaletteAssertId);
}

ColorObject ColorPalette::GetNormalizedColor(double position) const {
    const double clamped = std::isnan(position) ? 0.0 : std::clamp(position, 0.0, 1.0);
    const double scaled = clamped * static_cast<double>(m_colors.size() - 1);
    const auto lower = static_cast<std::size_t>(std::floor(scaled));
    const std::size_t upper = std::min(lower + 1, m_colors.size() - 1);
    const double weight = scaled - static_cast<double>(lower);
    const ColorObject& a = m_colors[lower];
    const ColorObject& b = m_colors[upper];
    return ColorObject(Mix(a.GetRed(), b.GetRed(), weight), Mix(a.GetGreen(), b.GetGreen(), weight),
                       Mix(a.GetBlue(), b.GetBlue(), weight),
                       Mix(a.GetAlpha(), b.GetAlpha(), weight));
}

ColorPaletteLookup::ColorPaletteLookup() {
    for (const BuiltInPalette& builtIn : kBuiltInPalettes) {
        std::vector<ColorObject> colors;
        for (const QRgb rgb : builtIn.colors) {
            colors.push_back(ColorObject::FromArgb(rgb | 0xff000000u));
        }
        m_palettes.emplace_back(TStr(builtIn.id), ColorPalette(std::move(colors)));
    }
}

void ColorPaletteLookup::AddPalette(const ColorPaletteID& id, std::vector<ColorObject> colors) {
    const auto found = std::find_if(m_palettes.begin(), m_palettes.end(),
                                    [&](const auto& palette) { return palette.first == id; });
    if (colors.empty()) {
        if (found != m_palettes.end()) {
            m_palettes.erase(found);
        }
        return;
    }
    if (found != m_palettes.end()) {
        found->second = ColorPalette(std::move(colors));
    } else {
        m_palettes.emplace_back(id, ColorPalette(std::move(colors)));
    }
}

const ColorPalette* ColorPaletteLookup::Find(const ColorPaletteID& id) const {
    const auto found = std::find_if(m_palettes.begin(), m_palettes.end(),
                                    [&](const auto& palette) { return palette.first == id; });
    return found == m_palettes.end() ? nullptr : &found->second;
}

std::vector<ColorPaletteID> ColorPaletteLookup::GetPaletteIDs() const {
    std::vector<ColorPaletteID> ids;
    ids.reserve(m_palettes.size());
    for (const auto& palette : m_palettes) {
        ids.push_back(palette.first);
    }
    return ids;
}
