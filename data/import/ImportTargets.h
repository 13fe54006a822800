#pragma once
// The tables a file can be imported into, as the import sees them: each
// column with its caption and the other header texts that name it, the
// master table it refers to, the key that matches existing rows, and the
// columns that match record rows by default.
#include <QList>
#include <QString>
#include <QStringList>

namespace importing {

struct TargetField
{
    QString name;          // the column
    QString caption;       // its caption in the program's windows
    QStringList aliases;   // other header texts that name it
    QString refTable;      // the master table whose number it holds, if any
};

struct ImportTarget
{
    QString table;
    QString caption;        // the window that keeps the table
    QString noun;           // what one row is ("学生", "成绩记录")
    QList<TargetField> fields;
    QString keyField;       // master tables: the identifier; empty for record tables
    QString nameField;      // master tables: the name a reference may use instead of the number
    QString seed;           // master tables: the first identifier in an empty table
    QStringList defaultMatch;  // record tables: the columns that find an existing row

    bool isMaster() const { return !keyField.isEmpty(); }
    int fieldIndex(const QString &name) const;
    const TargetField *field(const QString &name) const;
};

// The tables in the order the wizard offers them (the user accounts are not
// among them: they hold passwords and are kept one by one).
const QList<ImportTarget> &importTargets();
const ImportTarget *findTarget(const QString &table);

// A header text as headers are compared: blanks, colons and case left out.
QString headerKey(const QString &text);

}
