#pragma once
// Legend content the host draws beside a map: a caption and coloured, labelled entries; and the
// named colour palettes that data layers colour their features and legends with.

#include <vector>

#include <lmxmaps/host/ColorObject.h>
#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/TString.h>

class ILegendItems : public RefCntObject {
public:
    struct Item {
        ColorObject color;
        TString label;
    };

    virtual TString GetCaption() const = 0;
    virtual std::vector<Item> GetItems() const = 0;
};

// A caption with a fixed list of entries.
class SimpleLegendItems : public ILegendItems {
public:
    explicit SimpleLegendItems(TString caption, std::vector<Item> items = {})
        : m_caption(std::move(caption)), m_items(std::move(items)) {}

    void AddItem(const ColorObject& color, const TString& label) {
        m_items.push_back({color, label});
    }

    TString GetCaption() const override { return m_caption; }
    std::vector<Item> GetItems() const override { return m_items; }

private:
    TString m_caption;
    std::vector<Item> m_items;
};

// How a data layer names its palette ("Blues").
using ColorPaletteID = TString;

// A sequential palette: its colours spread evenly over the positions 0 to 1.
class ColorPalette {
public:
    // At least one colour.
    explicit ColorPalette(std::vector<ColorObject> colors);

    // The colour at a position, clamped to [0, 1] (NaN reads as 0): each channel is
    // interpolated linearly between the two nearest colours and rounded.
    ColorObject GetNormalizedColor(double position) const;
    const std::vector<ColorObject>& GetColors() const { return m_colors; }

private:
    std::vector<ColorObject> m_colors;
};

// Palettes by identifier (case-sensitive). A new lookup holds the built-in sequential palettes
// "Blues", "Greens", "Greys", "Oranges", "Purples" and "Reds" (light to dark, nine colours
// each); a host adds or replaces its own.
class ColorPaletteLookup {
public:
    ColorPaletteLookup();

    // An empty colour list removes the palette.
    void AddPalette(const ColorPaletteID& id, std::vector<ColorObject> colors);
    // Null for an unknown identifier.
    const ColorPalette* Find(const ColorPaletteID& id) const;
    // In the order they were added.
    std::vector<ColorPaletteID> GetPaletteIDs() const;

private:
    std::vector<std::pair<ColorPaletteID, ColorPalette>> m_palettes;
};
