#include "data/SchemaUpgrade.h"

#include "data/Error.h"
#include "data/StagingFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <sqlite3.h>

#include <cstring>

#include <sys/stat.h>

namespace dravon {

namespace {

// The tables that hold records (no identifier of their own) and get a row key.
const QStringList recordTables = {QStringLiteral("Score"), QStringLiteral("Dorm"), QStringLiteral("Price"),
                                  QStringLiteral("Practice"), QStringLiteral("Moral"), QStringLiteral("Course")};

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

QString errorText(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

// Runs one statement without result rows; throws with the engine's text.
void exec(sqlite3 *db, const QString &sql)
{
    char *message = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    const QString text = message ? QString::fromUtf8(message) : errorText(db);
    sqlite3_free(message);
    if (rc != SQLITE_OK)
        throw Error(text);
}

// Every row of a query as texts.
QList<QStringList> rows(sqlite3 *db, const QString &sql, const QStringList &params = {})
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
        throw Error(errorText(db));
    for (int i = 0; i < params.size(); ++i) {
        const QByteArray value = params[i].toUtf8();
        sqlite3_bind_text(stmt, i + 1, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    }
    QList<QStringList> result;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        QStringList row;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, c));
            row << (text ? QString::fromUtf8(text) : QString());
        }
        result << row;
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        throw Error(errorText(db));
    return result;
}

// Removes a copy that is not needed, with any journal the engine left for it.
void dropCopy(const QString &copy)
{
    QFile::remove(copy);
    QFile::remove(copy + QStringLiteral("-journal"));
    staging::release(copy);
}

int userVersion(sqlite3 *db)
{
    return rows(db, QStringLiteral("PRAGMA user_version")).value(0).value(0).toInt();
}

// The name under which the file as it was before an upgrade is kept.
QString upgradeCopyName(const QString &path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString copy = path + QStringLiteral(".before-upgrade-") + stamp;
    for (int n = 2; QFileInfo::exists(copy); ++n)
        copy = path + QStringLiteral(".before-upgrade-%1-%2").arg(stamp).arg(n);
    return copy;
}

// A page-for-page copy of the open database through the engine's backup API
// (a plain file copy inside the process would drop its locks), readable only
// as the original is. It is written under a temporary name beside the file
// and gets its kept name only once the upgrade is done: an upgrade that fails
// or is killed leaves no second full copy behind.
QString copyBeside(sqlite3 *db, const QString &path)
{
    int error = 0;
    const QString copy = staging::createBeside(path, &error);
    if (copy.isEmpty())
        throw Error(QStringLiteral("无法在 %1 中建立升级前的副本: %2")
                        .arg(QFileInfo(path).absolutePath(), QString::fromLocal8Bit(std::strerror(error))));

    const QByteArray copyName = QFile::encodeName(copy);
    sqlite3 *target = nullptr;
    int rc = sqlite3_open_v2(copyName.constData(), &target, SQLITE_OPEN_READWRITE, nullptr);
    struct stat original = {};
    if (rc == SQLITE_OK && ::stat(QFile::encodeName(path).constData(), &original) == 0)
        ::chmod(copyName.constData(), original.st_mode & 07777);
    QString failure;
    if (rc == SQLITE_OK) {
        sqlite3_backup *backup = sqlite3_backup_init(target, "main", db, "main");
        if (!backup) {
            failure = errorText(target);
        } else {
            rc = sqlite3_backup_step(backup, -1);
            sqlite3_backup_finish(backup);
            if (rc != SQLITE_DONE)
                failure = QString::fromUtf8(sqlite3_errstr(rc));
        }
    } else {
        failure = target ? errorText(target) : QString::fromUtf8(sqlite3_errstr(rc));
    }
    if (target && sqlite3_close(target) != SQLITE_OK && failure.isEmpty())
        failure = QStringLiteral("无法关闭副本");
    if (!failure.isEmpty()) {
        dropCopy(copy);
        throw Error(QStringLiteral("无法建立升级前的副本 %1: %2").arg(path, failure));
    }
    return copy;
}

