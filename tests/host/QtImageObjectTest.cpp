#include <QBuffer>
#include <QPainter>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include <lmxmaps/host/Counters.h>
#include <lmxmaps/host/QtImageObject.h>

namespace {

constexpr int kTileSide = 16;

// A tile whose every pixel differs, so that a wrong decode or scale shows.
QImage PatternImage(int width = kTileSide, int height = kTileSide) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgba(x * 15, y * 15, (x + y) * 7, 255));
        }
    }
    return image;
}

QByteArray Encode(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format));
    return bytes;
}

std::int64_t Decodes() {
    return HostCounters::Get(QtImageObject::kDecodeCounter);
}

bool SamePixels(const QImage& a, const QImage& b) {
    return a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

TEST(QtImageObject, SizeComesFromTheHeaderClearsFreeThePixelsAndBrokenBytesAreRefused) {
    const QImage original = PatternImage();
    const std::unique_ptr<QtImageObject> image =
        QtImageObject::FromEncoded(Encode(original, "PNG"));
    ASSERT_TRUE(image);

    const std::int64_t decodesBefore = Decodes();
    EXPECT_EQ(image->GetSize(), QSize(kTileSide, kTileSide));
    EXPECT_FALSE(image->IsBitmapDecoded());
    EXPECT_EQ(Decodes(), decodesBefore);

    QImage firstDecode = image->GetImage();
    EXPECT_TRUE(SamePixels(firstDecode, original));
    EXPECT_EQ(Decodes(), decodesBefore + 1);
    image->GetImage();
    EXPECT_EQ(Decodes(), decodesBefore + 1);
    // The object and this copy share one pixel buffer...
    EXPECT_FALSE(firstDecode.isDetached());

    image->ClearBitmapCache();
    EXPECT_FALSE(image->IsBitmapDecoded());
    // ...and after the clear the object holds no reference to it any more.
    EXPECT_TRUE(firstDecode.isDetached());
    EXPECT_TRUE(image->HasEncoded());

    EXPECT_TRUE(SamePixels(image->GetImage(), original));
    EXPECT_EQ(Decodes(), decodesBefore + 2);
    EXPECT_TRUE(image->IsBitmapDecoded());

    const QImage sized = PatternImage(40, 24);
    const std::int64_t sizedDecodesBefore = Decodes();
    const auto jpeg = QtImageObject::FromEncoded(Encode(sized, "JPEG"));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->GetWidth(), 40);
    EXPECT_EQ(jpeg->GetHeight(), 24);
    EXPECT_EQ(Decodes(), sizedDecodesBefore);
    EXPECT_TRUE(jpeg->IsValid());

    EXPECT_FALSE(QtImageObject::FromEncoded(QByteArray()));
    EXPECT_FALSE(QtImageObject::FromEncoded(QByteArray("definitely not an image")));

    // Cut before the pixels, a PNG tells no size and is refused; cut inside them, it is
    // accepted by its header but does not decode.
    const QByteArray sizedPng = Encode(sized, "PNG");
    EXPECT_FALSE(QtImageObject::FromEncoded(sizedPng.left(40)));
    const auto truncated = QtImageObject::FromEncoded(sizedPng.left(sizedPng.size() - 20));
    ASSERT_TRUE(truncated);
    EXPECT_EQ(truncated->GetSize(), QSize(40, 24));
    EXPECT_FALSE(truncated->IsValid());
    EXPECT_TRUE(truncated->GetImage().isNull());
    EXPECT_FALSE(truncated->GetSolidColor());
}

