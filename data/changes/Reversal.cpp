#include "data/changes/Reversal.h"

#include "data/Connection.h"
#include "data/ProgramSettings.h"
#include "data/RowSource.h"
#include "data/SqlText.h"
#include "data/changes/ChangeBatch.h"
#include "data/changes/LoggedTables.h"
#include "data/changes/ServerReversal.h"

#include <QHash>
#include <QSet>

namespace dravon {

namespace {

const QString undoAction = QStringLiteral("撤销");
const QString redoAction = QStringLiteral("重做");
constexpr int listedRows = 10;  // rows a refusal names before it counts the rest

// The action a description tells, without an undo's or redo's word before it.
QString baseDescription(const QString &description)
{
    for (const QString &word : {undoAction, redoAction})
        if (description.startsWith(word + QLatin1Char(' ')))
            return description.mid(word.size() + 1);
    return description;
}

// Lines "成绩记录 12" for the first rows, and how many more there are.
QString listOf(const QStringList &lines)
{
    QStringList shown = lines.mid(0, listedRows);
    if (lines.size() > listedRows)
        shown << QStringLiteral("……共 %1 条").arg(lines.size());
    return shown.join(QLatin1Char('\n'));
}

const LoggedTable &tableOf(const LogEntry &e)
{
    const LoggedTable *t = loggedTable(e.table);
    if (!t)
        throw ChangeRefused(QStringLiteral("修改记录中有未知的数据表 %1。").arg(e.table));
    return *t;
}

// Who made a later change, as a clerk reads it.
QString byWhom(const QVariant &user, const QVariant &time, bool otherProgram)
{
    if (otherProgram)
        return QStringLiteral("%1 由其他程序修改").arg(time.toString());
    return QStringLiteral("%1 由用户 %2 修改").arg(time.toString(), user.toString());
}

// The key a row has at the moment an updated column of it is set back: its
// key after the statement that made the change. Entries of one UPDATE
// statement are consecutive and start with the key column when the key
// changed, so the nearest key change among the consecutive entries of the
// same row before this one names it; without one the row kept its key.
QVariant keyWhenReversed(const QList<LogEntry> &entries, int i, const LoggedTable &table)
{
    const LogEntry &e = entries[i];
    for (int j = i; j >= 0; --j) {
        const LogEntry &prior = entries[j];
        if (prior.operation != QLatin1Char('U') || prior.table != e.table || prior.key != e.key)
            break;
        if (prior.field.compare(table.key, Qt::CaseInsensitive) == 0)
            return prior.newValue;
    }
    return e.key;
}

// Stores a logged row again under its key.
void storeRow(LogDb &db, const LoggedTable &table, const QVariant &key, const LoggedRow &row)
{
    QStringList names;
    QVariantList values;
    if (table.recordTable()) {
        names << QStringLiteral("Id");
        values << key;
    }
    for (const auto &[column, value] : row) {
        names << quotedIdentifier(column);
        values << value;
    }
    QStringList marks;
    for (int i = 1; i <= values.size(); ++i)
        marks << QStringLiteral("?%1").arg(i);
    db.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(quotedIdentifier(table.name), names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
            values);
}

bool keyTaken(LogDb &db, const LoggedTable &table, const QVariant &key)
{
    return db.value(QStringLiteral("SELECT EXISTS (SELECT 1 FROM %1 WHERE %2 = ?1)")
                        .arg(quotedIdentifier(table.name), quotedIdentifier(table.key)),
                    {key})
               .toLongLong()
           != 0;
}

// Checks that no other batch changed the batch's rows since, then sets every
// entry back, latest first. Throws ChangeRefused naming the rows.
void reverseEntries(LogDb &db, qint64 batch, const QList<LogEntry> &entries, const QString &refusedText)
{

    // The rows changed since by another batch, under each key they had.
    auto rowId = [](const QString &table, const QVariant &key) { return table + QLatin1Char('\x1f') + key.toString(); };
    QHash<QString, qint64> lastChange;  // row -> the batch's latest entry for it
    QList<QPair<QString, QVariant>> keys;
    auto note = [&](const QString &table, const QVariant &key, qint64 change) {
        const QString id = rowId(table, key);
        if (!lastChange.contains(id))
            keys.append({table, key});
        lastChange[id] = qMax(lastChange.value(id), change);
    };
    for (const LogEntry &e : entries) {
        const LoggedTable &table = tableOf(e);
        note(e.table, e.key, e.id);
        if (e.operation == QLatin1Char('U') && e.field.compare(table.key, Qt::CaseInsensitive) == 0)
            note(e.table, e.newValue, e.id);
        if (isSecretColumn(e.table, e.field) || (e.operation == QLatin1Char('D') && e.table == QLatin1String("User")))
            throw ChangeRefused(refusedText + QStringLiteral("用户密码不记入修改记录,无法恢复。"));
    }
    QStringList changed;
    if (pg::Session *session = db.session()) {
        // On a server in one statement for all the rows.
        QList<ReversedRow> rows;
        rows.reserve(keys.size());
        for (const auto &[table, key] : std::as_const(keys))
            rows.append({table, key, lastChange.value(rowId(table, key))});
        for (const LaterChange &later : laterChangesOnServer(*session, rows, batch))
            changed << QStringLiteral("%1: %2").arg(rowText(rows[later.row].table, rows[later.row].key),
                                                    byWhom(later.user, later.time, later.otherProgram));
    } else {
        for (const auto &[table, key] : std::as_const(keys)) {
            const QList<LogRow> later = db.rows(
                QStringLiteral("SELECT B.UserID, coalesce(B.ChangedAt, L.ChangedAt), L.BatchID IS NULL FROM ChangeLog L "
                               "LEFT JOIN ChangeBatch B ON B.BatchID = L.BatchID "
                               "WHERE L.TableName = ?1 AND L.RowKey = ?2 AND L.ChangeID > ?3 "
                               "AND (L.BatchID IS NULL OR L.BatchID <> ?4) ORDER BY L.ChangeID DESC LIMIT 1"),
                {table, key, lastChange.value(rowId(table, key)), batch});
            if (!later.isEmpty())
                changed << QStringLiteral("%1: %2").arg(rowText(table, key),
                                                        byWhom(later[0][0], later[0][1], later[0][2].toLongLong() != 0));
        }
    }
    if (!changed.isEmpty())
        throw ChangeRefused(refusedText + QStringLiteral("以下记录此后又被修改过:\n") + listOf(changed));

    // On a server a few statements per table set the rows back where they can.
    if (db.session() && reverseOnServer(*db.session(), entries))
        return;
    for (int i = int(entries.size()) - 1; i >= 0; --i) {
        const LogEntry &e = entries[i];
        const LoggedTable &table = tableOf(e);
        const QString name = quotedIdentifier(table.name);
        const QString key = quotedIdentifier(table.key);
        if (e.operation == QLatin1Char('I')) {
            if (db.exec(QStringLiteral("DELETE FROM %1 WHERE %2 = ?1").arg(name, key), {e.key}) != 1)
                throw ChangeRefused(refusedText + QStringLiteral("%1 已不在数据库中。").arg(rowText(e.table, e.key)));
        } else if (e.operation == QLatin1Char('D')) {
            if (keyTaken(db, table, e.key))
                throw ChangeRefused(refusedText + QStringLiteral("%1 的编号已被另一条记录使用。").arg(rowText(e.table, e.key)));
            storeRow(db, table, e.key, decodeRow(db, e.table, e.oldValue));
        } else {
            // Only while the column still holds what the batch wrote (NULL alike).
            const QVariant current = keyWhenReversed(entries, i, table);
            const QString field = quotedIdentifier(e.field);
            if (db.exec(QStringLiteral("UPDATE %1 SET %2 = ?1 WHERE %3 = ?2 AND (%2 = ?3 OR (%2 IS NULL AND ?3 IS NULL))")
                            .arg(name, field, key),
                        {e.oldValue, current, e.newValue})
                != 1)
                throw ChangeRefused(refusedText
                                    + QStringLiteral("%1 已不是该操作之后的样子。").arg(rowText(e.table, current)));
        }
    }
}

void markEntriesUndone(LogDb &db, const QList<LogEntry> &entries, qint64 by)
{
    if (db.session()) {
        markUndoneOnServer(*db.session(), entries, by);
        return;
    }
    for (const LogEntry &e : entries)
        db.exec(QStringLiteral("UPDATE ChangeLog SET UndoneBy = ?1 WHERE ChangeID = ?2"), {by, e.id});
}

void setBatchUndoneBy(LogDb &db, qint64 batch, qint64 by)
{
    db.exec(QStringLiteral("UPDATE ChangeBatch SET UndoneBy = ?1 WHERE BatchID = ?2"), {by > 0 ? QVariant(by) : QVariant(), batch});
}

// The window's batches, latest first, that changed rows.
// On a server several clerks work in windows of the same names at once: a
// clerk's batches are the logged-in user's own there.
template<typename Visit>
void visitBatches(LogDb &db, const QString &window, Visit visit)
{
    const QVariant user = db.onServer() ? QVariant(CurrentUserID) : QVariant();
    QList<qint64> ids;
    for (const LogRow &r : db.rows(QStringLiteral("SELECT BatchID FROM ChangeBatch WHERE Window = ?1 "
                                                  "AND (UserID = ?2 OR ?2 IS NULL) ORDER BY BatchID DESC"),
                                   {window, user}))
        ids << r[0].toLongLong();
    for (qint64 id : std::as_const(ids)) {
        const std::optional<BatchInfo> batch = readBatch(db, id);
        if (!batch || !batchHasEntries(db, id))
            continue;
        if (!visit(*batch))
            return;
    }
}

// Reverses a batch (an action or an undo) as a new batch tagged action.
qint64 reverseBatch(Connection &connection, qint64 batchId, const QString &window, const QString &action)
{
    LogDb db(connection);
    const std::optional<BatchInfo> batch = readBatch(db, batchId);
    if (!batch)
        throw ChangeRefused(QStringLiteral("修改记录中已没有这一操作,不能%1。").arg(action));
    const QString what = baseDescription(batch->description);
    const QString refusedText = QStringLiteral("不能%1“%2”:").arg(action, what);
    if (batch->undoneBy > 0)
        throw ChangeRefused(refusedText + QStringLiteral("它已经撤销了。"));
    ChangeBatch reversal(connection, {action, window, action + QLatin1Char(' ') + what}, batchId);
    const QList<LogEntry> entries = batchEntries(db, batchId);
    int restored = 0;
    for (const LogEntry &e : entries)
        if (e.undoneBy > 0)
            ++restored;
    if (restored > 0)
        throw ChangeRefused(refusedText
                            + QStringLiteral("其中 %1 条记录已在回收站中还原或清空。").arg(restored));
    reverseEntries(db, batchId, entries, refusedText);
    markEntriesUndone(db, entries, reversal.id());
    setBatchUndoneBy(db, batchId, reversal.id());
    reversal.commit();
    return reversal.id();
}

}

// An action, an undo and a redo of it, an undo of that redo... form a chain,
// each reversing the one before; the latest (not undone) one says whether the
// action is in effect. Undo takes back the latest action in effect; redo
// takes back the latest undo, unless the window did something new since.
std::optional<BatchInfo> batchToUndo(Connection &connection, const QString &window)
{
    std::optional<BatchInfo> found;
    LogDb db(connection);
    visitBatches(db, window, [&](const BatchInfo &b) {
        if (b.undoneBy > 0 || b.action == undoAction)
            return true;
        found = b;
        return false;
    });
    return found;
}

std::optional<BatchInfo> batchToRedo(Connection &connection, const QString &window)
{
    std::optional<BatchInfo> found;
    LogDb db(connection);
    visitBatches(db, window, [&](const BatchInfo &b) {
        if (b.action == undoAction) {
            if (b.undoneBy > 0)
                return true;
            found = b;
            return false;
        }
        // Redos are passed over; a new action of the window ends the search.
        return b.action == redoAction;
    });
    return found;
}

QString undoText(const BatchInfo &batch)
{
    return undoAction + QLatin1Char(' ') + baseDescription(batch.description);
}

QString redoText(const BatchInfo &undo)
{
    return redoAction + QLatin1Char(' ') + baseDescription(undo.description);
}

qint64 undoBatch(Connection &connection, qint64 batch, const QString &window)
{
    return reverseBatch(connection, batch, window, undoAction);
}

qint64 redoBatch(Connection &connection, qint64 undo, const QString &window)
{
    return reverseBatch(connection, undo, window, redoAction);
}

// ---- the recycle bin

namespace {

// The delete entries still in the recycle bin, in the order given.
QList<LogEntry> deletedEntries(LogDb &db, const QList<qint64> &ids)
{
    if (db.session()) {
        const QList<LogEntry> entries = deletedEntriesOnServer(*db.session(), ids);
        if (entries.size() != ids.size())
            throw ChangeRefused(QStringLiteral("回收站中已没有所选的记录,请重新打开回收站。"));
        return entries;
    }
    QList<LogEntry> entries;
    for (qint64 id : ids) {
        const QList<LogRow> found = db.rows(QStringLiteral("SELECT ChangeID, BatchID, TableName, RowKey, OldValue FROM "
                                                           "ChangeLog WHERE ChangeID = ?1 AND Operation = 'D' AND UndoneBy IS NULL"),
                                            {id});
        if (found.isEmpty())
            throw ChangeRefused(QStringLiteral("回收站中已没有所选的记录,请重新打开回收站。"));
        const LogRow &r = found.first();
        LogEntry e;
        e.id = r[0].toLongLong();
        e.batch = r[1].toLongLong();
        e.table = r[2].toString();
        e.key = r[3];
        e.operation = QLatin1Char('D');
        e.oldValue = r[4];
        entries.append(e);
    }
    return entries;
}

// Deleted rows older than the date: their entries, by the batch's time or,
// for another program's deletes, the entry's own.
const QString deletedBefore = QStringLiteral(
    "FROM ChangeLog WHERE Operation = 'D' AND UndoneBy IS NULL AND OldValue IS NOT NULL "
    "AND coalesce((SELECT ChangedAt FROM ChangeBatch B WHERE B.BatchID = ChangeLog.BatchID), ChangedAt) < ?1");

}

QStringList missingReferences(Connection &connection, const QList<qint64> &deletes)
{
    LogDb db(connection);
    QStringList missing;
    if (pg::Session *session = db.session()) {
        const QList<LogEntry> entries = deletedEntries(db, deletes);
        for (const MissingReference &m : missingReferencesOnServer(*session, entries))
            missing << QStringLiteral("%1: %2 %3 不存在").arg(rowText(entries[m.entry].table, entries[m.entry].key),
                                                              loggedTable(m.master)->caption, m.value);
        return missing;
    }
    for (const LogEntry &e : deletedEntries(db, deletes)) {
        for (const auto &[column, value] : decodeRow(db, e.table, e.oldValue)) {
            const QString master = referencedTable(e.table, column);
            if (master.isEmpty() || value.isNull() || value.toString().isEmpty())
                continue;
            const LoggedTable *referenced = loggedTable(master);
            if (!keyTaken(db, *referenced, value))
                missing << QStringLiteral("%1: %2 %3 不存在").arg(rowText(e.table, e.key), referenced->caption,
                                                                  value.toString());
        }
    }
    return missing;
}

qint64 restoreDeleted(Connection &connection, const QList<qint64> &deletes, const QString &window)
{
    LogDb db(connection);
    const QList<LogEntry> entries = deletedEntries(db, deletes);
    if (entries.isEmpty())
        return 0;
    QSet<QString> tables;
    for (const LogEntry &e : entries)
        tables.insert(e.table);
    const QString what = tables.size() == 1 ? recordsText(entries.first().table, entries.size())
                                            : QStringLiteral("%1 条记录").arg(entries.size());
    const QString refusedText = QStringLiteral("不能还原%1:").arg(what);
    for (const LogEntry &e : entries)
        if (e.table == QLatin1String("User"))
            throw ChangeRefused(refusedText + QStringLiteral("用户密码不记入修改记录,用户记录不能从回收站还原。"));

    // The keys are checked inside the batch, so that another clerk's row
    // cannot take one between the check and the restore.
    ChangeBatch batch(connection, {QStringLiteral("还原"), window, QStringLiteral("还原 ") + what});
    QStringList taken;
    if (db.session()) {
        for (const LogEntry &e : entries)
            tableOf(e);
        for (int i : takenKeysOnServer(*db.session(), entries))
            taken << rowText(entries[i].table, entries[i].key);
    } else {
        for (const LogEntry &e : entries)
            if (keyTaken(db, tableOf(e), e.key))
                taken << rowText(e.table, e.key);
    }
    if (!taken.isEmpty())
        throw ChangeRefused(refusedText + QStringLiteral("以下记录的编号已被其他记录使用:\n") + listOf(taken));
    if (!db.session() || !restoreOnServer(*db.session(), entries))
        for (const LogEntry &e : entries)
            storeRow(db, tableOf(e), e.key, decodeRow(db, e.table, e.oldValue));
    markEntriesUndone(db, entries, batch.id());
    batch.commit();
    return batch.id();
}

qint64 countDeletedBefore(Connection &connection, const QDate &before)
{
    LogDb db(connection);
    return db.value(QStringLiteral("SELECT count(*) ") + deletedBefore, {before.toString(Qt::ISODate)}).toLongLong();
}

qint64 purgeDeleted(Connection &connection, const QDate &before, const QString &window)
{
    LogDb db(connection);
    const QString date = before.toString(Qt::ISODate);
    ChangeBatch batch(connection, {QStringLiteral("清空"), window, QString()});
    batch.keepWhenEmpty();
    const qint64 purged = db.exec(QStringLiteral("UPDATE ChangeLog SET UndoneBy = ?2, OldValue = NULL WHERE ChangeID IN "
                                                 "(SELECT ChangeID ")
                                      + deletedBefore + QLatin1Char(')'),
                                  {date, batch.id()});
    db.exec(QStringLiteral("UPDATE ChangeBatch SET Description = ?1 WHERE BatchID = ?2"),
            {QStringLiteral("清空回收站中 %1 以前删除的 %2 条记录").arg(date).arg(purged), batch.id()});
    batch.commit();
    return purged;
}

}
