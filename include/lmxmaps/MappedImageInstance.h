#pragma once
// A tile, whole-world picture or legend of a map view, together with the state of its fetch.
//
// The process-wide image cache and every view showing the image share the instance; each view
// holds a MappedImageUse. The fetch is a MapRequestor (MapRequestor::Start: Qt's
// global thread pool and the HTTP layer): SetRequest starts it, the last RemoveUse cancels it,
// the next AddUse restarts it as a clone, and CheckUpdateState (polled by the display) collects
// its image or turns its failure into warnings, marking the image failed when the requestor
// says so. Every public operation runs under the instance's recursive lock (lock level 11);
// the fetch threads touch only the requestor.
//
// An instance may start from an out-of-date copy of its image (SetOutOfDateImage): when the
// fetch finds the service unavailable (MapProviderException::eServiceUnavailable), the copy
// stays, with a warning that it is out of date, and the image does not count as failed.

#include <QRect>
#include <list>
#include <memory>
#include <utility>
#include <vector>

#include <lmxmaps/MapRequestor.h>
#include <lmxmaps/host/DataValue.h>
#include <lmxmaps/host/Locks.h>
#include <lmxmaps/host/QtAsyncRunnable.h>
#include <lmxmaps/host/QtImageObject.h>
#include <lmxmaps/host/WarningMsg.h>

using WarningList = std::list<RefCntPtr<WarningMsg>>;
using TileInfo = std::pair<TString, std::vector<QRect>>;

class MappedImageInstance : public RefCntObject {
public:
    // The lock level of an instance; composites lock above it.
    static constexpr int kLockLevel = 11;
    // The heading of the warnings a failed fetch leaves.
    static constexpr StringId kFetchFailedText = 3103715253u;

    // image: shown until the fetch delivers; may be null. Tiles made by providers pass no name
    // or caption, their layer group, lockedAspectRatio true and false for the other flags.
    MappedImageInstance(std::unique_ptr<QtImageObject> image,
                        const QtImageObject::BitmapOptions& bitmapOptions, const TString& name,
                        const TString& caption, const TString& layerGroup, bool lockedAspectRatio,
                        bool reflection, bool showEntireImage);
    // Cancels a running fetch and waits for it to end.
    ~MappedImageInstance() override;

    // pending: the fetch is still running; count: the update count, raised by every new
    // request and every collected result. Fetch failures become warnings, never exceptions.
    virtual void CheckUpdateState(bool& pending, int& count);
    // Adds the stored warnings to errors (copies). hadErrors is true only when the fetch
    // failed; a stale copy kept on screen warns without counting as an error.
    virtual void GetErrors(WarningList& errors, bool& hadErrors) const;
    virtual void ClearErrors();
    // The image's URL, when it has one.
    virtual std::vector<TString> GetTileUrls() const;
    // The URL with the pixel rectangles the image was drawn at, when it has a URL.
    virtual std::vector<TileInfo> GetTileInfos() const;
    // A view starts showing the image; the first use restarts a cancelled fetch.
    virtual void AddUse();
    // A view stops showing the image; the last use cancels a running fetch.
    virtual void RemoveUse();

    // Starts fetching: drains the uses (cancelling a running fetch) and waits for a running
    // fetch to end, then starts the request. With legend set, the result is
    // the requestor's legend image.
    void SetRequest(MapRequestorPtr request, bool legend);
    // Like SetRequest with the other instance's request and running fetch, reading its legend.
    void UseLegendFrom(const MappedImageInstance& other);
    // A fetch is running or its result has not been collected yet.
    bool HasTask() const;

