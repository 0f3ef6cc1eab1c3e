#include <QDateTime>
#include <algorithm>
#include <stdexcept>

#include <lmxmaps/MapboxCaching.h>
#include <lmxmaps/MapboxParams.h>
#include <lmxmaps/MapboxUtils.h>
#include <lmxmaps/host/HostClock.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/Secrets.h>

#include "host/core/Json.h"
#include "mapbox/MapboxHttp.h"

namespace {

constexpr std::uint32_t kMalformedSite = 0xB48BD49D;
constexpr std::uint32_t kInvalidSite = 0xB48B0164;
constexpr std::uint32_t kMissingTokenObjectSite = 0xB48BD71D;
constexpr std::uint32_t kBadTokenSite = 0xB48B9114;
constexpr std::uint32_t kBadAccountSite = 0xB48B9223;
constexpr const char16_t* kTilesetUrlFormat = u"mapbox://%1";

struct Registry {
    std::mutex mutex;
    std::unordered_map<TString, std::weak_ptr<MapboxParams>> instances;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

void LogAt(TLog::Severity severity, std::uint32_t site, const TString& message) {
    TLog::LogMessage(severity, TError::LogSite(QStringLiteral("AutoGen"), site).logSite, message);
}

TString FetchOverHttp(const TString& url) {
    try {
        return MapboxHttp::Get(TUrl(url));
    } catch (const LumivexException& e) {
        TLog::LogMessage(TLog::Severity::Warn, e.GetMessage());
        return TString();
    }
}

// Members of styles or tilesets whose value is an object with a string "id".
MapboxParams::MapboxIDs ReadIDs(const rapidjson::Value* object,
                                const std::function<TString(const TString&)>& urlOf) {
    MapboxParams::MapboxIDs ids;
    if (object == nullptr || !object->IsObject()) {
        return ids;
    }
    for (const auto& member : object->GetObject()) {
        const rapidjson::Value* id = Json::Find(member.value, "id");
        if (id == nullptr || !id->IsString()) {
            continue;
        }
        const TString idText = Json::ToTString(*id);
        ids.insert_or_assign(Json::NameOf(member), MapboxParams::MapboxID{idText, urlOf(idText)});
    }
    return ids;
}

struct LoadedParameters {
    TString token;
    TString account;
    MapboxParams::MapboxIDs styles;
    MapboxParams::MapboxIDs tilesets;
};

bool LoadMapboxParameters(const rapidjson::Document& document, LoadedParameters& loaded) {
    loaded = LoadedParameters();
    const rapidjson::Value* tokenObject = Json::Find(document, "access_token");
    if (tokenObject == nullptr || !tokenObject->IsObject()) {
        LogAt(TLog::Severity::Error, kMissingTokenObjectSite,
              QStringLiteral("Missing object 'access_token' in Mapbox parameters JSON."));
        return false;
    }
    const rapidjson::Value* token = Json::Find(*tokenObject, "token");
    if (token == nullptr || !token->IsString()) {
        LogAt(TLog::Severity::Error, kBadTokenSite,
              QStringLiteral("Bad 'access_token.token' string in Mapbox parameters JSON."));
        return false;
    }
    const rapidjson::Value* account = Json::Find(document, "mapbox_account");
    if (account == nullptr || !account->IsString()) {
        LogAt(TLog::Severity::Error, kBadAccountSite,
              QStringLiteral("Bad 'mapbox_account' string in Mapbox parameters JSON."));
        return false;
    }
    loaded.token = Json::ToTString(*token);
    loaded.account = Json::ToTString(*account);
    loaded.styles = ReadIDs(Json::Find(document, "styles"), [&](const TString& id) {
        return MapboxUtils::CreateMapboxVectorStyleUrl(loaded.account, id);
    });
    loaded.tilesets = ReadIDs(Json::Find(document, "tilesets"),
                              [](const TString& id) { return TStr(kTilesetUrlFormat).arg(id); });
    return true;
}

} // namespace

MapboxParams::MapboxParams(TString url, Fetcher fetcher, Clock clock)
    : m_fetcher(std::move(fetcher)), m_fetchCache(MapboxCaching::MakeDefaultFetchCache()),
      m_url(std::move(url)), m_clock(std::move(clock)) {}

MapboxParams::~MapboxParams() = default;

std::shared_ptr<MapboxParams> MapboxParams::GetInstance(const TString& url) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    const auto found = registry.instances.find(url);
    if (found != registry.instances.end()) {
        if (std::shared_ptr<MapboxParams> live = found->second.lock()) {
            return live;
        }
    }
    return CreateInstance(url, FetchOverHttp, Clock());
}

