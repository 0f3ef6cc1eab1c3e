#include <algorithm>

#include <lmxmaps/host/Legends.h>

void ColorPaletteLookup::AddPalette(const TString& name, std::vector<ColorObject> colors) {
    m_palettes.emplace_back(name, std::move(colors));
}

std::vector<ColorObject> ColorPaletteLookup::GetPalette(const TString& name) const {
    const auto found = std::find_if(m_palettes.begin(), m_palettes.end(),
                                    [&](const auto& palette) { return palette.first == name; });
    return found == m_palettes.end() ? std::vector<ColorObject>{} : found->second;
}
