#include <QRegularExpression>
#include <QStringList>

#include <lmxmaps/host/net/HttpDate.h>

namespace {

// An RFC 850 date's two-digit year lies at most this far in the future.
constexpr int kTwoDigitYearHorizon = 50;
constexpr int kYearsPerCentury = 100;

int MonthNumber(const TString& name) {
    static const QStringList months = {
        QStringLiteral("jan"), QStringLiteral("feb"), QStringLiteral("mar"), QStringLiteral("apr"),
        QStringLiteral("may"), QStringLiteral("jun"), QStringLiteral("jul"), QStringLiteral("aug"),
        QStringLiteral("sep"), QStringLiteral("oct"), QStringLiteral("nov"), QStringLiteral("dec")};
    return static_cast<int>(months.indexOf(name.toLower())) + 1;
}

QDateTime UtcDateTime(int year, const TString& month, int day, const QRegularExpressionMatch& match,
                      int hourGroup) {
    return QDateTime(QDate(year, MonthNumber(month), day),
                     QTime(match.captured(hourGroup).toInt(), match.captured(hourGroup + 1).toInt(),
                           match.captured(hourGroup + 2).toInt()),
                     Qt::UTC);
}

} // namespace

namespace HttpDate {

QDateTime Parse(const TString& text, const QDateTime& now) {
    static const QRegularExpression imfFixdate(QStringLiteral(
        "^[A-Za-z]{3}, (\\d{2}) ([A-Za-z]{3}) (\\d{4}) (\\d{2}):(\\d{2}):(\\d{2}) GMT$"));
    static const QRegularExpression rfc850(QStringLiteral(
        "^[A-Za-z]+, (\\d{2})-([A-Za-z]{3})-(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2}) GMT$"));
    static const QRegularExpression asctime(QStringLiteral(
        "^[A-Za-z]{3} ([A-Za-z]{3}) ([ \\d]\\d) (\\d{2}):(\\d{2}):(\\d{2}) (\\d{4})$"));
    const TString trimmed = text.trimmed();
    if (const auto match = imfFixdate.match(trimmed); match.hasMatch()) {
        return UtcDateTime(match.captured(3).toInt(), match.captured(2), match.captured(1).toInt(),
                           match, 4);
    }
    if (const auto match = rfc850.match(trimmed); match.hasMatch()) {
        const int thisYear = now.date().year();
        int year = thisYear / kYearsPerCentury * kYearsPerCentury + match.captured(3).toInt();
        if (year > thisYear + kTwoDigitYearHorizon) {
            year -= kYearsPerCentury;
        }
        return UtcDateTime(year, match.captured(2), match.captured(1).toInt(), match, 4);
    }
    if (const auto match = asctime.match(trimmed); match.hasMatch()) {
        return UtcDateTime(match.captured(6).toInt(), match.captured(1),
                           match.captured(2).trimmed().toInt(), match, 3);
    }
    return {};
}

} // namespace HttpDate
