#pragma once
// Tiles for the disk image cache tests, shared by the test and its helper process: each index
// has its own key and its own solid colour, so a look-up can tell whose tile it got.

#include <QBuffer>
#include <QImage>

#include <lmxmaps/host/storage/PersistentImageCache.h>

namespace ImageCacheTiles {

constexpr int kTileSide = 8;

inline AttributeMap Key(int index) {
    return {{QStringLiteral("class"), QStringLiteral("tileserver")},
            {QStringLiteral("url-format"), QStringLiteral("http://tiles.test/{Z}/{X}/{Y}.png")},
            {QStringLiteral("INDEX"), QString::number(index)}};
}

inline QRgb Colour(int index) {
    return qRgb(index & 0xFF, (index >> 8) & 0xFF, 0x5A);
}

inline QByteArray Png(int index) {
    QImage image(kTileSide, kTileSide, QImage::Format_RGB32);
    image.fill(Colour(index));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

inline bool Store(IPersistentImageCache& cache, int index, std::chrono::seconds maxAge) {
    const std::unique_ptr<QtImageObject> image = QtImageObject::FromEncoded(Png(index));
    const AttributeMap extra = {{QStringLiteral("stored-by"), QString::number(index)}};
    return image &&
           cache.Insert(IPersistentImageCache::Data(Key(index), extra, image.get()), maxAge);
}

// Whether the cache holds tile index with its own bytes and extra attributes.
inline bool Holds(IPersistentImageCache& cache, int index) {
    const RefCntPtr<IPersistentImageCache::Data> found = cache.Lookup(Key(index));
    if (!found || found->GetImageObject() == nullptr) {
        return false;
    }
    const auto storedBy = found->GetExtra().find(QStringLiteral("stored-by"));
    return found->GetImageObject()->GetEncoded() == Png(index) &&
           storedBy != found->GetExtra().end() && storedBy->second == QString::number(index);
}

} // namespace ImageCacheTiles
