#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MappedImageInstance.h>
#include <lmxmaps/host/AppConfig.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/HTTPRequestor.h>
#include <lmxmaps/host/net/Secrets.h>

namespace {

constexpr int kTileDetailTag = 30;

// The host's warning categories, by the type of the failure.
constexpr int kDefaultWarningType = 9;
// Below the heading kFetchFailedText, with the failure's message.
const QString kOutOfDateText = QStringLiteral("An out-of-date copy is shown: %1");

int WarningTypeFor(int exceptionType) {
    switch (exceptionType) {
    case MapProviderException::eBlankImageMissing:
        return 22;
    case MapProviderException::eLocalImageMissing:
        return 8;
    case MapProviderException::eProxyAuthenticationRequired:
        return 12;
    case 15:
        return 10;
    case MapProviderException::eSolidColorTile:
        return 11;
    case MapProviderException::eAccessDenied:
        return 12;
    default:
        return kDefaultWarningType;
    }
}

void LogTileDetail(const TString& message) {
    if (TLog::IsDetailTagOn(kTileDetailTag)) {
        TLog::LogMessage(TLog::Severity::Info, message);
    }
}

} // namespace

MappedImageInstance::MappedImageInstance(std::unique_ptr<QtImageObject> image,
                                         const QtImageObject::BitmapOptions& bitmapOptions,
                                         const TString& name, const TString& caption,
                                         const TString& layerGroup, bool lockedAspectRatio,
                                         bool reflection, bool showEntireImage)
    : m_reflection(reflection), m_lockedAspectRatio(lockedAspectRatio),
      m_showEntireImage(showEntireImage), m_bitmapOptions(bitmapOptions), m_name(name),
      m_caption(caption), m_layerGroup(layerGroup), m_image(std::move(image)) {}

MappedImageInstance::~MappedImageInstance() {
    if (m_pendingFetch.valid() && !IsFinished(m_pendingFetch)) {
        m_request->Cancel();
        m_pendingFetch.wait();
    }
}

void MappedImageInstance::FlushPendingRequestLocked() {
    while (m_useCount > 0) {
        RemoveUse();
    }
    if (m_pendingFetch.valid()) {
        m_pendingFetch.wait();
    }
}

void MappedImageInstance::StartFetchLocked() {
    m_pendingFetch = m_request->Start();
}

void MappedImageInstance::SetRequest(MapRequestorPtr request, bool legend) {
    AutoSynchronize guard(m_lock, "MappedImageInstance::SetRequest", kLockLevel);
    FlushPendingRequestLocked();
    ++m_updateCount;
    m_request = std::move(request);
    m_isLegendRequest = legend;
    m_request->SetLogIndexes(m_modelNumber, m_tileNumber);
    LogTileDetail(QStringLiteral("MappedImageInstance::SetRequest model %1 tile %2")
                      .arg(m_modelNumber)
                      .arg(m_tileNumber));
    StartFetchLocked();
}

void MappedImageInstance::UseLegendFrom(const MappedImageInstance& other) {
    MapRequestorPtr request;
    AsyncResult fetch;
    {
        AutoSynchronize otherGuard(other.m_lock, "MappedImageInstance::UseLegendFrom", kLockLevel);
        request = other.m_request;
        fetch = other.m_pendingFetch;
    }
    AutoSynchronize guard(m_lock, "MappedImageInstance::UseLegendFrom", kLockLevel);
    FlushPendingRequestLocked();
    ++m_updateCount;
    m_request = std::move(request);
    m_isLegendRequest = true;
    m_pendingFetch = std::move(fetch);
}

bool MappedImageInstance::HasTask() const {
    AutoSynchronize guard(m_lock, "MappedImageInstance::HasTask", kLockLevel);
    return m_pendingFetch.valid();
}

