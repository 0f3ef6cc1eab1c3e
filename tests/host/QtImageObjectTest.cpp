#include <QBuffer>
#include <QPainter>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include <lmxmaps/host/Counters.h>
#include <lmxmaps/host/QtImageObject.h>

#include "OptionGuard.h"

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

constexpr quint8 kGrey = 0;
constexpr quint8 kRgb = 2;
constexpr quint8 kGreyAlpha = 4;
constexpr quint8 kRgba = 6;

QByteArray BigEndian32(quint32 value) {
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// Length, type, data and the CRC-32 of type and data.
QByteArray Chunk(const char* type, const QByteArray& data) {
    const QByteArray typed = type + data;
    quint32 crc = 0xffffffffu;
    for (const char byte : typed) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    return BigEndian32(static_cast<quint32>(data.size())) + typed + BigEndian32(~crc);
}

// The signature and the header chunk.
QByteArray PngHead(QSize size, quint8 colorType, quint8 bitDepth, bool interlaced) {
    QByteArray header = BigEndian32(size.width()) + BigEndian32(size.height());
    header.append(char(bitDepth)).append(char(colorType)).append(2, '\0').append(char(interlaced));
    return "\x89PNG\r\n\x1a\n" + Chunk("IHDR", header);
}

// A plain row filtered with `type` (None, Sub, Up, Average, Paeth), given the row above.
QByteArray FilteredRow(const QByteArray& row, const QByteArray& above, int pixelBytes, int type) {
    QByteArray filtered(1, static_cast<char>(type));
    for (int i = 0; i < row.size(); ++i) {
        const int a = i >= pixelBytes ? static_cast<quint8>(row[i - pixelBytes]) : 0;
        const int b = static_cast<quint8>(above[i]);
        const int c = i >= pixelBytes ? static_cast<quint8>(above[i - pixelBytes]) : 0;
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        const int predictions[] = {0, a, b, (a + b) / 2, paeth};
        filtered.append(static_cast<char>(row[i] - predictions[type]));
    }
    return filtered;
}

// Samples of whole pixels, row by row. Plain rows take the five filters in turn; Adam7's seven
// passes are left unfiltered. The pixel data is split over two chunks.
QByteArray HandMadePng(QSize size, quint8 colorType, quint8 bitDepth, bool interlaced,
                       const QByteArray& samples) {
    // First column and row, then column and row steps, of each pass.
    static constexpr int kAdam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    const int pixelBytes = samples.size() / (size.width() * size.height());
    QByteArray rows;
    for (int pass = 0; interlaced && pass < 7; ++pass) {
        const int* grid = kAdam7[pass];
        for (int y = grid[1]; y < size.height() && grid[0] < size.width(); y += grid[3]) {
            rows.append('\0');
            for (int x = grid[0]; x < size.width(); x += grid[2]) {
                rows.append(samples.mid((y * size.width() + x) * pixelBytes, pixelBytes));
            }
        }
    }
    const int rowBytes = size.width() * pixelBytes;
    for (int y = 0; !interlaced && y < size.height(); ++y) {
        const QByteArray above =
            y == 0 ? QByteArray(rowBytes, '\0') : samples.mid((y - 1) * rowBytes, rowBytes);
        rows += FilteredRow(samples.mid(y * rowBytes, rowBytes), above, pixelBytes, y % 5);
    }
    const QByteArray stream = qCompress(rows).mid(4);
    return PngHead(size, colorType, bitDepth, interlaced) +
           Chunk("IDAT", stream.left(stream.size() / 2)) +
           Chunk("IDAT", stream.mid(stream.size() / 2)) + Chunk("IEND", {});
}

// Few distinct byte values, so that Paeth's predictor often meets ties.
QByteArray Noise(int count) {
    QByteArray bytes(count, '\0');
    quint32 state = 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>((state >> 24) & 0x83u);
    }
    return bytes;
}

