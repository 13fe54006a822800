#include "data/changes/History.h"

#include "data/RowSource.h"
#include "data/SqlText.h"
#include "data/changes/LogEntries.h"
#include "data/changes/LoggedTables.h"

namespace dravon {

QList<HistoryLine> rowHistory(Connection &connection, const QString &table, const QVariant &key)
{
    sqlite3 *db = logHandle(connection);
    Statement s;
    s.prepare(db, QStringLiteral("SELECT coalesce(B.ChangedAt, L.ChangedAt), B.UserID, L.BatchID IS NULL, B.Action, "
                                 "L.Operation, L.Field, L.OldValue, L.NewValue FROM ChangeLog L "
                                 "LEFT JOIN ChangeBatch B ON B.BatchID = L.BatchID "
                                 "WHERE L.TableName = ?1 AND L.RowKey = ?2 ORDER BY L.ChangeID"));
    s.bind(1, table);
    s.bind(2, key);
    QList<HistoryLine> lines;
    while (s.step()) {
        HistoryLine line;
        line.time = s.value(0).toString();
        line.user = s.value(1).toString();
        line.otherProgram = s.int64(2) != 0;
        line.action = line.otherProgram ? QStringLiteral("其他程序") : s.value(3).toString();
        line.operation = s.value(4).toString().front();
        if (line.operation == QLatin1Char('U')) {
            line.field = s.value(5).toString();
            line.oldValue = s.value(6);
            line.newValue = s.value(7);
            line.hidden = isSecretColumn(table, line.field);
            lines << line;
            continue;
        }
        // An insert or delete: the row it kept, column by column (a row
        // emptied from the recycle bin keeps no values).
        const bool inserted = line.operation == QLatin1Char('I');
        const LoggedRow row = decodeRow(db, s.value(inserted ? 7 : 6));
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

QString recycleBinSql(const QString &table)
{
    const LoggedTable *t = loggedTable(table);
    if (!t)
        return {};
    QStringList columns;
    for (const QString &c : t->columns)
        if (!isSecretColumn(t->name, c))
            columns << QStringLiteral("json_extract(L.OldValue, '$.%1') AS %1").arg(c);
    return QStringLiteral("SELECT L.ChangeID AS ChangeID, coalesce(B.ChangedAt, L.ChangedAt) AS DeletedAt, "
                          "CASE WHEN L.BatchID IS NULL THEN '其他程序' ELSE B.UserID END AS UserID, "
                          "CASE WHEN L.BatchID IS NULL THEN '其他程序' ELSE B.Action END AS Action, "
                          "L.RowKey AS RowKey, %1 FROM ChangeLog L LEFT JOIN ChangeBatch B ON B.BatchID = L.BatchID "
                          "WHERE L.TableName = %2 AND L.Operation = 'D' AND L.UndoneBy IS NULL ORDER BY L.ChangeID DESC")
        .arg(columns.join(QStringLiteral(", ")), QuotedStr(t->name));
}

QVector<Field> tableFields(Connection &connection, const QString &table)
{
    Statement s;
    s.prepare(logHandle(connection), QStringLiteral("SELECT * FROM %1 LIMIT 0").arg(quotedIdentifier(table)));
    QVector<Field> fields;
    for (int i = 0; i < s.columnCount(); ++i)
        fields.append({s.columnName(i), typeFromDeclaration(s.declaredType(i))});
    return fields;
}

QString latestDeletedTable(Connection &connection)
{
    Statement s;
    s.prepare(logHandle(connection), QStringLiteral("SELECT max(ChangeID) FROM ChangeLog "
                                                    "WHERE TableName = ?1 AND Operation = 'D' AND UndoneBy IS NULL"));
    QString latest;
    qint64 latestChange = 0;
    for (const LoggedTable &t : loggedTables()) {
        s.reset();
        s.bind(1, t.name);
        if (s.step() && s.int64(0) > latestChange) {
            latestChange = s.int64(0);
            latest = t.name;
        }
    }
    return latest;
}

}
