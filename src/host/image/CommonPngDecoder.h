#pragma once
// The PNGs tile servers send (8-bit grey, RGB, palette and RGBA, not interlaced), decoded in one
// pass over whole buffers: libdeflate inflates all the pixel data at once, the rows are
// unfiltered in place and packed into the image. Every chunk's CRC is checked.

#include <QByteArray>
#include <QImage>
#include <optional>

namespace CommonPngDecoder {

// The pixels as PngRows::ToDrawable leaves them; nullopt for any other kind of PNG and for
// bytes that do not decode cleanly, so that a general decoder has the last word on them.
std::optional<QImage> Decode(const QByteArray& bytes);

} // namespace CommonPngDecoder
