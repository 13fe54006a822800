#include "data/changes/LogEntries.h"

#include "data/changes/LoggedTables.h"

#include <limits>

namespace dravon {

namespace {

// The ChangeID range [first, bound) in which a batch's entries lie. On the
// file a batch holds the whole file while it runs: from its first change to
// the next batch's first change. On the server several clerks write at once
// and a batch's entries are found by its number alone (an index of its own).
QPair<qint64, qint64> entryRange(LogDb &db, qint64 batch)
{
    if (db.onServer())
        return {0, std::numeric_limits<qint64>::max()};
    const QList<LogRow> found = db.rows(QStringLiteral("SELECT FirstChange, (SELECT FirstChange FROM ChangeBatch WHERE "
                                                       "BatchID > ?1 ORDER BY BatchID LIMIT 1) FROM ChangeBatch WHERE BatchID = ?1"),
                                        {batch});
    if (found.isEmpty())
        return {0, 0};
    const QVariant bound = found.first().at(1);
    return {found.first().at(0).toLongLong(), bound.isNull() ? std::numeric_limits<qint64>::max() : bound.toLongLong()};
}

}

LoggedRow decodeRow(LogDb &db, const QString &table, const QVariant &json)
{
    LoggedRow row;
    if (json.isNull())
        return row;
    // On the file a byte string is kept as {"blob": "<hex>"}: the only object
    // a row holds. The server's columns hold no byte strings.
    const QList<LogRow> pairs =
        db.rows(db.onServer() ? QStringLiteral("SELECT key, value, 0, NULL FROM json_each_text(CAST(?1 AS json))")
                              : QStringLiteral("SELECT key, atom, type = 'object', "
                                               "CASE WHEN type = 'object' THEN json_extract(value, '$.blob') END FROM json_each(?1)"),
                {json});
    // In the table's column order, whatever order the object holds them in.
    const LoggedTable *t = loggedTable(table);
    const QStringList order = t ? t->columns : QStringList();
    QList<QPair<int, QPair<QString, QVariant>>> placed;
    for (const LogRow &p : pairs) {
        const QString column = p.at(0).toString();
        const int at = order.indexOf(column);
        const QVariant value = p.at(2).toLongLong() ? QVariant(QByteArray::fromHex(p.at(3).toString().toLatin1())) : p.at(1);
        placed.append({at < 0 ? int(order.size() + placed.size()) : at, {column, value}});
    }
    std::stable_sort(placed.begin(), placed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &p : std::as_const(placed))
        row.append(p.second);
    return row;
}

std::optional<BatchInfo> readBatch(LogDb &db, qint64 id)
{
    const QList<LogRow> found = db.rows(QStringLiteral("SELECT BatchID, Action, Window, Description, UserID, ChangedAt, "
                                                       "UndoOf, UndoneBy FROM ChangeBatch WHERE BatchID = ?1"),
                                        {id});
    if (found.isEmpty())
        return std::nullopt;
    const LogRow &r = found.first();
    return BatchInfo{r[0].toLongLong(), r[1].toString(), r[2].toString(), r[3].toString(),
                     r[4].toString(),   r[5].toString(), r[6].toLongLong(), r[7].toLongLong()};
}

QList<LogEntry> batchEntries(LogDb &db, qint64 batch)
{
    const auto [first, bound] = entryRange(db, batch);
    QList<LogEntry> entries;
    for (const LogRow &r : db.rows(QStringLiteral("SELECT ChangeID, BatchID, TableName, RowKey, Operation, Field, OldValue, "
                                                  "NewValue, UndoneBy FROM ChangeLog WHERE ChangeID >= ?1 AND ChangeID < ?2 "
                                                  "AND BatchID = ?3 ORDER BY ChangeID"),
                                   {first, bound, batch}))
        entries.append({r[0].toLongLong(), r[1].toLongLong(), r[2].toString(), r[3], r[4].toString().front(),
                        r[5].toString(), r[6], r[7], r[8].toLongLong()});
    return entries;
}

bool batchHasEntries(LogDb &db, qint64 batch)
{
    const auto [first, bound] = entryRange(db, batch);
    return db.value(QStringLiteral("SELECT EXISTS (SELECT 1 FROM ChangeLog WHERE ChangeID >= ?1 AND ChangeID < ?2 "
                                   "AND BatchID = ?3)"),
                    {first, bound, batch})
               .toLongLong()
           != 0;
}

QString rowText(const QString &table, const QVariant &key)
{
    const LoggedTable *t = loggedTable(table);
    return QStringLiteral("%1记录 %2").arg(t ? t->caption : table, key.toString());
}

}
