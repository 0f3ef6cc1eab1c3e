#include <gtest/gtest.h>

#include <lmxmaps/host/ColorObject.h>
#include <lmxmaps/host/WarningMsg.h>

namespace {

std::optional<ColorObject> Parse(const char* text) {
    return ColorObject::Parse(QString::fromUtf8(text));
}

} // namespace

TEST(ColorObject, ParsesHexRgbaAndNamedFormsWritesWhatItReadsAndConvertsToQt) {
    EXPECT_EQ(Parse("#1E90FF"), ColorObject(0x1E, 0x90, 0xFF));
    EXPECT_EQ(Parse("  #1e90ff "), ColorObject(0x1E, 0x90, 0xFF));
    EXPECT_EQ(Parse("#f80"), ColorObject(0xFF, 0x88, 0x00));
    EXPECT_EQ(Parse("#801E90FF"), ColorObject(0x1E, 0x90, 0xFF, 0x80));
    EXPECT_EQ(Parse("#00000000"), ColorObject::Transparent());
    EXPECT_EQ(Parse("rgb(255, 0, 10)"), ColorObject(255, 0, 10));
    EXPECT_EQ(Parse("RGB( 1,2 ,3 )"), ColorObject(1, 2, 3));
    EXPECT_EQ(Parse("rgb(100%, 50%, 0%)"), ColorObject(255, 128, 0));
    EXPECT_EQ(Parse("rgba(10, 20, 30, 0.5)"), ColorObject(10, 20, 30, 128));
    EXPECT_EQ(Parse("rgba(10, 20, 30, 0)"), ColorObject(10, 20, 30, 0));
    EXPECT_EQ(Parse("rgba(10, 20, 30, 1)"), ColorObject(10, 20, 30, 255));
    EXPECT_EQ(Parse("rgba(10, 20, 30, 25%)"), ColorObject(10, 20, 30, 64));
    EXPECT_EQ(Parse("steelblue"), ColorObject(70, 130, 180));
    EXPECT_EQ(Parse("White"), ColorObject(255, 255, 255));
    EXPECT_EQ(Parse("transparent"), ColorObject::Transparent());

    for (const char* bad : {"#", "#12", "#12345", "#1234567", "#123456789", "#12345g", "#0x1234",
                            "1E90FF", "#+12345", "notacolour", "steel blue", "", "   "}) {
        EXPECT_FALSE(Parse(bad)) << bad;
    }
    for (const char* bad :
         {"rgb(256, 0, 0)", "rgb(-1, 0, 0)", "rgb(1, 2)", "rgb(1, 2, 3, 0.5)", "rgba(1, 2, 3)",
          "rgba(1, 2, 3, 1.5)", "rgb(101%, 0, 0)", "rgb(1.5, 2, 3)", "rgb(1, 2, 3", "rgb 1, 2, 3)",
          "rgbx(1, 2, 3)", "rgb(a, b, c)", "rgb()"}) {
        EXPECT_FALSE(Parse(bad)) << bad;
    }

    const ColorObject opaque(0x0A, 0xB0, 0xC3);
    EXPECT_EQ(opaque.ToString(), QStringLiteral("#0AB0C3"));
    const ColorObject translucent(0x0A, 0xB0, 0xC3, 0x07);
    EXPECT_EQ(translucent.ToString(), QStringLiteral("#070AB0C3"));
    EXPECT_EQ(ColorObject::Parse(opaque.ToString()), opaque);
    EXPECT_EQ(ColorObject::Parse(translucent.ToString()), translucent);

    EXPECT_EQ(translucent.ToArgb(), 0x070AB0C3u);
    EXPECT_EQ(ColorObject::FromArgb(0x070AB0C3u), translucent);
    EXPECT_EQ(ColorObject::FromQColor(translucent.ToQColor()), translucent);
    EXPECT_TRUE(opaque.IsOpaque());
    EXPECT_FALSE(translucent.IsOpaque());
    EXPECT_TRUE(ColorObject::Transparent().IsFullyTransparent());
    EXPECT_EQ(ColorObject(), ColorObject(0, 0, 0, 255));
}

TEST(WarningMsg, DisplayTextPutsTheHeadingAboveTheMessage) {
    constexpr int kWarningType = 12;
    constexpr StringId kHeading = 1072972447u; // "State"
    EXPECT_EQ(WarningMsg(QStringLiteral("no tiles"), kWarningType).GetDisplayText(),
              QStringLiteral("no tiles"));
    EXPECT_EQ(WarningMsg(QStringLiteral("403 Forbidden"), kWarningType, kHeading).GetDisplayText(),
              QStringLiteral("State\n403 Forbidden"));
    EXPECT_EQ(WarningMsg(QString(), kWarningType, kHeading).GetDisplayText(),
              QStringLiteral("State"));
}
