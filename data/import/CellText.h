#pragma once
// What a cell's text means, the same for every kind of file: spreadsheet
// serial dates, numbers written as spreadsheets write them, full-width digits
// and blanks typed by an input method.
#include <QDate>
#include <QString>

namespace importing {

// The day of a spreadsheet's serial date. The 1900 system counts the
// nonexistent 29 February 1900 as day 60 (an invalid date is returned for
// it); the 1904 system counts from 1 January 1904.
QDate excelSerialDate(double serial, bool date1904);

// A number as a spreadsheet shows it in General format: whole numbers without
// a decimal point, others with up to 15 significant digits.
QString numberText(double value);

// Surrounding blanks (also the ideographic space and no-break space) cut off,
// full-width digits made ASCII.
QString normalizedCell(const QString &text);
// For numbers, dates and identifiers also the full-width signs . - + / :.
QString normalizedNumeric(const QString &text);

// A date written "2024-09-01", "2024/9/1", "2024.9.1", "2024年9月1日" (a time
// after it is ignored), in the short date format, or as a 1900-system serial
// number; an invalid date otherwise.
QDate readDate(const QString &text);

// A date as the date columns store it: "2024-09-01".
QString isoDateText(const QDate &date);

}
