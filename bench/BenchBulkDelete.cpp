// Times Ctrl+Del of many selected rows through the program's windows (the
// key, the confirmation answered, the rows deleted, the grid painted again)
// beside the same DELETE statements run on SQLite alone in the same run:
//   BenchBulkDelete --db <a copy of a large file> [--reps N] [--rows N] [--all-scores]
// It deletes rows and puts them back: give it a copy, never the shared
// benchmark file. The cases:
//   - 10,000 contiguous score rows of the 成绩 window (a shift-click range);
//   - every other row of 20,000 score rows (a ctrl-click selection);
//   - every row of the students' window (select all);
//   - with --all-scores, last and once: every row of the 成绩 window (Ctrl+A),
//     with its progress, beside one logged DELETE of all rows on the engine
//     (rolled back); the rows are not put back.
#include "app/Program_Unit.h"
#include "app/TeachMain_Unit.h"
#include "app/Looks_Unit.h"
#include "bench/BenchSupport.h"
#include "data/Dravon.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "gui/controls/DataGrid.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QItemSelection>
#include <QKeyEvent>
#include <QMdiArea>
#include <QTimer>
#include <sqlite3.h>

#include <cstdio>
#include <sys/resource.h>

using bench::fail;
using bench::median;
using bench::settle;
using bench::timed;
using bench::waitForPaint;

namespace {

sqlite3 *raw = nullptr;

qint64 sqliteCount(const QString &table)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(raw, QStringLiteral("SELECT count(*) FROM %1").arg(table).toUtf8().constData(), -1, &stmt,
                           nullptr)
        != SQLITE_OK)
        fail(QStringLiteral("SQLite cannot count %1").arg(table));
    const qint64 n = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    return n;
}

struct Window
{
    const char *menuItem;
    std::function<DataGrid *()> grid;
    std::function<DataSource *()> source;
};

const Window scores{"M2", [] { return frmStudentScore ? frmStudentScore->DBGrid1 : nullptr; },
                    [] { return frmStudentScore ? frmStudentScore->DataStudentScore : nullptr; }};
const Window students{"D3", [] { return frmStudentSet ? frmStudentSet->DBGrid : nullptr; },
                      [] { return frmStudentSet ? frmStudentSet->mainSource() : nullptr; }};

// The window opened from its menu, its rows counted, the events run.
DataGrid *openWindow(const Window &window)
{
    if (!window.grid()) {
        frmTeachMain->menuItem(QString::fromLatin1(window.menuItem))->trigger();
        if (!window.grid())
            fail(QStringLiteral("menu item %1 opened no window").arg(QString::fromLatin1(window.menuItem)));
        waitForPaint(window.grid()->viewport());
    }
    window.source()->dataSet()->waitForCount();
    settle();
    return window.grid();
}

// The rows at the positions, in the grid's order: for the engine alone, the
// same statement the window runs for each row (by key, each column as read).
struct ReadRows
{
    QString deleteSql;
    QVector<QVector<QVariant>> binds;
};

ReadRows readRows(dravon::RecordSet *rs, const QVector<int> &positions)
{
    ReadRows read;
    QStringList terms{QStringLiteral("rowid = ?")};
    for (const dravon::Field &f : rs->fields())
        terms << QStringLiteral("\"%1\" IS ?").arg(f.name);
    read.deleteSql = QStringLiteral("DELETE FROM \"%1\" WHERE %2").arg(rs->tableName(), terms.join(QStringLiteral(" AND ")));
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(raw, QStringLiteral("SELECT * FROM \"%1\" WHERE rowid = ?").arg(rs->tableName()).toUtf8().constData(),
                           -1, &stmt, nullptr)
        != SQLITE_OK)
        fail(QStringLiteral("SQLite cannot read %1").arg(rs->tableName()));
    for (int p : positions) {
        const qint64 key = rs->keyOfRow(p);
        sqlite3_bind_int64(stmt, 1, key);
        if (sqlite3_step(stmt) != SQLITE_ROW)
            fail(QStringLiteral("row %1 not found").arg(key));
        QVector<QVariant> values{key};
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
            switch (sqlite3_column_type(stmt, c)) {
            case SQLITE_INTEGER:
                values << QVariant(qint64(sqlite3_column_int64(stmt, c)));
                break;
            case SQLITE_FLOAT:
                values << QVariant(sqlite3_column_double(stmt, c));
                break;
            case SQLITE_NULL:
                values << QVariant();
                break;
            default:
                values << QVariant(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c))));
            }
        }
        sqlite3_reset(stmt);
        read.binds << values;
    }
    sqlite3_finalize(stmt);
    return read;
}

