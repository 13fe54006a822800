// Times the change log where it costs, through the program's windows, against
// the same work without the log (the file's logging triggers set aside) in the
// same run:
//   BenchChangeLog --db <a copy of a large file> [--reps N] [--skip-window]
//   BenchChangeLog --db <file> --server host:port/database [--reps N] [--skip-window]
// It writes to the file (deletes, updates, a million logged deletes for the
// recycle bin): give it a copy, never the shared benchmark file. With
// --server the same cases run on a server database instead (the file only
// starts the program): give it a throw-away copy of a loaded database
// (CREATE DATABASE <copy> TEMPLATE <loaded>); without the log there means
// the table's logging triggers disabled. The password comes from PGPASSWORD
// or libpq's password file, the user from PGUSER (default veltrana). The cases:
//   - Ctrl+Del of 10,000 selected score rows in the score window;
//   - its undo (Ctrl+Z) in the window;
//   - an update of 100,000 score rows in one batch, as one statement and as
//     100,000 statements by key;
//   - the log's size per changed row;
//   - opening the recycle bin over 1,000,000 logged deletes, to painted rows.
// --skip-window leaves out the Ctrl+Del and its undo, whose time is the
// window's own delete path (minutes a repetition on a loaded machine).
#include "app/DM_Unit.h"
#include "app/Looks_Unit.h"
#include "app/Program_Unit.h"
#include "app/TeachMain_Unit.h"
#include "bench/BenchSupport.h"
#include "data/Dravon.h"
#include "data/Statement.h"
#include "data/changes/ChangeBatch.h"
#include "data/changes/Pruning.h"
#include "forms/students/StudentScore_Unit.h"
#include "forms/system/RecycleBin_Unit.h"
#include "gui/controls/DataGrid.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QItemSelection>
#include <QKeyEvent>
#include <QMdiArea>
#include <sqlite3.h>

#include <cstdio>

using bench::fail;
using bench::median;
using bench::settle;
using bench::timed;
using bench::waitForPaint;