// The largest difference of one channel between the premultiplied pixels of two images of one
// size; 32-bit rows have no padding, so the bytes are the channels.
int MaxChannelDifference(const QImage& a, const QImage& b) {
    const QImage left = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int worst = 0;
    for (qsizetype i = 0; i < left.sizeInBytes(); ++i) {
        worst = std::max(worst, std::abs(left.constBits()[i] - right.constBits()[i]));
    }
    return worst;
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

TEST(QtImageObject, PngVariantsDecodeToThePixelsOfQtsReader) {
    // 91 pixels: whole blocks of the pixel loops and a tail, and Adam7 passes of uneven sizes.
    const QSize odd(13, 7);
    const int pixels = odd.width() * odd.height();
    const QImage pattern = PatternImage(odd.width(), odd.height());
    QImage translucentTail = pattern;
    translucentTail.setPixel(12, 6, qRgba(200, 100, 50, 128));
    QImage palette(odd, QImage::Format_Indexed8);
    palette.setColorTable({qRgba(255, 0, 0, 0), qRgba(0, 255, 0, 90), qRgba(10, 20, 30, 255),
                           qRgba(250, 250, 0, 200), qRgba(9, 9, 200, 17)});
    for (int i = 0; i < pixels; ++i) {
        palette.setPixel(i % odd.width(), i / odd.width(), static_cast<uint>(i * 7 % 5));
    }
    // Two colours: a 1-bit palette.
    const QImage twoColours =
        palette.convertToFormat(QImage::Format_Mono, palette.colorTable().mid(1, 2));
    struct Variant {
        const char* name;
        QByteArray png;
        bool opaque;
        // 16-bit samples are cut to 8 bits before premultiplying, Qt's are rounded after.
        int tolerance;
    };
    const Variant variants[] = {
        {"RGB", Encode(pattern.convertToFormat(QImage::Format_RGB32), "PNG"), true, 0},
        {"RGBA, all opaque", Encode(pattern, "PNG"), true, 0},
        {"RGBA, last pixel translucent", Encode(translucentTail, "PNG"), false, 0},
        {"palette with transparency", Encode(palette, "PNG"), false, 0},
        {"1-bit palette with transparency", Encode(twoColours, "PNG"), false, 0},
        {"grey", HandMadePng(odd, kGrey, 8, false, Noise(pixels)), true, 0},
        {"RGB, filtered", HandMadePng(odd, kRgb, 8, false, Noise(pixels * 3)), true, 0},
        {"RGBA, filtered", HandMadePng(odd, kRgba, 8, false, Noise(pixels * 4)), false, 0},
        {"grey and alpha", HandMadePng(odd, kGreyAlpha, 8, false, Noise(pixels * 2)), false, 0},
        {"grey, 16-bit", HandMadePng(odd, kGrey, 16, false, Noise(pixels * 2)), true, 1},
        {"RGB, Adam7", HandMadePng(odd, kRgb, 8, true, Noise(pixels * 3)), true, 0},
        {"RGBA, 16-bit, Adam7", HandMadePng(odd, kRgba, 16, true, Noise(pixels * 8)), false, 2},
    };
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.name);
        const QImage reference = QImage::fromData(variant.png, "PNG");
        ASSERT_FALSE(reference.isNull());
        const auto image = QtImageObject::FromEncoded(variant.png);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->GetSize(), odd);
        const QImage decoded = image->GetImage();
        ASSERT_EQ(decoded.size(), odd);
        EXPECT_EQ(decoded.hasAlphaChannel(), !variant.opaque);
        EXPECT_LE(MaxChannelDifference(decoded, reference), variant.tolerance);
    }

    // Decoded again after a clear, the pixels keep their density.
    QImage dense = pattern;
    dense.setDevicePixelRatio(2.0);
    const auto image = QtImageObject::FromPixelsWithPng(dense, 80);
    image->ClearBitmapCache();
    EXPECT_EQ(image->GetImage().devicePixelRatio(), 2.0);
    EXPECT_TRUE(SamePixels(image->GetImage(), pattern));
}

TEST(QtImageObject, BrokenOrOversizedPngBytesNeverDecode) {
    const QSize size(40, 24);
    const QByteArray good = HandMadePng(size, kRgb, 8, false, Noise(40 * 24 * 3));
    const auto flipped = [&](int offset) {
        QByteArray bytes = good;
        bytes[offset] = static_cast<char>(bytes[offset] ^ 1);
        return bytes;
    };
    // Signature and header take 33 bytes, the pixel chunk's length and type 8; IEND's 12 end it.
    const QByteArray pixelByteFlipped = flipped(33 + 8 + 200);
    const QByteArray crcFlipped = flipped(good.size() - 13);
    const QByteArray brokenStream = PngHead(size, kRgb, 8, false) +
                                    Chunk("IDAT", QByteArray("\x78\x9c\xff\xff\xff\xff")) +
                                    Chunk("IEND", {});
    for (const QByteArray& broken : {good.left(good.size() - 30), good.left(good.size() - 12),
                                     pixelByteFlipped, crcFlipped, brokenStream}) {
        SCOPED_TRACE(broken.size());
        const auto image = QtImageObject::FromEncoded(broken);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->GetSize(), size);
        const std::int64_t decodesBefore = Decodes();
        EXPECT_FALSE(image->IsValid());
        EXPECT_TRUE(image->GetImage().isNull());
        EXPECT_EQ(Decodes(), decodesBefore);
    }

    // A header claiming more pixels than the budget is refused before anything is inflated,
    // and without a budget no side may pass a million pixels.
    const OptionGuard budget("ImageMaxPixels");
    const QByteArray tinyPixels = Chunk("IDAT", qCompress(QByteArray(8, '\0')).mid(4));
    Options::Set(QStringLiteral("ImageMaxPixels"), QStringLiteral("1000000"));
    const std::int64_t decodesBefore = Decodes();
    EXPECT_FALSE(QtImageObject::FromEncoded(PngHead(QSize(100000, 100000), kRgba, 8, false) +
                                            tinyPixels + Chunk("IEND", {})));
    EXPECT_TRUE(QtImageObject::FromEncoded(good));
    Options::Set(QStringLiteral("ImageMaxPixels"), QStringLiteral("0"));
    EXPECT_FALSE(QtImageObject::FromEncoded(PngHead(QSize(2000000, 1), kRgba, 8, false) +
                                            tinyPixels + Chunk("IEND", {})));
    EXPECT_EQ(Decodes(), decodesBefore);
}