TEST(QtImageObject, PixelsMadeInMemoryStayDecodedAndEncodeAsPng) {
    const QImage original = PatternImage();
    const std::int64_t decodesBefore = Decodes();
    // Quality 80 is zlib level 1 in Qt's PNG writer.
    const std::unique_ptr<QtImageObject> image = QtImageObject::FromPixelsWithPng(original, 80);
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->IsBitmapDecoded());
    EXPECT_EQ(image->GetSize(), QSize(kTileSide, kTileSide));
    EXPECT_TRUE(SamePixels(image->GetImage(), original));
    EXPECT_EQ(Decodes(), decodesBefore);
    ASSERT_TRUE(image->HasEncoded());
    EXPECT_TRUE(image->GetEncoded().startsWith("\x89PNG"));
    EXPECT_TRUE(SamePixels(QImage::fromData(image->GetEncoded()), original));

    image->ClearBitmapCache();
    EXPECT_FALSE(image->IsBitmapDecoded());
    EXPECT_TRUE(SamePixels(image->GetImage(), original));
    EXPECT_EQ(Decodes(), decodesBefore + 1);

    // A null image has nothing to encode: it stays an image made in memory.
    const std::unique_ptr<QtImageObject> empty = QtImageObject::FromPixelsWithPng(QImage(), 80);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->HasEncoded());
    EXPECT_FALSE(empty->IsValid());

    // An image made in memory alone keeps its pixels and encodes as PNG.
    QtImageObject inMemory(original);
    EXPECT_FALSE(inMemory.HasEncoded());
    EXPECT_TRUE(inMemory.GetEncoded().isEmpty());
    inMemory.ClearBitmapCache();
    EXPECT_TRUE(inMemory.IsBitmapDecoded());
    EXPECT_TRUE(SamePixels(inMemory.GetImage(), original));

    const QByteArray png = inMemory.GetEncodedOrPng();
    ASSERT_TRUE(png.startsWith("\x89PNG"));
    EXPECT_TRUE(SamePixels(QImage::fromData(png), original));

    const auto fetched = QtImageObject::FromEncoded(Encode(original, "PNG"));
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->GetEncodedOrPng(), fetched->GetEncoded());
}

TEST(QtImageObject, ScaledCopiesAreKeptUpToTheBitmapCacheSizeAndClonesShareThePixels) {
    const auto image = QtImageObject::FromEncoded(Encode(PatternImage(), "PNG"));
    ASSERT_TRUE(image);
    image->SetBitmapCacheSize(2);

    const QImage small = image->GetScaled(QSize(8, 8), true);
    EXPECT_EQ(small.size(), QSize(8, 8));
    EXPECT_EQ(image->GetScaled(QSize(8, 8), true).cacheKey(), small.cacheKey());
    // The unfiltered copy is a different picture, kept apart.
    const QImage sharp = image->GetScaled(QSize(8, 8), false);
    EXPECT_NE(sharp.cacheKey(), small.cacheKey());
    EXPECT_EQ(sharp.pixel(1, 1), PatternImage().pixel(2, 2));

    // A third size pushes out the least recently used (the filtered 8x8).
    image->GetScaled(QSize(32, 32), true);
    EXPECT_EQ(image->GetScaled(QSize(8, 8), false).cacheKey(), sharp.cacheKey());
    EXPECT_NE(image->GetScaled(QSize(8, 8), true).cacheKey(), small.cacheKey());

    const QImage kept = image->GetScaled(QSize(32, 32), true);
    image->ClearBitmapCache();
    EXPECT_NE(image->GetScaled(QSize(32, 32), true).cacheKey(), kept.cacheKey());

    image->SetBitmapCacheSize(0);
    const QImage uncached = image->GetScaled(QSize(4, 4), true);
    EXPECT_NE(image->GetScaled(QSize(4, 4), true).cacheKey(), uncached.cacheKey());
    // The natural size needs no copy at all.
    EXPECT_EQ(image->GetScaled(QSize(kTileSide, kTileSide), true).cacheKey(),
              image->GetImage().cacheKey());

    // A clone shares bytes and pixels but not their fate.
    const auto copy = image->Clone();
    EXPECT_EQ(copy->GetEncoded(), image->GetEncoded());
    EXPECT_EQ(copy->GetImage().cacheKey(), image->GetImage().cacheKey());
    image->ClearBitmapCache();
    EXPECT_TRUE(copy->IsBitmapDecoded());
    copy->FillRect(QRectF(0, 0, 1, 1), ColorObject(1, 2, 3));
    EXPECT_TRUE(image->HasEncoded());
    EXPECT_TRUE(SamePixels(image->GetImage(), PatternImage()));
}

