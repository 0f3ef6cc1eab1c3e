#pragma once
// The host's object factory: makes objects by the library that provides them and a class id.
// ("LmxData", "StylesID") makes a new StyleSet unless the host installs its own creator.

#include <functional>

#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/TString.h>

namespace ObjectFactoryUtils {

using Creator = std::function<RefCntPtr<RefCntObject>()>;

// A new object, or null when nothing is registered for the pair.
RefCntPtr<RefCntObject> CreateObject(const TString& library, const TString& id);

// Installs or replaces the creator for the pair; an empty creator removes it.
void RegisterCreator(const TString& library, const TString& id, Creator creator);

} // namespace ObjectFactoryUtils