std::shared_ptr<MapboxParams> MapboxParams::CreateTestInstance(const TString& url, Fetcher fetcher,
                                                               Clock clock) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (registry.instances.count(url) != 0) {
        throw std::runtime_error(
            "attempted to create MapboxParams test instance with duplicate id ('" + ToUtf8(url) +
            "')");
    }
    return CreateInstance(url, std::move(fetcher), std::move(clock));
}

// The caller holds the registry mutex.
std::shared_ptr<MapboxParams> MapboxParams::CreateInstance(const TString& url, Fetcher fetcher,
                                                           Clock clock) {
    std::shared_ptr<MapboxParams> instance(
        new MapboxParams(url, std::move(fetcher), std::move(clock)));
    TheRegistry().instances.insert_or_assign(url, instance);
    return instance;
}

std::int64_t MapboxParams::Now() const {
    return m_clock ? m_clock() : HostClock::NowUtc().toSecsSinceEpoch();
}

TString MapboxParams::GetToken() {
    PrepareParameters();
    std::lock_guard lock(m_mutex);
    return m_token;
}

TString MapboxParams::GetMapboxAccount() {
    PrepareParameters();
    std::lock_guard lock(m_mutex);
    return m_account;
}

MapboxParams::MapboxIDs MapboxParams::GetStyleIDs() {
    PrepareParameters();
    std::lock_guard lock(m_mutex);
    return m_styles;
}

MapboxParams::MapboxIDs MapboxParams::GetTilesetIDs() {
    PrepareParameters();
    std::lock_guard lock(m_mutex);
    return m_tilesets;
}

void MapboxParams::ReportParamsFailure() {
    TLog::LogMessage(TLog::Severity::Warn,
                     QStringLiteral("Mapbox parameter failure reported for URI '%1'.")
                         .arg(Secrets::RedactUrl(m_url)));
    std::lock_guard lock(m_mutex);
    m_needsFetch = true;
    m_lastFailure = Now();
}

// Holds the instance mutex across the fetch, so concurrent getters wait for one fetch.
void MapboxParams::PrepareParameters() {
    std::lock_guard lock(m_mutex);
    const std::int64_t now = Now();
    if (!m_needsFetch || FetchIsThrottled(now)) {
        return;
    }
    UpdateFetchThrottle(now);
    if (FetchParameters()) {
        m_needsFetch = false;
    } else {
        m_lastFailure = now;
        TLog::LogMessage(TLog::Severity::Warn, QStringLiteral("Mapbox parameters fetch failed."));
    }
}

bool MapboxParams::FetchParameters() {
    const TString displayUrl = Secrets::RedactUrl(m_url);
    TLog::LogMessage(TLog::Severity::Info,
                     QStringLiteral("Fetching Mapbox parameters from '%1'.").arg(displayUrl));
    if (m_url.isEmpty()) {
        return false;
    }
    TString text = m_fetcher(m_url);
    if (text.isEmpty()) {
        text = m_fetchCache->Get(m_url);
        if (text.isEmpty()) {
            return false;
        }
    } else {
        m_fetchCache->Put(m_url, text);
    }
    rapidjson::Document document;
    if (!Json::Parse(text.toUtf8(), document)) {
        LogAt(TLog::Severity::Error, kMalformedSite,
              QStringLiteral("Malformed JSON for Mapbox parameters sets."));
        return false;
    }
    LoadedParameters loaded;
    if (!LoadMapboxParameters(document, loaded)) {
        LogAt(TLog::Severity::Error, kInvalidSite,
              QStringLiteral("Invalid Mapbox parameters from '%1'.").arg(displayUrl));
        return false;
    }
    m_token = std::move(loaded.token);
    m_account = std::move(loaded.account);
    m_styles = std::move(loaded.styles);
    m_tilesets = std::move(loaded.tilesets);
    return true;
}

bool MapboxParams::FetchIsThrottled(std::int64_t now) const {
    return now < m_throttledUntil;
}

void MapboxParams::UpdateFetchThrottle(std::int64_t now) {
    if (now - m_lastFailure < kFailureWindowSeconds) {
        m_backOff = std::clamp(m_backOff * kBackOffFactor, kMinBackOffSeconds, kMaxBackOffSeconds);
        m_throttledUntil = now + static_cast<std::int64_t>(m_backOff);
    } else {
        ResetThrottledFetch();
    }
}

void MapboxParams::ResetThrottledFetch() {
    m_backOff = 0.0;
    m_throttledUntil = 0;
}
