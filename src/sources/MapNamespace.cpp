#include <lmxmaps/MapNamespace.h>
#include <lmxmaps/host/ICUUtils.h>
#include <lmxmaps/host/LumivexException.h>

bool MapNamespace::CaseInsensitiveMatch::operator()(const TString& a, const TString& b) const {
    return TString::compare(ICUUtils::StrFoldCase(a, false), ICUUtils::StrFoldCase(b, false)) < 0;
}

MapNamespace& MapNamespace::operator=(const MapNamespace& other) {
    if (this != &other) {
        RemoveAllMapSources();
        for (const auto& entry : other.m_mapsources) {
            m_mapsources.insert(entry);
        }
    }
    return *this;
}

MapNamespace::~MapNamespace() {
    RemoveAllMapSources();
}

std::unique_ptr<MapNamespace> MapNamespace::Clone() const {
    auto clone = std::make_unique<MapNamespace>();
    for (const auto& [name, source] : m_mapsources) {
        clone->m_mapsources.emplace_hint(clone->m_mapsources.end(), name,
                                         std::make_shared<MapSource>(*source));
    }
    return clone;
}

void MapNamespace::AddMapSource(std::shared_ptr<MapSource> source) {
    LMX_LOGIC_ASSERT(source);
    const TString name = source->GetName();
    LMX_LOGIC_ASSERT(m_mapsources.find(name) == m_mapsources.end());
    m_mapsources.emplace(name, std::move(source));
}

std::shared_ptr<MapSource> MapNamespace::GetMapSource(const TString& name) const {
    const auto found = m_mapsources.find(name);
    return found == m_mapsources.end() ? nullptr : found->second;
}

bool MapNamespace::HasMapSource(const TString& name) const {
    return m_mapsources.find(name) != m_mapsources.end();
}

std::shared_ptr<MapSource> MapNamespace::RemoveMapSource(const TString& name) {
    const auto found = m_mapsources.find(name);
    if (found == m_mapsources.end()) {
        return nullptr;
    }
    std::shared_ptr<MapSource> removed = std::move(found->second);
    m_mapsources.erase(found);
    return removed;
}

void MapNamespace::RemoveAllMapSources() {
    m_mapsources.clear();
}
