#include <map>
#include <mutex>
#include <utility>

#include <lmxmaps/host/ObjectFactory.h>
#include <lmxmaps/host/Styles.h>

namespace {

using Key = std::pair<TString, TString>;

struct CreatorRegistry {
    std::mutex mutex;
    std::map<Key, ObjectFactoryUtils::Creator> creators{
        {{QStringLiteral("LmxData"), QStringLiteral("StylesID")},
         [] {
             return RefCntPtr<RefCntObject>(new StyleSet());
         }},
    };
};

CreatorRegistry& TheRegistry() {
    static CreatorRegistry registry;
    return registry;
}

} // namespace

namespace ObjectFactoryUtils {

RefCntPtr<RefCntObject> CreateObject(const TString& library, const TString& id) {
    Creator creator;
    {
        CreatorRegistry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        const auto found = registry.creators.find({library, id});
        if (found == registry.creators.end()) {
            return nullptr;
        }
        creator = found->second;
    }
    // Outside the lock: a creator may itself create objects.
    return creator();
}

void RegisterCreator(const TString& library, const TString& id, Creator creator) {
    CreatorRegistry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (creator) {
        registry.creators[{library, id}] = std::move(creator);
    } else {
        registry.creators.erase({library, id});
    }
}

} // namespace ObjectFactoryUtils
