#include "data/server/Migration.h"

#include "data/DatabaseFiles.h"
#include "data/SchemaUpgrade.h"
#include "data/server/ServerSchema.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <sqlite3.h>

namespace dravon::pg {

namespace {

// Rows are sent to the server in chunks of about this size; progress is
// reported and a cancel noticed between chunks.
constexpr int chunkBytes = 256 * 1024;

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// The file, opened read-only with SQLite's own API (Qt SQL's driver would
// copy every value through a QVariant), inside one read transaction.
class SourceFile
{
public:
    explicit SourceFile(const QString &path) : m_path(path)
    {
        const QString problem = dbfiles::programDatabaseProblem(path, dbfiles::PageCheck::TablesOnly);
        if (!problem.isEmpty())
            throw Error(QStringLiteral("数据库文件 %1 不能迁移: %2").arg(QDir::toNativeSeparators(path), problem));
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            fail();
        sqlite3_busy_timeout(m_db, 5000);
        // The counts and every row come from one committed state.
        exec("BEGIN");
        const qint64 version = integer("PRAGMA user_version");
        if (version > currentSchemaVersion)
            throw Error(QStringLiteral("数据库文件 %1 是较新版本的程序建立的(版本 %2,本程序为版本 %3),不能迁移。")
                            .arg(QDir::toNativeSeparators(path))
                            .arg(version)
                            .arg(currentSchemaVersion));
    }
    ~SourceFile()
    {
        if (m_db) {
            sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close_v2(m_db);
        }
    }
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    sqlite3 *handle() const { return m_db; }

    [[noreturn]] void fail() const
    {
        throw Error(QStringLiteral("读取数据库文件 %1 失败: %2")
                        .arg(QDir::toNativeSeparators(m_path),
                             m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory")));
    }
    void exec(const char *sql) const
    {
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            fail();
    }
    qint64 integer(const QString &sql) const
    {
        sqlite3_stmt *stmt = prepare(sql);
        const int rc = sqlite3_step(stmt);
        const qint64 value = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
        sqlite3_finalize(stmt);
        if (rc != SQLITE_ROW)
            fail();
        return value;
    }
    sqlite3_stmt *prepare(const QString &sql) const
    {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
            fail();
        return stmt;
    }
    // The table's column names, lower case, mapped to their spelling in the file.
    QHash<QString, QString> columns(const QString &table) const
    {
        sqlite3_stmt *stmt = prepare(QStringLiteral("PRAGMA table_info(%1)").arg(quoted(table)));
        QHash<QString, QString> names;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const QString name = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1)));
            names.insert(name.toLower(), name);
        }
        sqlite3_finalize(stmt);
        return names;
    }

private:
    QString m_path;
    sqlite3 *m_db = nullptr;
};

// The server's columns of a table, in their order.
QStringList serverColumns(Session &session, const QString &table)
{
    const Result r = session.exec(QStringLiteral("SELECT column_name FROM information_schema.columns "
                                                 "WHERE table_schema = current_schema() AND table_name = $1 "
                                                 "ORDER BY ordinal_position"),
                                  {table});
    QStringList names;
    for (int i = 0; i < r.rows(); ++i)
        names << r.text(i, 0);
    return names;
}

qint64 serverCount(Session &session, const QString &table)
{
    return session.exec(QStringLiteral("SELECT count(*) FROM %1").arg(quoted(table))).value(0, 0).toLongLong();
}

// The server database holds no rows but the first account, as the first
// connection sets it up; otherwise it is not empty and nothing is copied.
void requireNoRows(Session &session)
{
    for (const QString &table : programTableNames()) {
        const qint64 rows = table == QLatin1String("User")
                                ? session.exec(QStringLiteral("SELECT count(*) FROM \"User\" WHERE \"UserID\" <> '1001'"))
                                      .value(0, 0)
                                      .toLongLong()
                                : serverCount(session, table);
        if (rows > 0)
            throw Error(QStringLiteral("服务器上的数据库 %1 中已有数据(表 %2 有 %3 行)。数据迁移只写入空数据库,没有做任何修改。")
                            .arg(session.address().display(), table)
                            .arg(rows));
    }
    session.exec(QStringLiteral("DELETE FROM \"User\""));
}

// The change log's tables, which the file carries from version 2 on.
const QStringList logTables = {QStringLiteral("ChangeBatch"), QStringLiteral("ChangeLog")};

