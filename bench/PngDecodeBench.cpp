// PNG decoding of the 64 level-3 tiles the loopback tile server serves (256x256 RGBA, from the
// map data of scripts/build-map-data), in one process on the same bytes:
// - lmxmaps: QtImageObject::FromEncoded + GetImage (header read, then the whole pixel data
//   inflated with libdeflate, unfiltered and packed into the image, opaque tiles as RGB32);
// - Qt's reader: the library's former path, QImageReader for the header, then
//   QImage::fromData (libpng).
// Each round decodes all 64 tiles with each decoder (order alternating, images kept until the
// round ends, as a view keeps them), then draws them into a 2048x2048 premultiplied canvas as
// the composite view does. Prints medians per tile and the time ratio lmxmaps / Qt.
//
// Usage: lmx_png_decode_bench [--rounds N]   (LMX_DATA_DIR as for scripts/build-map-data)

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <lmxmaps/host/QtImageObject.h>

#include "Median.h"

namespace {

constexpr int kLevel = 3;
constexpr int kTilesPerSide = 8;
constexpr int kTileSide = 256;
constexpr int kDefaultRounds = 15;

using Clock = std::chrono::steady_clock;
using Decoder = std::function<QImage(const QByteArray&)>;

QString DataDir() {
    if (const QString dir = qEnvironmentVariable("LMX_DATA_DIR"); !dir.isEmpty()) {
        return dir;
    }
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    return (cache.isEmpty() ? QDir::homePath() + QStringLiteral("/.cache") : cache) +
           QStringLiteral("/lmxmaps");
}

std::vector<QByteArray> ReadTiles(const QString& pyramid) {
    std::vector<QByteArray> tiles;
    for (int x = 0; x < kTilesPerSide; ++x) {
        for (int y = 0; y < kTilesPerSide; ++y) {
            QFile file(QStringLiteral("%1/%2/%3/%4.png").arg(pyramid).arg(kLevel).arg(x).arg(y));
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "lmx_png_decode_bench: cannot read %s (run scripts/setup)\n",
                             qPrintable(file.fileName()));
                std::exit(1);
            }
            tiles.push_back(file.readAll());
        }
    }
    return tiles;
}

QImage DecodeWithLmxmaps(const QByteArray& png) {
    const std::unique_ptr<QtImageObject> image = QtImageObject::FromEncoded(png);
    return image ? image->GetImage() : QImage();
}

QImage DecodeWithQt(const QByteArray& png) {
    QByteArray bytes = png;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader header(&buffer);
    if (!header.canRead() || !header.size().isValid()) {
        return QImage();
    }
    return QImage::fromData(png);
}

bool SamePremultipliedPixels(const QImage& a, const QImage& b) {
    return a.convertToFormat(QImage::Format_ARGB32_Premultiplied) ==
           b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

double MicrosecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Samples {
    std::vector<double> decodeUs;
    std::vector<double> drawUs;
};

// Decodes every tile, then draws them all; per-tile times.
void RunRound(const std::vector<QByteArray>& tiles, const Decoder& decode, QImage& canvas,
              Samples& samples) {
    std::vector<QImage> images;
    images.reserve(tiles.size());
    const Clock::time_point decodeStart = Clock::now();
    for (const QByteArray& tile : tiles) {
        images.push_back(decode(tile));
    }
    samples.decodeUs.push_back(MicrosecondsSince(decodeStart) / tiles.size());
    const Clock::time_point drawStart = Clock::now();
    {
        QPainter painter(&canvas);
        for (std::size_t i = 0; i < images.size(); ++i) {
            painter.drawImage(QPoint(static_cast<int>(i) / kTilesPerSide * kTileSide,
                                     static_cast<int>(i) % kTilesPerSide * kTileSide),
                              images[i]);
        }
    }
    samples.drawUs.push_back(MicrosecondsSince(drawStart) / tiles.size());
}

int ParseRounds(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--rounds") == 0 && std::atoi(argv[2]) > 0) {
        return std::atoi(argv[2]);
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: lmx_png_decode_bench [--rounds N]\n");
        std::exit(2);
    }
    return kDefaultRounds;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = ParseRounds(argc, argv);
    const QString pyramid = DataDir() + QStringLiteral("/pyramid");
    const std::vector<QByteArray> tiles = ReadTiles(pyramid);
    qsizetype totalBytes = 0;
    for (const QByteArray& tile : tiles) {
        totalBytes += tile.size();
        const QImage ours = DecodeWithLmxmaps(tile);
        if (ours.isNull() || !SamePremultipliedPixels(ours, DecodeWithQt(tile))) {
            std::fprintf(stderr, "lmx_png_decode_bench: the decoders disagree on a tile\n");
            return 1;
        }
    }

    QImage canvas(kTilesPerSide * kTileSide, kTilesPerSide * kTileSide,
                  QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    Samples lmxmaps;
    Samples qt;
    for (int round = 0; round < rounds; ++round) {
        const bool lmxmapsFirst = round % 2 == 0;
        RunRound(tiles, lmxmapsFirst ? Decoder(DecodeWithLmxmaps) : Decoder(DecodeWithQt), canvas,
                 lmxmapsFirst ? lmxmaps : qt);
        RunRound(tiles, lmxmapsFirst ? Decoder(DecodeWithQt) : Decoder(DecodeWithLmxmaps), canvas,
                 lmxmapsFirst ? qt : lmxmaps);
    }

    const auto row = [](const char* name, const Samples& samples) {
        const double decode = bench::Median(samples.decodeUs);
        const double draw = bench::Median(samples.drawUs);
        std::printf("%-22s %10.1f %10.1f %10.1f\n", name, decode, draw, decode + draw);
        return std::pair(decode, decode + draw);
    };
    std::printf("%zu tiles of level %d from %s, %lld bytes on average; %d rounds, medians\n",
                tiles.size(), kLevel, qPrintable(pyramid),
                static_cast<long long>(totalBytes) / static_cast<long long>(tiles.size()), rounds);
    std::printf("%-22s %10s %10s %10s\n", "us per tile", "decode", "draw", "both");
    const auto [lmxmapsDecode, lmxmapsBoth] = row("lmxmaps", lmxmaps);
    const auto [qtDecode, qtBoth] = row("Qt reader (libpng)", qt);
    std::printf("%-22s %10.2f %10s %10.2f\n", "lmxmaps / Qt (time)", lmxmapsDecode / qtDecode, "",
                lmxmapsBoth / qtBoth);
    return 0;
}