// Gives one record table its row key: a new table with `Id INTEGER PRIMARY KEY`
// in front of the old columns and the old definitions, the rows copied in
// their order with their row numbers as keys, the old table dropped, the new
// one renamed, its indexes made again. Views and triggers are out of the way
// meanwhile (see setAsideViewsAndTriggers).
void addRowKey(sqlite3 *db, const QString &table)
{
    const QList<QStringList> columns = rows(db, QStringLiteral("SELECT name, pk FROM pragma_table_info(?)"), {table});
    QStringList names;
    for (const QStringList &column : columns) {
        if (column[0].compare(QStringLiteral("Id"), Qt::CaseInsensitive) == 0)
            throw Error(QStringLiteral("表 %1 已有字段 %2,但不是行键").arg(table, column[0]));
        names << quoted(column[0]);
    }
    const QString create = rows(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?"),
                                {table})
                               .value(0)
                               .value(0);
    const qsizetype open = create.indexOf(QLatin1Char('('));
    if (names.isEmpty() || open < 0)
        throw Error(QStringLiteral("表 %1 的定义无法读取").arg(table));
    const QList<QStringList> dependents = rows(
        db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'index' AND tbl_name = ? "
                           "AND sql IS NOT NULL ORDER BY rowid"),
        {table});

    const QString fresh = table + QStringLiteral("_upgrading");
    const QString list = names.join(QStringLiteral(", "));
    exec(db, QStringLiteral("CREATE TABLE %1 (Id INTEGER PRIMARY KEY, %2").arg(quoted(fresh), create.mid(open + 1)));
    exec(db, QStringLiteral("INSERT INTO %1 (Id, %2) SELECT rowid, %2 FROM %3 ORDER BY rowid")
                 .arg(quoted(fresh), list, quoted(table)));
    exec(db, QStringLiteral("DROP TABLE %1").arg(quoted(table)));
    exec(db, QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(quoted(fresh), quoted(table)));
    for (const QStringList &dependent : dependents)
        exec(db, dependent[0]);
}

// The file's views and triggers, dropped for the time a table is rebuilt:
// renaming the rebuilt table checks every view and trigger, and one that
// names a table dropped meanwhile would stop the upgrade. Their statements,
// in the order they were made (views before the triggers that may use them).
QStringList setAsideViewsAndTriggers(sqlite3 *db)
{
    const QList<QStringList> objects =
        rows(db, QStringLiteral("SELECT type, name, sql FROM sqlite_master WHERE type IN ('view', 'trigger') "
                                "AND sql IS NOT NULL ORDER BY type = 'trigger', rowid"));
    QStringList statements;
    // Triggers go first: dropping a view also drops the triggers on it.
    for (auto it = objects.crbegin(); it != objects.crend(); ++it) {
        const QStringList &o = *it;
        exec(db, QStringLiteral("DROP %1 IF EXISTS %2").arg(o[0] == QLatin1String("view") ? QStringLiteral("VIEW")
                                                                                         : QStringLiteral("TRIGGER"),
                                                            quoted(o[1])));
    }
    for (const QStringList &o : objects)
        statements << o[2];
    return statements;
}

// True when the table already has its row key `Id INTEGER PRIMARY KEY`.
bool hasRowKey(sqlite3 *db, const QString &table)
{
    const QList<QStringList> columns =
        rows(db, QStringLiteral("SELECT name, type, pk FROM pragma_table_info(?)"), {table});
    for (const QStringList &c : columns) {
        if (c[0].compare(QStringLiteral("Id"), Qt::CaseInsensitive) == 0)
            return c[1].compare(QStringLiteral("INTEGER"), Qt::CaseInsensitive) == 0 && c[2] == QStringLiteral("1");
    }
    return false;
}

// The change log's table as this program defines it, built anew with its
// entries, keys and order unchanged: the old table is renamed aside, the new
// one made from the delivered statement (so the file's definition reads as a
// new file's), the entries copied, the old table dropped and the indexes made
// again. Views and triggers are out of the way meanwhile (see
// setAsideViewsAndTriggers).
void rebuildChangeLog(sqlite3 *db, const QString &schema)
{
    const QString head = QStringLiteral("CREATE TABLE ChangeLog (");
    const qsizetype from = schema.indexOf(head);
    const qsizetype to = schema.indexOf(QStringLiteral("\n);"), from);
    if (from < 0 || to < 0)
        throw Error(QStringLiteral("程序的数据库结构说明 (schema.sql) 缺少修改记录表"));
    QStringList names;
    for (const QStringList &column : rows(db, QStringLiteral("SELECT name FROM pragma_table_info('ChangeLog')")))
        names << quoted(column[0]);
    const QList<QStringList> indexes =
        rows(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'index' AND tbl_name = 'ChangeLog' "
                                "AND sql IS NOT NULL ORDER BY rowid"));
    exec(db, QStringLiteral("ALTER TABLE ChangeLog RENAME TO ChangeLog_upgrading"));
    exec(db, schema.mid(from, to + 3 - from));
    exec(db, QStringLiteral("INSERT INTO ChangeLog (%1) SELECT %1 FROM ChangeLog_upgrading ORDER BY ChangeID")
                 .arg(names.join(QStringLiteral(", "))));
    exec(db, QStringLiteral("DROP TABLE ChangeLog_upgrading"));
    for (const QStringList &index : indexes)
        exec(db, index[0]);
}

// The statements of the change log's triggers, in the order the delivered
// schema makes them (the order the engine fires them in depends on it).
QStringList logTriggerStatements()
{
    const QString sql = changeLogSchemaSql();
    QStringList statements;
    for (qsizetype from = sql.indexOf(QStringLiteral("CREATE TRIGGER ")); from >= 0;
         from = sql.indexOf(QStringLiteral("CREATE TRIGGER "), from)) {
        const qsizetype end = sql.indexOf(QStringLiteral("\nEND;"), from);
        if (end < 0)
            throw Error(QStringLiteral("程序的数据库结构说明 (schema.sql) 中的触发器不完整"));
        statements << sql.mid(from, end + 5 - from);
        from = end;
    }
    return statements;
}

