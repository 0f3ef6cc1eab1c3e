#pragma once
// Reading JSON with RapidJSON the way the module's document readers need it: members in key
// order where a reader must see objects as sorted maps, and typed access whose failures name
// the expected and the found kind.

#include <QByteArray>
#include <QVariant>
#include <rapidjson/document.h>
#include <stdexcept>
#include <string>
#include <vector>

#include <lmxmaps/host/TString.h>

namespace Json {

// A value of the wrong kind where a reader needed another one.
class TypeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses UTF-8 text in place of document's contents; false when it is not JSON.
bool Parse(const QByteArray& utf8, rapidjson::Document& document);

// The members of an object ordered by name (by code point, as the UTF-8 bytes compare); empty
// for a value that is not an object.
std::vector<const rapidjson::Value::Member*> SortedMembers(const rapidjson::Value& object);

// The member's value; null when value is not an object or has no such member.
const rapidjson::Value* Find(const rapidjson::Value& object, const char* name);
// The member's string; empty when it is absent or not a string.
TString FindString(const rapidjson::Value& object, const char* name);

TString ToTString(const rapidjson::Value& string);
TString NameOf(const rapidjson::Value::Member& member);
// Compact JSON text.
std::string Write(const rapidjson::Value& value);

// The value as Qt holds JSON: objects as QVariantMap, arrays as QVariantList, integers as
// qlonglong (or qulonglong), other numbers as double; null as an invalid QVariant.
QVariant ToVariant(const rapidjson::Value& value);

// "null", "boolean", "object", "array", "string" or "number".
const char* KindName(const rapidjson::Value& value);

// Strict access: a missing member reads as null; a value of another kind raises TypeError
// ("expected number, found string").
const rapidjson::Value& Member(const rapidjson::Value& object, const char* name);
const rapidjson::Value& RequireObject(const rapidjson::Value& value);
const rapidjson::Value& RequireArray(const rapidjson::Value& value);
// An integer or a real, as a double.
double RequireNumber(const rapidjson::Value& value);
TString RequireString(const rapidjson::Value& value);

} // namespace Json
