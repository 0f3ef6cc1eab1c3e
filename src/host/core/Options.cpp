#include <QtGlobal>
#include <algorithm>
#include <map>
#include <mutex>
#include <shared_mutex>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/Options.h>

namespace Options {

namespace {

const std::vector<Definition> kDefinitions = {
    {"LogLevel", "warn", "Lowest severity written to stderr: debug, info, warn, error or off."},
    {"LogDetailTags", "", "Comma-separated numeric detail-logging tags to switch on."},
    {"AppMode", "desktop", "How the application runs: desktop, server, reader or test."},
    {"color.transparent.background", "#00FFFFFF",
     "Colour drawn where a map has no image (a tile that could not be fetched)."},
    {"HttpConnectTimeoutSeconds", "10",
     "Seconds an HTTP request may take to connect; 0 leaves libcurl's own limit."},
    {"HttpTransferTimeoutSeconds", "60",
     "Seconds a whole HTTP request may take, unless it asks for no limit; 0 means no limit."},
    {"HttpProxy", "",
     "Proxy URL for HTTP requests; empty uses the http_proxy, https_proxy and no_proxy "
     "environment variables."},
    {"HttpCaBundleFile", "",
     "PEM file of the certificate authorities https servers are checked against; empty uses "
     "the system's."},
    {"ImageCacheDirectory", "auto",
     "Directory of the disk image cache; auto is the per-user cache directory "
     "($XDG_CACHE_HOME/lmxmaps, usually ~/.cache/lmxmaps); empty turns the cache off."},
    {"ImageCacheMaxBytes", "268435456",
     "Bound on the disk image cache in bytes; least recently used tiles go first; 0 turns the "
     "cache off."},
    {"MapTilesDirectory", "auto",
     "Directory of local map tiles (the blank tile and the local tile sets); auto is maptiles "
     "in the per-user cache directory, where scripts/setup builds the default world map."},
    {"color.white.background", "#FFFFFF",
     "The white of a map background: a WMS tile of only this colour counts as failed."},
    {"color.black.background", "#000000",
     "The black of a map background: a WMS tile of only this colour counts as failed."},
    {"imageobject.preferred.cache.size", "2",
     "Scaled copies an image keeps for the sizes it was last drawn at."},
    {"ConnectionIpBlacklist", "169.254.0.0/16, fe80::/10",
     "Addresses and CIDR ranges map connections never reach (comma-, semicolon- or "
     "blank-separated); the default is link-local, which holds cloud metadata services."},
    {"MapConnectionIpAllowList", "",
     "Addresses and CIDR ranges map connections may reach even when ConnectionIpBlacklist "
     "lists them."},
    {"ExternalCacheDirectory", "auto",
     "Directory of the named disk caches kept across runs (the last good Mapbox documents); "
     "auto is the per-user cache directory; empty turns them off."},
    {"MapboxApiUrl", "https://api.mapbox.com",
     "Scheme, host and optional port of the Mapbox web API that user styles, tilesets and "
     "account checks are addressed to."},
    {"ForceNoConnectionMap", "false",
     "Send every Mapbox request to an unreachable address, as if there were no network."},
    {"MapboxVectorFetchCacheSizeMB", "16",
     "Bound in megabytes on the disk cache of the last good Mapbox documents."},
    {"MapboxVectorFetchCacheMaxEntries", "512",
     "Bound on the number of documents in the disk cache of the last good Mapbox documents."},
    {"MapboxVectorLayerCacheTTLSecs", "3600",
     "Seconds a parsed Mapbox style or tileset of a parameters-configured source is reused "
     "before it is fetched again."},
    {"MapboxVectorLayerCacheUserStyleTTLSecs", "300",
     "Seconds a parsed user's own Mapbox style is reused before it is fetched again."},
    {"MapboxVectorRenderTimeoutSecs", "30",
     "Seconds a vector map render waits for the whole map before it draws what it has with "
     "\"Timeout!\" over it; below 1 it waits without limit."},
    {"MapboxVectorTileCacheSizeMB", "50", "Bound in megabytes on the vector map's tile cache."},
    {"MapboxVectorExternalTileCache", "false",
     "Keep the vector map's tiles on disk (mapbox_tile_cache in the external cache directory) "
     "instead of in memory."},
    {"QMapboxGLDeferredOnly", "false",
     "Render vector maps only as blocking tasks on the thread pool, never on the caller's "
     "thread."},
    {"QMapboxGLLogging", "false", "Log every step of the off-screen vector map at Info."},
    {"MapInfoIndicator", "false", "Draw a frame and the view's numbers over every vector map."},
    {"DumpMapFrames", "false", "Save every rendered vector map frame as a JPEG (debugging)."},
    {"DumpMapFramesPath", "",
     "Directory of the dumped frames; empty is Logs/Map in the application data directory."},
    {"TelemetryEventsFile", "",
     "File that map usage events are appended to, one JSON object a line; empty drops them. "
     "Read when the first event comes."},
    {"TraceSpansFile", "",
     "File that finished trace spans are appended to as OTLP/JSON, one ExportTraceServiceRequest "
     "a line (what an OpenTelemetry Collector's otlpjsonfile receiver reads); empty drops them. "
     "Read when the first span ends."},
    {"FeatureFlags", "",
     "Feature flags switched on: comma-separated 32-bit ids in hexadecimal (0xA76CC2CA records "
     "map usage as trace spans too)."},
    {"HttpMaxBodyBytes", "33554432",
     "Bytes a successful HTTP response body may have, counted after decoding; a larger body "
     "fails the request. 0 means no limit."},
    {"HttpMaxConnectionsPerHost", "6",
     "HTTP requests that run at once to one server (scheme, host and port); more wait their "
     "turn."},
    {"HttpMaxConnections", "64", "HTTP requests that run at once in the whole process."},
    {"HttpRetryAttempts", "3",
     "Times a GET that failed for a passing reason (no connection, reset, time-out, 408, 429, "
     "500, 502, 503, 504) is sent again; 0 never retries."},
    {"HttpRetryMaxWaitSeconds", "30",
     "Longest wait before a retry; a server asking (Retry-After) for a longer one is not "
     "retried."},
    {"HttpHostPauseSeconds", "30",
     "Seconds a server is left alone after 5 requests in a row got no answer from it (no "
     "connection, reset, time-out): its requests fail at once meanwhile, then one request at a "
     "time tries it again."},
    {"ImageMaxPixels", "67108864",
     "Pixels (width times height) a fetched or stored image may have; a larger one is refused "
     "before it is decoded. 0 means no limit."},
};

struct Overrides {
    std::shared_mutex mutex;
    std::map<TString, TString> values;
};

Overrides& TheOverrides() {
    static Overrides overrides;
    return overrides;
}

const Definition& Find(const TString& name) {
    const auto found =
        std::find_if(kDefinitions.begin(), kDefinitions.end(),
                     [&](const Definition& d) { return name == QLatin1String(d.name); });
    if (found == kDefinitions.end()) {
        const std::string condition = "option '" + ToUtf8(name) + "' is registered";
        ThrowLogicException(__FILE__, __LINE__, condition.c_str(), TError::LogicAssert(0x4F505431));
    }
    return *found;
}

} // namespace

const std::vector<Definition>& Definitions() {
    return kDefinitions;
}

TString EnvironmentName(const TString& name) {
    TString envName = QStringLiteral("LMX_") + name;
    envName.replace(u'.', u'_');
    return envName;
}

TString GetString(const TString& name) {
    const Definition& definition = Find(name);
    {
        Overrides& overrides = TheOverrides();
        std::shared_lock lock(overrides.mutex);
        const auto found = overrides.values.find(name);
        if (found != overrides.values.end()) {
            return found->second;
        }
    }
    const QByteArray envName = EnvironmentName(name).toLocal8Bit();
    if (qEnvironmentVariableIsSet(envName.constData())) {
        return qEnvironmentVariable(envName.constData());
    }
    return QString::fromUtf8(definition.defaultValue);
}

bool GetBool(const TString& name) {
    const TString value = GetString(name).trimmed().toLower();
    return value == u"true" || value == u"1" || value == u"yes" || value == u"on";
}

double GetDouble(const TString& name) {
    bool ok = false;
    const double value = GetString(name).trimmed().toDouble(&ok);
    return ok ? value : QString::fromUtf8(Find(name).defaultValue).toDouble();
}

long long GetInt(const TString& name) {
    bool ok = false;
    const long long value = GetString(name).trimmed().toLongLong(&ok, 10);
    return ok ? value : QString::fromUtf8(Find(name).defaultValue).toLongLong();
}

void Set(const TString& name, std::optional<TString> value) {
    Find(name);
    Overrides& overrides = TheOverrides();
    std::unique_lock lock(overrides.mutex);
    if (value) {
        overrides.values[name] = *value;
    } else {
        overrides.values.erase(name);
    }
}

} // namespace Options
