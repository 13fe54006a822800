// Times the import the way a clerk runs it, beside SQLite doing the least
// equivalent work in the same run:
//   BenchImport [--students N] [--scores N] [--reps N] [--folder DIR] [--server host:port/database]
// A new database with colleges, classes and subjects (no students) is made in
// the folder (default /tmp/veltrana-bench-import, removed afterwards); N
// students are written to an .xlsx workbook and N scores (subjects named, not
// numbered) to a CSV file. The program checks and applies the students, then
// the scores, then checks the scores again (every row then exists). SQLite's
// figure is the sqlite3 shell's ".import" of the same CSV into a table plus
// one INSERT ... SELECT that resolves the subject names and takes the credit
// and the class as the import does, on a copy of the same database. Each
// phase's peak resident memory is reported above what was resident before it.
// With --server the same files are imported into a server database too (made
// new for each repetition beside the one named, which is only connected to;
// the user from PGUSER, default veltrana, the password from PGPASSWORD or the
// password file), beside the server's own least work: COPY of the CSV into a
// temporary table and the same INSERT ... SELECT, rolled back.
#include "bench/BenchSupport.h"
#include "bench/Generator.h"
#include "data/Dravon.h"
#include "data/export/TableExport.h"
#include "data/import/ImportRun.h"
#include "data/server/Migration.h"
#include "data/server/PgSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>

using namespace importing;

namespace {

void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

struct Phase
{
    double ms = 0;
    double peakAboveMiB = 0;
};

// Runs work with its own peak memory.
template<typename F>
Phase measure(F &&work)
{
    const double before = bench::statusMb("VmRSS:");
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    work();
    Phase p;
    p.ms = timer.nsecsElapsed() / 1e6;
    p.peakAboveMiB = bench::statusMb("VmHWM:") - before;
    return p;
}

QString connectionString(const QString &path)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Persist Security Info=False").arg(path);
}

ImportPlan planFor(TableReader &reader, const QString &table, dravon::Connection &connection)
{
    reader.selectSheet(0);
    QList<SourceRow> rows;
    SourceRow row;
    while (rows.size() < 30 && reader.next(row))
        rows << row;
    const ImportTarget *target = findTarget(table);
    MappingHints hints;
    if (table == QLatin1String("Score")) {
        auto subjects = SQLDataSet(QStringLiteral("Select * From SubjectInfo"), connection);
        for (subjects->first(); !subjects->eof(); subjects->next())
            hints.subjects.append({subjects->fieldText(QStringLiteral("SubjectID")), subjects->fieldText(QStringLiteral("SubName"))});
    }
    const int header = findHeaderRow(rows, *target, hints);
    ImportPlan plan;
    plan.target = target;
    plan.headerLine = rows.value(header).line;
    plan.columns = mapColumns(rows.value(header).cells, *target, hints);
    plan.matchFields = target->defaultMatch;
    plan.sourceKind = reader.kind();
    return plan;
}

struct ImportFigures
{
    Phase check;
    Phase apply;
    ImportCounts counts;
};

ImportFigures importInto(dravon::Connection &connection, const QString &file, const QString &table)
{
    ImportFigures f;
    std::unique_ptr<TableReader> reader = openTableFile(file);
    ImportRun run(connection, planFor(*reader, table, connection));
    f.check = measure([&] { run.check(*reader); });
    f.counts = run.counts();
    f.apply = measure([&] {
        if (f.counts.added + f.counts.updated > 0)
            applyImport(run);
    });
    return f;
}

ImportFigures importFile(const QString &dbPath, const QString &file, const QString &table)
{
    dravon::Connection connection;
    connection.setConnectionString(connectionString(dbPath));
    connection.open();
    return importInto(connection, file, table);
}

ImportFigures importServer(const dravon::pg::ServerAddress &address, const QString &file, const QString &table)
{
    dravon::Connection connection;
    connection.setServerAddress(address);
    connection.open();
    return importInto(connection, file, table);
}

