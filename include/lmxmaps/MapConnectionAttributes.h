#pragma once
// Two filters per provider class over a source's attributes: the required filter keeps what
// identifies a connection, the secure filter strips secrets so that they stay out of cache keys
// and logs. Classes without their own use the fallback pair registered under an empty class
// name; with nothing registered, "offline" and "password" respectively are removed.

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
