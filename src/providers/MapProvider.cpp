#include <QDate>
#include <QUrl>
#include <map>
#include <mutex>
#include <stdexcept>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/host/AppConfig.h>
#include <lmxmaps/host/LinkErrorMgr.h>
#include <lmxmaps/host/StringTable.h>

#include "BuiltInMapClasses.h"

namespace {

constexpr std::uint32_t kUnknownClassSite = 0xF158430A;
constexpr std::uint32_t kNullConnectionAssert = 0x00BF554A;

struct ProviderRegistry {
    std::mutex mutex;
    std::map<TString, MapProvider::Factory> factories;

    // The class's factory, else the default one, else an empty function.
    MapProvider::Factory Find(const TString& className) {
        std::lock_guard lock(mutex);
        auto found = factories.find(className);
        if (found == factories.end()) {
            found = factories.find(TString());
        }
        return found == factories.end() ? MapProvider::Factory() : found->second;
    }
};

ProviderRegistry& TheRegistry() {
    static ProviderRegistry registry;
    return registry;
}

// The built-in classes are registered while the library loads, before any host registration.
const bool g_builtInClassesRegistered = (BuiltInMapClasses::Register(), true);

// Looks up or creates the connection, starting from the hint that threads connecting the same
// provider share.
MapConnectionPtr GetOrCreateConnection(const AttributeMap& attributes,
                                       std::atomic<unsigned int>& sharedHint) {
    unsigned int hint = sharedHint;
    MapConnectionPtr connection = MapConnection::GetOrCreate(attributes, hint);
    sharedHint = hint;
    return connection;
}

bool AttributesMatch(const AttributeMap& own, const AttributeMap& other) {
    if (own.size() != other.size()) {
        return false;
    }
    for (const auto& [key, value] : own) {
        const auto found = other.find(key);
        if (found == other.end() ? !value.isEmpty() : found->second != value) {
            return false;
        }
    }
    return true;
}

} // namespace

MapProvider::MapProvider(AttributeMap attributes) : m_attributes(std::move(attributes)) {}

MapProvider::~MapProvider() = default;

MapConnectionPtr MapProvider::Connect() {
    if (IsOffline()) {
        return nullptr;
    }
    MapConnectionPtr connection;
    try {
        connection = GetOrCreateConnection(GetAttributes(), m_connectionCacheHint);
    } catch (const MapProviderException&) {
        m_connectErrorReported = true;
        throw;
    }
    if (!connection) {
        ThrowLogicException(__FILE__, __LINE__, "Null pointer dereferenced",
                            TError::LogicAssert(kNullConnectionAssert));
    }
    UpdateAttributes(connection->GetAttributes());
    m_connectErrorReported = false;
    m_canReplaceWithSecureConnection = connection->CanReplaceWithSecureConnection();
    return connection;
}

MapConnectionPtr MapProvider::ConnectNoThrow() {
    try {
        MapConnectionPtr connection = GetOrCreateConnection(GetAttributes(), m_connectionCacheHint);
        m_connectErrorReported = false;
        return connection;
    } catch (const MapProviderException& e) {
        // Of failures on several threads at once, only the first is reported.
        if (!m_connectErrorReported.exchange(true)) {
            if (ILinkErrorHandler* handler = LinkErrorMgr::GetHandler()) {
                handler->ReportLinkError(kLinkErrorKindMapSource, GetAttribute(attrClass),
                                         e.GetMessage());
            }
        }
        return nullptr;
    }
}

TString MapProvider::GetDisplayDescription() {
    return GetAttribute(attrDescription);
}

TString MapProvider::GetDisplayUrl() {
    return GetAttribute(attrFullURL);
}

TString MapProvider::GetServerKey() {
    return GetAttribute(attrUsername);
}

const RasterMapProvider& MapProvider::AsRaster() const {
    throw std::runtime_error("MapProvider::AsRaster: not a RasterMapProvider");
}

const VectorMapProvider& MapProvider::AsVector() const {
    throw std::runtime_error("MapProvider::AsVector: not a VectorMapProvider");
}

RasterMapProvider& MapProvider::AsRaster() {
    return const_cast<RasterMapProvider&>(std::as_const(*this).AsRaster());
}

VectorMapProvider& MapProvider::AsVector() {
    return const_cast<VectorMapProvider&>(std::as_const(*this).AsVector());
}

bool MapProvider::operator==(const MapProvider& other) const {
    return typeid(*this) == typeid(other) &&
           GetAttribute(attrServer) == other.GetAttribute(attrServer) &&
           GetAttribute(attrURL) == other.GetAttribute(attrURL) &&
           GetAttribute(attrPort) == other.GetAttribute(attrPort);
}

void MapProvider::Register(const TString& className, Factory factory) {
    ProviderRegistry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.factories[className] = std::move(factory);
}

bool MapProvider::IsRegistered(const TString& className) {
    return static_cast<bool>(TheRegistry().Find(className));
}