// The server's least work for the scores: the CSV copied in, names resolved
// in one statement; rolled back.
double runServerCopy(const dravon::pg::ServerAddress &address, const QString &csv)
{
    dravon::pg::Session session(address);
    QFile in(csv);
    in.open(QIODevice::ReadOnly);
    QElapsedTimer timer;
    timer.start();
    session.exec(QStringLiteral("BEGIN"));
    session.exec(QStringLiteral("CREATE TEMP TABLE scores_in (sid text, subject text, term text, score text, at text)"));
    session.copyIn(QStringLiteral("COPY scores_in FROM STDIN (FORMAT csv, HEADER true)"), [&](QByteArray &chunk) {
        chunk = in.read(1 << 20);
        return !in.atEnd();
    });
    session.exec(QStringLiteral(
        "INSERT INTO \"Score\" (\"StudentID\", \"ScoreDateTime\", \"Term\", \"SubjectID\", \"ClassID\", \"Score\", "
        "\"CreditHour\") SELECT i.sid, i.at::date, i.term, s.\"SubjectID\", st.\"ClassID\", i.score::double precision, "
        "s.\"CreditHour\" FROM scores_in i JOIN \"SubjectInfo\" s ON s.\"SubName\" = i.subject "
        "JOIN \"StudentInfo\" st ON st.\"StudentID\" = i.sid"));
    const double ms = timer.nsecsElapsed() / 1e6;
    session.exec(QStringLiteral("ROLLBACK"));
    return ms;
}

double runSqlite(const QString &dbPath, const QString &csv)
{
    const QString script = QStringLiteral(
        ".mode csv\n"
        ".import '%1' scores_in\n"
        "INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour) "
        "SELECT i.\"学号\", i.\"时间\", i.\"学期\", s.SubjectID, st.ClassID, CAST(i.\"成绩\" AS REAL), s.CreditHour "
        "FROM scores_in i JOIN SubjectInfo s ON s.SubName = i.\"科目\" JOIN StudentInfo st ON st.StudentID = i.\"学号\";\n")
                               .arg(csv);
    QProcess p;
    QElapsedTimer timer;
    timer.start();
    p.start(QStringLiteral("sqlite3"), {dbPath});
    p.write(script.toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(-1);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (p.exitCode() != 0)
        std::fprintf(stderr, "sqlite3: %s\n", p.readAllStandardError().constData());
    return ms;
}

}