TEST(QtImageObject, PaintingMakesThePixelsTheOnlyTruth) {
    // A palette PNG decodes to an indexed image, which QPainter cannot paint on.
    QImage indexed = PatternImage().convertToFormat(QImage::Format_Indexed8);
    const auto image = QtImageObject::FromEncoded(Encode(indexed, "PNG"));
    ASSERT_TRUE(image);
    image->SetBitmapCacheSize(1);
    const QImage scaledBefore = image->GetScaled(QSize(4, 4), false);

    const ColorObject red(255, 0, 0);
    image->FillRect(QRectF(0, 0, 4, 4), red);
    EXPECT_FALSE(image->HasEncoded());
    EXPECT_EQ(ColorObject::FromArgb(image->GetImage().pixel(3, 3)), red);
    EXPECT_NE(ColorObject::FromArgb(image->GetImage().pixel(4, 4)), red);
    EXPECT_NE(image->GetScaled(QSize(4, 4), false).cacheKey(), scaledBefore.cacheKey());

    // With no encoded form left, a clear must keep the painted pixels.
    image->ClearBitmapCache();
    EXPECT_TRUE(image->IsBitmapDecoded());
    EXPECT_EQ(ColorObject::FromArgb(image->GetImage().pixel(0, 0)), red);
}

TEST(QtImageObject, CanvasesFindASolidColourOnlyWhenEveryPixelAgreesAndDrawAtTheirDensity) {
    const ColorObject nearWhite(240, 240, 240);
    const auto canvas = QtImageObject::CreateCanvas(
        QSize(8, 8), QImage::Format_ARGB32_Premultiplied, 1.0, nearWhite);
    EXPECT_EQ(canvas->GetSolidColor(), nearWhite);
    canvas->FillRect(QRectF(7, 7, 1, 1), ColorObject(0, 0, 0));
    EXPECT_FALSE(canvas->GetSolidColor());

    const auto transparent = QtImageObject::CreateCanvas(QSize(3, 3), QImage::Format_ARGB32, 1.0,
                                                         ColorObject::Transparent());
    EXPECT_EQ(transparent->GetSolidColor(), ColorObject::Transparent());

    // Draw scales into the target on high density canvases.
    QImage quadrants(2, 2, QImage::Format_ARGB32);
    quadrants.setPixel(0, 0, qRgb(255, 0, 0));
    quadrants.setPixel(1, 0, qRgb(0, 255, 0));
    quadrants.setPixel(0, 1, qRgb(0, 0, 255));
    quadrants.setPixel(1, 1, qRgb(255, 255, 0));
    const QtImageObject tile(quadrants);

    constexpr qreal kHighDensity = 2.0;
    // Forty pixels square, twenty device-independent units.
    const auto dense =
        QtImageObject::CreateCanvas(QSize(40, 40), QImage::Format_ARGB32_Premultiplied,
                                    kHighDensity, ColorObject(255, 255, 255));
    QtImageObject::BitmapOptions options;
    options.smoothScaling = false;
    // Ten units at (5, 5) cover pixels 10 to 29, each quadrant ten pixels square.
    dense->Paint([&](QPainter& painter) { tile.Draw(painter, QRectF(5, 5, 10, 10), options); });
    const QImage pixels = dense->GetImage();
    EXPECT_EQ(pixels.pixel(9, 9), qRgb(255, 255, 255));
    EXPECT_EQ(pixels.pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(pixels.pixel(19, 19), qRgb(255, 0, 0));
    EXPECT_EQ(pixels.pixel(20, 10), qRgb(0, 255, 0));
    EXPECT_EQ(pixels.pixel(10, 29), qRgb(0, 0, 255));
    EXPECT_EQ(pixels.pixel(29, 29), qRgb(255, 255, 0));
    EXPECT_EQ(pixels.pixel(30, 30), qRgb(255, 255, 255));
}

TEST(QtImageObject, ConcurrentClearsDecodesAndScalesAgree) {
    const QImage original = PatternImage();
    const auto image = QtImageObject::FromEncoded(Encode(original, "PNG"));
    ASSERT_TRUE(image);
    image->SetBitmapCacheSize(2);
    constexpr int kReaders = 4;
    constexpr int kRounds = 300;
    std::atomic<int> mismatches{0};
    std::atomic<bool> stop{false};
    std::thread clearer([&] {
        while (!stop.load()) {
            image->ClearBitmapCache();
        }
    });
    std::vector<std::thread> readers;
    for (int reader = 0; reader < kReaders; ++reader) {
        readers.emplace_back([&, reader] {
            for (int round = 0; round < kRounds; ++round) {
                if (!SamePixels(image->GetImage(), original)) {
                    ++mismatches;
                }
                const int side = 4 + (round + reader) % 3;
                if (image->GetScaled(QSize(side, side), false).size() != QSize(side, side)) {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    stop = true;
    clearer.join();
    EXPECT_EQ(mismatches.load(), 0);
}
