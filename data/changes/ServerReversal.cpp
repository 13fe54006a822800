#include "data/changes/ServerReversal.h"

#include "data/changes/LoggedTables.h"
#include "data/server/PgSession.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <functional>
#include <optional>

namespace dravon {

namespace {

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// Change numbers as a JSON array, the one parameter the statements take them by.
QString idArray(const QList<qint64> &ids)
{
    QStringList texts;
    texts.reserve(ids.size());
    for (qint64 id : ids)
        texts << QString::number(id);
    return QLatin1Char('[') + texts.join(QLatin1Char(',')) + QLatin1Char(']');
}

// The log rows of the change numbers in $1, in the array's order (k.n).
const QString picked = QStringLiteral("json_array_elements_text(CAST($1 AS json)) WITH ORDINALITY AS k(id, n) "
                                      "JOIN \"ChangeLog\" L ON L.\"ChangeID\" = CAST(k.id AS bigint)");

// A table's columns on the server with their types, in order.
class ServerColumns
{
public:
    explicit ServerColumns(pg::Session &session) : m_session(session) {}

    const QList<QPair<QString, QString>> &of(const QString &table)
    {
        auto it = m_columns.find(table);
        if (it != m_columns.end())
            return *it;
        QList<QPair<QString, QString>> columns;
        const pg::Result r = m_session.exec(QStringLiteral("SELECT a.attname, format_type(a.atttypid, a.atttypmod) "
                                                           "FROM pg_attribute a WHERE a.attrelid = CAST($1 AS regclass) "
                                                           "AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum"),
                                            {quoted(table)});
        for (int i = 0; i < r.rows(); ++i)
            columns.append({r.text(i, 0), r.text(i, 1)});
        return *m_columns.insert(table, columns);
    }

    // The column's type; empty when the table has no such column.
    QString typeOf(const QString &table, const QString &column)
    {
        for (const auto &[name, type] : of(table))
            if (name == column)
                return type;
        return {};
    }

private:
    pg::Session &m_session;
    QHash<QString, QList<QPair<QString, QString>>> m_columns;
};

// The entries of one table, operation and (for updates) column, in the order
// they are set back.
struct Group
{
    const LoggedTable *table = nullptr;
    QChar operation;
    QString field;
    QList<qint64> ids;
};

// The entries grouped, in the order given; none when a row has more than one
// entry (apart from several columns of one update) or a key changed: then
// the order of the entries matters and they are reversed one by one.
std::optional<QList<Group>> groupsOf(const QList<LogEntry> &ordered)
{
    QHash<QString, QChar> rowOperation;
    QSet<QString> rowFields;
    QHash<QString, int> groupAt;
    QList<Group> groups;
    for (int i = 0; i < ordered.size(); ++i) {
        const LogEntry &e = ordered[i];
        const LoggedTable *table = loggedTable(e.table);
        if (!table)
            return std::nullopt;
        const bool update = e.operation == QLatin1Char('U');
        if (update && e.field.compare(table->key, Qt::CaseInsensitive) == 0)
            return std::nullopt;
        const QString row = table->name + QLatin1Char('\x1f') + e.key.toString();
        const auto known = rowOperation.constFind(row);
        if (known != rowOperation.cend() && (*known != e.operation || !update))
            return std::nullopt;
        rowOperation.insert(row, e.operation);
        if (update) {
            const QString rowField = row + QLatin1Char('\x1f') + e.field;
            if (rowFields.contains(rowField))
                return std::nullopt;
            rowFields.insert(rowField);
        }
        const QString name = table->name + QLatin1Char('\x1f') + e.operation + QLatin1Char('\x1f') + (update ? e.field : QString());
        auto at = groupAt.constFind(name);
        if (at == groupAt.cend()) {
            at = groupAt.insert(name, int(groups.size()));
            groups.append({table, e.operation, update ? e.field : QString(), {}});
        }
        groups[*at].ids.append(e.id);
    }
    return groups;
}

// Runs work under a savepoint; when it returns false or the server refuses
// one of its statements for the data's sake, everything it did is taken back
// and the result is false. A lost connection or a statement the server ended
// for its own reasons is thrown on.
bool underSavepoint(pg::Session &session, const std::function<bool()> &work)
{
    session.exec(QStringLiteral("SAVEPOINT set_reversal"));
    bool done = false;
    try {
        done = work();
    } catch (const pg::ServerError &e) {
        if (e.connectionLost() || e.abortedByServer())
            throw;
    }
    if (!done)
        session.exec(QStringLiteral("ROLLBACK TO SAVEPOINT set_reversal"));
    session.exec(QStringLiteral("RELEASE set_reversal"));
    return done;
}

// Puts the deleted rows of one group back, under their keys. A key taken
// meanwhile breaks the table's unique key and is refused by the server.
bool putBack(pg::Session &session, ServerColumns &columns, const Group &g)
{
    const QString keyType = columns.typeOf(g.table->name, g.table->key);
    if (keyType.isEmpty())
        return false;
    QStringList names, values;
    if (g.table->recordTable()) {
        names << quoted(g.table->key);
        values << QStringLiteral("CAST(L.\"RowKey\" AS %1)").arg(keyType);
    }
    // The kept row's values, converted from the JSON text as a parameter
    // would be; a column the row does not hold stays NULL.
    for (const auto &[name, type] : columns.of(g.table->name)) {
        if (name == QLatin1String("Id") || isSecretColumn(g.table->name, name))
            continue;
        names << quoted(name);
        values << QStringLiteral("r.%1").arg(quoted(name));
    }
    const QString sql = QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM %4 "
                                       "CROSS JOIN LATERAL json_populate_record(CAST(NULL AS %1), CAST(L.\"OldValue\" AS json)) AS r "
                                       "WHERE L.\"OldValue\" IS NOT NULL ORDER BY k.n")
                            .arg(quoted(g.table->name), names.join(QLatin1Char(',')), values.join(QLatin1Char(',')), picked);
    return session.exec(sql, {idArray(g.ids)}).affected() == g.ids.size();
}

// Reverses one group: rows it inserted go, rows it deleted come back, a
// column it changed gets its old value while it still holds the new one.
bool reverseGroup(pg::Session &session, ServerColumns &columns, const Group &g)
{
    const QString table = quoted(g.table->name);
    const QString keyType = columns.typeOf(g.table->name, g.table->key);
    if (keyType.isEmpty())
        return false;
    const QString sameRow = QStringLiteral("T.%1 = CAST(L.\"RowKey\" AS %2)").arg(quoted(g.table->key), keyType);
    QString sql;
    if (g.operation == QLatin1Char('I')) {
        sql = QStringLiteral("DELETE FROM %1 T USING json_array_elements_text(CAST($1 AS json)) AS k(id) "
                             "JOIN \"ChangeLog\" L ON L.\"ChangeID\" = CAST(k.id AS bigint) WHERE %2")
                  .arg(table, sameRow);
    } else if (g.operation == QLatin1Char('D')) {
        return putBack(session, columns, g);
    } else {
        const QString type = columns.typeOf(g.table->name, g.field);
        if (type.isEmpty())
            return false;
        const QString field = quoted(g.field);
        sql = QStringLiteral("UPDATE %1 T SET %2 = CAST(L.\"OldValue\" AS %3) "
                             "FROM json_array_elements_text(CAST($1 AS json)) AS k(id) "
                             "JOIN \"ChangeLog\" L ON L.\"ChangeID\" = CAST(k.id AS bigint) "
                             "WHERE %4 AND T.%2 IS NOT DISTINCT FROM CAST(L.\"NewValue\" AS %3)")
                  .arg(table, field, type, sameRow);
    }
    return session.exec(sql, {idArray(g.ids)}).affected() == g.ids.size();
}

}