void MappedImageInstance::AddUse() {
    AutoSynchronize guard(m_lock, "MappedImageInstance::AddUse", kLockLevel);
    LogTileDetail(QStringLiteral("MappedImageInstance::AddUse model %1 tile %2 new use count %3")
                      .arg(m_modelNumber)
                      .arg(m_tileNumber)
                      .arg(m_useCount + 1));
    ++m_useCount;
    if (m_useCount == 1 && m_request && m_request->WasCancelled()) {
        LogTileDetail(QStringLiteral("MappedImageInstance restart model %1 tile %2")
                          .arg(m_modelNumber)
                          .arg(m_tileNumber));
        // SetRequest drains the uses; the caller still holds the one it just added.
        const int uses = m_useCount;
        MapRequestorPtr clone = m_request->Clone();
        clone->SetFetchPriority(m_request->GetFetchPriority());
        SetRequest(std::move(clone), false);
        m_useCount = uses;
    }
}

void MappedImageInstance::RemoveUse() {
    AutoSynchronize guard(m_lock, "MappedImageInstance::RemoveUse", kLockLevel);
    LogTileDetail(QStringLiteral("MappedImageInstance::RemoveUse model %1 tile %2 new use count %3")
                      .arg(m_modelNumber)
                      .arg(m_tileNumber)
                      .arg(m_useCount - 1));
    const int previous = m_useCount--;
    if (previous == 1 && m_pendingFetch.valid() && !IsFinished(m_pendingFetch)) {
        LogTileDetail(QStringLiteral("MappedImageInstance cancel tile model %1 tile %2")
                          .arg(m_modelNumber)
                          .arg(m_tileNumber));
        m_request->Cancel();
    }
}

void MappedImageInstance::CheckUpdateState(bool& pending, int& count) {
    AutoSynchronize guard(m_lock, "MappedImageInstance::CheckUpdateState", kLockLevel);
    count = m_updateCount;
    if (!m_pendingFetch.valid()) {
        return;
    }
    if (!IsFinished(m_pendingFetch)) {
        pending = true;
        return;
    }
    CollectResultLocked(pending, count);
}

void MappedImageInstance::CollectResultLocked(bool& pending, int& count) {
    count = RaiseUpdateCount();
    try {
        std::exchange(m_pendingFetch, AsyncResult()).get();
        if (m_request->IsError()) {
            m_isError = true;
        }
        ReplaceImageLocked(m_isLegendRequest ? m_request->GetLegend() : m_request->GetResult());
        m_imageIsOutOfDate = false;
        m_outOfDateWarning.reset();
        m_url = m_isLegendRequest ? m_request->GetLegendUrl() : m_request->GetResultUrl();
        LogTileDetail(QStringLiteral("MappedImageInstance fetch complete model %1 tile %2")
                          .arg(m_modelNumber)
                          .arg(m_tileNumber));
    } catch (const MapProviderException& e) {
        if (e.GetType() == MapProviderException::eServiceUnavailable && m_imageIsOutOfDate &&
            m_image) {
            KeepOutOfDateImageLocked(e.GetMessage());
            return;
        }
        m_image.reset();
        const bool retryWithAuthentication =
            e.GetType() == MapProviderException::eProxyAuthenticationRequired &&
            !AppConfig::IsServer() && !m_request->IsShowAuthUI() &&
            !HTTPRequestor::GetProxyAuthenticationCanceled();
        if (retryWithAuthentication) {
            m_request->ClearFailure();
            m_request->SetShowAuthUI(true);
            StartFetchLocked();
            CheckUpdateState(pending, count);
            return;
        }
        RecordFailureLocked(e.GetMessage(), WarningTypeFor(e.GetType()));
    } catch (const AsyncTask::CancelException&) {
        // A cancelled fetch leaves nothing; the next AddUse restarts it.
    } catch (const std::exception& e) {
        m_image.reset();
        RecordFailureLocked(QString::fromUtf8(e.what()), kDefaultWarningType);
    }
}

void MappedImageInstance::RecordFailureLocked(const TString& message, int warningType) {
    // A failed image is fetched again only after a while (the image cache's rule for them).
    if (m_request->IsError()) {
        m_isError = true;
    }
    m_errors.push_back(MakeRefCnt<WarningMsg>(message, warningType, kFetchFailedText));
    TLog::LogMessage(TLog::Severity::Warn,
                     QStringLiteral("Error '%1' retrieving map tile '%2' for URL '%3'")
                         .arg(message, m_request->GetQuery()->GetAsUrlQueryString(),
                              Secrets::RedactUrl(m_request->GetResultUrl())));
}

