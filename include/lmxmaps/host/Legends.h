#pragma once
// Legend content the host draws beside a map: a caption and coloured, labelled entries; and the
// host's look-up of named colour palettes that data layers colour their legends with.

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

    TString GetCaption() const override { return m_caption; }
    std::vector<Item> GetItems() const override { return m_items; }

private:
    TString m_caption;
    std::vector<Item> m_items;
};

// Named palettes: colour lists by palette name. An unknown name has no colours.
class ColorPaletteLookup {
public:
    void AddPalette(const TString& name, std::vector<ColorObject> colors);
    std::vector<ColorObject> GetPalette(const TString& name) const;

private:
    std::vector<std::pair<TString, std::vector<ColorObject>>> m_palettes;
};
