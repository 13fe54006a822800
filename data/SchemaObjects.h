#pragma once
// This program's schema objects: the tables (with their columns and
// definitions), indexes and triggers that the delivered schema builds, and
// the comparison of a database file with them. A file of an earlier version
// is compared once the program's own upgrade has brought it to the current
// version, so every version the program knows is accepted, and nothing else.
#include <QByteArray>
#include <QString>
#include <QStringList>

struct sqlite3;

namespace dbschema {

// The statements that build a current database (data/schema.sql, built into
// the program).
QByteArray schemaScript();

// The objects of the open database db that are not this program's, or that
// it lacks, or whose definition differs, one text for each naming the object
// ("触发器 Wipe", "表 Score 多出列 Extra"); empty when it holds exactly this
// program's objects. Throws dravon::Error when the file cannot be read.
QStringList differences(sqlite3 *db);

// A statement as a list of tokens, so that definitions compare equal however
// they are spaced, commented, quoted or capitalised: names and key words in
// lower case without their quotes, text literals as written.
QStringList sqlTokens(const QString &sql);

}
