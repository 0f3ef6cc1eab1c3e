#pragma once
// The host string: UTF-16 with %1-style formatting (QString::arg).

#include <QString>
#include <QStringList>
#include <string>
#include <unordered_map>

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

// UTF-8 bytes of a host string, for the C and C++ libraries underneath.
inline std::string ToUtf8(const TString& text) {
    return text.toStdString();
}

inline TString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}