void MappedImageInstance::KeepOutOfDateImageLocked(const TString& failure) {
    m_outOfDateWarning =
        MakeRefCnt<WarningMsg>(kOutOfDateText.arg(failure), kDefaultWarningType, kFetchFailedText);
    TLog::LogMessage(TLog::Severity::Warn,
                     QStringLiteral("Showing an out-of-date copy of map tile '%1' for URL '%2': %3")
                         .arg(m_request->GetQuery()->GetAsUrlQueryString(),
                              Secrets::RedactUrl(m_request->GetResultUrl()),
                              Secrets::RedactUrl(failure)));
}

int MappedImageInstance::RaiseUpdateCount() {
    return ++m_updateCount;
}

void MappedImageInstance::ReplaceImageLocked(std::unique_ptr<QtImageObject> image) {
    m_image = std::move(image);
}

void MappedImageInstance::GetErrors(WarningList& errors, bool& hadErrors) const {
    AutoSynchronize guard(m_lock, "MappedImageInstance::GetErrors", kLockLevel);
    errors.insert(errors.end(), m_errors.begin(), m_errors.end());
    if (m_outOfDateWarning) {
        errors.push_back(m_outOfDateWarning);
    }
    hadErrors = !m_errors.empty();
}

void MappedImageInstance::ClearErrors() {
    AutoSynchronize guard(m_lock, "MappedImageInstance::ClearErrors", kLockLevel);
    m_errors.clear();
    m_outOfDateWarning.reset();
}

std::vector<TString> MappedImageInstance::GetTileUrls() const {
    AutoSynchronize guard(m_lock, "MappedImageInstance::GetTileUrls", kLockLevel);
    return m_url.isEmpty() ? std::vector<TString>() : std::vector<TString>{m_url};
}

std::vector<TileInfo> MappedImageInstance::GetTileInfos() const {
    AutoSynchronize guard(m_lock, "MappedImageInstance::GetTileInfos", kLockLevel);
    return m_url.isEmpty() ? std::vector<TileInfo>() : std::vector<TileInfo>{{m_url, m_tileRects}};
}

