#include <QImage>
#include <gtest/gtest.h>
#include <vector>

#include <lmxmaps/MapStyle.h>

TEST(MapStyle, BackgroundColourOnlyWhenGivenAndTheSixBuiltInStyles) {
    const ColorObject grey = ColorObject::FromQColor(Qt::gray);
    const MapStyle plain(QStringLiteral("light"), QStringLiteral("Light"), grey, {});
    EXPECT_FALSE(plain.HasBackgroundColor());
    EXPECT_EQ(plain.GetBackgroundColor(), ColorObject());
    EXPECT_EQ(plain.GetWaitTileFill(), grey);

    const MapStyle dark(QStringLiteral("dark"), QStringLiteral("Dark"), grey,
                        ColorObject::FromQColor(Qt::black), {});
    EXPECT_TRUE(dark.HasBackgroundColor());
    EXPECT_EQ(dark.GetBackgroundColor(), ColorObject::FromQColor(Qt::black));
    EXPECT_FALSE(MapStyle().HasBackgroundColor());

    const auto styles = MapStyle::GetLumivexEnterpriseMapStyleProperties();
    ASSERT_EQ(styles.size(), 6u);
    const QSize previewSize(MapStyleProperties::kPreviewImageSize,
                            MapStyleProperties::kPreviewImageSize);
    std::vector<QImage> previews;
    for (const char* key : {"light", "normal", "dark", "streets", "outdoors", "satellite"}) {
        const auto found = styles.find(QString::fromLatin1(key));
        ASSERT_NE(found, styles.end()) << key;
        EXPECT_EQ(found->second.styleKey, QString::fromLatin1(key));
        EXPECT_FALSE(found->second.displayName.startsWith(QStringLiteral("[missing"))) << key;
        const QImage preview(found->second.previewResource);
        EXPECT_EQ(preview.size(), previewSize) << key;
        for (const QImage& other : previews) {
            EXPECT_NE(preview, other) << key << " looks like an earlier style";
        }
        previews.push_back(preview);
    }
    EXPECT_EQ(styles.at(QStringLiteral("satellite")).styleName, QStringLiteral("Satellite"));
    const MapStyleProperties shortForm(QStringLiteral("custom"), QStringLiteral("Custom"));
    EXPECT_EQ(shortForm.styleName, QStringLiteral("custom"));
    EXPECT_TRUE(shortForm.previewResource.isEmpty());
}