namespace {

sqlite3 *raw = nullptr;
// On a server: the benchmark's own session there, beside the program's.
std::unique_ptr<dravon::pg::Session> own;

QStringList sqliteColumn(const QString &sql)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(raw, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
        fail(QStringLiteral("SQLite refused %1").arg(sql));
    QStringList rows;
    while (sqlite3_step(stmt) == SQLITE_ROW)
        rows << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    return rows;
}

// A statement in the program's SQL on the engine alone: the file through
// SQLite, the server through the benchmark's own session.
QStringList engineColumn(const QString &sql)
{
    if (!own)
        return sqliteColumn(sql);
    try {
        const dravon::pg::Result r = own->exec(DM->ADOConn.dialect().rewrite(sql));
        QStringList rows;
        for (int i = 0; i < r.rows(); ++i)
            rows << r.text(i, 0);
        return rows;
    } catch (const dravon::Error &e) {
        fail(QStringLiteral("the server refused %1: %2").arg(sql, e.text()));
    }
}

QString engineValue(const QString &sql)
{
    return engineColumn(sql).value(0);
}

void engineExec(const QString &sql)
{
    if (!own) {
        bench::sqliteExec(raw, sql);
        return;
    }
    try {
        own->execScript(DM->ADOConn.dialect().rewrite(sql));
    } catch (const dravon::Error &e) {
        fail(QStringLiteral("the server refused %1: %2").arg(sql, e.text()));
    }
}

// A statement in the server's own SQL on the benchmark's session.
void serverExec(const QString &sql)
{
    try {
        own->execScript(sql);
    } catch (const dravon::Error &e) {
        fail(QStringLiteral("the server refused %1: %2").arg(sql, e.text()));
    }
}

qint64 logBytes(const QString &path)
{
    return own ? dravon::changeLogBytes(own->address()) : dravon::changeLogBytes(path);
}

// The logging triggers of a table, set aside and put back: the same work
// without the log.
class TriggersAside
{
public:
    explicit TriggersAside(const QString &table) : m_table(table)
    {
        if (own) {
            serverExec(QStringLiteral("ALTER TABLE \"%1\" DISABLE TRIGGER USER").arg(table));
            return;
        }
        m_definitions = sqliteColumn(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'trigger' AND tbl_name = '%1'").arg(table));
        for (const QString &name :
             sqliteColumn(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'trigger' AND tbl_name = '%1'").arg(table)))
            bench::sqliteExec(raw, QStringLiteral("DROP TRIGGER \"%1\"").arg(name));
    }
    ~TriggersAside()
    {
        if (own) {
            serverExec(QStringLiteral("ALTER TABLE \"%1\" ENABLE TRIGGER USER").arg(m_table));
            return;
        }
        for (const QString &sql : std::as_const(m_definitions))
            bench::sqliteExec(raw, sql);
    }

private:
    QString m_table;
    QStringList m_definitions;
};

void printLine(const QString &name, double withLog, double without, const QString &target)
{
    std::printf("%-58s %10.1f %10.1f %8.2fx %10s\n", qPrintable(name), withLog, without,
                without > 0 ? withLog / without : 0.0, qPrintable(target));
    std::fflush(stdout);
}

void printNote(const QString &name, const QString &value)
{
    std::printf("%-58s %s\n", qPrintable(name), qPrintable(value));
    std::fflush(stdout);
}

TfrmStudentScore *scoreWindow()
{
    if (!frmStudentScore) {
        frmTeachMain->menuItem(QStringLiteral("M2"))->trigger();
        waitForPaint(frmStudentScore->DBGrid1->viewport());
    }
    frmTeachMain->mdiArea()->setActiveSubWindow(frmStudentScore->mdiSubWindow());
    dravon::RecordSet *rows = frmStudentScore->DataStudentScore->dataSet();
    rows->waitForCount();
    settle();
    return frmStudentScore;
}

// Ctrl+Del of the rows at positions [first, first + count) of the score
// window, answered OK, until the grid has painted again.
double ctrlDel(int first, int count)
{
    TfrmStudentScore *w = scoreWindow();
    DataGrid *grid = w->DBGrid1;
    grid->setFocus();
    grid->selectionModel()->select(QItemSelection(grid->model()->index(first, 0),
                                                  grid->model()->index(first + count - 1, grid->model()->columnCount() - 1)),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const qint64 before = engineValue(QStringLiteral("SELECT count(*) FROM Score")).toLongLong();
    const double ms = timed([&] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::ControlModifier);
        QApplication::sendEvent(grid, &key);
        waitForPaint(grid->viewport());
    });
    const qint64 after = engineValue(QStringLiteral("SELECT count(*) FROM Score")).toLongLong();
    if (before - after != count)
        fail(QStringLiteral("Ctrl+Del deleted %1 rows, not %2").arg(before - after).arg(count));
    return ms;
}

// 编辑 → 撤销 (the command of Ctrl+Z) in the score window, until painted.
double undoInScoreWindow()
{
    TfrmStudentScore *w = scoreWindow();
    return timed([&] {
        frmTeachMain->menuItem(QStringLiteral("E2"))->trigger();
        waitForPaint(w->DBGrid1->viewport());
    });
}

// An update of rows with keys (from, from + count] in one batch: as one
// statement, or as one statement by key for each row.
double updateBatch(qint64 from, int count, bool byKey)
{
    dravon::Connection &connection = DM->ADOConn;
    return timed([&] {
        dravon::ChangeBatch batch(connection, {QStringLiteral("保存"), QStringLiteral("BenchChangeLog"),
                                               QStringLiteral("修改 %1 条成绩记录").arg(count)});
        if (!byKey) {
            SQLExecute(QStringLiteral("Update Score Set Score = Score + 1 Where Id > %1 And Id <= %2").arg(from).arg(from + count),
                       connection);
        } else if (connection.isServer()) {
            for (qint64 id = from + 1; id <= from + count; ++id)
                connection.session().exec(QStringLiteral("UPDATE \"Score\" SET \"Score\" = \"Score\" + 1 WHERE \"Id\" = $1"),
                                          {id});
        } else {
            dravon::Statement update;
            update.prepare(static_cast<sqlite3 *>(connection.nativeHandle()),
                           QStringLiteral("UPDATE Score SET Score = Score + 1 WHERE Id = ?1"));
            for (qint64 id = from + 1; id <= from + count; ++id) {
                update.reset();
                update.bind(1, id);
                update.step();
            }
        }
        batch.commit();
    });
}

// The same statement on the engine alone, in one transaction, with the log's triggers aside.
double sqliteUpdate(qint64 from, int count)
{
    TriggersAside aside(QStringLiteral("Score"));
    return timed([&] {
        engineExec(QStringLiteral("BEGIN; UPDATE Score SET Score = Score + 1 WHERE Id > %1 AND Id <= %2; COMMIT;")
                       .arg(from)
                       .arg(from + count));
    });
}

}

int main(int argc, char **argv)
{
    const bench::CommandLine args(
        argc, argv,
        {{"--db", "--reps", "--server"},
         {"--skip-window", "--skip-update"},
         {},
         {"--db <a copy of a large file> [--reps N] [--skip-window] [--skip-update]",
          "--db <file> --server host:port/database [--reps N] [--skip-window] [--skip-update]"}});
    const QString path = bench::existingFile(args.text("--db"));
    const QString server = args.text("--server");
    const int reps = args.count("--reps", 3);
    const bool skipWindow = args.has("--skip-window"), skipUpdate = args.has("--skip-update");
    if (server.isEmpty())
        bench::refuseSharedFile(path);
    // An older file gets the change log as it opens.
    bench::Program started(argc, argv, path);
    bench::ProgramRun &program = started.run();
    if (!server.isEmpty()) {
        const dravon::pg::ServerAddress address = bench::serverAddressOf(server);
        try {
            bench::reconnectProgram([&](dravon::Connection &c) { c.setServerAddress(address); });
            own = std::make_unique<dravon::pg::Session>(address);
        } catch (const dravon::Error &e) {
            fail(e.text());
        }
    } else {
        raw = bench::openSqlite(path);
    }
    const qint64 scores = engineValue(QStringLiteral("SELECT count(*) FROM Score")).toLongLong();
    std::printf("database %s: %lld scores; Qt %s, %s, %d repetitions, medians\n\n",
                qPrintable(own ? own->address().display() : path), scores, qVersion(),
                qPrintable(own ? QStringLiteral("server %1").arg(own->serverVersion())
                               : QStringLiteral("SQLite %1").arg(QString::fromLatin1(sqlite3_libversion()))),
                reps);
    std::printf("%-58s %10s %10s %9s %10s\n", "operation", "with log", "without", "ratio", "target");
    std::printf("%-58s %10s %10s %9s %10s\n", "", "ms", "ms", "", "");

    // Ctrl+Del of 10,000 rows with the log, and its undo; then the same
    // Ctrl+Del with the triggers aside (the rows put back by the engine).
    constexpr int deleted = 10000;
    constexpr int first = 1000;
    std::vector<double> withLog, undo, without;
    qint64 logBytesPerDelete = 0;
    for (int i = 0; i < (skipWindow ? 0 : reps); ++i) {
        const qint64 bytesBefore = logBytes(path);
        withLog.push_back(ctrlDel(first, deleted));
        if (i == 0)
            logBytesPerDelete = (logBytes(path) - bytesBefore) / deleted;
        undo.push_back(undoInScoreWindow());
        if (engineValue(QStringLiteral("SELECT count(*) FROM Score")).toLongLong() != scores)
            fail(QStringLiteral("the undo did not bring the rows back"));

        {
            TfrmStudentScore *w = scoreWindow();
            dravon::RecordSet *rows = w->DataStudentScore->dataSet();
            rows->moveTo(first);
            const qint64 fromId = rows->fieldValue(QStringLiteral("Id")).toLongLong();
            rows->moveTo(first + deleted - 1);
            const qint64 toId = rows->fieldValue(QStringLiteral("Id")).toLongLong();
            engineExec(QStringLiteral("CREATE TEMP TABLE kept AS SELECT * FROM Score WHERE Id BETWEEN %1 AND %2").arg(fromId).arg(toId));
            TriggersAside aside(QStringLiteral("Score"));
            without.push_back(ctrlDel(first, deleted));
            engineExec(QStringLiteral("INSERT INTO Score SELECT * FROM kept; DROP TABLE kept;"));
        }
        frmTeachMain->mdiArea()->closeAllSubWindows();
        settle();
    }
    if (!skipWindow) {
        printLine(QStringLiteral("score window: Ctrl+Del of %1 rows").arg(deleted), median(withLog), median(without),
                  QStringLiteral("<= 1.5x"));
        printLine(QStringLiteral("score window: undo of the %1-row Ctrl+Del").arg(deleted), median(undo), 0,
                  QStringLiteral("<= 2000 ms"));
        printNote(QStringLiteral("log size per deleted row"), QStringLiteral("%1 bytes").arg(logBytesPerDelete));
    }

    // An update of 100,000 rows in one batch.
    constexpr int updated = 100000;
    std::vector<double> statementWith, statementWithout, keysWith, keysWithout, engine;
    qint64 logBytesPerUpdate = 0;
    for (int i = 0; i < (skipUpdate ? 0 : reps); ++i) {
        const qint64 from = 200000 + qint64(i) * updated;
        const qint64 bytesBefore = logBytes(path);
        statementWith.push_back(updateBatch(from, updated, false));
        if (i == 0)
            logBytesPerUpdate = (logBytes(path) - bytesBefore) / updated;
        {
            TriggersAside aside(QStringLiteral("Score"));
            statementWithout.push_back(updateBatch(from, updated, false));
        }
        keysWith.push_back(updateBatch(from, updated, true));
        {
            TriggersAside aside(QStringLiteral("Score"));
            keysWithout.push_back(updateBatch(from, updated, true));
        }
        engine.push_back(sqliteUpdate(from, updated));
    }
    if (!skipUpdate) {
        printLine(QStringLiteral("update of %1 rows in one batch, one statement").arg(updated), median(statementWith),
                  median(statementWithout), QStringLiteral("<= 1.5x"));
        printLine(QStringLiteral("update of %1 rows in one batch, a statement each").arg(updated), median(keysWith),
                  median(keysWithout), QStringLiteral("<= 1.5x"));
        printLine(QStringLiteral("  (%1 alone: the one statement, no log)").arg(own ? QStringLiteral("the server") : QStringLiteral("SQLite")), median(engine), 0, QString());
        printNote(QStringLiteral("log size per updated row (one column)"), QStringLiteral("%1 bytes").arg(logBytesPerUpdate));
    }

    // The recycle bin over a million logged deletes.
    constexpr qint64 million = 1000000;
    const qint64 lastKey = engineValue(QStringLiteral("SELECT max(Id) FROM Score")).toLongLong();
    // A database the benchmark ran on before has them already.
    const bool binFull = engineValue(QStringLiteral("SELECT count(*) FROM ChangeLog WHERE Operation = 'D' AND UndoneBy IS NULL"))
                             .toLongLong()
                         >= million;
    const double deleting = binFull ? 0 : timed([&] {
        dravon::ChangeBatch batch(DM->ADOConn, {QStringLiteral("批量删除"), QStringLiteral("BenchChangeLog"),
                                                QStringLiteral("删除 %1 条成绩记录").arg(million)});
        SQLExecute(QStringLiteral("Delete From Score Where Id > %1").arg(lastKey - million), DM->ADOConn);
        batch.commit();
    });
    printNote(QStringLiteral("(a batch deleting %1 rows, for the bin: %2 s)").arg(million).arg(deleting / 1000, 0, 'f', 1),
              QString());
    std::vector<double> open, firstPage;
    qint64 rowsRead = 0;
    for (int i = 0; i < qMax(reps, 5); ++i) {
        open.push_back(timed([&] {
            frmTeachMain->menuItem(QStringLiteral("N10"))->trigger();
            if (!frmRecycleBin)
                fail(QStringLiteral("the recycle bin did not open"));
            waitForPaint(frmRecycleBin->DBGrid1->viewport());
        }));
        if (!frmRecycleBin->DataRecycleBin->dataSet())
            fail(QStringLiteral("the recycle bin shows no rows: %1").arg(program.messages.join(QLatin1Char('|'))));
        rowsRead = frmRecycleBin->DataRecycleBin->dataSet()->rowsFetched();
        frmTeachMain->mdiArea()->closeAllSubWindows();
        settle();
        firstPage.push_back(timed([] {
            engineColumn(QStringLiteral("SELECT ChangeID FROM ChangeLog WHERE TableName = 'Score' AND Operation = 'D' "
                                        "AND UndoneBy IS NULL ORDER BY ChangeID DESC LIMIT 128"));
        }));
    }
    const qint64 inBin = engineValue(QStringLiteral("SELECT count(*) FROM ChangeLog WHERE Operation = 'D' AND UndoneBy IS NULL")).toLongLong();
    std::printf("%-58s %10.1f %10.1f %8.1fx %10s  rows read %lld\n",
                qPrintable(QStringLiteral("open the recycle bin (%1 deleted rows) to painted rows").arg(inBin)), median(open),
                median(firstPage), median(open) / qMax(median(firstPage), 1e-9), "<= 50 ms", rowsRead);
    printNote(own ? QStringLiteral("change log on the server") : QStringLiteral("change log in the file"),
              QStringLiteral("%1 MB").arg(logBytes(path) / 1048576.0, 0, 'f', 1));
    if (!program.messages.isEmpty())
        printNote(QStringLiteral("messages shown"), program.messages.join(QLatin1Char('|')));
    if (raw)
        sqlite3_close(raw);
    own.reset();
    DestroyApplicationWindows();
    return 0;
}
