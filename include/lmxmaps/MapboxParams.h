#pragma once
// Settings of a Mapbox vector source, shared per parameters URL across the process. The URL
// serves a small JSON document with the access token, the account name and the account's
// styles and tilesets.
//
// Downloaded lazily on first use. A good copy survives later failed downloads, and with no
// network the "MapboxFetch" disk cache supplies one. Retries after a failure wait 1, 1, 2, 3,
// 5, 7, 11, ... seconds, never more than 300; 300 s without a failure start the series over.
//
// Instances are registered by URL without being owned: one lives as long as a connection holds
// it, and asking again for a URL whose instance died makes and fetches a new one. Any thread
// may ask; one instance fetches once at a time (others wait for that fetch).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

#include <lmxmaps/host/TString.h>

namespace MapboxCaching {
class IFetchCache;
}

class MapboxParams {
public:
    // A style or tileset the parameters name.
    struct MapboxID {
        // As the document gives it.
        TString id;
        // "mapbox://styles/<account>/<id>" for a style, "mapbox://<id>" for a tileset.
        TString url;

        bool operator==(const MapboxID&) const = default;
    };
    using MapboxIDs = std::unordered_map<TString, MapboxID>;

    // Fetches the document at a URL; empty text means the fetch failed.
    using Fetcher = std::function<TString(const TString& url)>;
    // The time in whole seconds since the epoch.
    using Clock = std::function<std::int64_t()>;

    // Refetch delays after failures grow by this factor up to the limit; 300 seconds without a
    // failure reset them.
    static constexpr double kBackOffFactor = 1.5;
    static constexpr double kMinBackOffSeconds = 1.0;
    static constexpr double kMaxBackOffSeconds = 300.0;
    static constexpr std::int64_t kFailureWindowSeconds = 301;

    // The live instance for url, or a new one over HTTP (nothing is fetched yet).
    static std::shared_ptr<MapboxParams> GetInstance(const TString& url);
    // A new instance with its own fetcher (and clock; empty: the host clock), registered under
    // url. Throws std::runtime_error when url was registered before, even by a dead instance.
    static std::shared_ptr<MapboxParams> CreateTestInstance(const TString& url, Fetcher fetcher,
                                                            Clock clock = {});

    ~MapboxParams();
    MapboxParams(const MapboxParams&) = delete;
    MapboxParams& operator=(const MapboxParams&) = delete;

    // Each getter first fetches the document when it must and may (see above).
    TString GetToken();
    TString GetMapboxAccount();
    MapboxIDs GetStyleIDs();
    MapboxIDs GetTilesetIDs();

    // Call when the service rejects what these parameters hold (e.g. an expired token): the
    // next use downloads them again, subject to the same retry spacing as a failure.
    void ReportParamsFailure();

    const TString& GetUrl() const { return m_url; }

private:
    MapboxParams(TString url, Fetcher fetcher, Clock clock);

    static std::shared_ptr<MapboxParams> CreateInstance(const TString& url, Fetcher fetcher,
                                                        Clock clock);
    std::int64_t Now() const;
    void PrepareParameters();
    bool FetchParameters();
    bool FetchIsThrottled(std::int64_t now) const;
    void UpdateFetchThrottle(std::int64_t now);
    void ResetThrottledFetch();

    const Fetcher m_fetcher;
    const std::unique_ptr<MapboxCaching::IFetchCache> m_fetchCache;
    const TString m_url;
    const Clock m_clock;
    std::mutex m_mutex;
    TString m_token;
    TString m_account;
    MapboxIDs m_styles;
    MapboxIDs m_tilesets;
    bool m_needsFetch = true;
    double m_backOff = 0.0;
    std::int64_t m_lastFailure = 0;
    std::int64_t m_throttledUntil = 0;
};
