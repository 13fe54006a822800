// Times the record set against SQLite itself on the same file:
//   BenchRecordSet <database filled by GenerateData>
// Each line gives the record set's time, SQLite's time for the same work,
// and their ratio. Ratios are what count; absolute times vary by machine.
#include "data/Dravon.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <functional>

namespace {

sqlite3 *raw = nullptr;

// Median of several runs, in milliseconds.
double millis(const std::function<void()> &work, int repeat = 5)
{
    std::vector<double> runs;
    for (int i = 0; i < repeat; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        runs.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

// Steps a statement to its end and reads every column as text.
void sqliteRows(const char *sql, int limit = -1)
{
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(raw, sql, -1, &stmt, nullptr);
    int n = 0;
    while ((limit < 0 || n < limit) && sqlite3_step(stmt) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(stmt); ++c)
            sqlite3_column_text(stmt, c);
        ++n;
    }
    sqlite3_finalize(stmt);
}

// Only the lines whose text contains this (second argument), all when empty.
QByteArray only;

void report(const char *what, const std::function<double()> &ours, const std::function<double()> &engine)
{
    if (!only.isEmpty() && !QByteArray(what).contains(only))
        return;
    const double o = ours();
    const double e = engine();
    std::printf("%-44s %10.2f ms %10.2f ms %8.1fx\n", what, o, e, e > 0 ? o / e : 0.0);
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s <database> [part of a line's name]\n", argv[0]);
        return 2;
    }
    if (argc == 3)
        only = argv[2];
    const QString path = QString::fromLocal8Bit(argv[1]);
    dravon::Connection conn;
    conn.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Persist Security Info=False").arg(path));
    conn.open();
    sqlite3_open_v2(argv[1], &raw, SQLITE_OPEN_READONLY, nullptr);
    std::printf("%-44s %13s %13s %9s\n", "work", "record set", "SQLite", "ratio");

    // Opening shows the first page; SQLite's least work is reading that page.
    report("open Score, first 100 rows",
           [&] { return millis([&] { auto rs = SQLDataSet(QStringLiteral("Select * From Score"), conn); rs->text(99, 0); }); },
           [&] { return millis([] { sqliteRows("SELECT rowid, * FROM Score ORDER BY rowid LIMIT 128"); }); });
    // The last row: the last page read backwards.
    report("open Score, jump to the last row",
           [&] { return millis([&] { auto rs = SQLDataSet(QStringLiteral("Select * From Score"), conn); rs->last(); rs->fieldText(QStringLiteral("StudentID")); }); },
           [&] { return millis([] { sqliteRows("SELECT rowid, * FROM Score ORDER BY rowid DESC LIMIT 128"); }); });
    // The true row count, learnt in the background after the first page.
    report("open Score, row count known",
           [&] { return millis([&] { auto rs = SQLDataSet(QStringLiteral("Select * From Score"), conn); rs->waitForCount(); }, 3); },
           [&] { return millis([] { sqliteRows("SELECT count(*) FROM Score"); }, 3); });
    report("Score: row 500,000 after the count",
           [&] { return millis([&] {
               auto rs = SQLDataSet(QStringLiteral("Select * From Score"), conn);
               rs->waitForCount();
               rs->text(500000, 0);
           }, 3); },
           [&] { return millis([] { sqliteRows("SELECT count(*) FROM Score"); sqliteRows("SELECT rowid, * FROM Score WHERE rowid >= 500001 ORDER BY rowid LIMIT 128"); }, 3); });
    report("walk StudentInfo with next()",
           [&] { return millis([&] {
               auto rs = SQLDataSet(QStringLiteral("Select * From StudentInfo"), conn);
               while (!rs->eof()) {
                   rs->fieldText(QStringLiteral("StuName"));
                   rs->next();
               }
           }, 3); },
           [&] { return millis([] { sqliteRows("SELECT * FROM StudentInfo"); }, 3); });
    report("walk a join (Score x StudentInfo, 1M) with next()",
           [&] { return millis([&] {
               auto rs = SQLDataSet(QStringLiteral("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID"), conn);
               while (!rs->eof()) {
                   rs->fieldText(QStringLiteral("Score"));
                   rs->next();
               }
           }, 3); },
           [&] { return millis([] { sqliteRows("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID"); }, 3); });
    report("score query by student number",
           [&] { return millis([&] {
               SQLDataSet(QStringLiteral("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID "
                                         "and A.StudentID ='2008000'"), conn)->text(0, 0);
           }); },
           [&] { return millis([] {
               sqliteRows("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID and A.StudentID ='2008000'");
           }); });
    report("course query by begin-date range",
           [&] { return millis([&] {
               SQLDataSet(QStringLiteral("Select A.Term,A.Remark,B.SubName,C.StuName,D.TchName ,A.BeginTime ,A.EndTime "
                                         "From Course A  ,SubjectInfo B   ,StudentInfo C   ,TeacherInfo D   where "
                                         "A.SubjectID = B.SubjectID and A.StudentID = C.StudentID and A.TeacherID = "
                                         "D.TeacherID and A.BeginTime between #2007-09-01# and #2007-09-30#"), conn)->text(0, 0);
           }); },
           [&] { return millis([] {
               sqliteRows("Select A.Term,A.Remark,B.SubName,C.StuName,D.TchName ,A.BeginTime ,A.EndTime From Course A, "
                          "SubjectInfo B, StudentInfo C, TeacherInfo D where A.SubjectID = B.SubjectID and A.StudentID = "
                          "C.StudentID and A.TeacherID = D.TeacherID and A.BeginTime between '2007-09-01' and '2007-09-30'", 100);
           }); });
    auto students = SQLDataSet(QStringLiteral("Select * From StudentInfo"), conn);
    report("lookup of a student's name by number (x1000)",
           [&] { return millis([&] {
               for (int i = 0; i < 1000; ++i)
                   students->lookup(QStringLiteral("StudentID"), QString::number(2007001 + i * 7), QStringLiteral("StuName"));
           }, 1); },
           [&] { return millis([] {
               for (int i = 0; i < 1000; ++i) {
                   const QByteArray sql = "SELECT StuName FROM StudentInfo WHERE StudentID = '" + QByteArray::number(2007001 + i * 7) + "'";
                   sqliteRows(sql.constData());
               }
           }, 1); });
    sqlite3_close(raw);
    return 0;
}
