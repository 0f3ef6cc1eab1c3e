#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTransform>
#include <algorithm>

#include <lmxmaps/host/Counters.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/QtImageObject.h>
#include <lmxmaps/host/TLog.h>

#include "PngDecoder.h"

namespace {

constexpr const char* kPngFormat = "PNG";
constexpr const char* kMaxPixelsOption = "ImageMaxPixels";
constexpr std::uint32_t kOverBudgetSite = 0x494D4701;

// Whether an image of this size fits the pixel budget; a refusal is logged.
bool FitsPixelBudget(QSize size) {
    const long long budget = Options::GetInt(QLatin1String(kMaxPixelsOption));
    const long long pixels = static_cast<long long>(size.width()) * size.height();
    if (budget <= 0 || pixels <= budget) {
        return true;
    }
    TLog::LogMessage(TLog::Severity::Warn,
                     TError::LogSite(QStringLiteral("QtImageObject"), kOverBudgetSite).logSite,
                     QStringLiteral("Refusing an image of %1x%2 pixels: more than %3 (%4)")
                         .arg(size.width())
                         .arg(size.height())
                         .arg(budget)
                         .arg(QLatin1String(kMaxPixelsOption)));
    return false;
}

// The size a non-PNG header states, or the image decoded when its format states none up front.
struct QtHeader {
    QSize size;
    QImage decoded;
};

std::optional<QtHeader> ReadQtHeader(QByteArray& encoded) {
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.canRead()) {
        return std::nullopt;
    }
    const QSize headerSize = reader.size();
    if (headerSize.isValid() && !headerSize.isEmpty()) {
        return QtHeader{headerSize, QImage()};
    }
    QImage decoded = reader.read();
    if (decoded.isNull()) {
        return std::nullopt;
    }
    return QtHeader{decoded.size(), std::move(decoded)};
}

QImage Decode(const QByteArray& encoded) {
    return PngDecoder::HasPngSignature(encoded) ? PngDecoder::Decode(encoded)
                                                : QImage::fromData(encoded);
}

// Formats whose pixels are single 32-bit words that are equal exactly when the colours are.
bool HasComparableWords(QImage::Format format) {
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
           format == QImage::Format_ARGB32_Premultiplied;
}

bool IsPaintable(QImage::Format format) {
    // QPainter cannot paint on indexed or one-bit images.
    return format != QImage::Format_Indexed8 && format != QImage::Format_Mono &&
           format != QImage::Format_MonoLSB && format != QImage::Format_Invalid;
}

} // namespace

QtImageObject::QtImageObject(QImage image)
    : m_size(image.size()), m_devicePixelRatio(image.devicePixelRatio()),
      m_decoded(std::move(image)) {}

QtImageObject::QtImageObject(QByteArray encoded, QSize size)
    : m_encoded(std::move(encoded)), m_size(size) {}

QtImageObject::~QtImageObject() = default;

std::unique_ptr<QtImageObject> QtImageObject::FromEncoded(QByteArray encoded) {
    if (encoded.isEmpty()) {
        return nullptr;
    }
    if (PngDecoder::HasPngSignature(encoded)) {
        const std::optional<QSize> size = PngDecoder::ReadSize(encoded);
        if (!size || !FitsPixelBudget(*size)) {
            return nullptr;
        }
        return std::unique_ptr<QtImageObject>(new QtImageObject(std::move(encoded), *size));
    }
    std::optional<QtHeader> header = ReadQtHeader(encoded);
    if (!header || !FitsPixelBudget(header->size)) {
        return nullptr;
    }
    auto image =
        std::unique_ptr<QtImageObject>(new QtImageObject(std::move(encoded), header->size));
    if (!header->decoded.isNull()) {
        // A format that does not tell its size up front was decoded once to learn it.
        HostCounters::Increment(kDecodeCounter);
        image->m_decoded = std::move(header->decoded);
    }
    return image;
}

std::unique_ptr<QtImageObject> QtImageObject::FromPixelsWithPng(QImage pixels, int quality) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, kPngFormat);
    writer.setQuality(quality);
    if (pixels.isNull() || !writer.write(pixels)) {
        return std::make_unique<QtImageObject>(std::move(pixels));
    }
    buffer.close();
    auto image = std::unique_ptr<QtImageObject>(new QtImageObject(std::move(png), pixels.size()));
    image->m_devicePixelRatio = pixels.devicePixelRatio();
    image->m_decoded = std::move(pixels);
    return image;
}

std::unique_ptr<QtImageObject> QtImageObject::CreateCanvas(QSize size, QImage::Format format,
                                                           qreal devicePixelRatio,
                                                           const ColorObject& fill) {
    QImage canvas(size, format);
    canvas.setDevicePixelRatio(devicePixelRatio);
    canvas.fill(fill.ToQColor());
    return std::make_unique<QtImageObject>(std::move(canvas));
}

std::unique_ptr<QtImageObject> QtImageObject::Clone() const {
    std::lock_guard lock(m_mutex);
    auto copy = std::unique_ptr<QtImageObject>(new QtImageObject(m_encoded, m_size));
    copy->m_devicePixelRatio = m_devicePixelRatio;
    copy->m_decoded = m_decoded;
    copy->m_undecodable = m_undecodable;
    copy->m_bitmapCacheSize = m_bitmapCacheSize;
    return copy;
}

QSize QtImageObject::GetSize() const {
    std::lock_guard lock(m_mutex);
    return m_size;
}

qreal QtImageObject::GetDevicePixelRatio() const {
    std::lock_guard lock(m_mutex);
    return m_devicePixelRatio;
}

