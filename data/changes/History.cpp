#include "data/changes/History.h"

#include "data/RowSource.h"
#include "data/SqlText.h"
#include "data/changes/LogEntries.h"
#include "data/changes/LoggedTables.h"
#include "data/Connection.h"
#include "data/Statement.h"

#include <sqlite3.h>

namespace dravon {

QList<HistoryLine> rowHistory(Connection &connection, const QString &table, const QVariant &key)
{
    LogDb db(connection);
    // A key as the log keeps it: on the server as text.
    const QVariant logged = db.onServer() ? QVariant(key.toString()) : key;
    QList<HistoryLine> lines;
    for (const LogRow &r : db.rows(QStringLiteral("SELECT coalesce(B.ChangedAt, L.ChangedAt), B.UserID, L.BatchID IS NULL, "
                                                  "B.Action, L.Operation, L.Field, L.OldValue, L.NewValue FROM ChangeLog L "
                                                  "LEFT JOIN ChangeBatch B ON B.BatchID = L.BatchID "
                                                  "WHERE L.TableName = ?1 AND L.RowKey = ?2 ORDER BY L.ChangeID"),
                                   {table, logged})) {
        HistoryLine line;
        line.time = r[0].toString();
        line.user = r[1].toString();
        line.otherProgram = r[2].toLongLong() != 0;
        line.action = line.otherProgram ? QStringLiteral("其他程序") : r[3].toString();
        line.operation = r[4].toString().front();
        if (line.operation == QLatin1Char('U')) {
            line.field = r[5].toString();
            line.oldValue = r[6];
            line.newValue = r[7];
            line.hidden = isSecretColumn(table, line.field);
            lines << line;
            continue;
        }
        // An insert or delete: the row it kept, column by column (a row
        // emptied from the recycle bin keeps no values).
        const bool inserted = line.operation == QLatin1Char('I');
        const LoggedRow row = decodeRow(db, table, r[inserted ? 7 : 6]);
        bool any = false;
        for (const auto &[column, value] : row) {
            if (value.isNull())
                continue;
            HistoryLine field = line;
            field.field = column;
            (inserted ? field.newValue : field.oldValue) = value;
            lines << field;
            any = true;
        }
        if (!any)
            lines << line;
    }
    return lines;
}

QString recycleBinSql(const QString &table, Engine engine)
{
    const LoggedTable *t = loggedTable(table);
    if (!t)
        return {};
    // A kept column's value out of the row's JSON object: typed on the file,
    // text on the server (the window gives each column its type).
    const QString extract = engine == Engine::Postgres ? QStringLiteral("CAST(L.OldValue AS json) ->> '%1' AS %1")
                                                       : QStringLiteral("json_extract(L.OldValue, '$.%1') AS %1");
    QStringList columns;
    for (const QString &c : t->columns)
        if (!isSecretColumn(t->name, c))
            columns << extract.arg(c);
    // The server's planner would rather read the whole log backward by its
    // change numbers, passing every later entry that is not a delete (an
    // update of many rows makes that long): the table named as a range and
    // first in the order lets only the table's index of deletes give the order.
    const QString name = QuotedStr(t->name);
    const QString where = engine == Engine::Postgres
                              ? QStringLiteral("L.TableName >= %1 AND L.TableName <= %1").arg(name)
                              : QStringLiteral("L.TableName = %1").arg(name);
    const QString order = engine == Engine::Postgres ? QStringLiteral("L.TableName DESC, L.ChangeID DESC")
                                                     : QStringLiteral("L.ChangeID DESC");
    return QStringLiteral("SELECT L.ChangeID AS ChangeID, coalesce(B.ChangedAt, L.ChangedAt) AS DeletedAt, "
                          "CASE WHEN L.BatchID IS NULL THEN '其他程序' ELSE B.UserID END AS UserID, "
                          "CASE WHEN L.BatchID IS NULL THEN '其他程序' ELSE B.Action END AS Action, "
                          "L.RowKey AS RowKey, %1 FROM ChangeLog L LEFT JOIN ChangeBatch B ON B.BatchID = L.BatchID "
                          "WHERE %2 AND L.Operation = 'D' AND L.UndoneBy IS NULL ORDER BY %3")
        .arg(columns.join(QStringLiteral(", ")), where, order);
}

QVector<Field> tableFields(Connection &connection, const QString &table)
{
    LogDb db(connection);
    QVector<Field> fields;
    if (db.onServer()) {
        // The server's row key "Id" of a master table stands in for the file's
        // hidden rowid: not one of the table's fields.
        const LoggedTable *t = loggedTable(table);
        for (const LogRow &r : db.rows(QStringLiteral("SELECT a.attname, format_type(a.atttypid, a.atttypmod) FROM pg_attribute a "
                                                      "WHERE a.attrelid = CAST(?1 AS regclass) AND a.attnum > 0 "
                                                      "AND NOT a.attisdropped ORDER BY a.attnum"),
                                       {connection.dialect().quoteName(table)}))
            if (r[0].toString() != QLatin1String("Id") || (t && t->recordTable()))
                fields.append({r[0].toString(), typeFromDeclaration(r[1].toString())});
        return fields;
    }
    Statement s;
    s.prepare(static_cast<sqlite3 *>(connection.nativeHandle()),
              QStringLiteral("SELECT * FROM %1 LIMIT 0").arg(quotedIdentifier(table)));
    for (int i = 0; i < s.columnCount(); ++i)
        fields.append({s.columnName(i), typeFromDeclaration(s.declaredType(i))});
    return fields;
}

QString latestDeletedTable(Connection &connection)
{
    // Each table's latest delete through its own index of deletes, in one
    // statement: on a server a round trip for each table costs more.
    LogDb db(connection);
    QStringList latest;
    for (const LoggedTable &t : loggedTables())
        latest << QStringLiteral("SELECT %1 AS TableName, (SELECT max(ChangeID) FROM ChangeLog WHERE TableName = %1 "
                                 "AND Operation = 'D' AND UndoneBy IS NULL) AS Latest")
                      .arg(QuotedStr(t.name));
    return db.value(QStringLiteral("SELECT TableName FROM (%1) AS L WHERE Latest IS NOT NULL ORDER BY Latest DESC LIMIT 1")
                        .arg(latest.join(QStringLiteral(" UNION ALL "))))
        .toString();
}

}