    TString GetName() const;
    void SetName(const TString& name);
    TString GetCaption() const;
    TString GetUrl() const;
    void SetUrl(const TString& url);
    TString GetLayerGroup() const;
    int GetWidth() const;
    int GetHeight() const;
    void SetWidthHeight(int width, int height);
    QtImageObject::BitmapOptions GetBitmapOptions() const;
    void SetBitmapOptions(const QtImageObject::BitmapOptions& options);
    // The image's box in CRS units (order: x-min, x-max, y-min, y-max).
    DataValueRect GetBounds() const;
    void SetBounds(const DataValueRect& bounds);
    void SetBounds(const DataValue& minX, const DataValue& maxX, const DataValue& minY,
                   const DataValue& maxY);
    // Edges of the box: left/right from x, top from y-max, bottom from y-min. When
    // honourReflection is set and the image is reflected, x and y trade places (left/right from
    // y, top from x-max, bottom from x-min).
    void GetBounds(DataValue& left, DataValue& right, DataValue& top, DataValue& bottom,
                   bool honourReflection) const;
    std::vector<QRect> GetTileRects() const;
    void SetTileRects(const std::vector<QRect>& rects);
    bool IsReflection() const;
    bool IsLockedAspectRatio() const;
    bool GetShowEntireImage() const;
    bool IsError() const;
    void SetError();
    int GetModelNumber() const;
    int GetTileNumber() const;
    void SetLogIndexes(int modelNumber, int tileNumber);
    int GetUseCount() const;

    // The image, shared so that it stays valid while the caller draws it; null when none.
    std::shared_ptr<QtImageObject> GetImageObject() const;
    // Replaces the image (null removes it).
    void SetImageObject(std::unique_ptr<QtImageObject> image);
    // Replaces the image with an out-of-date copy of it, shown until the fetch brings the
    // current one, and kept when the service is unavailable.
    void SetOutOfDateImage(std::unique_ptr<QtImageObject> image);
    // The image's size, swapped when honourReflection and the image is reflected; false
    // without an image.
    bool GetSourceImageSize(int& width, int& height, bool honourReflection) const;
    // Width over height of the image when the aspect ratio is locked; 0 otherwise or without
    // an image.
    float GetAspectRatio(bool honourReflection) const;

protected:
    TRecursiveMutex& GetLock() const { return m_lock; }
    // Raises the update count by one and returns it; call with the lock held.
    int RaiseUpdateCount();
    int GetUpdateCountLocked() const { return m_updateCount; }
    // Stores the drawn image; call with the lock held.
    void ReplaceImageLocked(std::unique_ptr<QtImageObject> image);

private:
    void FlushPendingRequestLocked();
    void StartFetchLocked();
    void CollectResultLocked(bool& pending, int& count);
    void RecordFailureLocked(const TString& message, int warningType);
    void KeepOutOfDateImageLocked(const TString& failure);

    mutable TRecursiveMutex m_lock;
    bool m_reflection;
    bool m_lockedAspectRatio;
    bool m_showEntireImage;
    int m_width = 0;
    int m_height = 0;
    QtImageObject::BitmapOptions m_bitmapOptions;
    DataValueRect m_bounds;
    std::vector<QRect> m_tileRects;
    TString m_name;
    TString m_caption;
    TString m_layerGroup;
    TString m_url;
    std::shared_ptr<QtImageObject> m_image;
    bool m_isError = false;
    bool m_isLegendRequest = false;
    bool m_imageIsOutOfDate = false;
    WarningList m_errors;
    // Says that the image shown is an out-of-date copy; not an error.
    RefCntPtr<WarningMsg> m_outOfDateWarning;
    int m_useCount = 0;
    int m_updateCount = 1;
    MapRequestorPtr m_request;
    // The running fetch; invalid when none runs or its result was collected.
    AsyncResult m_pendingFetch;
    int m_modelNumber = 0;
    int m_tileNumber = 0;
};

using MappedImageInstancePtr = RefCntPtr<MappedImageInstance>;

// One view's use of an image: remembers the update count it last saw.
class MappedImageUse {
public:
    explicit MappedImageUse(MappedImageInstancePtr instance) : m_instance(std::move(instance)) {}

    const MappedImageInstancePtr& GetInstance() const { return m_instance; }
    int GetLastSeenUpdate() const { return m_lastSeenUpdate; }
    // Polls the instance; changed is set when its update count passed the one last seen.
    void CheckUpdateState(bool& pending, bool& changed);

private:
    MappedImageInstancePtr m_instance;
    int m_lastSeenUpdate = 0;
};
