#pragma once
// The host runtime's value layer, as far as the maps module uses it: values kept in the
// runtime's store, external value types (values of a type the runtime does not know, with the
// serialization their owner registers) and the byte views they travel in.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <lmxmaps/host/TString.h>

namespace lrt::core {

using ByteArray = std::vector<std::uint8_t>;
using ArrayView = std::span<const std::uint8_t>;

// A value held in the runtime's store.
class StoreValue {
public:
    StoreValue() = default;
    StoreValue(const StoreValue&) = default;
    StoreValue& operator=(const StoreValue&) = default;
    virtual ~StoreValue() = default;
};

// A value of an external type, named by the type's registered name.
class ValueExternal : public StoreValue {
public:
    explicit ValueExternal(std::string externalTypeName);

    const std::string& GetExternalTypeName() const { return m_externalTypeName; }

    virtual std::shared_ptr<ValueExternal> Clone() const = 0;
    virtual bool IsEqual(const ValueExternal& other) const = 0;
    virtual std::size_t GetHashValue() const = 0;

private:
    std::string m_externalTypeName;
};

using ExternalTypeCode = std::uint32_t;
using SerializeFunction = std::function<ByteArray(const ValueExternal&)>;
using DeserializeFunction = std::function<std::shared_ptr<ValueExternal>(ArrayView)>;

struct ExternalType {
    ExternalTypeCode code = 0;
    std::string name;
    SerializeFunction serialize;
    DeserializeFunction deserialize;
};

// Registers a type, or replaces the functions of one registered with the same code and name.
// Raises std::invalid_argument when the code or the name is already taken by another type.
void RegisterExternalType(ExternalTypeCode code, const std::string& name,
                          SerializeFunction serialize, DeserializeFunction deserialize);
std::optional<ExternalType> FindExternalType(ExternalTypeCode code);
std::optional<ExternalType> FindExternalType(const std::string& name);

// Bytes read as UTF-8 text.
TString DecodeBytesAsString(ArrayView bytes);

} // namespace lrt::core
