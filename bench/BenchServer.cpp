// The program on a PostgreSQL server beside the same program on the file, in
// one run, headless:
//   BenchServer --db <file> --server host:port/database [--small-server host:port/database]
//               [--reps N] [--only <text>]
//   BenchServer --load <file> --server host:port/database
// The password comes from PGPASSWORD or libpq's password file; the user from
// PGUSER (default veltrana). --load copies the file into the empty server
// database through 数据迁移, as the menu command does.
//
// Each window is opened from the menu to painted rows on the file and on the
// server in turns (which goes first alternates), and on the small server
// database when one is given, so that the sizes can be compared. Each query
// page's 查询 runs through the window (to its first painted page and to its
// true count, the whole result read) beside libpq alone running the same
// statement on its own connection (a cursor's first page; every row read,
// as psql reads it). The figures are minima and medians of the repetitions:
// the machine is shared, compare the ratios within one run.
#include "app/DM_Unit.h"
#include "app/Looks_Unit.h"
#include "app/TeachMain_Unit.h"
#include "bench/BenchSupport.h"
#include "bench/BenchWindows.h"
#include "data/Connection.h"
#include "data/RecordSet.h"
#include "data/server/Migration.h"
#include "forms/students/CapturePrice_Unit.h"
#include "forms/students/DormManager_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "gui/controls/DataControls.h"
#include "gui/controls/DataGrid.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiArea>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using bench::fail;
using bench::PaintWatch;
using bench::settle;
using bench::timed;

int load(const QString &file, const dravon::pg::ServerAddress &address)
{
    QElapsedTimer timer;
    timer.start();
    QString shown;
    try {
        const auto tables = dravon::pg::migrateFileToServer(file, address, [&](const dravon::pg::MigrationProgress &p) {
            if (p.table != shown) {
                shown = p.table;
                std::printf("%.1f s: %s\n", timer.elapsed() / 1000.0, qPrintable(p.table));
                std::fflush(stdout);
            }
            return true;
        });
        for (const auto &t : tables)
            std::printf("%-14s %lld rows\n", qPrintable(t.table), t.serverRows);
    } catch (const dravon::Error &e) {
        fail(e.text());
    }
    std::printf("loaded in %.1f s\n", timer.elapsed() / 1000.0);
    return 0;
}

// ---- where the program's connection points ---------------------------------

struct Database
{
    QString label;
    std::function<void(dravon::Connection &)> point;
};

void use(const Database &database)
{
    frmTeachMain->mdiArea()->closeAllSubWindows();
    settle();
    DM->ADOConn.close();
    database.point(DM->ADOConn);
    DM->ADOConn.open();
    settle();
}

struct Figures
{
    std::vector<double> ms;
    qint64 rows = -1;
    double min() const { return ms.empty() ? 0 : *std::min_element(ms.begin(), ms.end()); }
    double median() const { return bench::median(ms); }
};

// ---- windows ----------------------------------------------------------------

void waitForCount(dravon::RecordSet *rs)
{
    bench::waitUntil([&] { return rs->countKnown(); }, 600000);
    if (!rs->countKnown())
        fail(QStringLiteral("the row count was not learnt within 600 s"));
}

// The window from its menu item to its grid painted with rows; the count
// learnt afterwards is waited for untimed, so that the next window meets no
// worker still running.
double openWindow(const bench::WindowCase &w, qint64 *rows)
{
    const double ms = timed([&] {
        frmTeachMain->menuItem(w.menu)->trigger();
        QWidget *window = w.window();
        if (!window)
            fail(QStringLiteral("%1 did not open").arg(w.name));
        PaintWatch painted(w.grid()->viewport());
        painted.wait();
    });
    dravon::RecordSet *rs = w.records();
    if (!rs || rs->isEmpty())
        fail(QStringLiteral("%1 shows no rows").arg(w.name));
    *rows = rs->rowsFetched();
    waitForCount(rs);
    frmTeachMain->mdiArea()->closeAllSubWindows();
    settle();
    return ms;
}

// ---- query pages --------------------------------------------------------------

struct QueryCase
{
    QString name;
    QString window;  // a window case's name
    QString item;    // 项目
    QString condition;
    QString value;
};

TfrmRecordPages *recordPages(const bench::WindowCase &w)
{
    auto *pages = qobject_cast<TfrmRecordPages *>(w.window());
    if (!pages)
        fail(QStringLiteral("%1 has no query page").arg(w.name));
    return pages;
}