const QImage& QtImageObject::DecodedLocked() const {
    if (m_decoded.isNull() && !m_encoded.isEmpty() && !m_undecodable) {
        m_decoded = Decode(m_encoded);
        if (m_decoded.isNull()) {
            m_undecodable = true;
        } else {
            HostCounters::Increment(kDecodeCounter);
            m_decoded.setDevicePixelRatio(m_devicePixelRatio);
            m_size = m_decoded.size();
        }
    }
    return m_decoded;
}

bool QtImageObject::IsValid() const {
    std::lock_guard lock(m_mutex);
    const QImage& decoded = DecodedLocked();
    return !decoded.isNull() && !decoded.size().isEmpty();
}

QImage QtImageObject::GetImage() const {
    std::lock_guard lock(m_mutex);
    return DecodedLocked();
}

QByteArray QtImageObject::GetEncoded() const {
    std::lock_guard lock(m_mutex);
    return m_encoded;
}

bool QtImageObject::HasEncoded() const {
    std::lock_guard lock(m_mutex);
    return !m_encoded.isEmpty();
}

QByteArray QtImageObject::GetEncodedOrPng() const {
    QImage pixels;
    {
        std::lock_guard lock(m_mutex);
        if (!m_encoded.isEmpty()) {
            return m_encoded;
        }
        pixels = m_decoded;
    }
    QByteArray png;
    if (pixels.isNull()) {
        return png;
    }
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!pixels.save(&buffer, kPngFormat)) {
        png.clear();
    }
    return png;
}

void QtImageObject::ClearBitmapCache() {
    std::lock_guard lock(m_mutex);
    m_scaledCopies.clear();
    if (!m_encoded.isEmpty()) {
        m_decoded = QImage();
    }
}

bool QtImageObject::IsBitmapDecoded() const {
    std::lock_guard lock(m_mutex);
    return !m_decoded.isNull();
}

void QtImageObject::SetBitmapCacheSize(int scaledCopies) {
    std::lock_guard lock(m_mutex);
    m_bitmapCacheSize = std::max(scaledCopies, 0);
    if (m_scaledCopies.size() > static_cast<std::size_t>(m_bitmapCacheSize)) {
        m_scaledCopies.resize(static_cast<std::size_t>(m_bitmapCacheSize));
    }
}

int QtImageObject::GetBitmapCacheSize() const {
    std::lock_guard lock(m_mutex);
    return m_bitmapCacheSize;
}

QImage QtImageObject::ScaledLocked(QSize size, bool smoothScaling) const {
    const QImage& decoded = DecodedLocked();
    if (decoded.isNull() || size.isEmpty() || size == decoded.size()) {
        return decoded;
    }
    for (auto it = m_scaledCopies.begin(); it != m_scaledCopies.end(); ++it) {
        if (it->size == size && it->smooth == smoothScaling) {
            m_scaledCopies.splice(m_scaledCopies.begin(), m_scaledCopies, it);
            return it->image;
        }
    }
    QImage scaled =
        decoded.scaled(size, Qt::IgnoreAspectRatio,
                       smoothScaling ? Qt::SmoothTransformation : Qt::FastTransformation);
    if (m_bitmapCacheSize > 0) {
        m_scaledCopies.push_front(ScaledCopy{size, smoothScaling, scaled});
        if (m_scaledCopies.size() > static_cast<std::size_t>(m_bitmapCacheSize)) {
            m_scaledCopies.pop_back();
        }
    }
    return scaled;
}

QImage QtImageObject::GetScaled(QSize size, bool smoothScaling) const {
    std::lock_guard lock(m_mutex);
    return ScaledLocked(size, smoothScaling);
}

std::optional<ColorObject> QtImageObject::GetSolidColor() const {
    QImage pixels = GetImage();
    if (pixels.isNull() || pixels.size().isEmpty()) {
        return std::nullopt;
    }
    if (!HasComparableWords(pixels.format())) {
        pixels = pixels.convertToFormat(QImage::Format_ARGB32);
    }
    // QImage's accessors are not inlined: read the sizes once, not for every pixel.
    const auto width = static_cast<std::size_t>(pixels.width());
    const int height = pixels.height();
    const QRgb first = reinterpret_cast<const QRgb*>(pixels.constScanLine(0))[0];
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        if (std::any_of(row, row + width, [first](QRgb pixel) { return pixel != first; })) {
            return std::nullopt;
        }
    }
    return ColorObject::FromArgb(pixels.pixel(0, 0));
}

void QtImageObject::Draw(QPainter& painter, const QRectF& target,
                         const BitmapOptions& options) const {
    const QTransform& transform = painter.worldTransform();
    const bool pixelAligned = transform.type() <= QTransform::TxTranslate;
    QImage source;
    if (pixelAligned && painter.device() != nullptr) {
        // Scale once to the device pixels the target covers, so drawing copies pixels.
        const QSize devicePixels = (target.size() * painter.device()->devicePixelRatioF()).toSize();
        source = GetScaled(devicePixels, options.smoothScaling);
    } else {
        source = GetImage();
    }
    if (source.isNull()) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, options.smoothScaling);
    painter.drawImage(target, source);
    painter.restore();
}

void QtImageObject::Paint(const std::function<void(QPainter&)>& paint) {
    std::lock_guard lock(m_mutex);
    DecodedLocked();
    if (m_decoded.isNull()) {
        return;
    }
    if (!IsPaintable(m_decoded.format())) {
        m_decoded = m_decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    m_encoded.clear();
    m_undecodable = false;
    m_scaledCopies.clear();
    QPainter painter(&m_decoded);
    paint(painter);
}

void QtImageObject::FillRect(const QRectF& rect, const ColorObject& color) {
    Paint([&](QPainter& painter) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect, color.ToQColor());
    });
}
