#pragma once
// PNG bytes to pixels, left in a format QPainter draws without converting: RGB32 when every
// pixel is opaque, premultiplied ARGB32 otherwise. The kinds tile servers send go through
// CommonPngDecoder; libspng decodes every other colour type and bit depth, transparency chunks
// and interlacing. Gamma and colour-space chunks are not applied, as Qt's reader does not apply
// them.

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <cstdint>
#include <optional>

namespace PngDecoder {

// libpng's limit, which Qt's reader had: a million pixels a side.
constexpr std::uint32_t kMaxSide = 1000000;

// Whether the bytes start with the PNG signature.
bool HasPngSignature(const QByteArray& bytes);

// The size the header states, once the chunks up to the pixel data have read without fault;
// nullopt otherwise. Nothing is inflated.
std::optional<QSize> ReadSize(const QByteArray& bytes);

// The pixels; a null image when the bytes do not decode (broken, cut short, a checksum that
// does not match, a side over a million pixels, metadata chunks beyond a few megabytes).
QImage Decode(const QByteArray& bytes);

} // namespace PngDecoder
