// Tile images as servers send them, through the module's own PNG decoding (a fast path for the
// common kinds, libspng for the rest). A tile that decodes has the size its header states, and
// where Qt's reader (libpng) decodes the same bytes too, the pixels agree. Inputs of even size
// get their chunk checksums put right first, so that mutations reach past the checksum test.
#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <libdeflate.h>

#include <lmxmaps/host/QtImageObject.h>

#include "FuzzSupport.h"

namespace {

// 16-bit samples are cut to 8 bits before premultiplying, Qt's are rounded after.
constexpr int kChannelTolerance = 2;

constexpr int kSignatureBytes = 8;
// Larger tiles are not compared pixel by pixel: an instrumented loop over them takes seconds.
constexpr qint64 kMaxComparedPixels = 1 << 20;
constexpr int kChunkFrameBytes = 12; // length, type, checksum

quint32 ReadBigEndian(const char* bytes) {
    const auto* b = reinterpret_cast<const uchar*>(bytes);
    return quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | quint32(b[3]);
}

void FixChecksums(QByteArray& png) {
    qsizetype at = kSignatureBytes;
    while (at + kChunkFrameBytes <= png.size()) {
        const quint32 length = ReadBigEndian(png.constData() + at);
        if (length > quint32(png.size() - at - kChunkFrameBytes))
            return;
        const quint32 crc = libdeflate_crc32(0, png.constData() + at + 4, length + 4);
        char* field = png.data() + at + 8 + length;
        for (int i = 0; i < 4; ++i)
            field[i] = char(crc >> (24 - 8 * i));
        at += kChunkFrameBytes + length;
    }
}

int MaxChannelDifference(const QImage& a, const QImage& b) {
    const QImage left = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int worst = 0;
    for (int y = 0; y < left.height(); ++y) {
        const uchar* l = left.constScanLine(y);
        const uchar* r = right.constScanLine(y);
        for (int i = 0; i < left.width() * 4; ++i)
            worst = std::max(worst, std::abs(int(l[i]) - int(r[i])));
    }
    return worst;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::SetOptions();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    if (size % 2 == 0)
        FixChecksums(bytes);
    const std::unique_ptr<QtImageObject> tile = QtImageObject::FromEncoded(bytes);
    if (!tile)
        return 0;
    const QImage pixels = tile->GetImage();
    if (pixels.isNull())
        return 0;
    if (pixels.size() != tile->GetSize())
        std::abort();
    // Other formats go to Qt's own readers: nothing of ours to compare.
    if (!bytes.startsWith("\x89PNG\r\n\x1a\n") ||
        qint64(pixels.width()) * pixels.height() > kMaxComparedPixels)
        return 0;
    const QImage reference = QImage::fromData(bytes, "PNG");
    if (!reference.isNull() && (reference.size() != pixels.size() ||
                                MaxChannelDifference(pixels, reference) > kChannelTolerance))
        std::abort();
    return 0;
}