QList<LaterChange> laterChangesOnServer(pg::Session &session, const QList<ReversedRow> &rows, qint64 batch)
{
    QJsonArray list;
    for (const ReversedRow &r : rows)
        list.append(QJsonArray{r.table, r.key.toString(), r.lastChange});
    const pg::Result r = session.exec(
        QStringLiteral("SELECT k.n, B.\"UserID\", coalesce(B.\"ChangedAt\", x.\"ChangedAt\"), x.\"BatchID\" IS NULL "
                       "FROM json_array_elements(CAST($1 AS json)) WITH ORDINALITY AS k(e, n) "
                       "CROSS JOIN LATERAL (SELECT L.\"BatchID\", L.\"ChangedAt\" FROM \"ChangeLog\" L "
                       "WHERE L.\"TableName\" = k.e ->> 0 AND L.\"RowKey\" = k.e ->> 1 "
                       "AND L.\"ChangeID\" > CAST(k.e ->> 2 AS bigint) AND (L.\"BatchID\" IS NULL OR L.\"BatchID\" <> $2) "
                       "ORDER BY L.\"ChangeID\" DESC LIMIT 1) AS x "
                       "LEFT JOIN \"ChangeBatch\" B ON B.\"BatchID\" = x.\"BatchID\" ORDER BY k.n"),
        {QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)), batch});
    QList<LaterChange> later;
    for (int i = 0; i < r.rows(); ++i)
        later.append({int(r.value(i, 0).toLongLong() - 1), r.value(i, 1), r.value(i, 2), r.value(i, 3).toLongLong() != 0});
    return later;
}

bool reverseOnServer(pg::Session &session, const QList<LogEntry> &entries)
{
    QList<LogEntry> latestFirst(entries.crbegin(), entries.crend());
    const std::optional<QList<Group>> groups = groupsOf(latestFirst);
    if (!groups)
        return false;
    ServerColumns columns(session);
    return underSavepoint(session, [&] {
        for (const Group &g : *groups)
            if (!reverseGroup(session, columns, g))
                return false;
        return true;
    });
}