// The engine alone: the statements in one transaction, each deleting its row.
double sqliteDeletes(const ReadRows &read)
{
    sqlite3_stmt *stmt = nullptr;
    const QByteArray sql = read.deleteSql.toUtf8();
    return timed([&] {
        bench::sqliteExec(raw, QStringLiteral("BEGIN"));
        if (sqlite3_prepare_v2(raw, sql.constData(), -1, &stmt, nullptr) != SQLITE_OK)
            fail(QStringLiteral("SQLite refused %1").arg(read.deleteSql));
        for (const QVector<QVariant> &row : read.binds) {
            for (int i = 0; i < row.size(); ++i) {
                const QVariant &v = row[i];
                if (v.isNull())
                    sqlite3_bind_null(stmt, i + 1);
                else if (v.typeId() == QMetaType::LongLong)
                    sqlite3_bind_int64(stmt, i + 1, v.toLongLong());
                else if (v.typeId() == QMetaType::Double)
                    sqlite3_bind_double(stmt, i + 1, v.toDouble());
                else {
                    const QByteArray text = v.toString().toUtf8();
                    sqlite3_bind_text(stmt, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
                }
            }
            if (sqlite3_step(stmt) != SQLITE_DONE || sqlite3_changes(raw) != 1)
                fail(QStringLiteral("SQLite did not delete a row"));
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
        bench::sqliteExec(raw, QStringLiteral("COMMIT"));
    });
}

// The table's rows at the positions kept aside, so that each case can put
// them back (their keys too).
void keepAside(const QString &table, const ReadRows &read)
{
    QStringList keys;
    for (const QVector<QVariant> &row : read.binds)
        keys << QString::number(row.first().toLongLong());
    bench::sqliteExec(raw, QStringLiteral("DROP TABLE IF EXISTS temp.kept; CREATE TEMP TABLE kept AS SELECT rowid AS kept_rowid, * FROM "
                              "\"%1\" WHERE rowid IN (%2)")
                   .arg(table, keys.join(QLatin1Char(','))));
}

void putBack(const QString &table)
{
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(raw, QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(table).toUtf8().constData(), -1,
                       &stmt, nullptr);
    QStringList columns;
    while (sqlite3_step(stmt) == SQLITE_ROW)
        columns << QStringLiteral("\"%1\"").arg(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))));
    sqlite3_finalize(stmt);
    bench::sqliteExec(raw, QStringLiteral("INSERT INTO \"%1\" (rowid, %2) SELECT kept_rowid, %2 FROM temp.kept")
                   .arg(table, columns.join(QLatin1Char(','))));
}

// Ctrl+Del of the selected rows answered OK, until the grid has painted again.
double ctrlDel(DataGrid *grid, const QString &table, qint64 expected)
{
    grid->setFocus();
    const qint64 before = sqliteCount(table);
    const double ms = timed([&] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::ControlModifier);
        QApplication::sendEvent(grid, &key);
        waitForPaint(grid->viewport());
    });
    const qint64 after = sqliteCount(table);
    if (before - after != expected)
        fail(QStringLiteral("Ctrl+Del deleted %1 rows of %2, not %3").arg(before - after).arg(table).arg(expected));
    return ms;
}

void printLine(const QString &name, double window, double engine)
{
    std::printf("%-52s %10.1f %10.1f %8.2fx\n", qPrintable(name), window, engine, engine > 0 ? window / engine : 0.0);
    std::fflush(stdout);
}

enum class Selection { Range, EveryOther, All };

