#include "PngDecoder.h"

#include <QtGlobal>
#include <cstdint>
#include <memory>
#include <spng.h>

#include "CommonPngDecoder.h"
#include "PngRows.h"

namespace {

constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
constexpr int kSignatureLength = 8;
// libpng's limit, which Qt's reader had: 8 MB for one metadata chunk.
constexpr std::size_t kMaxChunkBytes = 8000000;
// All stored metadata chunks together (text counts inflated), so a small file cannot make the
// decoder hold hundreds of megabytes of it.
constexpr std::size_t kMaxChunkCacheBytes = 2 * kMaxChunkBytes;

struct ContextFree {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

Context OpenContext(const QByteArray& bytes) {
    // The CRC-32 of every chunk, checked up to the end chunk, already covers the compressed
    // pixels; the Adler-32 of the inflated stream would check them again at several times the
    // cost.
    Context context(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
    if (!context ||
        spng_set_png_buffer(context.get(), bytes.constData(),
                            static_cast<std::size_t>(bytes.size())) != 0 ||
        spng_set_image_limits(context.get(), PngDecoder::kMaxSide, PngDecoder::kMaxSide) != 0 ||
        spng_set_chunk_limits(context.get(), kMaxChunkBytes, kMaxChunkCacheBytes) != 0 ||
        spng_set_crc_action(context.get(), SPNG_CRC_ERROR, SPNG_CRC_DISCARD) != 0) {
        return nullptr;
    }
    return context;
}

// Reads the header and the chunks before the pixel data.
std::optional<QSize> HeaderSize(spng_ctx* context) {
    spng_ihdr header{};
    if (spng_get_ihdr(context, &header) != 0 || spng_decode_chunks(context) != 0) {
        return std::nullopt;
    }
    return QSize(static_cast<int>(header.width), static_cast<int>(header.height));
}

} // namespace

namespace PngDecoder {

bool HasPngSignature(const QByteArray& bytes) {
    return bytes.startsWith(QByteArray::fromRawData(kSignature, kSignatureLength));
}

std::optional<QSize> ReadSize(const QByteArray& bytes) {
    const Context context = OpenContext(bytes);
    return context ? HeaderSize(context.get()) : std::nullopt;
}

QImage Decode(const QByteArray& bytes) {
    if (std::optional<QImage> common = CommonPngDecoder::Decode(bytes)) {
        return *std::move(common);
    }
    const Context context = OpenContext(bytes);
    const std::optional<QSize> size = context ? HeaderSize(context.get()) : std::nullopt;
    if (!size) {
        return QImage();
    }
    // 32-bit rows are packed, so libspng's RGBA rows fill the image's buffer exactly.
    QImage image(*size, QImage::Format_ARGB32);
    std::size_t decodedBytes = 0;
    if (image.isNull() ||
        spng_decoded_image_size(context.get(), SPNG_FMT_RGBA8, &decodedBytes) != 0 ||
        decodedBytes != static_cast<std::size_t>(image.sizeInBytes()) ||
        spng_decode_image(context.get(), image.bits(), decodedBytes, SPNG_FMT_RGBA8,
                          SPNG_DECODE_TRNS) != 0 ||
        // Reading on to the end chunk checks the last pixel chunk's CRC.
        spng_decode_chunks(context.get()) != 0) {
        return QImage();
    }
    const auto pixelCount = static_cast<std::size_t>(image.width()) * image.height();
    auto* pixels = reinterpret_cast<QRgb*>(image.bits());
    const QRgb all = PngRows::PackRgba(image.constBits(), pixels, pixelCount);
    return PngRows::ToDrawable(std::move(image), all);
}

} // namespace PngDecoder
