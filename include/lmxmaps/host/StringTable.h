#pragma once
// Localized user-facing strings, looked up by numeric id. The table holds English texts;
// an id missing from the table yields a visible placeholder naming the id.

#include <cstdint>
#include <type_traits>

#include <lmxmaps/host/TString.h>

using StringId = std::uint32_t;

TString LookupTStr(StringId id);

// The string for id with %1, %2, ... replaced in one pass (a replaced text containing %n
// is left alone).
namespace StringTableDetail {
inline TString FormatArg(const TString& text) {
    return text;
}
inline TString FormatArg(const char16_t* text) {
    return TString::fromUtf16(text);
}
template <class Number>
requires std::is_arithmetic_v<Number> TString FormatArg(Number number) {
    return TString::number(number);
}
} // namespace StringTableDetail

template <class... Args>
requires(sizeof...(Args) > 0) TString LookupTFmtStr(StringId id, const Args&... args) {
    return LookupTStr(id).arg(StringTableDetail::FormatArg(args)...);
}

// Whether the table has a text for id.
bool HasTStr(StringId id);
