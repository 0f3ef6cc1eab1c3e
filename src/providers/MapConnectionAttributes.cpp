#include <map>
#include <mutex>

#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapSourceAttributes.h>

namespace {

class FilterRegistry {
public:
    explicit FilterRegistry(const char16_t* attributeRemovedWithoutFilter)
        : m_fallbackKey(TString::fromUtf16(attributeRemovedWithoutFilter)) {}

    void Register(const TString& className, MapConnectionAttributes::Filter filter) {
        std::lock_guard lock(m_mutex);
        m_filters[className] = std::move(filter);
    }

    void Apply(AttributeMap& attributes) const {
        const auto classEntry =
            attributes.find(TString::fromUtf16(MapSourceAttributeKeys::attrClass));
        const TString className = classEntry == attributes.end() ? TString() : classEntry->second;
        MapConnectionAttributes::Filter filter = Find(className);
        if (filter) {
            filter(attributes);
        } else {
            attributes.erase(m_fallbackKey);
        }
    }

private:
    // A copy, so the filter runs outside the lock and may itself consult the registry.
    MapConnectionAttributes::Filter Find(const TString& className) const {
        std::lock_guard lock(m_mutex);
        auto found = m_filters.find(className);
        if (found == m_filters.end()) {
            found = m_filters.find(TString());
        }
        return found == m_filters.end() ? MapConnectionAttributes::Filter() : found->second;
    }

    TString m_fallbackKey;
    mutable std::mutex m_mutex;
    std::map<TString, MapConnectionAttributes::Filter> m_filters;
};

FilterRegistry& RequiredFilters() {
    static FilterRegistry registry(MapSourceAttributeKeys::attrOffline);
    return registry;
}

FilterRegistry& SecureFilters() {
    static FilterRegistry registry(MapSourceAttributeKeys::attrPassword);
    return registry;
}

} // namespace

void MapConnectionAttributes::RegisterRequiredAttributeFilter(const TString& className,
                                                              Filter filter) {
    RequiredFilters().Register(className, std::move(filter));
}

void MapConnectionAttributes::RegisterSecureAttributeFilter(const TString& className,
                                                            Filter filter) {
    SecureFilters().Register(className, std::move(filter));
}

void MapConnectionAttributes::FilterRequiredAttributes(AttributeMap& attributes) {
    RequiredFilters().Apply(attributes);
}

void MapConnectionAttributes::FilterSecureAttributes(AttributeMap& attributes) {
    SecureFilters().Apply(attributes);
}