struct QueryRun
{
    double firstPage = 0;  // 查询 to the result's first painted page
    double counted = 0;    // 查询 to the true count (the whole result read)
    qint64 rows = 0;
    QString statement;  // as the window ran it
};

QueryRun queryThroughWindow(const QueryCase &q)
{
    const bench::WindowCase w = bench::windowNamed(q.window);
    frmTeachMain->menuItem(w.menu)->trigger();
    TfrmRecordPages *pages = recordPages(w);
    bench::waitForPaint(w.grid()->viewport());
    // A clerk picks the item and types the value after the window has shown
    // its rows: by then the window's own count has been learnt, and its
    // worker does not compete with the query (waited for untimed).
    waitForCount(w.records());
    pages->PageControl1->setCurrentWidget(pages->TabSheet2);
    settle();
    pages->cmbxItems->setCurrentIndex(pages->cmbxItems->findText(q.item));
    pages->cmbxCondition->setCurrentIndex(pages->cmbxCondition->findText(q.condition));
    pages->cmbxValues->setEditText(q.value);
    QueryRun run;
    QElapsedTimer clock;
    clock.start();
    {
        PaintWatch painted(pages->DBGrid2->viewport());
        pages->btnFind->click();
        painted.wait();
    }
    run.firstPage = clock.nsecsElapsed() / 1e6;
    dravon::RecordSet *rs = pages->resultSource()->dataSet();
    if (!rs || rs->isEmpty())
        fail(QStringLiteral("%1 found nothing: %2").arg(q.name, pages->findPage->edtStatement->text()));
    waitForCount(rs);
    run.counted = clock.nsecsElapsed() / 1e6;
    run.rows = rs->recordCount();
    run.statement = pages->findPage->edtStatement->text();
    frmTeachMain->mdiArea()->closeAllSubWindows();
    settle();
    return run;
}

// libpq alone on a connection of its own: the statement's first page through
// a cursor, and the whole statement with every value read.
struct Alone
{
    double firstPage = 0;
    double whole = 0;
    double psql = 0;
    qint64 rows = 0;
};

// psql itself, started as a person starts it, running the statement with its
// rows written to nowhere.
double psqlRunning(const dravon::pg::ServerAddress &address, const QString &statement)
{
    QProcess psql;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!address.password.isEmpty())
        environment.insert(QStringLiteral("PGPASSWORD"), address.password);
    psql.setProcessEnvironment(environment);
    const double ms = timed([&] {
        psql.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                                            QStringLiteral("-h"), address.host, QStringLiteral("-p"), QString::number(address.port),
                                            QStringLiteral("-U"), address.user, QStringLiteral("-d"), address.database,
                                            QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-c"), statement});
        psql.waitForFinished(600000);
    });
    if (psql.exitStatus() != QProcess::NormalExit || psql.exitCode() != 0)
        fail(QStringLiteral("psql failed: %1").arg(QString::fromLocal8Bit(psql.readAllStandardError())));
    return ms;
}

Alone libpqAlone(dravon::pg::Session &session, const QString &statement)
{
    Alone alone;
    alone.firstPage = timed([&] {
        session.exec(QStringLiteral("BEGIN READ ONLY"));
        session.exec(QStringLiteral("DECLARE alone NO SCROLL CURSOR FOR ") + statement);
        const dravon::pg::Result page = session.exec(QStringLiteral("FETCH 128 FROM alone"));
        for (int r = 0; r < page.rows(); ++r)
            for (int c = 0; c < page.columns(); ++c)
                page.text(r, c);
        session.exec(QStringLiteral("COMMIT"));
    });
    alone.whole = timed([&] {
        const dravon::pg::Result all = session.exec(statement);
        for (int r = 0; r < all.rows(); ++r)
            for (int c = 0; c < all.columns(); ++c)
                all.text(r, c);
        alone.rows = all.rows();
    });
    return alone;
}

