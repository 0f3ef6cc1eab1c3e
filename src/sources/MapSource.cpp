#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/ObjectFactory.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/Secrets.h>

namespace {

constexpr std::uint32_t kNullPointerAssert = 0x00BF554A;

// Sources of this class draw their attribution at half scale.
constexpr const char16_t* kOpenStreetMapClass = u"OpenStreetMap";

[[noreturn]] void ThrowNullPointer(int line) {
    ThrowLogicException(__FILE__, line, "Null pointer dereferenced",
                        TError::LogicAssert(kNullPointerAssert));
}

RefCntPtr<IStyles> CreateDefaultStyles() {
    return RefCntDynamicCast<IStyles>(
        ObjectFactoryUtils::CreateObject(QStringLiteral("LmxData"), QStringLiteral("StylesID")));
}

void LogInfo(const TString& message) {
    TLog::LogMessage(TLog::Severity::Info, message);
}

} // namespace

MapSource::MapSource(TString name, std::shared_ptr<MapProvider> provider)
    : m_id(TUUID::CreateUUID()), m_name(std::move(name)), m_defaults(CreateDefaultStyles()),
      m_provider(std::move(provider)) {
    if (m_provider && MapSourceAttributeRules::IsInline(
                          m_provider->GetAttribute(MapSourceAttributeKeys::attrInline))) {
        m_inline = true;
    }
}

MapSource::MapSource(const MapSource& other)
    : m_id(other.m_id), m_name(other.m_name), m_filename(other.m_filename),
      m_modified(other.m_modified), m_inline(other.m_inline),
      m_defaults(other.m_defaults ? other.m_defaults->Copy() : nullptr),
      m_provider(other.m_provider), m_userInfo(other.m_userInfo) {}

MapSource::~MapSource() = default;

std::shared_ptr<MapProvider> MapSource::GetMapProvider() const {
    return GetRootProvider();
}

std::shared_ptr<MapProvider> MapSource::GetRootProvider() const {
    return m_provider;
}

TString MapSource::GetName() const {
    return m_name;
}

bool MapSource::GetInline() const {
    return m_inline;
}

bool MapSource::IsConnected() const {
    return m_provider && m_provider->IsConnected();
}

void MapSource::Connect() {
    LogInfo(QStringLiteral("ACTION: MapSource connection for '") + m_name + QStringLiteral("'."));
    MapProvider& provider = RequireProvider();
    for (const auto& [key, value] : Secrets::RedactAttributes(provider.GetAttributes())) {
        LogInfo(QStringLiteral("\t") + key + QStringLiteral(": '") + value + QStringLiteral("'"));
    }
    try {
        provider.Connect();
    } catch (MapProviderException& e) {
        e.SetMapSourceName(m_name);
        throw;
    }
}

void MapSource::Disconnect() {
    if (m_provider) {
        m_provider->Disconnect();
    }
}

void MapSource::ResetConnection() {
    LogInfo(QStringLiteral("ACTION: Resetting Connection for '") + m_name + QStringLiteral("'."));
    MapProvider& provider = RequireProvider();
    try {
        provider.Disconnect();
        provider.Connect();
    } catch (MapProviderException& e) {
        e.SetMapSourceName(m_name);
        throw;
    }
}

bool MapSource::HasConnectUI() const {
    return m_provider && m_provider->HasConnectUI();
}

bool MapSource::ShowDetailedErrors() const {
    return m_provider && m_provider->ShowDetailedErrors();
}

IStyles& MapSource::GetDefaults() const {
    if (!m_defaults) {
        ThrowNullPointer(__LINE__);
    }
    return *m_defaults;
}

void MapSource::SetDefaults(RefCntPtr<IStyles> defaults) {
    m_defaults = std::move(defaults);
}

void MapSource::GetCopyrightFont(int& size, float& factor) const {
    if (m_provider &&
        m_provider->GetAttribute(MapSourceAttributeKeys::attrClass) == TStr(kOpenStreetMapClass)) {
        size = 8;
        factor = 0.5f;
    } else {
        size = 7;
        factor = 1.0f;
    }
}

void MapSource::SetUserAttribute(const TString& key, const TString& value) {
    m_userInfo[key] = value;
}

TString MapSource::GetUserAttribute(const TString& key) const {
    const auto found = m_userInfo.find(key);
    return found == m_userInfo.end() ? TString() : found->second;
}

bool MapSource::HasUserAttribute(const TString& key) const {
    return m_userInfo.count(key) != 0;
}

const MapSource::UserInfo& MapSource::GetUserInfo() const {
    return m_userInfo;
}

void MapSource::SetUserInfo(const UserInfo& userInfo) {
    if (&userInfo != &m_userInfo) {
        m_userInfo = userInfo;
    }
}

bool MapSource::CanReplaceWithSecureConnection() {
    return IsConnected() && m_provider && m_provider->CanReplaceWithSecureConnection();
}

bool MapSource::ShouldUserBeWarnedAboutInsecureConnection() {
    return m_provider && m_provider->ShouldUserBeWarnedAboutInsecureConnection();
}

void MapSource::DisallowFurtherWarningsAboutInsecureConnection() {
    if (m_provider) {
        m_provider->DisallowFurtherWarningsAboutInsecureConnection();
    }
}

bool MapSource::operator==(const MapSource& other) const {
    if (m_name != other.m_name) {
        return false;
    }
    if (!m_provider || !other.m_provider) {
        return !m_provider && !other.m_provider;
    }
    return *m_provider == *other.m_provider;
}

MapProvider& MapSource::RequireProvider() const {
    if (!m_provider) {
        ThrowNullPointer(__LINE__);
    }
    return *m_provider;
}
