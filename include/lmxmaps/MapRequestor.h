#pragma once
// A single image fetch. When it ends it holds the image (some providers add a legend), the URL
// it asked and whether anything failed. Each family's connection creates its own subclass; a
// cancelled fetch is retried through Clone().
//
// Start() runs the fetch. Requestors that fetch over HTTP split it in three: the request is
// built on a pool thread (PrepareFetch), sent without holding any thread, and its answer is
// read on a pool thread again (CompleteFetch); the others run ExecuteImpl on a pool thread.
// Execute() runs the same fetch on the calling thread.
//
// The owning image instance reads the results only after the fetch finished.

#include <memory>
#include <mutex>

#include <lmxmaps/MapQuery.h>
#include <lmxmaps/host/AsyncTask.h>
#include <lmxmaps/host/QtAsyncRunnable.h>
#include <lmxmaps/host/QtImageObject.h>

class HTTPRequestor;

class MapRequestor : public ComputeTask {
public:
    explicit MapRequestor(const MapQueryPtr& query);
    ~MapRequestor() override;

    const MapQueryPtr& GetQuery() const { return m_query; }
    // Starts the fetch; the state is ready once it finished. Call once per run.
    AsyncResult Start();
    // Also stops the HTTP request in flight: a queued one leaves the queue at once.
    int Cancel() override;
    // Among waiting fetches, lower values are sent first (views use the distance from their
    // centre). A clone keeps it.
    void SetFetchPriority(double priority) { m_fetchPriority = priority; }
    double GetFetchPriority() const { return m_fetchPriority; }
    bool IsError() const { return m_isError; }
    // Before a run of the same requestor again: forgets the last run's failure.
    void ClearFailure();
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
    // For fetches over HTTP: the request to send, built on a pool thread; null (the default)
    // runs ExecuteImpl instead.
    virtual RefCntPtr<HTTPRequestor> PrepareFetch();
    // After the prepared request ended (or right after PrepareFetch under Execute(), with the
    // request not sent yet), on a pool thread: the rest of the fetch.
    virtual void CompleteFetch(const RefCntPtr<HTTPRequestor>& request);
    // Runs PrepareFetch and CompleteFetch in turn, or nothing when there is no request.
    void ExecuteImpl() override;

    // Call inside a catch block with the URL or server the fetch went to; always throws, and
    // sets the error flag unless the fetch was cancelled. HTTP
    // 403 becomes a MapProviderException of type access denied, 407 of type proxy
    // authentication, other HTTP and host failures of type fetch failed. MapProviderExceptions
    // and cancellations pass unchanged, and so does anything that is not a host exception.
    [[noreturn]] void HandleException(const TString& name);

    void SetResult(std::unique_ptr<QtImageObject> image);
    void SetLegend(std::unique_ptr<QtImageObject> image);
    void SetError(bool isError) { m_isError = isError; }
    const QtImageObject* PeekResult() const { return m_result.get(); }

private:
    // Inside a catch block: the exception as the MapProviderException HandleException throws.
    [[noreturn]] void ThrowAsMapProviderException(const TString& name);
    void SendPrepared(const RefCntPtr<HTTPRequestor>& request,
                      const std::shared_ptr<std::promise<void>>& done);

    MapQueryPtr m_query;
    double m_fetchPriority = 0.0;
    std::mutex m_inFlightMutex;
    RefCntPtr<HTTPRequestor> m_inFlight;
    std::unique_ptr<QtImageObject> m_result;
    std::unique_ptr<QtImageObject> m_legend;
    bool m_showAuthUI = false;
    int m_modelNumber = 0;
    int m_tileNumber = 0;
    bool m_isError = false;
};

using MapRequestorPtr = RefCntPtr<MapRequestor>;
