#include <gtest/gtest.h>
#include <stdexcept>

#include <lmxmaps/host/RuntimeValue.h>

namespace {

using lrt::core::ArrayView;
using lrt::core::ByteArray;
using lrt::core::ValueExternal;

// An external value holding one byte.
class ByteValue : public ValueExternal {
public:
    static constexpr const char* kName = "ByteValue";

    explicit ByteValue(std::uint8_t byte) : ValueExternal(kName), m_byte(byte) {}

    std::shared_ptr<ValueExternal> Clone() const override {
        return std::make_shared<ByteValue>(m_byte);
    }
    bool IsEqual(const ValueExternal& other) const override {
        const auto* bytes = dynamic_cast<const ByteValue*>(&other);
        return bytes != nullptr && bytes->m_byte == m_byte;
    }
    std::size_t GetHashValue() const override { return m_byte; }
    std::uint8_t Byte() const { return m_byte; }

private:
    std::uint8_t m_byte;
};

ByteArray SerializeByte(const ValueExternal& value) {
    return {dynamic_cast<const ByteValue&>(value).Byte()};
}

std::shared_ptr<ValueExternal> DeserializeByte(ArrayView bytes) {
    return bytes.size() == 1 ? std::make_shared<ByteValue>(bytes[0]) : nullptr;
}

} // namespace

TEST(ExternalTypes, RegisteredTypesAreFoundReplacedOrRefusedAndBytesDecodeAsUtf8) {
    constexpr lrt::core::ExternalTypeCode kCode = 0x7101;
    EXPECT_FALSE(lrt::core::FindExternalType(kCode));
    lrt::core::RegisterExternalType(kCode, ByteValue::kName, SerializeByte, DeserializeByte);

    const auto byCode = lrt::core::FindExternalType(kCode);
    ASSERT_TRUE(byCode);
    EXPECT_EQ(byCode->name, ByteValue::kName);
    const auto byName = lrt::core::FindExternalType(std::string(ByteValue::kName));
    ASSERT_TRUE(byName);
    EXPECT_EQ(byName->code, kCode);

    // The registered functions carry a value through bytes and back.
    const ByteValue value(42);
    const ByteArray bytes = byName->serialize(value);
    const std::shared_ptr<ValueExternal> back = byCode->deserialize(bytes);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->IsEqual(value));
    EXPECT_EQ(back->GetExternalTypeName(), ByteValue::kName);
    EXPECT_FALSE(lrt::core::FindExternalType(std::string("NoSuchType")));

    constexpr lrt::core::ExternalTypeCode kOtherCode = 0x7201;
    lrt::core::RegisterExternalType(kOtherCode, "Replaced", SerializeByte, DeserializeByte);
    lrt::core::RegisterExternalType(kOtherCode, "Replaced", SerializeByte, nullptr);
    EXPECT_FALSE(lrt::core::FindExternalType(kOtherCode)->deserialize);

    EXPECT_THROW(
        lrt::core::RegisterExternalType(kOtherCode, "Other", SerializeByte, DeserializeByte),
        std::invalid_argument);
    EXPECT_THROW(
        lrt::core::RegisterExternalType(kOtherCode + 1, "Replaced", SerializeByte, DeserializeByte),
        std::invalid_argument);
    EXPECT_FALSE(lrt::core::FindExternalType(kOtherCode + 1));

    const ByteArray text{'Z', 0xC3, 0xBC, 'r', 'i', 'c', 'h'};
    EXPECT_EQ(lrt::core::DecodeBytesAsString(text), QStringLiteral("Zürich"));
    EXPECT_TRUE(lrt::core::DecodeBytesAsString(ArrayView()).isEmpty());
}
