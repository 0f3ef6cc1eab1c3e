#include <QPainter>
#include <cmath>

#include <lmxmaps/CompositeMappedImage.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>

namespace {

constexpr qreal kHighDPIPixelRatio = 2.0;
// No view shows more copies of a wrapping world than this.
constexpr int kMaxWorldCopies = 1024;

ColorObject PreferenceColor(const char* name) {
    return ColorObject::Parse(Options::GetString(QString::fromLatin1(name)))
        .value_or(ColorObject::Transparent());
}

ColorObject TransparentBackground() {
    return PreferenceColor("color.transparent.background");
}

int RoundToPixel(double value) {
    return static_cast<int>(std::floor(value + 0.5));
}

struct PlaneRect {
    double minX;
    double maxX;
    double minY;
    double maxY;

    bool Intersects(const PlaneRect& other) const {
        return minX < other.maxX && other.minX < maxX && minY < other.maxY && other.minY < maxY;
    }
};

PlaneRect ToPlaneRect(const DataValueRect& rect) {
    return {rect.MinX().GetReal(), rect.MaxX().GetReal(), rect.MinY().GetReal(),
            rect.MaxY().GetReal()};
}

// Pixel rectangle of a plane rectangle on a canvas showing `canvas` at width x height pixels;
// image rows grow downward.
QRect PixelRect(const PlaneRect& tile, const PlaneRect& canvas, int width, int height) {
    const double canvasWidth = canvas.maxX - canvas.minX;
    const double canvasHeight = canvas.maxY - canvas.minY;
    const int left = RoundToPixel((tile.minX - canvas.minX) / canvasWidth * width);
    const int right = RoundToPixel((tile.maxX - canvas.minX) / canvasWidth * width);
    const int top = height - RoundToPixel((tile.maxY - canvas.minY) / canvasHeight * height);
    const int bottom = height - RoundToPixel((tile.minY - canvas.minY) / canvasHeight * height);
    return QRect(left, top, right - left, bottom - top);
}

} // namespace

CompositeMappedImage::CompositeMappedImage(MapQueryPtr wholeQuery,
                                           const QtImageObject::BitmapOptions& bitmapOptions,
                                           bool composeWhenComplete, SpatialProjectorPtr projector)
    : MappedImageInstance(nullptr, bitmapOptions, QString(), QString(), wholeQuery->GetLayerGroup(),
                          true, false, false),
      m_composeWhenComplete(composeWhenComplete), m_waitTileFill(TransparentBackground()),
      m_wholeQuery(std::move(wholeQuery)), m_projector(std::move(projector)) {
    const int width = static_cast<int>(m_wholeQuery->GetWidth());
    const int height = static_cast<int>(m_wholeQuery->GetHeight());
    std::unique_ptr<QtImageObject> canvas = QtImageObject::CreateCanvas(
        QSize(width, height), QImage::Format_ARGB32_Premultiplied,
        m_wholeQuery->IsHighDPI() ? kHighDPIPixelRatio : 1.0, bitmapOptions.backgroundColor);
    canvas->SetBitmapCacheSize(
        static_cast<int>(Options::GetInt(QStringLiteral("imageobject.preferred.cache.size"))));
    SetImageObject(std::move(canvas));
    SetBounds(m_wholeQuery->GetBBox());
    SetWidthHeight(width, height);
}

void CompositeMappedImage::SetWaitTileFill(const ColorObject& color) {
    AutoSynchronize guard(m_compositeLock, "CompositeMappedImage::SetWaitTileFill", kLockLevel);
    m_waitTileFill = color;
}

void CompositeMappedImage::AddTiles(const std::vector<MappedImageInstancePtr>& tiles) {
    {
        AutoSynchronize guard(m_compositeLock, "CompositeMappedImage::AddTiles", kLockLevel);
        for (const MappedImageInstancePtr& tile : tiles) {
            m_tiles.emplace_back(tile);
        }
        m_updatePending = true;
    }
    bool pending = false;
    int count = 0;
    CheckUpdateState(pending, count);
}

std::vector<MappedImageInstancePtr> CompositeMappedImage::GetTiles() const {
    AutoSynchronize guard(m_compositeLock, "CompositeMappedImage::GetTiles", kLockLevel);
    std::vector<MappedImageInstancePtr> tiles;
    for (const MappedImageUse& use : m_tiles) {
        tiles.push_back(use.GetInstance());
    }
    return tiles;
}