// A click on the 分数 title of the score window, to the sorted rows painted.
// The window's count is learnt first, untimed, as while a clerk looks.
double clickToSort()
{
    const bench::WindowCase w = bench::windowNamed(QStringLiteral("score window"));
    frmTeachMain->menuItem(w.menu)->trigger();
    QAbstractItemView *grid = w.grid();
    bench::waitForPaint(grid->viewport());
    dravon::RecordSet *rs = w.records();
    waitForCount(rs);
    auto *header = static_cast<DataGrid *>(grid)->horizontalHeader();
    const int column = bench::gridColumnTitled(grid, QStringLiteral("分数"));
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    const double ms = timed([&] {
        bench::clickAt(header->viewport(), at);
        PaintWatch painted(grid->viewport());
        painted.wait();
    });
    if (rs->sortField() != rs->fieldIndex(QStringLiteral("Score")) || rs->sortDescending())
        fail(QStringLiteral("the click on the title did not sort the score window"));
    frmTeachMain->mdiArea()->closeAllSubWindows();
    settle();
    return ms;
}

}

int main(int argc, char **argv)
{
    const bench::CommandLine args(
        argc, argv,
        {{"--db", "--server", "--small-server", "--load", "--reps", "--only"}, {}, {},
         {"--db <file> --server host:port/database [--small-server host:port/database] [--reps N] [--only <text>]",
          "--load <file> --server host:port/database"}});
    const QString path = args.text("--db"), server = args.text("--server"), smallServer = args.text("--small-server"),
                  loadFile = args.text("--load"), only = args.text("--only");
    const int reps = args.count("--reps", 5);
    if (server.isEmpty())
        fail(QStringLiteral("--server is needed"));
    const dravon::pg::ServerAddress address = bench::serverAddressOf(server);
    if (!loadFile.isEmpty())
        return load(loadFile, address);
    bench::Program started(argc, argv, bench::existingFile(path));
    bench::ProgramRun &program = started.run();

    const QString fileConnection = DM->ADOConn.connectionString();
    QList<Database> databases{
        {QStringLiteral("file"), [fileConnection](dravon::Connection &c) { c.setConnectionString(fileConnection); }},
        {QStringLiteral("server"), [address](dravon::Connection &c) { c.setServerAddress(address); }},
    };
    if (!smallServer.isEmpty()) {
        const dravon::pg::ServerAddress small = bench::serverAddressOf(smallServer);
        databases << Database{QStringLiteral("small server"), [small](dravon::Connection &c) { c.setServerAddress(small); }};
    }
    auto selected = [&](const QString &name) { return only.isEmpty() || name.contains(only); };

    std::printf("BenchServer: %s beside %s, %d repetitions (minimum / median ms)\n", qPrintable(QFileInfo(path).fileName()),
                qPrintable(address.display()), reps);

    // Windows: every database in turns, the first one changing each repetition.
    std::printf("\n%-28s", "open to painted rows");
    for (const Database &d : databases)
        std::printf(" %19s", qPrintable(d.label));
    std::printf(" %14s %s\n", "server/file", smallServer.isEmpty() ? "" : "  large/small (server)");
    for (const bench::WindowCase &w : bench::windows()) {
        if (!selected(w.name))
            continue;
        QList<Figures> figures(databases.size());
        for (int rep = 0; rep < reps; ++rep)
            for (int k = 0; k < databases.size(); ++k) {
                const int d = (k + rep) % databases.size();
                use(databases[d]);
                figures[d].ms.push_back(openWindow(w, &figures[d].rows));
            }
        std::printf("%-28s", qPrintable(w.name));
        for (const Figures &f : figures)
            std::printf(" %8.1f / %8.1f", f.min(), f.median());
        std::printf(" %13.2fx", figures[1].min() / qMax(figures[0].min(), 1e-9));
        if (figures.size() > 2)
            std::printf(" %13.2fx", figures[1].min() / qMax(figures[2].min(), 1e-9));
        std::printf("   rows read %lld\n", figures[1].rows);
        std::fflush(stdout);
    }

    // Query pages: through the window on both engines, and libpq alone.
    const QList<QueryCase> queries{
        {QStringLiteral("score by 学号 ="), QStringLiteral("score window"), QStringLiteral("学号"), QStringLiteral("="),
         QStringLiteral("2007015001")},
        {QStringLiteral("score by 班级 ="), QStringLiteral("score window"), QStringLiteral("班级"), QStringLiteral("="),
         QString()},
        {QStringLiteral("score by 姓名 Like 王"), QStringLiteral("score window"), QStringLiteral("姓名"),
         QStringLiteral("Like"), QStringLiteral("王")},
        {QStringLiteral("payment by 姓名 Like 王"), QStringLiteral("payment window"), QStringLiteral("姓名"),
         QStringLiteral("Like"), QStringLiteral("王")},
        {QStringLiteral("dorm places by 学号 ="), QStringLiteral("dorm places window"), QStringLiteral("学号"),
         QStringLiteral("="), QStringLiteral("2007015001")},
    };
    dravon::pg::Session alone(address);
    std::printf("\n%-24s %9s %19s %19s %19s %9s %19s %19s %19s %9s %9s\n", "query page 查询", "rows", "file: first page",
                "server: first page", "libpq: first page", "ratio", "server: whole", "libpq: whole", "psql: whole",
                "/libpq", "/psql");
    for (QueryCase q : queries) {
        if (!selected(q.name))
            continue;
        if (q.value.isEmpty()) {
            // A class of the data set: the first one the server lists.
            q.value = alone.exec(QStringLiteral("SELECT \"ClassID\" FROM \"ClassInfo\" ORDER BY \"ClassID\" LIMIT 1")).text(0, 0)
                      + QLatin1Char('.');
        } else if (q.item == QStringLiteral("学号")) {
            q.value = alone.exec(QStringLiteral("SELECT \"StudentID\" FROM \"StudentInfo\" ORDER BY \"StudentID\" "
                                                "OFFSET (SELECT count(*) / 2 FROM \"StudentInfo\") LIMIT 1"))
                          .text(0, 0);
        }
        Figures fileFirst, serverFirst, aloneFirst, serverWhole, aloneWhole, psqlWhole;
        qint64 rows = 0;
        for (int rep = 0; rep < reps; ++rep) {
            use(databases[0]);
            fileFirst.ms.push_back(queryThroughWindow(q).firstPage);
            use(databases[1]);
            const QueryRun onServer = queryThroughWindow(q);
            serverFirst.ms.push_back(onServer.firstPage);
            serverWhole.ms.push_back(onServer.counted);
            rows = onServer.rows;
            const Alone a = libpqAlone(alone, DM->ADOConn.dialect().rewrite(onServer.statement));
            if (a.rows != onServer.rows)
                fail(QStringLiteral("%1: the window shows %2 rows, libpq reads %3").arg(q.name).arg(onServer.rows).arg(a.rows));
            aloneFirst.ms.push_back(a.firstPage);
            aloneWhole.ms.push_back(a.whole);
            psqlWhole.ms.push_back(psqlRunning(address, DM->ADOConn.dialect().rewrite(onServer.statement)));
        }
        std::printf("%-24s %9lld", qPrintable(q.name), rows);
        for (const Figures *f : {&fileFirst, &serverFirst, &aloneFirst})
            std::printf(" %8.1f / %8.1f", f->min(), f->median());
        std::printf(" %8.2fx", serverFirst.min() / qMax(aloneFirst.min(), 1e-9));
        for (const Figures *f : {&serverWhole, &aloneWhole, &psqlWhole})
            std::printf(" %8.1f / %8.1f", f->min(), f->median());
        std::printf(" %8.2fx %8.2fx\n", serverWhole.min() / qMax(aloneWhole.min(), 1e-9),
                    serverWhole.min() / qMax(psqlWhole.min(), 1e-9));
        std::fflush(stdout);
    }
    // Sorting: the click on a title through the window on both engines in
    // turns, beside libpq alone reading the first page in that order.
    if (selected(QStringLiteral("click to sort"))) {
        Figures onFile, onServer, byLibpq;
        for (int rep = 0; rep < reps; ++rep) {
            for (int k = 0; k < 2; ++k) {
                const int d = (k + rep) % 2;
                use(databases[d]);
                (d == 0 ? onFile : onServer).ms.push_back(clickToSort());
            }
            byLibpq.ms.push_back(timed([&] {
                alone.exec(QStringLiteral("SELECT * FROM \"Score\" ORDER BY \"Score\" NULLS FIRST, \"Id\" LIMIT 128"));
            }));
        }
        std::printf("\n%-24s %19s %19s %19s %9s\n", "click to sort", "file", "server", "libpq: first page", "ratio");
        std::printf("%-24s", "score window by 分数");
        for (const Figures *f : {&onFile, &onServer, &byLibpq})
            std::printf(" %8.1f / %8.1f", f->min(), f->median());
        std::printf(" %8.2fx\n", onServer.min() / qMax(byLibpq.min(), 1e-9));
        std::fflush(stdout);
    }
    for (const QString &message : std::as_const(program.messages))
        std::printf("message shown: %s\n", qPrintable(message));
    frmTeachMain->mdiArea()->closeAllSubWindows();
    settle();
    return 0;
}
