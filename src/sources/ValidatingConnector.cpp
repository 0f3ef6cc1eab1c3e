#include <lmxmaps/MapSource.h>
#include <lmxmaps/ValidatingConnector.h>
#include <lmxmaps/host/AppConfig.h>
#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/UserCancelException.h>

namespace {
constexpr std::uint32_t kUserCancelSite = 0x5A6C3E91;
}

constinit ValidatingConnector::Registry ValidatingConnector::sMapSourceValidators;

void ValidatingConnector::Registry::Register(const TString& className, Validator validator) {
    std::lock_guard lock(m_mutex);
    if (!m_validators) {
        m_validators = std::make_unique<std::map<TString, Validator>>();
    }
    if (validator) {
        (*m_validators)[className] = std::move(validator);
    } else {
        m_validators->erase(className);
    }
}

bool ValidatingConnector::Registry::IsRegistered(const TString& className) const {
    return static_cast<bool>(Find(className));
}

ValidatingConnector::Validator ValidatingConnector::Registry::Find(const TString& className) const {
    std::lock_guard lock(m_mutex);
    if (!m_validators) {
        return {};
    }
    const auto found = m_validators->find(className);
    return found == m_validators->end() ? Validator() : found->second;
}

std::shared_ptr<MapSource> ValidatingConnector::ValidateMapSource(const MapNamespace& mapNamespace,
                                                                  AttributeMap& attributes,
                                                                  std::shared_ptr<MapSource> source,
                                                                  IAuthenticator* authenticator) {
    LMX_LOGIC_ASSERT(source);
    attributes[TStr(MapSource::attrName)] = source->GetName();
    const std::shared_ptr<MapProvider> provider = source->GetMapProvider();
    const TString className =
        provider ? provider->GetAttribute(MapSourceAttributeKeys::attrClass) : TString();
    // Called outside the registry's lock: validators may connect, ask the user, or register.
    const Validator validator = sMapSourceValidators.Find(className);
    if (!validator) {
        ValidateUnknownMapSource(mapNamespace, attributes, std::move(source), authenticator);
    }
    return validator(mapNamespace, attributes, std::move(source), authenticator);
}

std::shared_ptr<MapSource>
ValidatingConnector::ValidateUnknownMapSource(const MapNamespace&, AttributeMap&,
                                              std::shared_ptr<MapSource> source, IAuthenticator*) {
    const StringId message = AppConfig::IsReader() || AppConfig::IsServer()
                                 ? kUnknownClassCancelReaderText
                                 : kUnknownClassCancelText;
    ThrowUserCancel(LookupTFmtStr(message, source ? source->GetName() : TString()));
}

void ValidatingConnector::ThrowUserCancel(TString message) {
    throw UserCancelException(
        std::move(message),
        TError::AutoGen(QStringLiteral("UserCancelException"), kUserCancelSite));
}