void CompositeMappedImage::DrawTileLocked(MappedImageInstance& tile, bool pending) {
    if (tile.IsError()) {
        SetError();
    }
    if (!tile.GetLayerGroup().isEmpty()) {
        return;
    }
    const std::shared_ptr<QtImageObject> canvas = GetImageObject();
    const PlaneRect canvasRect = ToPlaneRect(m_wholeQuery->GetBBox());
    const qreal pixelRatio = canvas->GetDevicePixelRatio();
    const int width = canvas->GetWidth();
    const int height = canvas->GetHeight();
    const std::shared_ptr<QtImageObject> image = tile.GetImageObject();
    const ColorObject fill = pending ? m_waitTileFill : TransparentBackground();
    const QtImageObject::BitmapOptions options = GetBitmapOptions();

    PlaneRect copy = ToPlaneRect(tile.GetBounds());
    std::vector<QRect> drawn;
    const auto draw = [&](const PlaneRect& where) {
        const QRect pixels = PixelRect(where, canvasRect, width, height);
        const QRectF target(pixels.x() / pixelRatio, pixels.y() / pixelRatio,
                            pixels.width() / pixelRatio, pixels.height() / pixelRatio);
        if (image) {
            canvas->Paint([&](QPainter& painter) { image->Draw(painter, target, options); });
        } else {
            canvas->FillRect(target, fill);
        }
        drawn.push_back(pixels);
    };

    const double worldWidth = m_projector && m_projector->DoesWrap()
                                  ? m_projector->GetWorldBounds().Width()
                                  : std::nan("");
    if (!(worldWidth > 0.0) || !std::isfinite(worldWidth)) {
        draw(copy);
    } else {
        // Step west to the first copy that could show, then east across the canvas.
        if (copy.minX > canvasRect.minX) {
            const double turns = std::ceil((copy.minX - canvasRect.minX) / worldWidth);
            copy.minX -= turns * worldWidth;
            copy.maxX -= turns * worldWidth;
        }
        for (int copies = 0; copy.minX < canvasRect.maxX && copies < kMaxWorldCopies;
             ++copies, copy.minX += worldWidth, copy.maxX += worldWidth) {
            if (copy.Intersects(canvasRect)) {
                draw(copy);
            }
        }
    }
    tile.SetTileRects(drawn);
}

void CompositeMappedImage::DrawAllTilesLocked() {
    for (const MappedImageUse& use : m_tiles) {
        DrawTileLocked(*use.GetInstance(), false);
    }
}

void CompositeMappedImage::CheckUpdateState(bool& pending, int& count) {
    AutoSynchronize guard(m_compositeLock, "CompositeMappedImage::CheckUpdateState", kLockLevel);
    AutoSynchronize instanceGuard(GetLock(), "CompositeMappedImage::CheckUpdateState",
                                  MappedImageInstance::kLockLevel);
    if (!m_updatePending) {
        count = GetUpdateCountLocked();
        return;
    }
    m_updatePending = false;
    bool drewAny = false;
    for (MappedImageUse& use : m_tiles) {
        bool tilePending = false;
        bool changed = false;
        use.CheckUpdateState(tilePending, changed);
        if (changed && !m_composeWhenComplete) {
            DrawTileLocked(*use.GetInstance(), tilePending);
            drewAny = true;
        }
        m_updatePending = m_updatePending || tilePending;
    }
    if (drewAny) {
        RaiseUpdateCount();
    }
    if (m_updatePending) {
        count = GetUpdateCountLocked();
        pending = true;
        return;
    }
    if (m_composeWhenComplete) {
        DrawAllTilesLocked();
        RaiseUpdateCount();
    }
    TLog::LogMessage(TLog::Severity::Info, QStringLiteral("Map tile fetch complete."));
    count = GetUpdateCountLocked();
}

void CompositeMappedImage::GetErrors(WarningList& errors, bool& hadErrors) const {
    AutoSynchronize guard(m_compositeLock, "CompositeMappedImage::GetErrors", kLockLevel);
    hadErrors = true;
    for (const MappedImageUse& use : m_tiles) {
        use.GetInstance()->GetErrors(errors, hadErrors);
        if (!hadErrors) {
            return;
        }
    }
}

void CompositeMappedImage::ClearErrors() {
    AutoSynchronize guard(m_compositeLock, "CompositeMappedImage::ClearErrors", kLockLevel);
    for (const MappedImageUse& use : m_tiles) {
        use.GetInstance()->ClearErrors();
    }
}

std::vector<TString> CompositeMappedImage::GetTileUrls() const {
    AutoSynchronize guard(m_compositeLock, "CompositeMappedImage::GetTileUrls", kLockLevel);
    std::vector<TString> urls;
    for (const MappedImageUse& use : m_tiles) {
        const std::vector<TString> tileUrls = use.GetInstance()->GetTileUrls();
        urls.insert(urls.end(), tileUrls.begin(), tileUrls.end());
    }
    return urls;
}

std::vector<TileInfo> CompositeMappedImage::GetTileInfos() const {
    AutoSynchronize guard(m_compositeLock, "CompositeMappedImage::GetTileInfos", kLockLevel);
    std::vector<TileInfo> infos;
    for (const MappedImageUse& use : m_tiles) {
        const std::vector<TileInfo> tileInfos = use.GetInstance()->GetTileInfos();
        infos.insert(infos.end(), tileInfos.begin(), tileInfos.end());
    }
    return infos;
}

void CompositeMappedImage::AddUse() {
    AutoSynchronize guard(m_compositeLock, "CompositeMappedImage::AddUse", kLockLevel);
    for (const MappedImageUse& use : m_tiles) {
        use.GetInstance()->AddUse();
        // A first use restarts a cancelled fetch; poll the tiles again until it is drawn.
        m_updatePending = m_updatePending || use.GetInstance()->HasTask();
    }
}

void CompositeMappedImage::RemoveUse() {
    AutoSynchronize guard(m_compositeLock, "CompositeMappedImage::RemoveUse", kLockLevel);
    for (const MappedImageUse& use : m_tiles) {
        use.GetInstance()->RemoveUse();
    }
}
