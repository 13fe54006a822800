#pragma once
// The short date format in which dates are shown, typed and written in "#"
// literals: the system locale's, with a two-digit year widened to four, and
// yyyy/M/d for the C/POSIX locale.
#include <QDate>
#include <QString>

namespace dravon {

QString shortDateFormat();
// Tests may fix the format; empty text returns to the locale's.
void setShortDateFormatForTesting(const QString &format);
QString formatShortDate(const QDate &date);
// A stored ISO date text (yyyy-MM-dd) as shown; a text that is no such date as it is.
QString showIsoDate(const QString &iso);
// Reads a date in the short format, or as parseNumericDate reads it; invalid
// QDate otherwise.
QDate parseShortDate(const QString &text);
// Three numbers with one of "-", "/" or "." between them, padded or not: a
// four-digit year first ("2009-1-13", "2009.01.13"), or last with day and
// month in the order of the given short format ("13.1.2009" for dd.MM.yyyy).
QDate parseNumericDate(const QString &text, const QString &format);

}
