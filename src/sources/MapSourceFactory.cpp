#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/host/LumivexException.h>

namespace {
constexpr std::uint32_t kMissingNameSite = 0xD323EEA7;
}

std::shared_ptr<MapSource> MapSourceFactory(const AttributeMap& attributes) {
    AttributeMap providerAttributes = attributes;
    const TString nameKey = TStr(MapSource::attrName);
    const auto nameEntry = providerAttributes.find(nameKey);
    if (nameEntry == providerAttributes.end()) {
        throw MapProviderException(MapProviderException::eMissingSourceName, nameKey,
                                   MapProviderException::Site(kMissingNameSite));
    }
    const TString name = nameEntry->second;
    providerAttributes.erase(nameEntry);
    std::shared_ptr<MapProvider> provider = MapProvider::Create(providerAttributes);
    const std::shared_ptr<MapSource> ms = std::make_shared<MapSource>(name, std::move(provider));
    LMX_LOGIC_ASSERT(ms.get());
    return ms;
}