void dropLogTriggers(sqlite3 *db, const QStringList &triggers)
{
    for (const QString &trigger : triggers)
        exec(db, QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(trigger.section(QLatin1Char(' '), 2, 2)));
}

// Version 3 for a file of version 2: the log's table built anew and the
// log's triggers made again as delivered (they read the running batch once).
// The file's other views and triggers are kept as they are.
void upgradeChangeLog(sqlite3 *db)
{
    const QStringList triggers = logTriggerStatements();
    dropLogTriggers(db, triggers);
    const QStringList viewsAndTriggers = setAsideViewsAndTriggers(db);
    rebuildChangeLog(db, deliveredSchemaSql());
    for (const QString &statement : viewsAndTriggers)
        exec(db, statement);
    for (const QString &trigger : triggers)
        exec(db, trigger);
}

// Version 4 for a file of version 3: the log's triggers made again as
// delivered, in their order (an inserted or deleted row keeps a byte string
// in a tagged form). The log's entries and the file's other triggers stay.
void remakeLogTriggers(sqlite3 *db)
{
    const QStringList triggers = logTriggerStatements();
    dropLogTriggers(db, triggers);
    for (const QString &trigger : triggers)
        exec(db, trigger);
}

}

QString deliveredSchemaSql()
{
    QFile file(QStringLiteral(":/dravon/schema.sql"));
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("程序缺少数据库结构说明 (schema.sql)"));
    return QString::fromUtf8(file.readAll());
}

QString changeLogSchemaSql()
{
    const QString schema = deliveredSchemaSql();
    const qsizetype from = schema.indexOf(QStringLiteral("-- Version 2:"));
    const qsizetype to = schema.indexOf(QStringLiteral("-- End of version 2."));
    if (from < 0 || to < from)
        throw Error(QStringLiteral("程序的数据库结构说明 (schema.sql) 缺少版本 2 的部分"));
    return schema.mid(from, to - from);
}

void upgradeSchema(void *handle, const QString &path, UpgradeCopy keep)
{
    auto *db = static_cast<sqlite3 *>(handle);
    int version = 0;
    try {
        version = userVersion(db);
    } catch (const Error &e) {
        throw SchemaError(QStringLiteral("无法读取数据库 %1 的版本: %2").arg(path, e.text()));
    }
    if (version > currentSchemaVersion)
        throw SchemaError(QStringLiteral("数据库 %1 由较新版本的程序建立(版本 %2),本程序不能使用。").arg(path).arg(version));
    if (version == currentSchemaVersion)
        return;

    QString copy;
    // From version 4 on only the number moves on: nothing to keep a copy for.
    if (keep == UpgradeCopy::KeepBeside && version < 4) {
        try {
            copy = copyBeside(db, path);
        } catch (const Error &e) {
            throw SchemaError(QStringLiteral("数据库 %1 需要升级,但%2;文件没有改变。").arg(path, e.text()));
        }
    }
    bool upgradedElsewhere = false;
    try {
        exec(db, QStringLiteral("BEGIN IMMEDIATE"));
        try {
            // Another program opening the file at the same moment may have
            // upgraded it before this one got the write lock.
            version = userVersion(db);
            if (version > currentSchemaVersion)
                throw Error(QStringLiteral("文件已由较新版本的程序升级(版本 %1)").arg(version));
            upgradedElsewhere = version == currentSchemaVersion;
            if (version < 1) {
                const QStringList viewsAndTriggers = setAsideViewsAndTriggers(db);
                for (const QString &table : recordTables) {
                    if (!hasRowKey(db, table))
                        addRowKey(db, table);
                }
                for (const QString &statement : viewsAndTriggers)
                    exec(db, statement);
            }
            if (version < 2)
                exec(db, changeLogSchemaSql());
            if (version == 2)
                upgradeChangeLog(db);
            if (version == 3)
                remakeLogTriggers(db);
            if (!upgradedElsewhere)
                exec(db, QStringLiteral("PRAGMA user_version = %1").arg(currentSchemaVersion));
            exec(db, QStringLiteral("COMMIT"));
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    } catch (const Error &e) {
        // The file is as it was, so the copy is not needed.
        if (!copy.isEmpty())
            dropCopy(copy);
        throw SchemaError(QStringLiteral("数据库 %1 升级失败,文件没有改变: %2").arg(path, e.text()));
    }
    if (upgradedElsewhere && !copy.isEmpty()) {
        // The other program kept its own copy of the file as it was.
        dropCopy(copy);
        return;
    }
    if (copy.isEmpty())
        return;
    // The upgrade is done: the copy takes its kept name.
    const QString kept = upgradeCopyName(path);
    const bool renamed = QFile::rename(copy, kept);
    staging::release(copy);
    if (!renamed)
        dropCopy(copy);
    staging::removeLeftovers(QFileInfo(path).absolutePath());
}

}
