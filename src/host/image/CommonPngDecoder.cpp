#include "CommonPngDecoder.h"

#include <QtEndian>
#include <array>
#include <cstdint>
#include <libdeflate.h>
#include <memory>
#include <vector>

#include "PngDecoder.h"
#include "PngRows.h"

namespace {

constexpr qsizetype kSignatureLength = 8;
// Length, type and CRC around a chunk's data.
constexpr qsizetype kChunkOverhead = 12;
constexpr quint32 kHeaderLength = 13;
constexpr std::uint8_t kBitDepth = 8;
constexpr quint32 kPaletteEntryBytes = 3;
constexpr int kColourCount = 256;
// A thread keeps its inflate buffer for the next image unless it grew beyond this.
constexpr std::size_t kKeptScratchBytes = std::size_t(4) << 20;

constexpr quint32 ChunkType(const char (&name)[5]) {
    return quint32(std::uint8_t(name[0])) << 24 | quint32(std::uint8_t(name[1])) << 16 |
           quint32(std::uint8_t(name[2])) << 8 | quint32(std::uint8_t(name[3]));
}
constexpr quint32 kHeaderChunk = ChunkType("IHDR");
constexpr quint32 kPaletteChunk = ChunkType("PLTE");
constexpr quint32 kTransparencyChunk = ChunkType("tRNS");
constexpr quint32 kPixelChunk = ChunkType("IDAT");
constexpr quint32 kEndChunk = ChunkType("IEND");
// Set in the type of chunks a decoder may skip.
constexpr quint32 kAncillaryBit = 0x20000000u;

enum ColourType : std::uint8_t { kGrey = 0, kRgb = 2, kIndexed = 3, kRgba = 6 };

struct Chunk {
    quint32 type = 0;
    const std::uint8_t* data = nullptr;
    quint32 length = 0;
};

struct Layout {
    int width = 0;
    int height = 0;
    std::uint8_t colourType = kGrey;
    // Grey levels, or the palette with its alphas; `colourCount` of them are valid.
    std::array<QRgb, kColourCount> colours{};
    int colourCount = 0;
    bool hasTransparency = false;
    std::vector<Chunk> pixelChunks;
};

int PixelBytes(std::uint8_t colourType) {
    switch (colourType) {
    case kRgb:
        return 3;
    case kRgba:
        return 4;
    default:
        return 1;
    }
}

// The chunk at `offset` when it lies within the bytes and its CRC matches.
std::optional<Chunk> ReadChunk(const QByteArray& bytes, qsizetype offset) {
    if (bytes.size() - offset < kChunkOverhead) {
        return std::nullopt;
    }
    const auto* start = reinterpret_cast<const std::uint8_t*>(bytes.constData()) + offset;
    const quint32 length = qFromBigEndian<quint32>(start);
    if (length > static_cast<quint64>(bytes.size() - offset - kChunkOverhead)) {
        return std::nullopt;
    }
    const std::uint8_t* typeAndData = start + 4;
    if (libdeflate_crc32(0, typeAndData, length + 4) !=
        qFromBigEndian<quint32>(typeAndData + 4 + length)) {
        return std::nullopt;
    }
    return Chunk{qFromBigEndian<quint32>(typeAndData), typeAndData + 4, length};
}

bool ReadHeader(const Chunk& chunk, Layout& layout) {
    if (chunk.type != kHeaderChunk || chunk.length != kHeaderLength) {
        return false;
    }
    const quint32 width = qFromBigEndian<quint32>(chunk.data);
    const quint32 height = qFromBigEndian<quint32>(chunk.data + 4);
    const std::uint8_t bitDepth = chunk.data[8];
    const std::uint8_t colourType = chunk.data[9];
    // Compression, filter and interlace methods: only the first of each is common.
    const bool plain = chunk.data[10] == 0 && chunk.data[11] == 0 && chunk.data[12] == 0;
    const bool common =
        colourType == kGrey || colourType == kRgb || colourType == kIndexed || colourType == kRgba;
    if (!plain || !common || bitDepth != kBitDepth || width == 0 || height == 0 ||
        width > PngDecoder::kMaxSide || height > PngDecoder::kMaxSide) {
        return false;
    }
    layout.width = static_cast<int>(width);
    layout.height = static_cast<int>(height);
    layout.colourType = colourType;
    if (colourType == kGrey) {
        for (int level = 0; level < kColourCount; ++level) {
            layout.colours[level] = qRgb(level, level, level);
        }
        layout.colourCount = kColourCount;
    }
    return true;
}

bool ReadPalette(const Chunk& chunk, Layout& layout) {
    const quint32 entries = chunk.length / kPaletteEntryBytes;
    if (layout.colourType != kIndexed || layout.colourCount != 0 ||
        chunk.length % kPaletteEntryBytes != 0 || entries == 0 ||
        entries > static_cast<quint32>(kColourCount)) {
        return false;
    }
    for (quint32 i = 0; i < entries; ++i) {
        const std::uint8_t* rgb = chunk.data + i * kPaletteEntryBytes;
        layout.colours[i] = qRgb(rgb[0], rgb[1], rgb[2]);
    }
    layout.colourCount = static_cast<int>(entries);
    return true;
}

// Alphas of the first palette entries; other colour types' transparency is left to libspng.
bool ReadTransparency(const Chunk& chunk, Layout& layout) {
    if (layout.colourType != kIndexed || layout.colourCount == 0 || layout.hasTransparency ||
        chunk.length > static_cast<quint32>(layout.colourCount)) {
        return false;
    }
    for (quint32 i = 0; i < chunk.length; ++i) {
        const QRgb colour = layout.colours[i];
        layout.colours[i] = qRgba(qRed(colour), qGreen(colour), qBlue(colour), chunk.data[i]);
    }
    layout.hasTransparency = true;
    return true;
}

// The header, the chunks that shape the pixels and where the pixel data lies, when every
// chunk up to the end chunk is intact and in its place.
std::optional<Layout> ReadLayout(const QByteArray& bytes) {
    std::optional<Chunk> chunk = ReadChunk(bytes, kSignatureLength);
    Layout layout;
    if (!chunk || !ReadHeader(*chunk, layout)) {
        return std::nullopt;
    }
    enum class Stage { BeforePixels, Pixels, AfterPixels } stage = Stage::BeforePixels;
    qsizetype offset = kSignatureLength;
    for (;;) {
        offset += kChunkOverhead + chunk->length;
        chunk = ReadChunk(bytes, offset);
        if (!chunk) {
            return std::nullopt;
        }
        bool fits = true;
        switch (chunk->type) {
        case kEndChunk:
            if (stage == Stage::BeforePixels || chunk->length != 0 ||
                (layout.colourType == kIndexed && layout.colourCount == 0)) {
                return std::nullopt;
            }
            return layout;
        case kPixelChunk:
            fits = stage != Stage::AfterPixels;
            stage = Stage::Pixels;
            layout.pixelChunks.push_back(*chunk);
            break;
        case kPaletteChunk:
            fits = stage == Stage::BeforePixels && ReadPalette(*chunk, layout);
            break;
        case kTransparencyChunk:
            fits = stage == Stage::BeforePixels && ReadTransparency(*chunk, layout);
            break;
        default:
            fits = (chunk->type & kAncillaryBit) != 0;
            stage = stage == Stage::Pixels ? Stage::AfterPixels : stage;
            break;
        }
        if (!fits) {
            return std::nullopt;
        }
    }
}

struct DecompressorFree {
    void operator()(libdeflate_decompressor* decompressor) const {
        libdeflate_free_decompressor(decompressor);
    }
};

// The pixel data inflated into `out`, which it must fill exactly.
bool Inflate(const std::vector<Chunk>& pixelChunks, std::uint8_t* out, std::size_t size) {
    thread_local const std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
        libdeflate_alloc_decompressor());
    // libdeflate takes the stream in one piece.
    std::vector<std::uint8_t> joined;
    if (pixelChunks.size() > 1) {
        for (const Chunk& chunk : pixelChunks) {
            joined.insert(joined.end(), chunk.data, chunk.data + chunk.length);
        }
    }
    const bool single = pixelChunks.size() == 1;
    const std::uint8_t* in = single ? pixelChunks.front().data : joined.data();
    const std::size_t inSize = single ? pixelChunks.front().length : joined.size();
    std::size_t consumed = 0;
    return decompressor &&
           libdeflate_zlib_decompress_ex(decompressor.get(), in, inSize, out, size, &consumed,
                                         nullptr) == LIBDEFLATE_SUCCESS &&
           consumed == inSize;
}