// One case: the window opened, the rows selected (not timed), Ctrl+Del timed
// through the window, the rows put back, the same statements on the engine
// alone, the rows put back again.
void runCase(const QString &name, const Window &window, Selection selection, int first, int rows, int reps)
{
    std::vector<double> through, alone;
    for (int rep = 0; rep < reps; ++rep) {
        DataGrid *grid = openWindow(window);
        dravon::RecordSet *rs = window.source()->dataSet();
        QAbstractItemModel *model = grid->model();
        const int columns = model->columnCount();
        QVector<int> positions;
        QItemSelection chosen;
        if (selection == Selection::All) {
            for (int r = 0; r < rs->recordCount(); ++r)
                positions << r;
            chosen.select(model->index(0, 0), model->index(rs->recordCount() - 1, columns - 1));
        } else {
            const int step = selection == Selection::EveryOther ? 2 : 1;
            for (int i = 0; i < rows; ++i)
                positions << first + i * step;
            if (step == 1)
                chosen.select(model->index(first, 0), model->index(first + rows - 1, columns - 1));
            else
                for (int p : std::as_const(positions))
                    chosen.append(QItemSelectionRange(model->index(p, 0), model->index(p, columns - 1)));
        }
        const QString table = rs->tableName();
        const ReadRows read = readRows(rs, positions);
        keepAside(table, read);
        grid->selectionModel()->select(chosen, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        settle();
        through.push_back(ctrlDel(grid, table, positions.size()));
        frmTeachMain->mdiArea()->closeAllSubWindows();
        settle();
        putBack(table);
        alone.push_back(sqliteDeletes(read));
        putBack(table);
        bench::sqliteExec(raw, QStringLiteral("DROP TABLE temp.kept"));
    }
    std::printf("%-52s %10s %10s  minimum %.1f / %.1f ms\n", "", "", "", *std::min_element(through.begin(), through.end()),
                *std::min_element(alone.begin(), alone.end()));
    printLine(name, median(through), median(alone));
}


// Ctrl+A and Ctrl+Del of every score row, with the progress the window shows,
// beside the least the engine does for it: one DELETE of every row with the
// log's triggers, in a transaction rolled back. The rows stay deleted.
void allScores()
{
    const qint64 total = sqliteCount(QStringLiteral("Score"));
    const double engine = timed([] {
        bench::sqliteExec(raw, QStringLiteral("BEGIN; DELETE FROM Score;"));
    });
    bench::sqliteExec(raw, QStringLiteral("ROLLBACK"));
    DataGrid *grid = openWindow(scores);
    grid->setFocus();
    QKeyEvent selectAll(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
    QApplication::sendEvent(grid, &selectAll);
    settle();
    int calls = 0;
    const double window = timed([&] {
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] { ++calls; });
        watch.start(1000);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::ControlModifier);
        QApplication::sendEvent(grid, &key);
        waitForPaint(grid->viewport());
    });
    const qint64 left = sqliteCount(QStringLiteral("Score"));
    if (left != 0)
        fail(QStringLiteral("Ctrl+Del of all %1 score rows left %2").arg(total).arg(left));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    printLine(QStringLiteral("成绩: all %1 rows (select all)").arg(total), window, engine);
    std::printf("%-52s %.0f rows/s; events ran every second: %d of %.0f; peak memory %.0f MB\n", "",
                total / (window / 1000), calls, window / 1000, usage.ru_maxrss / 1024.0);
}

}

int main(int argc, char **argv)
{
    const bench::CommandLine args(argc, argv,
                                  {{"--db", "--reps", "--rows"},
                                   {"--all-scores"},
                                   {},
                                   {"--db <a copy of a large file> [--reps N] [--rows N] [--all-scores]"}});
    const QString path = bench::existingFile(args.text("--db"));
    const int reps = args.count("--reps", 3);
    const int rows = args.count("--rows", 10000);
    const bool everyScore = args.has("--all-scores");
    bench::refuseSharedFile(path);
    bench::Program started(argc, argv, path);
    bench::ProgramRun &program = started.run();
    raw = bench::openSqlite(path);
    std::printf("database %s: %lld scores, %lld students; Qt %s, SQLite %s, %d repetitions, medians\n\n",
                qPrintable(path), sqliteCount(QStringLiteral("Score")), sqliteCount(QStringLiteral("StudentInfo")),
                qVersion(), sqlite3_libversion(), reps);
    std::printf("%-52s %10s %10s %9s\n", "Ctrl+Del, confirmed, to the painted grid", "window", "SQLite", "ratio");
    std::printf("%-52s %10s %10s %9s\n", "", "ms", "ms", "");

    runCase(QStringLiteral("成绩: %1 contiguous rows").arg(rows), scores, Selection::Range, 1000, rows, reps);
    runCase(QStringLiteral("成绩: every other row, %1 rows").arg(rows), scores, Selection::EveryOther, 1000, rows, reps);
    runCase(QStringLiteral("学生信息: all rows (select all)"), students, Selection::All, 0, 0, reps);
    if (everyScore)
        allScores();
    // Each case asks its question; anything else shown is a failure to look at.
    program.messages.removeAll(QStringLiteral("Delete all selected records?"));
    if (!program.messages.isEmpty())
        std::printf("messages shown: %s\n", qPrintable(program.messages.join(QLatin1Char('|'))));
    sqlite3_close(raw);
    DestroyApplicationWindows();
    return 0;
}
