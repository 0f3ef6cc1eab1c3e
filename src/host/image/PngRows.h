#pragma once
// Rows of 8-bit PNG samples: undoing the per-row filters once inflated, and packing the samples
// as QRgb words.

#include <QImage>
#include <QRgb>
#include <cstddef>
#include <cstdint>

namespace PngRows {

// Rows as inflated: each a filter-type byte, then `rowBytes` bytes of pixels `pixelBytes`
// (1 to 4) bytes wide. Restores the bytes of every row in place; false at an unknown filter.
bool Unfilter(std::uint8_t* rows, int height, std::size_t rowBytes, int pixelBytes);

// R, G, B, A bytes as QRgb words; `rgba` may be `out`. Returns the AND of all the words, whose
// alpha byte is 0xff exactly when every pixel is opaque.
QRgb PackRgba(const std::uint8_t* rgba, QRgb* out, std::size_t count);

// R, G, B bytes as opaque QRgb words.
void PackRgb(const std::uint8_t* rgb, QRgb* out, std::size_t count);

// One byte a pixel, looked up in `colours` (256 entries). Returns the AND of the words written.
QRgb PackIndexed(const std::uint8_t* indices, QRgb* out, std::size_t count, const QRgb* colours);

// The highest of the bytes.
std::uint8_t Highest(const std::uint8_t* bytes, std::size_t count);

// Non-premultiplied ARGB32 pixels in the format QPainter draws fastest: RGB32 when the AND of
// all the words says every pixel is opaque, premultiplied ARGB32 otherwise.
QImage ToDrawable(QImage argb, QRgb allWords);

} // namespace PngRows
