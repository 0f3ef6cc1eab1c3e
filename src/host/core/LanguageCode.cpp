#include <QRegularExpression>

#include <lmxmaps/host/LanguageCode.h>

LanguageCode::LanguageCode(const TString& code) {
    const TString trimmed = code.trimmed();
    const qsizetype separator = trimmed.indexOf(QRegularExpression(QStringLiteral("[-_]")));
    if (separator < 0) {
        m_language = trimmed.toLower();
        return;
    }
    m_language = trimmed.left(separator).toLower();
    m_region = trimmed.mid(separator + 1).toUpper();
}

TString LanguageCode::GetISOString() const {
    return m_region.isEmpty() ? m_language : m_language + u'-' + m_region;
}
