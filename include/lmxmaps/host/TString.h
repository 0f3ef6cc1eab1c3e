#pragma once
// The host string: UTF-16 with %1-style formatting (QString::arg).

#include <QString>
#include <QStringList>
#include <string>
#include <unordered_map>
#include <vector>

using TString = QString;
using TStringCore = QString;
// A message with %1, %2, ... placeholders, filled in one pass by QString::arg.
using TFormatString = QString;

// An attribute set: map sources, providers, connections and layers are configured by one.
using AttributeMap = std::unordered_map<TString, TString>;

// A host string from a UTF-16 literal (u"..."), the form attribute-key constants take.
inline TString TStr(const char16_t* text) {
    return TString::fromUtf16(text);
}

// Fills a format string in one pass: "%%" is a literal percent sign and %1 to %9 take the
// arguments (a placeholder without an argument stays as it is). Unlike chained QString::arg,
// text inside the arguments is never taken for a placeholder.
TString FormatPlaceholders(const TFormatString& format, const std::vector<TString>& arguments);

// UTF-8 bytes of a host string, for the C and C++ libraries underneath.
inline std::string ToUtf8(const TString& text) {
    return text.toStdString();
}

inline TString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}
