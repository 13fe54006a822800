#pragma once
// Reading the change log: batches, their entries, and the rows that inserts
// and deletes keep as JSON objects. The same on the file and on the server
// (LogDb).
#include "data/changes/LogDb.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>
#include <optional>

namespace dravon {

class Connection;

// A batch as the log keeps it.
struct BatchInfo
{
    qint64 id = 0;
    QString action;
    QString window;
    QString description;
    QString user;  // empty for a write of another program
    QString time;  // yyyy-MM-dd HH:mm:ss
    qint64 undoOf = 0;
    qint64 undoneBy = 0;
};

// One log entry: a row inserted or deleted, or one column of a row updated.
// On the server the key and the values come back as text.
struct LogEntry
{
    qint64 id = 0;
    qint64 batch = 0;  // 0 for a write of another program
    QString table;
    QVariant key;
    QChar operation;   // 'I', 'U' or 'D'
    QString field;     // the column an update changed
    QVariant oldValue;
    QVariant newValue;
    qint64 undoneBy = 0;
};

// A row kept by an insert or delete entry: its columns in the table's order
// with their values as they were stored (a byte string as a QByteArray; as
// text on the server).
using LoggedRow = QList<QPair<QString, QVariant>>;
LoggedRow decodeRow(LogDb &db, const QString &table, const QVariant &json);

std::optional<BatchInfo> readBatch(LogDb &db, qint64 id);
// The batch's entries in the order they were made.
QList<LogEntry> batchEntries(LogDb &db, qint64 batch);
// True when the batch changed any row.
bool batchHasEntries(LogDb &db, qint64 batch);

// "成绩记录 123" / "学生记录 2007001".
QString rowText(const QString &table, const QVariant &key);

}
