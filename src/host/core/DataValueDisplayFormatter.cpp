#include <algorithm>

#include <lmxmaps/host/DataValueDisplayFormatter.h>

namespace {

QLocale LocaleOf(const LanguageCode& language) {
    if (language.IsEmpty()) {
        return QLocale(QLocale::English, QLocale::UnitedStates);
    }
    TString name = language.GetShortLanguageCode();
    if (!language.GetRegion().isEmpty()) {
        name += u'_' + language.GetRegion();
    }
    return QLocale(name);
}

} // namespace

DataValueDisplayFormatter::DataValueDisplayFormatter(const LanguageCode& language, int precision,
                                                     bool groupThousands)
    : m_locale(LocaleOf(language)), m_precision(std::max(precision, 0)) {
    m_locale.setNumberOptions(groupThousands ? QLocale::DefaultNumberOptions
                                             : QLocale::OmitGroupSeparator);
}

TString DataValueDisplayFormatter::Format(double value) const {
    return m_locale.toString(value, 'f', m_precision);
}

TString DataValueDisplayFormatter::Format(const DataValue& value) const {
    if (value.IsSpecial()) {
        return TString();
    }
    if (value.GetDataType() == DataType::Real) {
        return Format(value.GetReal());
    }
    return value.GetString();
}
