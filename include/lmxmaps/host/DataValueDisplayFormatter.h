#pragma once
// Numbers of the data as the user's language writes them: its decimal point and thousands
// separator, with a fixed number of decimals.

#include <QLocale>

#include <lmxmaps/host/DataValue.h>
#include <lmxmaps/host/LanguageCode.h>

class DataValueDisplayFormatter {
public:
    // An empty language formats as American English. precision: decimals shown (at least 0).
    DataValueDisplayFormatter(const LanguageCode& language, int precision,
                              bool groupThousands = true);

    // NaN and infinities as the locale writes them.
    TString Format(double value) const;
    // A special value (null) as an empty string; a string as it is.
    TString Format(const DataValue& value) const;

    int GetPrecision() const { return m_precision; }
    const QLocale& GetLocale() const { return m_locale; }

private:
    QLocale m_locale;
    int m_precision;
};