int main(int argc, char **argv)
{
    const bench::CommandLine args(argc, argv,
                                  {{"--students", "--scores", "--reps", "--folder", "--server"},
                                   {},
                                   {},
                                   {"[--students N] [--scores N] [--reps N] [--folder DIR] [--server host:port/database]"}});
    QCoreApplication app(argc, argv);
    const long long students = args.count("--students", 30000), scores = args.count("--scores", 1000000);
    const int reps = args.count("--reps", 1);
    const QString folder = args.text("--folder", QStringLiteral("/tmp/veltrana-bench-import"));
    const QString server = args.text("--server");
    if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty()) {
        std::fprintf(stderr, "BenchImport: the sqlite3 shell is missing (scripts/install-deps.sh installs it)\n");
        return 2;
    }
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString base = QDir(folder).filePath(QStringLiteral("base.mdb"));
    gen::Scale scale;
    scale.name = QStringLiteral("import");
    scale.colleges = 30;
    scale.classes = 600;
    scale.subjects = 40;
    scale.teachers = 10;
    scale.dorms = 10;
    QString error;
    gen::generate(base, scale, 1, QString(), &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "BenchImport: %s\n", qPrintable(error));
        return 1;
    }
    // The files to import.
    const QString xlsx = QDir(folder).filePath(QStringLiteral("students.xlsx"));
    const QString csv = QDir(folder).filePath(QStringLiteral("scores.csv"));
    QStringList classIds, subjectNames;
    {
        dravon::Connection c;
        c.setConnectionString(connectionString(base));
        c.open();
        auto classes = SQLDataSet(QStringLiteral("Select * From ClassInfo"), c);
        for (classes->first(); !classes->eof(); classes->next())
            classIds << classes->fieldText(QStringLiteral("ClassID"));
        auto subjects = SQLDataSet(QStringLiteral("Select * From SubjectInfo"), c);
        for (subjects->first(); !subjects->eof(); subjects->next())
            subjectNames << subjects->fieldText(QStringLiteral("SubName"));
    }
    auto studentId = [](long long i) { return QStringLiteral("2024%1").arg(i, 6, 10, QLatin1Char('0')); };
    {
        const QStringList titles = {"学号", "姓名", "性别", "年龄", "班级编号", "入学时间", "联系方式"};
        exporting::ExportTable table(titles, students, [&](qint64 r, int c) -> QString {
            switch (c) {
            case 0: return studentId(r);
            case 1: return QStringLiteral("学生%1").arg(r);
            case 2: return r % 2 ? QStringLiteral("女") : QStringLiteral("男");
            case 3: return QString::number(17 + r % 4);
            case 4: return classIds.value(int(r * classIds.size() / qMax(1LL, students)));
            case 5: return QStringLiteral("2024/9/1");
            default: return QStringLiteral("1380000%1").arg(r % 10000, 4, 10, QLatin1Char('0'));
            }
        });
        exporting::writeXlsx(table, xlsx, QStringLiteral("新生名单"));
    }
    {
        QFile f(csv);
        f.open(QIODevice::WriteOnly);
        QByteArray out = "学号,科目,学期,成绩,时间\n";
        const long long subjectsUsed = std::max<long long>(1, subjectNames.size());
        for (long long i = 0; i < scores; ++i) {
            const long long student = i % students;
            const long long subject = (i / students) % subjectsUsed;
            const long long term = (i / (students * subjectsUsed)) % 4;
            out += studentId(student).toUtf8() + ',' + subjectNames.value(int(subject)).toUtf8() + ",第"
                   + QByteArray::number(term + 1) + "学期," + QByteArray::number(40 + (i * 7) % 61) + ",2025-01-"
                   + QByteArray::number(10 + i % 9) + '\n';
            if (out.size() > (1 << 20)) {
                f.write(out);
                out.clear();
            }
        }
        f.write(out);
    }

    std::vector<ImportFigures> studentRuns, scoreRuns, againRuns;
    std::vector<double> sqliteRuns;
    std::vector<ImportFigures> serverStudentRuns, serverScoreRuns, serverAgainRuns;
    std::vector<double> serverCopyRuns;
    for (int rep = 0; rep < reps; ++rep) {
        const QString db = QDir(folder).filePath(QStringLiteral("run.mdb"));
        const QString sqliteDb = QDir(folder).filePath(QStringLiteral("sqlite.mdb"));
        for (const QString &path : {db, sqliteDb})
            QFile::remove(path);
        QFile::copy(base, db);
        try {
            studentRuns.push_back(importFile(db, xlsx, QStringLiteral("StudentInfo")));
            QFile::copy(db, sqliteDb);
            scoreRuns.push_back(importFile(db, csv, QStringLiteral("Score")));
            againRuns.push_back(importFile(db, csv, QStringLiteral("Score")));
        } catch (const std::exception &e) {
            std::fprintf(stderr, "BenchImport: %s\n", e.what());
            return 1;
        }
        sqliteRuns.push_back(runSqlite(sqliteDb, csv));
        for (const QString &name : QDir(folder).entryList({QStringLiteral("*.before-import-*")}))
            QFile::remove(QDir(folder).filePath(name));
        if (server.isEmpty())
            continue;
        // The same on a new server database holding what the file held.
        const dravon::pg::ServerAddress maintenance = bench::serverAddressOf(server);
        dravon::pg::ServerAddress target = maintenance;
        target.database = QStringLiteral("veltrana_bench_import");
        try {
            dravon::pg::Session admin(maintenance);
            admin.exec(QStringLiteral("DROP DATABASE IF EXISTS veltrana_bench_import"));
            admin.exec(QStringLiteral("CREATE DATABASE veltrana_bench_import"));
            dravon::pg::migrateFileToServer(base, target);
            serverStudentRuns.push_back(importServer(target, xlsx, QStringLiteral("StudentInfo")));
            serverCopyRuns.push_back(runServerCopy(target, csv));
            serverScoreRuns.push_back(importServer(target, csv, QStringLiteral("Score")));
            serverAgainRuns.push_back(importServer(target, csv, QStringLiteral("Score")));
            admin.exec(QStringLiteral("DROP DATABASE veltrana_bench_import"));
        } catch (const std::exception &e) {
            std::fprintf(stderr, "BenchImport: server: %s\n", e.what());
            return 1;
        }
    }
    auto med = [&](const std::vector<ImportFigures> &runs, Phase ImportFigures::*phase, bool memory) {
        std::vector<double> v;
        for (const ImportFigures &f : runs)
            v.push_back(memory ? (f.*phase).peakAboveMiB : (f.*phase).ms);
        return bench::median(v);
    };
    const double sqliteMs = bench::median(sqliteRuns);
    const ImportFigures &s = studentRuns.back(), &c = scoreRuns.back(), &a = againRuns.back();
    std::printf("import: %lld students from .xlsx, %lld scores from CSV; %d repetition(s), medians\n\n", students, scores, reps);
    std::printf("%-46s %10s %10s %7s %10s %12s\n", "operation", "program", "SQLite", "ratio", "target", "peak memory");
    std::printf("%-46s %10s %10s %7s %10s %12s\n", "", "ms", "ms", "", "", "above start");
    auto line = [](const char *what, double ms, double sqlite, const char *target, double mib) {
        if (sqlite > 0)
            std::printf("%-46s %10.0f %10.0f %6.1fx %10s %9.1f MB\n", what, ms, sqlite, ms / sqlite, target, mib);
        else
            std::printf("%-46s %10.0f %10s %7s %10s %9.1f MB\n", what, ms, "", "", target, mib);
    };
    line("students (.xlsx): dry run", med(studentRuns, &ImportFigures::check, false), 0, "", med(studentRuns, &ImportFigures::check, true));
    line("students (.xlsx): apply", med(studentRuns, &ImportFigures::apply, false), 0, "", med(studentRuns, &ImportFigures::apply, true));
    line("scores (CSV): dry run", med(scoreRuns, &ImportFigures::check, false), 0, "", med(scoreRuns, &ImportFigures::check, true));
    line("scores (CSV): apply", med(scoreRuns, &ImportFigures::apply, false), sqliteMs, "<= 3x", med(scoreRuns, &ImportFigures::apply, true));
    line("scores (CSV): dry run + apply", med(scoreRuns, &ImportFigures::check, false) + med(scoreRuns, &ImportFigures::apply, false),
         sqliteMs, "", 0);
    line("scores (CSV) again: dry run, every row exists", med(againRuns, &ImportFigures::check, false), 0, "",
         med(againRuns, &ImportFigures::check, true));
    std::printf("\ndry run / apply: students %.1fx, scores %.1fx (target <= 2x); peak memory target <= 200 MB\n",
                med(studentRuns, &ImportFigures::check, false) / med(studentRuns, &ImportFigures::apply, false),
                med(scoreRuns, &ImportFigures::check, false) / med(scoreRuns, &ImportFigures::apply, false));
    std::printf("counts: students 新增 %lld 错误 %lld; scores 新增 %lld 错误 %lld; again 不变 %lld 新增 %lld\n",
                static_cast<long long>(s.counts.added), static_cast<long long>(s.counts.errorRows),
                static_cast<long long>(c.counts.added), static_cast<long long>(c.counts.errorRows),
                static_cast<long long>(a.counts.unchanged), static_cast<long long>(a.counts.added));
    if (!server.isEmpty()) {
        const double copyMs = bench::median(serverCopyRuns);
        const ImportFigures &ss = serverStudentRuns.back(), &sc = serverScoreRuns.back(), &sa = serverAgainRuns.back();
        std::printf("\nthe same on the server (beside: COPY of the CSV + INSERT ... SELECT on the server)\n");
        std::printf("%-46s %10s %10s %7s %10s %12s\n", "operation", "program", "server", "ratio", "file", "peak memory");
        auto serverLine = [](const char *what, double ms, double least, double file, double mib) {
            if (least > 0)
                std::printf("%-46s %10.0f %10.0f %6.1fx %10.0f %9.1f MB\n", what, ms, least, ms / least, file, mib);
            else
                std::printf("%-46s %10.0f %10s %7s %10.0f %9.1f MB\n", what, ms, "", "", file, mib);
        };
        serverLine("students (.xlsx): dry run", med(serverStudentRuns, &ImportFigures::check, false), 0,
                   med(studentRuns, &ImportFigures::check, false), med(serverStudentRuns, &ImportFigures::check, true));
        serverLine("students (.xlsx): apply", med(serverStudentRuns, &ImportFigures::apply, false), 0,
                   med(studentRuns, &ImportFigures::apply, false), med(serverStudentRuns, &ImportFigures::apply, true));
        serverLine("scores (CSV): dry run", med(serverScoreRuns, &ImportFigures::check, false), 0,
                   med(scoreRuns, &ImportFigures::check, false), med(serverScoreRuns, &ImportFigures::check, true));
        serverLine("scores (CSV): apply", med(serverScoreRuns, &ImportFigures::apply, false), copyMs,
                   med(scoreRuns, &ImportFigures::apply, false), med(serverScoreRuns, &ImportFigures::apply, true));
        serverLine("scores (CSV): dry run + apply",
                   med(serverScoreRuns, &ImportFigures::check, false) + med(serverScoreRuns, &ImportFigures::apply, false),
                   copyMs, med(scoreRuns, &ImportFigures::check, false) + med(scoreRuns, &ImportFigures::apply, false), 0);
        serverLine("scores (CSV) again: dry run, every row exists", med(serverAgainRuns, &ImportFigures::check, false), 0,
                   med(againRuns, &ImportFigures::check, false), med(serverAgainRuns, &ImportFigures::check, true));
        std::printf("counts: students 新增 %lld 错误 %lld; scores 新增 %lld 错误 %lld; again 不变 %lld 新增 %lld\n",
                    static_cast<long long>(ss.counts.added), static_cast<long long>(ss.counts.errorRows),
                    static_cast<long long>(sc.counts.added), static_cast<long long>(sc.counts.errorRows),
                    static_cast<long long>(sa.counts.unchanged), static_cast<long long>(sa.counts.added));
    }
    QDir(folder).removeRecursively();
    return 0;
}