// The program tables' log triggers on or off. The copied rows are the
// database's starting point, not changes; the file's own log comes with them.
// Inside the migration's transaction: a failure leaves the triggers as they were.
void setLogTriggers(Session &session, bool on)
{
    for (const QString &table : programTableNames())
        session.exec(QStringLiteral("ALTER TABLE %1 %2 TRIGGER USER").arg(quoted(table), on ? QStringLiteral("ENABLE") : QStringLiteral("DISABLE")));
}

struct TablePlan
{
    QString table;
    QString select;  // on the file
    QString copy;    // on the server
    bool hasRowKey = false;
    bool logTable = false;
    qint64 rows = 0;
};

TablePlan planFor(const SourceFile &file, Session &session, const QString &table)
{
    const QHash<QString, QString> fileColumns = file.columns(table);
    QStringList from, to;
    bool hasRowKey = false;
    for (const QString &column : serverColumns(session, table)) {
        const QString inFile = fileColumns.value(column.toLower());
        if (column == QLatin1String("Id")) {
            // The record tables' Id, or the row number standing in for it:
            // rows keep their order and numbers.
            from << (inFile.isEmpty() ? QStringLiteral("rowid") : quoted(inFile));
            hasRowKey = true;
        } else if (!inFile.isEmpty()) {
            from << quoted(inFile);
        } else {
            continue;
        }
        to << quoted(column);
    }
    TablePlan plan;
    plan.table = table;
    plan.select = QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(from.join(QStringLiteral(", ")), quoted(table));
    plan.copy = QStringLiteral("COPY %1 (%2) FROM STDIN").arg(quoted(table), to.join(QStringLiteral(", ")));
    plan.hasRowKey = hasRowKey;
    plan.rows = file.integer(QStringLiteral("SELECT count(*) FROM %1").arg(quoted(table)));
    return plan;
}

// Reads the rows of one table as COPY text, a chunk at a time.
class RowReader
{
public:
    RowReader(const SourceFile &file, const TablePlan &plan) : m_file(file), m_plan(plan), m_stmt(file.prepare(plan.select)) {}
    ~RowReader() { sqlite3_finalize(m_stmt); }
    RowReader(const RowReader &) = delete;
    RowReader &operator=(const RowReader &) = delete;

    qint64 rowsRead() const { return m_rows; }

    // Appends rows until the chunk is full; false when the table is done.
    bool next(QByteArray &chunk)
    {
        const int columns = sqlite3_column_count(m_stmt);
        while (chunk.size() < chunkBytes) {
            const int rc = sqlite3_step(m_stmt);
            if (rc == SQLITE_DONE)
                return false;
            if (rc != SQLITE_ROW)
                m_file.fail();
            for (int c = 0; c < columns; ++c) {
                if (c > 0)
                    chunk += '\t';
                appendValue(chunk, c);
            }
            chunk += '\n';
            ++m_rows;
        }
        return true;
    }

private:
    void appendValue(QByteArray &chunk, int c) const
    {
        switch (sqlite3_column_type(m_stmt, c)) {
        case SQLITE_NULL:
            chunk += "\\N";
            break;
        case SQLITE_INTEGER:
            chunk += QByteArray::number(sqlite3_column_int64(m_stmt, c));
            break;
        case SQLITE_FLOAT:
            // Into a text column of the log as the shortest text that reads back the same.
            chunk += m_plan.logTable ? QString::number(sqlite3_column_double(m_stmt, c), 'g', QLocale::FloatingPointShortest).toUtf8()
                                     : QByteArray::number(sqlite3_column_double(m_stmt, c), 'g', 17);
            break;
        case SQLITE_TEXT:
            appendCopyText(chunk, reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, c)),
                           sqlite3_column_bytes(m_stmt, c));
            break;
        default:
            throw Error(QStringLiteral("表 %1 第 %2 行的 %3 列是二进制数据,不能迁移。")
                            .arg(m_plan.table)
                            .arg(m_rows + 1)
                            .arg(QString::fromUtf8(sqlite3_column_name(m_stmt, c))));
        }
    }

    const SourceFile &m_file;
    const TablePlan &m_plan;
    sqlite3_stmt *m_stmt = nullptr;
    qint64 m_rows = 0;
};

}

