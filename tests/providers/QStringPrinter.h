#pragma once
// QStrings in GoogleTest failure messages as their text rather than as bytes.

#include <QString>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
