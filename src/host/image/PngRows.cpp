#include "PngRows.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

enum FilterType : std::uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

constexpr QRgb kOpaqueAlpha = 0xff000000u;
constexpr QRgb kAllBits = 0xffffffffu;

// The bytes of one pixel widened to 16-bit lanes (the first `PixelBytes` of eight), so that
// Paeth's predictor works on all the bytes of a pixel at once.
using Lanes = std::int16_t __attribute__((vector_size(16)));
using NarrowLanes = std::uint8_t __attribute__((vector_size(8)));

template <int PixelBytes>
Lanes LoadPixel(const std::uint8_t* bytes) {
    NarrowLanes narrow{};
    std::memcpy(&narrow, bytes, PixelBytes);
    return __builtin_convertvector(narrow, Lanes);
}

template <int PixelBytes>
void StorePixel(std::uint8_t* bytes, Lanes lanes) {
    const NarrowLanes narrow = __builtin_convertvector(lanes, NarrowLanes);
    std::memcpy(bytes, &narrow, PixelBytes);
}

// Sixteen bytes, or four words, handled at once.
using ByteBlock = std::uint8_t __attribute__((vector_size(16)));
using WordBlock = std::uint32_t __attribute__((vector_size(16)));

template <typename Block>
Block LoadBlock(const void* bytes) {
    Block block;
    std::memcpy(&block, bytes, sizeof block);
    return block;
}

template <typename Block>
void StoreBlock(void* bytes, Block block) {
    std::memcpy(bytes, &block, sizeof block);
}

Lanes Magnitude(Lanes lanes) {
    return lanes < 0 ? -lanes : lanes;
}

template <int PixelBytes>
void UnfilterSub(std::uint8_t* row, std::size_t rowBytes) {
    for (std::size_t i = PixelBytes; i < rowBytes; ++i) {
        row[i] = static_cast<std::uint8_t>(row[i] + row[i - PixelBytes]);
    }
}

void UnfilterUp(std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes) {
    std::size_t i = 0;
    for (; i + sizeof(ByteBlock) <= rowBytes; i += sizeof(ByteBlock)) {
        StoreBlock(row + i, LoadBlock<ByteBlock>(row + i) + LoadBlock<ByteBlock>(above + i));
    }
    for (; i < rowBytes; ++i) {
        row[i] = static_cast<std::uint8_t>(row[i] + above[i]);
    }
}

template <int PixelBytes>
void UnfilterAverage(std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes) {
    for (std::size_t i = 0; i < PixelBytes; ++i) {
        row[i] = static_cast<std::uint8_t>(row[i] + above[i] / 2);
    }
    for (std::size_t i = PixelBytes; i < rowBytes; ++i) {
        row[i] = static_cast<std::uint8_t>(row[i] + (row[i - PixelBytes] + above[i]) / 2);
    }
}

// Each byte was predicted from its left (a), upper (b) and upper-left (c) neighbours: whichever
// is nearest to p = a + b - c, ties going to a, then to b.
template <int PixelBytes>
void UnfilterPaeth(std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes) {
    Lanes left{};
    Lanes upperLeft{};
    for (std::size_t i = 0; i < rowBytes; i += PixelBytes) {
        const Lanes up = LoadPixel<PixelBytes>(above + i);
        const Lanes upStep = up - upperLeft;     // p - a
        const Lanes leftStep = left - upperLeft; // p - b
        const Lanes toLeft = Magnitude(upStep);
        const Lanes toUp = Magnitude(leftStep);
        const Lanes toUpperLeft = Magnitude(upStep + leftStep);
        const Lanes leftNearest = (toLeft <= toUp) & (toLeft <= toUpperLeft);
        const Lanes predicted = leftNearest ? left : (toUp <= toUpperLeft ? up : upperLeft);
        left = (LoadPixel<PixelBytes>(row + i) + predicted) & 0xff;
        StorePixel<PixelBytes>(row + i, left);
        upperLeft = up;
    }
}

template <int PixelBytes>
bool UnfilterRows(std::uint8_t* rows, int height, std::size_t rowBytes) {
    // The row above the first is all zeros.
    const std::vector<std::uint8_t> zeros(rowBytes, 0);
    const std::uint8_t* above = zeros.data();
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = rows + static_cast<std::size_t>(y) * (rowBytes + 1);
        const std::uint8_t filter = *row++;
        switch (filter) {
        case kNone:
            break;
        case kSub:
            UnfilterSub<PixelBytes>(row, rowBytes);
            break;
        case kUp:
            UnfilterUp(row, above, rowBytes);
            break;
        case kAverage:
            UnfilterAverage<PixelBytes>(row, above, rowBytes);
            break;
        case kPaeth:
            UnfilterPaeth<PixelBytes>(row, above, rowBytes);
            break;
        default:
            return false;
        }
        above = row;
    }
    return true;
}

// Pixels' R, G, B, A bytes read as native words, as QRgb words.
template <typename Words>
Words RgbaToArgb(Words rgba) {
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        return (rgba & 0xff00ff00u) | ((rgba & 0xffu) << 16) | ((rgba >> 16) & 0xffu);
    } else {
        return (rgba >> 8) | (rgba << 24);
    }
}

} // namespace

namespace PngRows {

bool Unfilter(std::uint8_t* rows, int height, std::size_t rowBytes, int pixelBytes) {
    switch (pixelBytes) {
    case 1:
        return UnfilterRows<1>(rows, height, rowBytes);
    case 2:
        return UnfilterRows<2>(rows, height, rowBytes);
    case 3:
        return UnfilterRows<3>(rows, height, rowBytes);
    case 4:
        return UnfilterRows<4>(rows, height, rowBytes);
    default:
        return false;
    }
}

QRgb PackRgba(const std::uint8_t* rgba, QRgb* out, std::size_t count) {
    constexpr std::size_t kBlockWords = sizeof(WordBlock) / sizeof(QRgb);
    WordBlock allBlock = ~WordBlock{};
    std::size_t i = 0;
    for (; i + kBlockWords <= count; i += kBlockWords) {
        const WordBlock words = RgbaToArgb(LoadBlock<WordBlock>(rgba + i * sizeof(QRgb)));
        StoreBlock(out + i, words);
        allBlock &= words;
    }
    QRgb all = allBlock[0] & allBlock[1] & allBlock[2] & allBlock[3];
    for (; i < count; ++i) {
        out[i] = RgbaToArgb(LoadBlock<std::uint32_t>(rgba + i * sizeof(QRgb)));
        all &= out[i];
    }
    return all;
}

void PackRgb(const std::uint8_t* rgb, QRgb* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = qRgb(rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2]);
    }
}

QRgb PackIndexed(const std::uint8_t* indices, QRgb* out, std::size_t count, const QRgb* colours) {
    QRgb all = kAllBits;
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = colours[indices[i]];
        all &= out[i];
    }
    return all;
}

std::uint8_t Highest(const std::uint8_t* bytes, std::size_t count) {
    std::uint8_t highest = 0;
    for (std::size_t i = 0; i < count; ++i) {
        highest = std::max(highest, bytes[i]);
    }
    return highest;
}

QImage ToDrawable(QImage argb, QRgb allWords) {
    if ((allWords & kOpaqueAlpha) == kOpaqueAlpha) {
        argb.reinterpretAsFormat(QImage::Format_RGB32);
    } else {
        argb.convertTo(QImage::Format_ARGB32_Premultiplied);
    }
    return argb;
}

} // namespace PngRows
