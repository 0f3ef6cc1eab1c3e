#pragma once
// A document's map sources, keyed by name. Lookups ignore case; each entry keeps the name as
// spelled when it was added. Not thread-safe: a document uses its
// namespace from one thread at a time.

#include <map>
#include <memory>

#include <lmxmaps/MapSource.h>

class MapNamespace {
public:
    // Orders names by their default Unicode case folding.
    struct CaseInsensitiveMatch {
        bool operator()(const TString& a, const TString& b) const;
    };
    using MapSources = std::map<TString, std::shared_ptr<MapSource>, CaseInsensitiveMatch>;

    MapNamespace() = default;
    // Shallow: the copy shares the sources.
    MapNamespace(const MapNamespace& other) = default;
    MapNamespace& operator=(const MapNamespace& other);
    virtual ~MapNamespace();

    // Deep: every source is copied (see the MapSource copy constructor).
    std::unique_ptr<MapNamespace> Clone() const;

    // LogicException when a source of that name (in any case) is there already.
    void AddMapSource(std::shared_ptr<MapSource> source);
    // Null when absent.
    std::shared_ptr<MapSource> GetMapSource(const TString& name) const;
    bool HasMapSource(const TString& name) const;
    // The removed source; null when absent.
    std::shared_ptr<MapSource> RemoveMapSource(const TString& name);
    void RemoveAllMapSources();
    const MapSources& GetMapSources() const { return m_mapsources; }

private:
    MapSources m_mapsources;
};