// The inflated rows, in a buffer each thread keeps for its next image unless it grew large.
class ScratchRows {
public:
    explicit ScratchRows(std::size_t size) { s_bytes.resize(size); }
    ~ScratchRows() {
        if (s_bytes.capacity() > kKeptScratchBytes) {
            std::vector<std::uint8_t>().swap(s_bytes);
        }
    }
    ScratchRows(const ScratchRows&) = delete;
    ScratchRows& operator=(const ScratchRows&) = delete;

    std::uint8_t* Data() { return s_bytes.data(); }
    std::size_t Size() const { return s_bytes.size(); }

private:
    static thread_local std::vector<std::uint8_t> s_bytes;
};

thread_local std::vector<std::uint8_t> ScratchRows::s_bytes;

// Packs unfiltered rows into the image; the AND of all the words written, or nullopt when a
// palette index has no colour.
std::optional<QRgb> Pack(const Layout& layout, const std::uint8_t* rows, std::size_t rowBytes,
                         QImage& image) {
    const auto width = static_cast<std::size_t>(layout.width);
    QRgb all = 0xffffffffu;
    for (int y = 0; y < layout.height; ++y) {
        const std::uint8_t* row = rows + static_cast<std::size_t>(y) * (rowBytes + 1) + 1;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        switch (layout.colourType) {
        case kRgba:
            all &= PngRows::PackRgba(row, out, width);
            break;
        case kRgb:
            PngRows::PackRgb(row, out, width);
            break;
        default:
            if (PngRows::Highest(row, width) >= layout.colourCount) {
                return std::nullopt;
            }
            all &= PngRows::PackIndexed(row, out, width, layout.colours.data());
            break;
        }
    }
    return all;
}

} // namespace

namespace CommonPngDecoder {

std::optional<QImage> Decode(const QByteArray& bytes) {
    const std::optional<Layout> layout = ReadLayout(bytes);
    if (!layout) {
        return std::nullopt;
    }
    QImage image(layout->width, layout->height, QImage::Format_ARGB32);
    if (image.isNull()) {
        return std::nullopt;
    }
    const std::size_t rowBytes =
        static_cast<std::size_t>(layout->width) * PixelBytes(layout->colourType);
    ScratchRows rows(static_cast<std::size_t>(layout->height) * (rowBytes + 1));
    if (!Inflate(layout->pixelChunks, rows.Data(), rows.Size()) ||
        !PngRows::Unfilter(rows.Data(), layout->height, rowBytes, PixelBytes(layout->colourType))) {
        return std::nullopt;
    }
    const std::optional<QRgb> all = Pack(*layout, rows.Data(), rowBytes, image);
    if (!all) {
        return std::nullopt;
    }
    return PngRows::ToDrawable(std::move(image), *all);
}

} // namespace CommonPngDecoder