std::shared_ptr<MapProvider> MapProvider::Create(const AttributeMap& attributes) {
    const auto classValue = attributes.find(TStr(attrClass));
    const TString className = classValue == attributes.end() ? TString() : classValue->second;
    if (classValue != attributes.end()) {
        if (const Factory factory = TheRegistry().Find(className)) {
            if (auto provider = factory(attributes)) {
                return provider;
            }
        }
    }
    const StringId message = AppConfig::IsReader() || AppConfig::IsServer()
                                 ? kUnknownClassReaderText
                                 : kUnknownClassText;
    throw MapProviderException(MapProviderException::eUnknownClass,
                               LookupTFmtStr(message, className),
                               MapProviderException::Site(kUnknownClassSite));
}

TString MapProvider::GetAttribute(const char16_t* key) const {
    TReadGuard guard(m_attributeLock);
    const auto found = m_attributes.find(TStr(key));
    return found == m_attributes.end() ? TString() : found->second;
}

bool MapProvider::HasAttribute(const char16_t* key) const {
    TReadGuard guard(m_attributeLock);
    return m_attributes.count(TStr(key)) != 0;
}

AttributeMap MapProvider::GetAttributes() const {
    TReadGuard guard(m_attributeLock);
    return m_attributes;
}

void MapProvider::SetAttribute(const char16_t* key, const char16_t* value) {
    SetAttribute(key, TStr(value));
}

void MapProvider::SetAttribute(const char16_t* key, const TString& value) {
    TWriteGuard guard(m_attributeLock);
    m_attributes[TStr(key)] = value;
}

void MapProvider::SetAttributes(AttributeMap attributes) {
    TWriteGuard guard(m_attributeLock);
    m_attributes = std::move(attributes);
}

void MapProvider::UpdateAttributes(const AttributeMap& attributes) {
    TWriteGuard guard(m_attributeLock);
    for (const auto& [key, value] : attributes) {
        m_attributes[key] = value;
    }
}

bool MapProvider::MatchesAttributes(const AttributeMap& attributes) const {
    TReadGuard guard(m_attributeLock);
    return AttributesMatch(m_attributes, attributes);
}

bool MapProvider::IsOffline() const {
    return MapSourceAttributeRules::IsOffline(GetAttribute(attrOffline));
}

bool MapProvider::IsConnected() const {
    return MapConnection::Find(GetAttributes(), m_connectionCacheHint) != nullptr;
}

void MapProvider::Disconnect() {
    MapConnection::Close(GetAttributes());
}

bool MapProvider::CanReplaceWithSecureConnection() {
    return m_canReplaceWithSecureConnection && QUrl(GetDisplayUrl()).port() == -1;
}

SpatialProjectorPtr MapProvider::GetDefaultSpatialProjector() const {
    std::lock_guard guard(m_defaultProjectorMutex);
    if (!m_defaultProjector) {
        m_defaultProjector = CreateSpatialProjector(FieldName(), FieldName());
    }
    return m_defaultProjector;
}

void MapProvider::AddArea(const MapArea& area) {
    m_areas.push_back(area);
}

void MapProvider::SetAreas(std::vector<MapArea> areas) {
    m_areas = std::move(areas);
}

void MapProvider::AddMapStyle(const MapStyle& style) {
    m_mapStyles.push_back(style);
}

void MapProvider::SetMapStyles(std::vector<MapStyle> styles) {
    m_mapStyles = std::move(styles);
}

const MapStyle* MapProvider::GetMapStyle(const TString& name) const {
    const MapStyle* unnamed = nullptr;
    for (const MapStyle& style : m_mapStyles) {
        if (style.GetName() == name) {
            return &style;
        }
        if (style.GetName().isEmpty()) {
            unnamed = &style;
        }
    }
    return unnamed;
}

void MapProvider::AddSupportedLanguage(const TString& language) {
    m_supportedLanguages.insert(language);
}

void MapProvider::SetSupportedLanguages(std::set<TString> languages) {
    m_supportedLanguages = std::move(languages);
}

void MapProvider::SetStoredLayers(RefCntPtr<MapLayers> layers) {
    m_storedLayers = std::move(layers);
}

void MapProvider::AddStoredLayer(const MapLayer& layer) {
    LMX_LOGIC_ASSERT(m_storedLayers);
    m_storedLayers->GetLayers().push_back(layer);
}

void MapProvider::AddStoredLayerData(const TString& layer, const TString& key,
                                     const TString& value) {
    m_storedLayerData[layer][key] = value;
}

const MapProvider::StoredLayerData* MapProvider::GetStoredLayerData(const TString& layer) const {
    auto found = m_storedLayerData.find(layer);
    if (found == m_storedLayerData.end()) {
        found = m_storedLayerData.find(TString());
    }
    return found == m_storedLayerData.end() ? nullptr : &found->second;
}

bool MapProvider::GetAttributionStrings(bool preferShort, TString& first, TString& second) const {
    const auto choose = [preferShort](const MapAttribution& attribution) {
        return preferShort && !attribution.shortText.isEmpty() ? attribution.shortText
                                                               : attribution.text;
    };
    TString chosenFirst = choose(m_attribution);
    if (chosenFirst.isEmpty()) {
        return false;
    }
    TString chosenSecond = choose(m_attribution2);
    const TString year = TString::number(QDate::currentDate().year());
    first = chosenFirst.replace(QStringLiteral("%1"), year);
    second = chosenSecond.replace(QStringLiteral("%1"), year);
    return true;
}
