#include <map>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>

#include <lmxmaps/host/RuntimeValue.h>

namespace lrt::core {

namespace {

// External types by code; registered at start-up, looked up from any thread.
class ExternalTypeRegistry {
public:
    static ExternalTypeRegistry& Get() {
        static ExternalTypeRegistry registry;
        return registry;
    }

    void Register(ExternalType type) {
        std::unique_lock lock(m_mutex);
        const auto byCode = m_types.find(type.code);
        if (byCode != m_types.end() && byCode->second.name != type.name) {
            throw std::invalid_argument("external type code " + std::to_string(type.code) +
                                        " is taken by " + byCode->second.name);
        }
        for (const auto& [code, registered] : m_types) {
            if (registered.name == type.name && code != type.code) {
                throw std::invalid_argument("external type name " + type.name +
                                            " is taken by code " + std::to_string(code));
            }
        }
        m_types[type.code] = std::move(type);
    }

    std::optional<ExternalType> Find(ExternalTypeCode code) const {
        std::shared_lock lock(m_mutex);
        const auto found = m_types.find(code);
        return found == m_types.end() ? std::nullopt : std::optional(found->second);
    }

    std::optional<ExternalType> Find(const std::string& name) const {
        std::shared_lock lock(m_mutex);
        for (const auto& [code, type] : m_types) {
            if (type.name == name) {
                return type;
            }
        }
        return std::nullopt;
    }

private:
    mutable std::shared_mutex m_mutex;
    std::map<ExternalTypeCode, ExternalType> m_types;
};

} // namespace

ValueExternal::ValueExternal(std::string externalTypeName)
    : m_externalTypeName(std::move(externalTypeName)) {}

void RegisterExternalType(ExternalTypeCode code, const std::string& name,
                          SerializeFunction serialize, DeserializeFunction deserialize) {
    ExternalTypeRegistry::Get().Register(
        ExternalType{code, name, std::move(serialize), std::move(deserialize)});
}

std::optional<ExternalType> FindExternalType(ExternalTypeCode code) {
    return ExternalTypeRegistry::Get().Find(code);
}

std::optional<ExternalType> FindExternalType(const std::string& name) {
    return ExternalTypeRegistry::Get().Find(name);
}

TString DecodeBytesAsString(ArrayView bytes) {
    return QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()),
                             static_cast<int>(bytes.size()));
}

} // namespace lrt::core
