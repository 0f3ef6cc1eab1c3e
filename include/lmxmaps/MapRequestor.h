#pragma once
// One fetch of one map image, run as a task on a pool thread: it leaves behind the image (and,
// for some providers, a legend image), the URL it came from and an error flag. Connections
// make requestors; each provider family has its own. A cancelled requestor is restarted as a
// Clone().
//
// The owning image instance reads the results only after the task finished.

#include <memory>

#include <lmxmaps/MapQuery.h>
#include <lmxmaps/host/AsyncTask.h>
#include <lmxmaps/host/QtImageObject.h>

class MapRequestor : public ComputeTask {
public:
    explicit MapRequestor(const MapQueryPtr& query);
    ~MapRequestor() override;

    const MapQueryPtr& GetQuery() const { return m_query; }
    bool IsError() const { return m_isError; }
    bool IsShowAuthUI() const { return m_showAuthUI; }
    void SetShowAuthUI(bool show) { m_showAuthUI = show; }
    // Model and tile numbers for log lines.
    void SetLogIndexes(int modelNumber, int tileNumber);
    int GetModelNumber() const { return m_modelNumber; }
    int GetTileNumber() const { return m_tileNumber; }

    // Rethrow the task's stored exception, if any; then hand the image over (null the second
    // time).
    std::unique_ptr<QtImageObject> GetResult();
    std::unique_ptr<QtImageObject> GetLegend();

    virtual TString GetResultUrl() const { return {}; }
    virtual TString GetLegendUrl() const { return {}; }
    // A fresh requestor for the same image, for a restart after a cancel.
    virtual RefCntPtr<MapRequestor> Clone() const = 0;

protected:
    // Call inside a catch block with the URL or server the fetch went to; always throws. HTTP
    // 403 becomes a MapProviderException of type access denied, 407 of type proxy
    // authentication, other HTTP and host failures of type fetch failed. MapProviderExceptions
    // and cancellations pass unchanged, and so does anything that is not a host exception.
    [[noreturn]] void HandleException(const TString& name);

    void SetResult(std::unique_ptr<QtImageObject> image);
    void SetLegend(std::unique_ptr<QtImageObject> image);
    void SetError(bool isError) { m_isError = isError; }
    const QtImageObject* PeekResult() const { return m_result.get(); }

private:
    MapQueryPtr m_query;
    std::unique_ptr<QtImageObject> m_result;
    std::unique_ptr<QtImageObject> m_legend;
    bool m_showAuthUI = false;
    int m_modelNumber = 0;
    int m_tileNumber = 0;
    bool m_isError = false;
};

using MapRequestorPtr = RefCntPtr<MapRequestor>;