#define LMX_LOCKED_GETTER(Type, Name, member)                                                      \
    Type MappedImageInstance::Name() const {                                                       \
        AutoSynchronize guard(m_lock, "MappedImageInstance::" #Name, kLockLevel);                  \
        return member;                                                                             \
    }

LMX_LOCKED_GETTER(TString, GetName, m_name)
LMX_LOCKED_GETTER(TString, GetCaption, m_caption)
LMX_LOCKED_GETTER(TString, GetUrl, m_url)
LMX_LOCKED_GETTER(TString, GetLayerGroup, m_layerGroup)
LMX_LOCKED_GETTER(int, GetWidth, m_width)
LMX_LOCKED_GETTER(int, GetHeight, m_height)
LMX_LOCKED_GETTER(QtImageObject::BitmapOptions, GetBitmapOptions, m_bitmapOptions)
LMX_LOCKED_GETTER(DataValueRect, GetBounds, m_bounds)
LMX_LOCKED_GETTER(std::vector<QRect>, GetTileRects, m_tileRects)
LMX_LOCKED_GETTER(bool, IsReflection, m_reflection)
LMX_LOCKED_GETTER(bool, IsLockedAspectRatio, m_lockedAspectRatio)
LMX_LOCKED_GETTER(bool, GetShowEntireImage, m_showEntireImage)
LMX_LOCKED_GETTER(bool, IsError, m_isError)
LMX_LOCKED_GETTER(int, GetModelNumber, m_modelNumber)
LMX_LOCKED_GETTER(int, GetTileNumber, m_tileNumber)
LMX_LOCKED_GETTER(int, GetUseCount, m_useCount)
LMX_LOCKED_GETTER(std::shared_ptr<QtImageObject>, GetImageObject, m_image)

#undef LMX_LOCKED_GETTER

void MappedImageInstance::SetName(const TString& name) {
    AutoSynchronize guard(m_lock, "MappedImageInstance::SetName", kLockLevel);
    m_name = name;
}

void MappedImageInstance::SetUrl(const TString& url) {
    AutoSynchronize guard(m_lock, "MappedImageInstance::SetUrl", kLockLevel);
    m_url = url;
}

void MappedImageInstance::SetWidthHeight(int width, int height) {
    AutoSynchronize guard(m_lock, "MappedImageInstance::SetWidthHeight", kLockLevel);
    m_width = width;
    m_height = height;
}

void MappedImageInstance::SetBitmapOptions(const QtImageObject::BitmapOptions& options) {
    AutoSynchronize guard(m_lock, "MappedImageInstance::SetBitmapOptions", kLockLevel);
    m_bitmapOptions = options;
}

void MappedImageInstance::SetBounds(const DataValueRect& bounds) {
    AutoSynchronize guard(m_lock, "MappedImageInstance::SetBounds", kLockLevel);
    m_bounds = bounds;
}

void MappedImageInstance::SetBounds(const DataValue& minX, const DataValue& maxX,
                                    const DataValue& minY, const DataValue& maxY) {
    SetBounds(DataValueRect(minX, maxX, minY, maxY));
}

void MappedImageInstance::GetBounds(DataValue& left, DataValue& right, DataValue& top,
                                    DataValue& bottom, bool honourReflection) const {
    AutoSynchronize guard(m_lock, "MappedImageInstance::GetBounds", kLockLevel);
    if (honourReflection && m_reflection) {
        left = m_bounds.MinY();
        right = m_bounds.MaxY();
        top = m_bounds.MaxX();
        bottom = m_bounds.MinX();
        return;
    }
    left = m_bounds.MinX();
    right = m_bounds.MaxX();
    top = m_bounds.MaxY();
    bottom = m_bounds.MinY();
}

void MappedImageInstance::SetTileRects(const std::vector<QRect>& rects) {
    AutoSynchronize guard(m_lock, "MappedImageInstance::SetTileRects", kLockLevel);
    m_tileRects = rects;
}

void MappedImageInstance::SetError() {
    AutoSynchronize guard(m_lock, "MappedImageInstance::SetError", kLockLevel);
    m_isError = true;
}

void MappedImageInstance::SetLogIndexes(int modelNumber, int tileNumber) {
    AutoSynchronize guard(m_lock, "MappedImageInstance::SetLogIndexes", kLockLevel);
    m_modelNumber = modelNumber;
    m_tileNumber = tileNumber;
}

void MappedImageInstance::SetImageObject(std::unique_ptr<QtImageObject> image) {
    AutoSynchronize guard(m_lock, "MappedImageInstance::SetImageObject", kLockLevel);
    ReplaceImageLocked(std::move(image));
    m_imageIsOutOfDate = false;
}

void MappedImageInstance::SetOutOfDateImage(std::unique_ptr<QtImageObject> image) {
    AutoSynchronize guard(m_lock, "MappedImageInstance::SetOutOfDateImage", kLockLevel);
    ReplaceImageLocked(std::move(image));
    m_imageIsOutOfDate = m_image != nullptr;
}

bool MappedImageInstance::GetSourceImageSize(int& width, int& height, bool honourReflection) const {
    AutoSynchronize guard(m_lock, "MappedImageInstance::GetSourceImageSize", kLockLevel);
    if (!m_image) {
        return false;
    }
    width = m_image->GetWidth();
    height = m_image->GetHeight();
    if (honourReflection && m_reflection) {
        std::swap(width, height);
    }
    return true;
}

float MappedImageInstance::GetAspectRatio(bool honourReflection) const {
    AutoSynchronize guard(m_lock, "MappedImageInstance::GetAspectRatio", kLockLevel);
    int width = 0;
    int height = 0;
    if (!m_lockedAspectRatio || !GetSourceImageSize(width, height, honourReflection) ||
        height == 0) {
        return 0.0f;
    }
    return static_cast<float>(width) / static_cast<float>(height);
}

void MappedImageUse::CheckUpdateState(bool& pending, bool& changed) {
    int count = 0;
    m_instance->CheckUpdateState(pending, count);
    if (count > m_lastSeenUpdate) {
        changed = true;
        m_lastSeenUpdate = count;
    }
}
