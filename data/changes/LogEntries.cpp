#include "data/changes/LogEntries.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/RowSource.h"
#include "data/changes/LoggedTables.h"

#include <sqlite3.h>

namespace dravon {

namespace {

// The ChangeID range [first, bound) in which a batch's entries lie: from its
// first change to the next batch's first change.
QPair<qint64, qint64> entryRange(sqlite3 *db, qint64 batch)
{
    Statement s;
    s.prepare(db, QStringLiteral("SELECT FirstChange, (SELECT FirstChange FROM ChangeBatch WHERE BatchID > ?1 "
                                 "ORDER BY BatchID LIMIT 1) FROM ChangeBatch WHERE BatchID = ?1"));
    s.bind(1, batch);
    if (!s.step())
        return {0, 0};
    const QVariant bound = s.value(1);
    return {s.int64(0), bound.isNull() ? std::numeric_limits<qint64>::max() : bound.toLongLong()};
}

}

sqlite3 *logHandle(Connection &connection)
{
    auto *db = static_cast<sqlite3 *>(connection.nativeHandle());
    if (!db)
        throw Error(QStringLiteral("数据库没有连接。"));
    return db;
}

LoggedRow decodeRow(sqlite3 *db, const QVariant &json)
{
    LoggedRow row;
    if (json.isNull())
        return row;
    // A byte string is kept as {"blob": "<hex>"}: the only object a row holds.
    Statement s;
    s.prepare(db, QStringLiteral("SELECT key, atom, type = 'object', "
                                 "CASE WHEN type = 'object' THEN json_extract(value, '$.blob') END FROM json_each(?1)"));
    s.bind(1, json);
    while (s.step())
        row.append({s.value(0).toString(),
                    s.int64(2) ? QVariant(QByteArray::fromHex(s.value(3).toString().toLatin1())) : s.value(1)});
    return row;
}

std::optional<BatchInfo> readBatch(sqlite3 *db, qint64 id)
{
    Statement s;
    s.prepare(db, QStringLiteral("SELECT BatchID, Action, Window, Description, UserID, ChangedAt, UndoOf, UndoneBy "
                                 "FROM ChangeBatch WHERE BatchID = ?1"));
    s.bind(1, id);
    if (!s.step())
        return std::nullopt;
    return BatchInfo{s.int64(0), s.value(1).toString(), s.value(2).toString(), s.value(3).toString(),
                     s.value(4).toString(), s.value(5).toString(), s.int64(6), s.int64(7)};
}

QList<LogEntry> batchEntries(sqlite3 *db, qint64 batch)
{
    const auto [first, bound] = entryRange(db, batch);
    Statement s;
    s.prepare(db, QStringLiteral("SELECT ChangeID, BatchID, TableName, RowKey, Operation, Field, OldValue, NewValue, "
                                 "UndoneBy FROM ChangeLog WHERE ChangeID >= ?1 AND ChangeID < ?2 AND BatchID = ?3 "
                                 "ORDER BY ChangeID"));
    s.bind(1, first);
    s.bind(2, bound);
    s.bind(3, batch);
    QList<LogEntry> entries;
    while (s.step())
        entries.append({s.int64(0), s.int64(1), s.value(2).toString(), s.value(3), s.value(4).toString().front(),
                        s.value(5).toString(), s.value(6), s.value(7), s.int64(8)});
    return entries;
}

bool batchHasEntries(sqlite3 *db, qint64 batch)
{
    const auto [first, bound] = entryRange(db, batch);
    Statement s;
    s.prepare(db, QStringLiteral("SELECT EXISTS (SELECT 1 FROM ChangeLog WHERE ChangeID >= ?1 AND ChangeID < ?2 "
                                 "AND BatchID = ?3)"));
    s.bind(1, first);
    s.bind(2, bound);
    s.bind(3, batch);
    return s.step() && s.int64(0) != 0;
}

QString rowText(const QString &table, const QVariant &key)
{
    const LoggedTable *t = loggedTable(table);
    return QStringLiteral("%1记录 %2").arg(t ? t->caption : table, key.toString());
}

}
