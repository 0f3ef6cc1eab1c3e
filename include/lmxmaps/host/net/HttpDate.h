#pragma once
// HTTP dates (Date, Expires, Last-Modified, Retry-After) in the three forms servers send:
// IMF-fixdate "Sun, 06 Nov 1994 08:49:37 GMT", RFC 850 "Sunday, 06-Nov-94 08:49:37 GMT" and
// asctime "Sun Nov  6 08:49:37 1994".

#include <QDateTime>

#include <lmxmaps/host/TString.h>

namespace HttpDate {

// The date in UTC; invalid for anything else. An RFC 850 two-digit year is placed in the
// century that puts it at most 50 years after now.
QDateTime Parse(const TString& text, const QDateTime& now);

} // namespace HttpDate
