#pragma once
// Which attributes of a map source identify its connection (the required filter) and which must
// never reach a cache key or a log (the secure filter), per provider class. A class without a
// filter of its own uses the default one (registered under the empty name); without either,
// the required filter drops "offline" and the secure filter drops "password".

#include <functional>

#include <lmxmaps/host/TString.h>

class MapConnectionAttributes {
public:
    using Filter = std::function<void(AttributeMap&)>;

    // An empty class name registers the default filter. A later registration replaces an
    // earlier one.
    static void RegisterRequiredAttributeFilter(const TString& className, Filter filter);
    static void RegisterSecureAttributeFilter(const TString& className, Filter filter);

    // Apply the filter for the map's "class" to the map itself.
    static void FilterRequiredAttributes(AttributeMap& attributes);
    static void FilterSecureAttributes(AttributeMap& attributes);
};
