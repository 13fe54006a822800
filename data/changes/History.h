#pragma once
// What the change log tells about rows: the history of one row, and the
// statement the recycle bin lists a table's deleted rows with.
#include <QList>
#include <QString>
#include <QVariant>

#include "data/Dialect.h"
#include "data/RowSource.h"

namespace dravon {

class Connection;

// One changed column of a row at one time. An insert or a delete gives a line
// for each column that held a value.
struct HistoryLine
{
    QString time;    // yyyy-MM-dd HH:mm:ss
    QString user;    // the user number; empty for a write of another program
    bool otherProgram = false;
    QString action;  // the batch's action (保存, 删除, 撤销...)
    QChar operation; // 'I', 'U' or 'D'
    QString field;
    QVariant oldValue;
    QVariant newValue;
    bool hidden = false;  // a password: changed, its values not kept
};

// The row's history, oldest first.
QList<HistoryLine> rowHistory(Connection &connection, const QString &table, const QVariant &key);

// The deleted rows of the table still in the recycle bin, latest first:
// ChangeID, DeletedAt, UserID, Action, RowKey, then the table's columns.
// Read through the table's own index of deletes, so a long log is not read.
QString recycleBinSql(const QString &table, Engine engine = Engine::Sqlite);
// The columns of a table with their types, as the database declares them.
QVector<Field> tableFields(Connection &connection, const QString &table);
// The table of the latest delete still in the recycle bin; empty when it is empty.
QString latestDeletedTable(Connection &connection);

}
