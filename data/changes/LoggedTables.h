#pragma once
// The program's tables as the change log knows them: each one's key column,
// its columns in order, the name a clerk knows it by ("成绩"), and which of
// its columns name a row of another table.
#include <QString>
#include <QStringList>

namespace dravon {

struct LoggedTable
{
    QString name;     // "Score"
    QString caption;  // "成绩"
    QString key;      // "Id" for record tables, the identifier of a master table
    QStringList columns;  // every column but the row key Id, in order
    bool recordTable() const { return key == QLatin1String("Id"); }
};

// The thirteen tables whose changes are logged, master tables first.
const QList<LoggedTable> &loggedTables();
// The table of that name (any letter case); nullptr for another name.
const LoggedTable *loggedTable(const QString &name);

// "200 条成绩记录"; a table the log does not know gives "200 条记录".
QString recordsText(const QString &table, qint64 count);

// The master table whose key a column holds ("ClassID" -> "ClassInfo"), or
// empty. A table's own key does not refer to itself.
QString referencedTable(const QString &table, const QString &column);

// A column whose values the log never holds (the accounts' passwords).
bool isSecretColumn(const QString &table, const QString &column);

}
