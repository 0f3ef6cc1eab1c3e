// The glyph ranges that lmx_glyph_ranges wrote at build time for the Mapbox fixture, read back
// with protozero's reader and held against FreeType's own anti-aliased drawing of the glyphs.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ft2build.h>
#include <gtest/gtest.h>
#include <map>
#include <protozero/pbf_reader.hpp>
#include <sstream>
#include <string>
#include <utility>
#include FT_FREETYPE_H

namespace {

namespace fs = std::filesystem;

constexpr int kGlyphPixels = 24;
constexpr int kBorder = 3;
constexpr int kEdge = 192;
// 0.75 px in distance: where FreeType half covers a pixel, the outline passes near its centre.
constexpr int kEdgeTolerance = 24;
constexpr int kOutermostRingBelow = 120;

struct Glyph {
    std::uint32_t id = 0;
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    int advance = 0;
    std::string bitmap;

    int Columns() const { return width + 2 * kBorder; }
    int Rows() const { return height + 2 * kBorder; }
    int At(int column, int row) const {
        return static_cast<unsigned char>(bitmap.at(row * Columns() + column));
    }
};

struct GlyphRange {
    std::string fontstack;
    std::string range;
    std::map<std::uint32_t, Glyph> glyphs;
};

Glyph DecodeGlyph(protozero::pbf_reader message) {
    Glyph glyph;
    while (message.next()) {
        switch (message.tag()) {
        case 1:
            glyph.id = message.get_uint32();
            break;
        case 2:
            glyph.bitmap = message.get_string();
            break;
        case 3:
            glyph.width = static_cast<int>(message.get_uint32());
            break;
        case 4:
            glyph.height = static_cast<int>(message.get_uint32());
            break;
        case 5:
            glyph.left = message.get_sint32();
            break;
        case 6:
            glyph.top = message.get_sint32();
            break;
        case 7:
            glyph.advance = static_cast<int>(message.get_uint32());
            break;
        default:
            message.skip();
        }
    }
    return glyph;
}

// One file of the tree; the message must hold exactly one font stack.
GlyphRange ReadRange(const std::string& fontstack, const std::string& range) {
    std::ifstream in(fs::path(LMX_GLYPHS_DIR) / fontstack / (range + ".pbf"), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string data = bytes.str();
    GlyphRange decoded;
    protozero::pbf_reader message(data);
    int stacks = 0;
    while (message.next(1)) {
        ++stacks;
        protozero::pbf_reader stack = message.get_message();
        while (stack.next()) {
            switch (stack.tag()) {
            case 1:
                decoded.fontstack = stack.get_string();
                break;
            case 2:
                decoded.range = stack.get_string();
                break;
            case 3: {
                Glyph glyph = DecodeGlyph(stack.get_message());
                decoded.glyphs.emplace(glyph.id, std::move(glyph));
                break;
            }
            default:
                stack.skip();
            }
        }
    }
    EXPECT_EQ(stacks, 1) << fontstack << " " << range;
    return decoded;
}

int Brightest(const Glyph& glyph) {
    return glyph.bitmap.empty()
               ? 0
               : static_cast<unsigned char>(*std::max_element(
                     glyph.bitmap.begin(), glyph.bitmap.end(), [](char a, char b) {
                         return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
                     }));
}

class FreeTypeFace {
public:
    explicit FreeTypeFace(const char* file) {
        EXPECT_EQ(FT_Init_FreeType(&m_library), 0);
        EXPECT_EQ(FT_New_Face(m_library, file, 0, &m_face), 0) << file;
        EXPECT_EQ(FT_Set_Pixel_Sizes(m_face, 0, kGlyphPixels), 0);
    }
    ~FreeTypeFace() {
        FT_Done_Face(m_face);
        FT_Done_FreeType(m_library);
    }
    FreeTypeFace(const FreeTypeFace&) = delete;
    FreeTypeFace& operator=(const FreeTypeFace&) = delete;

    // The glyph drawn anti-aliased and unhinted: coverage 0-255 per pixel.
    const FT_GlyphSlotRec& Draw(char32_t codePoint) {
        EXPECT_EQ(FT_Load_Char(m_face, codePoint, FT_LOAD_NO_HINTING | FT_LOAD_RENDER), 0);
        return *m_face->glyph;
    }

private:
    FT_Library m_library = nullptr;
    FT_Face m_face = nullptr;
};

// Every pixel FreeType covers fully is inside the outline (above 192), every pixel it leaves
// nearly empty outside, a half-covered one near 192; the ink box sits where FreeType puts the
// bitmap, so left and top place the glyph as FreeType does.
void ExpectOutlineMatchesCoverage(const Glyph& glyph, const FT_GlyphSlotRec& drawn) {
    constexpr int kFull = 224;
    constexpr int kEmpty = 32;
    constexpr int kHalfLow = 96;
    constexpr int kHalfHigh = 160;
    const FT_Bitmap& coverage = drawn.bitmap;
    const int columnOffset = drawn.bitmap_left - glyph.left + kBorder;
    const int rowOffset = glyph.top + kGlyphPixels - drawn.bitmap_top + kBorder;
    ASSERT_GE(columnOffset, kBorder);
    ASSERT_GE(rowOffset, kBorder);
    ASSERT_LE(columnOffset + static_cast<int>(coverage.width), glyph.Columns() - kBorder);
    ASSERT_LE(rowOffset + static_cast<int>(coverage.rows), glyph.Rows() - kBorder);
    for (int row = 0; row < static_cast<int>(coverage.rows); ++row) {
        for (int column = 0; column < static_cast<int>(coverage.width); ++column) {
            const int covered = coverage.buffer[row * coverage.pitch + column];
            const int value = glyph.At(column + columnOffset, row + rowOffset);
            const std::string where = "pixel " + std::to_string(column) + "," +
                                      std::to_string(row) + " coverage " + std::to_string(covered);
            if (covered >= kFull) {
                EXPECT_GT(value, kEdge) << where;
            } else if (covered <= kEmpty) {
                EXPECT_LT(value, kEdge) << where;
            } else if (covered >= kHalfLow && covered <= kHalfHigh) {
                EXPECT_NEAR(value, kEdge, kEdgeTolerance) << where;
            }
        }
    }
    for (int column = 0; column < glyph.Columns(); ++column) {
        EXPECT_LT(glyph.At(column, 0), kOutermostRingBelow);
        EXPECT_LT(glyph.At(column, glyph.Rows() - 1), kOutermostRingBelow);
    }
    for (int row = 0; row < glyph.Rows(); ++row) {
        EXPECT_LT(glyph.At(0, row), kOutermostRingBelow);
        EXPECT_LT(glyph.At(glyph.Columns() - 1, row), kOutermostRingBelow);
    }
}

TEST(GlyphRangesTest, LatinGlyphsOfDejaVuSansAreDistanceImagesOfTheirOutlines) {
    const GlyphRange latin = ReadRange("DejaVu Sans Book", "0-255");
    EXPECT_EQ(latin.fontstack, "DejaVu Sans Book");
    EXPECT_EQ(latin.range, "0-255");

    const Glyph& space = latin.glyphs.at(U' ');
    EXPECT_EQ(space.width, 0);
    EXPECT_EQ(space.height, 0);
    EXPECT_TRUE(space.bitmap.empty());
    EXPECT_EQ(space.advance, 8);

    // Advances are DejaVu Sans's (in em: A 0.684, g 0.635, j 0.278, @ 1.0, . 0.318) at 24 px.
    const std::pair<char32_t, int> advances[] = {
        {U'A', 16}, {U'g', 15}, {U'j', 7}, {U'@', 24}, {U'.', 8}};
    FreeTypeFace dejaVuSans(LMX_DEJAVU_SANS);
    for (const auto& [codePoint, advance] : advances) {
        SCOPED_TRACE(static_cast<char>(codePoint));
        const Glyph& glyph = latin.glyphs.at(codePoint);
        EXPECT_EQ(glyph.advance, advance);
        ASSERT_EQ(glyph.bitmap.size(), static_cast<std::size_t>(glyph.Columns() * glyph.Rows()));
        ExpectOutlineMatchesCoverage(glyph, dejaVuSans.Draw(codePoint));
    }
}

TEST(GlyphRangesTest, BothFontsHaveTheRangesDejaVuCovers) {
    struct Case {
        const char* range;
        bool present;
    };
    const Case cases[] = {{"0-255", true},     {"256-511", true},      {"768-1023", true},
                          {"1024-1279", true}, {"19968-20223", false}, {"44032-44287", false}};
    for (const char* fontstack : {"DejaVu Sans Book", "DejaVu Sans Bold"}) {
        for (const Case& known : cases) {
            const fs::path file =
                fs::path(LMX_GLYPHS_DIR) / fontstack / (std::string(known.range) + ".pbf");
            EXPECT_EQ(fs::exists(file), known.present) << file;
        }
        EXPECT_EQ(ReadRange(fontstack, "1024-1279").fontstack, fontstack);
    }
    // Bold strokes are wider, so their middles lie farther inside the outline.
    constexpr int kHalfPixel = 16;
    EXPECT_GT(Brightest(ReadRange("DejaVu Sans Bold", "0-255").glyphs.at(U'A')),
              Brightest(ReadRange("DejaVu Sans Book", "0-255").glyphs.at(U'A')) + kHalfPixel);
}

} // namespace
