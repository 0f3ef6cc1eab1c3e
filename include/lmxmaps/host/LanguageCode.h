#pragma once
// A user language: a lower-case language code with an optional upper-case region.
//
// "de_DE", "de-de" and "DE-DE" all read as de-DE; its ISO string is "de-DE" and its short
// code "de". A code without a region ("fr") has the ISO string "fr".

#include <lmxmaps/host/TString.h>

class LanguageCode {
public:
    LanguageCode() = default;
    explicit LanguageCode(const TString& code);

    TString GetISOString() const;
    TString GetShortLanguageCode() const { return m_language; }
    TString GetRegion() const { return m_region; }
    bool IsEmpty() const { return m_language.isEmpty(); }

    bool operator==(const LanguageCode&) const = default;

private:
    TString m_language;
    TString m_region;
};
