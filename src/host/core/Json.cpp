#include "host/core/Json.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <string_view>

namespace Json {

namespace {

std::string_view NameView(const rapidjson::Value::Member& member) {
    return {member.name.GetString(), member.name.GetStringLength()};
}

[[noreturn]] void ThrowKind(const char* expected, const rapidjson::Value& found) {
    throw TypeError(std::string("expected ") + expected + ", found " + KindName(found));
}

// Deeper documents are refused: writing and walking a document recurse once per level, and
// no map document comes near this.
constexpr int kMaxNestingDepth = 512;

bool NestsTooDeep(const QByteArray& utf8) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : utf8) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxNestingDepth) {
                return true;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

// Hands RapidJSON's parse events to a document, but reads numbers itself, exactly: RapidJSON
// 1.1.0 reads long numbers a unit in the last place off ("123.45678901234567"), and its exact
// mode passes zero to clz() for a zero with a large exponent ("0e308").
class ExactNumbers {
public:
    explicit ExactNumbers(rapidjson::Document& document) : m_document(document) {}

    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        const char* const end = text + length;
        if (std::string_view(text, length).find_first_of(".eE") == std::string_view::npos) {
            if (*text == '-') {
                std::int64_t integer = 0;
                if (std::from_chars(text, end, integer) == std::from_chars_result{end, {}}) {
                    return m_document.Int64(integer);
                }
            } else {
                std::uint64_t integer = 0;
                if (std::from_chars(text, end, integer) == std::from_chars_result{end, {}}) {
                    return m_document.Uint64(integer);
                }
            }
        }
        double number = 0;
        const std::from_chars_result read = std::from_chars(text, end, number);
        if (read.ec == std::errc() && read.ptr == end) {
            return m_document.Double(number);
        }
        // Out of a double's range: a number too small to tell from zero becomes zero (or the
        // nearest subnormal), one too large refuses the document.
        long double wide = 0;
        if (std::from_chars(text, end, wide).ec != std::errc() || std::fabs(wide) > DBL_MAX) {
            return false;
        }
        return m_document.Double(static_cast<double>(wide));
    }
    bool Null() { return m_document.Null(); }
    bool Bool(bool value) { return m_document.Bool(value); }
    bool Int(int value) { return m_document.Int(value); }
    bool Uint(unsigned value) { return m_document.Uint(value); }
    bool Int64(std::int64_t value) { return m_document.Int64(value); }
    bool Uint64(std::uint64_t value) { return m_document.Uint64(value); }
    bool Double(double value) { return m_document.Double(value); }
    bool String(const char* text, rapidjson::SizeType length, bool copy) {
        return m_document.String(text, length, copy);
    }
    bool StartObject() { return m_document.StartObject(); }
    bool Key(const char* text, rapidjson::SizeType length, bool copy) {
        return m_document.Key(text, length, copy);
    }
    bool EndObject(rapidjson::SizeType members) { return m_document.EndObject(members); }
    bool StartArray() { return m_document.StartArray(); }
    bool EndArray(rapidjson::SizeType elements) { return m_document.EndArray(elements); }

private:
    rapidjson::Document& m_document;
};

const rapidjson::Value& Null() {
    static const rapidjson::Value null;
    return null;
}

} // namespace

bool Parse(const QByteArray& utf8, rapidjson::Document& document) {
    if (NestsTooDeep(utf8)) {
        document.SetNull();
        return false;
    }
    // Numbers come as text and are read here; iterative, so that parsing does not recurse.
    constexpr unsigned kFlags =
        rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag;
    rapidjson::MemoryStream bytes(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> stream(bytes);
    bool parsed = false;
    auto build = [&](rapidjson::Document& target) {
        ExactNumbers handler(target);
        rapidjson::Reader reader;
        parsed = !reader.Parse<kFlags>(stream, handler).IsError();
        return parsed;
    };
    document.Populate(build);
    if (!parsed) {
        document.SetNull();
    }
    return parsed;
}

std::vector<const rapidjson::Value::Member*> SortedMembers(const rapidjson::Value& object) {
    std::vector<const rapidjson::Value::Member*> members;
    if (!object.IsObject()) {
        return members;
    }
    members.reserve(object.MemberCount());
    for (const auto& member : object.GetObject()) {
        members.push_back(&member);
    }
    // Unsigned bytes: UTF-8 then sorts by code point.
    std::stable_sort(members.begin(), members.end(), [](const auto* a, const auto* b) {
        const std::string_view left = NameView(*a);
        const std::string_view right = NameView(*b);
        return std::lexicographical_compare(
            left.begin(), left.end(), right.begin(), right.end(), [](char x, char y) {
                return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
            });
    });
    return members;
}

const rapidjson::Value* Find(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject()) {
        return nullptr;
    }
    const auto found = object.FindMember(name);
    return found == object.MemberEnd() ? nullptr : &found->value;
}

TString FindString(const rapidjson::Value& object, const char* name) {
    const rapidjson::Value* value = Find(object, name);
    return value != nullptr && value->IsString() ? ToTString(*value) : TString();
}

TString ToTString(const rapidjson::Value& string) {
    return QString::fromUtf8(string.GetString(), static_cast<int>(string.GetStringLength()));
}

TString NameOf(const rapidjson::Value::Member& member) {
    return ToTString(member.name);
}

std::string Write(const rapidjson::Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return {buffer.GetString(), buffer.GetSize()};
}

QVariant ToVariant(const rapidjson::Value& value) {
    switch (value.GetType()) {
    case rapidjson::kNullType:
        return QVariant();
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
        return value.GetBool();
    case rapidjson::kObjectType: {
        QVariantMap map;
        for (const auto& member : value.GetObject()) {
            map.insert(NameOf(member), ToVariant(member.value));
        }
        return map;
    }
    case rapidjson::kArrayType: {
        QVariantList list;
        list.reserve(static_cast<int>(value.Size()));
        for (const rapidjson::Value& item : value.GetArray()) {
            list.append(ToVariant(item));
        }
        return list;
    }
    case rapidjson::kStringType:
        return ToTString(value);
    case rapidjson::kNumberType:
        if (value.IsInt64()) {
            return static_cast<qlonglong>(value.GetInt64());
        }
        if (value.IsUint64()) {
            return static_cast<qulonglong>(value.GetUint64());
        }
        return value.GetDouble();
    }
    return QVariant();
}

const char* KindName(const rapidjson::Value& value) {
    switch (value.GetType()) {
    case rapidjson::kNullType:
        return "null";
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
        return "boolean";
    case rapidjson::kObjectType:
        return "object";
    case rapidjson::kArrayType:
        return "array";
    case rapidjson::kStringType:
        return "string";
    case rapidjson::kNumberType:
        return "number";
    }
    return "unknown";
}

const rapidjson::Value& Member(const rapidjson::Value& object, const char* name) {
    const rapidjson::Value* value = Find(RequireObject(object), name);
    return value != nullptr ? *value : Null();
}

const rapidjson::Value& RequireObject(const rapidjson::Value& value) {
    if (!value.IsObject()) {
        ThrowKind("object", value);
    }
    return value;
}

const rapidjson::Value& RequireArray(const rapidjson::Value& value) {
    if (!value.IsArray()) {
        ThrowKind("array", value);
    }
    return value;
}

double RequireNumber(const rapidjson::Value& value) {
    if (!value.IsNumber()) {
        ThrowKind("number", value);
    }
    return value.GetDouble();
}

TString RequireString(const rapidjson::Value& value) {
    if (!value.IsString()) {
        ThrowKind("string", value);
    }
    return ToTString(value);
}

} // namespace Json
