#pragma once
// Statement texts: quoting user values, and reading the program's SQL for SQLite.
#include <QString>

namespace dravon {

// A user's value as a quoted text literal: enclosed in single quotes, each
// single quote inside doubled.
QString QuotedStr(const QString &value);

// Rewrites date literals written between "#" signs in the short date format
// into ISO text literals; quoted texts and bracketed names are left alone.
// Throws dravon::Error for a date it cannot read.
QString translateSql(const QString &sql);

// "SELECT * FROM <table> [WHERE <condition>]": the one statement form whose
// record set writes through to its table.
struct PlainSelect
{
    bool matches = false;
    QString table;      // without brackets
    QString condition;  // empty when there is no WHERE clause
};
PlainSelect parsePlainSelect(const QString &sql);

// A table name written for SQLite: "[User]" -> "\"User\"".
QString quotedIdentifier(const QString &name);

}
