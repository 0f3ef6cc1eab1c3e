#pragma once
// An image for map drawing: a QImage plus, for a fetched image, the encoded bytes (PNG, JPEG,
// ...) it came from.
//
// An image made from encoded bytes decodes lazily and may give its decoded pixels back
// (ClearBitmapCache) to be decoded again when next needed; caches keep many such images and
// only the recently drawn ones decoded. An image made in memory (a canvas) has no encoded form
// and always keeps its pixels. Painting into an image makes its pixels the only truth, so it
// drops the encoded bytes.
//
// Besides the decoded pixels an image keeps up to GetBitmapCacheSize() scaled copies for the
// sizes it was last drawn at (least recently used goes first); ClearBitmapCache drops them too.
//
// All operations are thread-safe. QImage copies handed out share pixels with the image until
// either side writes (Qt's implicit sharing), so they stay valid after ClearBitmapCache.

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>

#include <lmxmaps/host/ColorObject.h>

class QPainter;

class QtImageObject {
public:
    // The process-wide counter (HostCounters) of decodes of encoded bytes.
    static constexpr const char* kDecodeCounter = "ImageObjectDecodes";

    struct BitmapOptions {
        // Painted where the image has no pixels of its own (the background of a canvas).
        ColorObject backgroundColor = ColorObject::Transparent();
        // Filtered (bilinear) scaling when drawn at another size; false draws nearest pixels.
        bool smoothScaling = true;

        bool operator==(const BitmapOptions&) const = default;
    };

    // An image made in memory; it has no encoded form.
    explicit QtImageObject(QImage image);
    // An image of encoded bytes, checked by reading its header only (not decoded yet); null
    // when the bytes are not an image format Qt reads or carry no size, and when the image has
    // more pixels than the option "ImageMaxPixels" allows (0: no limit), which the header
    // tells before anything is decoded (a format whose header tells no size is decoded once
    // to learn it, and refused after).
    static std::unique_ptr<QtImageObject> FromEncoded(QByteArray encoded);
    // Pixels at hand together with their PNG form, written at quality (as QImageWriter takes
    // it), so that caches may still give the pixels back; nothing is decoded now. Without an
    // encoded form, like an image made in memory, when the pixels do not encode.
    static std::unique_ptr<QtImageObject> FromPixelsWithPng(QImage pixels, int quality);
    // A canvas of the given size and format filled with a colour.
    static std::unique_ptr<QtImageObject> CreateCanvas(QSize size, QImage::Format format,
                                                       qreal devicePixelRatio,
                                                       const ColorObject& fill);

    ~QtImageObject();
    QtImageObject(const QtImageObject&) = delete;
    QtImageObject& operator=(const QtImageObject&) = delete;

    // A copy sharing the encoded bytes and the decoded pixels; scaled copies are not copied.
    std::unique_ptr<QtImageObject> Clone() const;

    // Pixel size, known without decoding for a fetched image.
    QSize GetSize() const;
    int GetWidth() const { return GetSize().width(); }
    int GetHeight() const { return GetSize().height(); }
    qreal GetDevicePixelRatio() const;

    // Whether the pixels decode to a non-empty image (decodes a fetched image if needed).
    bool IsValid() const;
    // The pixels, decoded when they were not (a null QImage when the bytes are broken).
    QImage GetImage() const;
    // The encoded bytes, empty for an image made in memory or painted into.
    QByteArray GetEncoded() const;
    bool HasEncoded() const;
    // The encoded bytes, or the pixels encoded as PNG when there are none; empty for an
    // invalid image.
    QByteArray GetEncodedOrPng() const;

    // Frees the decoded pixels and scaled copies of a fetched image (it decodes again when
    // next needed); for an image made in memory only the scaled copies go.
    void ClearBitmapCache();
    bool IsBitmapDecoded() const;

    // How many scaled copies are kept (0: none; scaling then happens at every draw).
    void SetBitmapCacheSize(int scaledCopies);
    int GetBitmapCacheSize() const;
    // The pixels scaled to size, from the scaled copies when one fits.
    QImage GetScaled(QSize size, bool smoothScaling) const;

    // When every pixel has the same colour, that colour; an empty or invalid image is not
    // solid.
    std::optional<ColorObject> GetSolidColor() const;

    // Draws the image into target (in painter coordinates), scaled as the options say. Holds
    // this image's lock only while taking its pixels, so drawing one image into another
    // inside Paint takes the locks one at a time.
    void Draw(QPainter& painter, const QRectF& target, const BitmapOptions& options) const;
    // Runs paint with a painter on the pixels, under the image's lock (so paint must not call
    // this image; drawing other images is fine); the encoded bytes and scaled copies go, since
    // they no longer match.
    void Paint(const std::function<void(QPainter&)>& paint);
    // Fills a rectangle (in the canvas's device-independent coordinates) with a colour,
    // replacing what was there (alpha included).
    void FillRect(const QRectF& rect, const ColorObject& color);

private:
    struct ScaledCopy {
        QSize size;
        bool smooth;
        QImage image;
    };

    QtImageObject(QByteArray encoded, QSize size);

    // Expects m_mutex held.
    const QImage& DecodedLocked() const;
    QImage ScaledLocked(QSize size, bool smoothScaling) const;

    mutable std::mutex m_mutex;
    QByteArray m_encoded;
    // From the header until decoded, then the decoded size.
    mutable QSize m_size;
    qreal m_devicePixelRatio = 1.0;
    mutable QImage m_decoded;
    // The encoded bytes did not decode; not tried again.
    mutable bool m_undecodable = false;
    int m_bitmapCacheSize = 0;
    // Most recently used first.
    mutable std::list<ScaledCopy> m_scaledCopies;
};