void appendCopyText(QByteArray &line, const char *text, int size)
{
    if (!text) {
        line += "\\N";
        return;
    }
    for (int i = 0; i < size; ++i) {
        const char c = text[i];
        switch (c) {
        case '\\':
            line += "\\\\";
            break;
        case '\t':
            line += "\\t";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        default:
            line += c;
        }
    }
}

QList<MigratedTable> migrateFileToServer(const QString &filePath, const ServerAddress &address,
                                         const MigrationProgressFn &progress)
{
    const SourceFile file(filePath);
    Session session(address);
    QList<MigratedTable> counts;
    session.transaction([&] {
        // The setup lock is held to the end: a program that connects
        // meanwhile waits for the finished database.
        prepareServerSchemaWithin(session);
        // Other programs wait meanwhile (the triggers are switched off
        // below): the emptiness checked here holds until the copied rows are
        // committed.
        QStringList tables;
        for (const QString &table : programTableNames())
            tables << quoted(table);
        session.exec(QStringLiteral("LOCK TABLE %1 IN EXCLUSIVE MODE").arg(tables.join(QStringLiteral(", "))));
        setLogTriggers(session, false);
        requireNoRows(session);
        // The log of the emptied database (at most its first account's
        // changes) gives way to the file's.
        session.exec(QStringLiteral("DELETE FROM \"ChangeLog\""));
        session.exec(QStringLiteral("DELETE FROM \"ChangeBatch\""));

        QList<TablePlan> plans;
        qint64 total = 0;
        for (const QString &table : programTableNames()) {
            plans << planFor(file, session, table);
            total += plans.last().rows;
        }
        QList<TablePlan> logPlans;
        for (const QString &table : logTables) {
            if (file.columns(table).isEmpty())
                continue;
            logPlans << planFor(file, session, table);
            logPlans.last().logTable = true;
        }
        MigrationProgress done{QString(), 0, total};
        auto report = [&] {
            if (progress && !progress(done))
                throw MigrationCancelled(QStringLiteral("数据迁移已取消。"));
        };
        report();
        for (const TablePlan &plan : plans) {
            done.table = plan.table;
            const qint64 before = done.rowsDone;
            RowReader reader(file, plan);
            try {
                session.copyIn(plan.copy, [&](QByteArray &chunk) {
                    const bool more = reader.next(chunk);
                    done.rowsDone = before + reader.rowsRead();
                    report();
                    return more;
                });
            } catch (const ServerError &e) {
                throw ServerError(QStringLiteral("表 %1 的数据没有写入服务器: %2").arg(plan.table, e.text()), e.sqlState());
            }
            if (plan.hasRowKey) {
                // New rows on the server are numbered after the copied ones.
                session.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence($1, 'Id'), max(\"Id\")) FROM %1 "
                                            "HAVING max(\"Id\") IS NOT NULL")
                                 .arg(quoted(plan.table)),
                             {quoted(plan.table)});
            }
        }
        for (const TablePlan &plan : logPlans) {
            RowReader reader(file, plan);
            try {
                session.copyIn(plan.copy, [&](QByteArray &chunk) { return reader.next(chunk); });
            } catch (const ServerError &e) {
                throw ServerError(QStringLiteral("表 %1 的数据没有写入服务器: %2").arg(plan.table, e.text()), e.sqlState());
            }
            const QString key = plan.table == QLatin1String("ChangeLog") ? QStringLiteral("ChangeID") : QStringLiteral("BatchID");
            session.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence($1, $2), max(%2)) FROM %1 HAVING max(%2) IS NOT NULL")
                             .arg(quoted(plan.table), quoted(key)),
                         {quoted(plan.table), key});
            const qint64 onServer = serverCount(session, plan.table);
            if (onServer != plan.rows)
                throw Error(QStringLiteral("表 %1 复制后的行数不符(文件中 %2 行,服务器上 %3 行)。")
                                .arg(plan.table)
                                .arg(plan.rows)
                                .arg(onServer));
        }
        setLogTriggers(session, true);
        for (const TablePlan &plan : plans) {
            const qint64 onServer = serverCount(session, plan.table);
            if (onServer != plan.rows)
                throw Error(QStringLiteral("表 %1 复制后的行数不符(文件中 %2 行,服务器上 %3 行)。")
                                .arg(plan.table)
                                .arg(plan.rows)
                                .arg(onServer));
            counts << MigratedTable{plan.table, plan.rows, onServer};
        }
        // The planner's statistics for the filled tables.
        session.exec(QStringLiteral("ANALYZE"));
    });
    return counts;
}

}