QList<LogEntry> deletedEntriesOnServer(pg::Session &session, const QList<qint64> &ids)
{
    const pg::Result r = session.exec(QStringLiteral("SELECT L.\"ChangeID\", L.\"BatchID\", L.\"TableName\", L.\"RowKey\", "
                                                     "L.\"OldValue\" FROM %1 WHERE L.\"Operation\" = 'D' "
                                                     "AND L.\"UndoneBy\" IS NULL ORDER BY k.n").arg(picked),
                                      {idArray(ids)});
    QList<LogEntry> entries;
    for (int i = 0; i < r.rows(); ++i) {
        LogEntry e;
        e.id = r.value(i, 0).toLongLong();
        e.batch = r.value(i, 1).toLongLong();
        e.table = r.text(i, 2);
        e.key = r.value(i, 3);
        e.operation = QLatin1Char('D');
        e.oldValue = r.value(i, 4);
        entries.append(e);
    }
    return entries;
}

QList<int> takenKeysOnServer(pg::Session &session, const QList<LogEntry> &deletes)
{
    QHash<QString, QList<qint64>> byTable;
    for (const LogEntry &e : deletes)
        if (const LoggedTable *t = loggedTable(e.table))
            byTable[t->name].append(e.id);
    ServerColumns columns(session);
    QSet<qint64> taken;
    for (auto it = byTable.cbegin(); it != byTable.cend(); ++it) {
        const LoggedTable *t = loggedTable(it.key());
        const QString keyType = columns.typeOf(t->name, t->key);
        if (keyType.isEmpty())
            throw Error(QStringLiteral("数据表 %1 没有 %2 列。").arg(t->name, t->key));
        const pg::Result r = session.exec(QStringLiteral("SELECT L.\"ChangeID\" FROM %1 WHERE EXISTS "
                                                         "(SELECT 1 FROM %2 T WHERE T.%3 = CAST(L.\"RowKey\" AS %4))")
                                              .arg(picked, quoted(t->name), quoted(t->key), keyType),
                                          {idArray(*it)});
        for (int i = 0; i < r.rows(); ++i)
            taken.insert(r.value(i, 0).toLongLong());
    }
    QList<int> positions;
    for (int i = 0; i < deletes.size(); ++i)
        if (taken.contains(deletes[i].id))
            positions << i;
    return positions;
}

QList<MissingReference> missingReferencesOnServer(pg::Session &session, const QList<LogEntry> &deletes)
{
    QHash<QString, QList<int>> byTable;  // the entries of each table, by position
    QStringList tables;
    for (int i = 0; i < deletes.size(); ++i)
        if (const LoggedTable *t = loggedTable(deletes[i].table)) {
            if (!byTable.contains(t->name))
                tables << t->name;
            byTable[t->name].append(i);
        }
    struct Found
    {
        int entry;
        int column;
        MissingReference reference;
    };
    QList<Found> found;
    for (const QString &name : std::as_const(tables)) {
        const LoggedTable *t = loggedTable(name);
        const QList<int> &positions = byTable[name];
        QList<qint64> ids;
        for (int i : positions)
            ids << deletes[i].id;
        for (int c = 0; c < t->columns.size(); ++c) {
            const QString master = referencedTable(t->name, t->columns[c]);
            if (master.isEmpty())
                continue;
            const LoggedTable *referenced = loggedTable(master);
            const pg::Result r = session.exec(
                QStringLiteral("SELECT k.n, v.value FROM %1 CROSS JOIN LATERAL "
                               "(SELECT CAST(L.\"OldValue\" AS json) ->> CAST($2 AS text) AS value) AS v "
                               "WHERE v.value <> '' AND NOT EXISTS (SELECT 1 FROM %2 M WHERE M.%3 = v.value) ORDER BY k.n")
                    .arg(picked, quoted(referenced->name), quoted(referenced->key)),
                {idArray(ids), t->columns[c]});
            for (int i = 0; i < r.rows(); ++i) {
                const int entry = positions[int(r.value(i, 0).toLongLong() - 1)];
                found.append({entry, c, {entry, master, r.text(i, 1)}});
            }
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        return a.entry != b.entry ? a.entry < b.entry : a.column < b.column;
    });
    QList<MissingReference> missing;
    for (const Found &f : std::as_const(found))
        missing << f.reference;
    return missing;
}

bool restoreOnServer(pg::Session &session, const QList<LogEntry> &deletes)
{
    const std::optional<QList<Group>> groups = groupsOf(deletes);
    if (!groups)
        return false;
    ServerColumns columns(session);
    return underSavepoint(session, [&] {
        for (const Group &g : *groups)
            if (g.operation != QLatin1Char('D') || !putBack(session, columns, g))
                return false;
        return true;
    });
}

void markUndoneOnServer(pg::Session &session, const QList<LogEntry> &entries, qint64 by)
{
    QList<qint64> ids;
    ids.reserve(entries.size());
    for (const LogEntry &e : entries)
        ids << e.id;
    session.exec(QStringLiteral("UPDATE \"ChangeLog\" SET \"UndoneBy\" = $2 WHERE \"ChangeID\" IN "
                                "(SELECT CAST(k.id AS bigint) FROM json_array_elements_text(CAST($1 AS json)) AS k(id))"),
                 {idArray(ids), by});
}

}
