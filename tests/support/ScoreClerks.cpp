#include "support/ScoreClerks.h"

#include "data/Connection.h"
#include "support/TestServer.h"
#include "support/TestWorkspace.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <memory>
#include <vector>

namespace testsupport {

namespace {

// The statements below are written so that both engines read them alike.
QStringList query(const ClerksTarget &target, const QString &sql)
{
    return target.file.isEmpty() ? TestServer::instance().query(target.serverDatabase, sql) : querySql(target.file, sql);
}

void exec(const ClerksTarget &target, const QString &sql)
{
    if (target.file.isEmpty())
        TestServer::instance().exec(target.serverDatabase, sql);
    else
        execSql(target.file, sql);
}

struct Clerk
{
    std::unique_ptr<QProcess> process;
    qint64 rounds = 0, added = 0, conflicts = 0, slowest = 0;
    QMap<int, qint64> raised;
    QSet<QString> lost;
    QStringList errors;
    bool reported = false;
};

void readReport(Clerk &clerk)
{
    const QStringList lines = QString::fromUtf8(clerk.process->readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString rest = line.section(QLatin1Char(' '), 1);
        if (line.startsWith(QLatin1String("rounds ")))
            clerk.rounds = rest.toLongLong(), clerk.reported = true;
        else if (line.startsWith(QLatin1String("added ")))
            clerk.added = rest.toLongLong();
        else if (line.startsWith(QLatin1String("raised ")))
            clerk.raised[rest.section(QLatin1Char(' '), 0, 0).toInt()] += rest.section(QLatin1Char(' '), 1).toLongLong();
        else if (line.startsWith(QLatin1String("conflicts ")))
            clerk.conflicts = rest.toLongLong();
        else if (line.startsWith(QLatin1String("slowest ")))
            clerk.slowest = rest.toLongLong();
        else if (line.startsWith(QLatin1String("lost ")))
            clerk.lost.insert(rest);
        else if (line.startsWith(QLatin1String("error ")))
            clerk.errors << rest;
    }
}

}

QString ClerksOutcome::summary() const
{
    return QStringLiteral("%1 clerks, %2 s: %3 rows added, %4 raises of shared rows saved, %5 refused as changed "
                          "by another clerk, %6 other refusals; %7 saves per second; slowest save %8 ms")
        .arg(clerks)
        .arg(seconds)
        .arg(added)
        .arg(raised)
        .arg(conflicts)
        .arg(rounds * 2 - added - raised - conflicts)
        .arg(savesPerSecond(), 0, 'f', 1)
        .arg(slowestSaveMs);
}

ClerksOutcome runScoreClerks(const ClerksTarget &target, int clerks, double seconds, int sharedRows)
{
    ClerksOutcome outcome;
    outcome.clerks = clerks;
    outcome.seconds = seconds;
    QStringList place;
    if (target.file.isEmpty()) {
        // The tables are set up before the clerks come.
        dravon::Connection setup;
        setup.setServerAddress(TestServer::instance().address(target.serverDatabase));
        setup.open();
        const dravon::pg::ServerAddress a = TestServer::instance().address(target.serverDatabase);
        place << QStringLiteral("server") << a.host << QString::number(a.port) << a.database << a.user;
    } else {
        place << QStringLiteral("file") << target.file;
    }
    QStringList shared;
    for (int i = 0; i < sharedRows; ++i)
        shared << QStringLiteral("('SHARED', 0, 'shared-%1')").arg(i);
    exec(target, QStringLiteral("INSERT INTO \"Score\" (\"StudentID\", \"Score\", \"Remark\") VALUES %1").arg(shared.join(',')));

    const QString program = QDir(buildBinDir()).filePath(QStringLiteral("ScoreClerk"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PGPASSWORD"), TestServer::password());
    std::vector<Clerk> all(clerks);
    for (int k = 0; k < clerks; ++k) {
        all[k].process = std::make_unique<QProcess>();
        all[k].process->setProcessEnvironment(environment);
        all[k].process->start(program, QStringList{QString::number(k + 1), QString::number(seconds)} + place);
    }
    for (int k = 0; k < clerks; ++k) {
        QProcess &p = *all[k].process;
        if (!p.waitForStarted(30000) || !p.waitForReadyRead(60000) || !p.canReadLine()
            || !p.peek(6).startsWith("ready")) {
            p.waitForFinished(10000);
            outcome.faults << QStringLiteral("clerk %1 did not start: %2%3")
                                  .arg(k + 1)
                                  .arg(QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError()));
            p.kill();
            p.waitForFinished();
        } else {
            p.readLine();  // "ready"
        }
    }
    // Without an event loop a write waits in the process's buffer until it is flushed.
    for (Clerk &c : all)
        if (c.process->state() == QProcess::Running) {
            c.process->write("go\n");
            c.process->waitForBytesWritten(10000);
        }
    // A clerk still busy long after its time is up is waiting on a lock that will not come free.
    for (int k = 0; k < clerks; ++k) {
        QProcess &p = *all[k].process;
        if (p.state() == QProcess::Running && !p.waitForFinished(int(seconds * 1000) + 60000)) {
            outcome.faults << QStringLiteral("clerk %1 did not finish (a save that never ends)").arg(k + 1);
            p.kill();
            p.waitForFinished();
        }
        readReport(all[k]);
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || !all[k].reported)
            outcome.faults << QStringLiteral("clerk %1 crashed or said nothing: %2")
                                  .arg(k + 1)
                                  .arg(QString::fromUtf8(p.readAllStandardError()));
    }

    // What each clerk saved against what the database holds.
    QMap<QString, int> refusals;
    QMap<int, qint64> raised;
    QMap<QString, QStringList> rowsOf;
    for (const QString &row : query(target, QStringLiteral("SELECT \"StudentID\" || '|' || coalesce(\"Remark\", '') || '|' "
                                                           "|| coalesce(CAST(\"Score\" AS integer), -1) FROM \"Score\"")))
        rowsOf[row.section(QLatin1Char('|'), 0, 0)] << row.section(QLatin1Char('|'), 1);
    for (int k = 0; k < clerks; ++k) {
        const Clerk &c = all[k];
        outcome.rounds += c.rounds;
        outcome.added += c.added;
        outcome.conflicts += c.conflicts;
        outcome.slowestSaveMs = std::max(outcome.slowestSaveMs, c.slowest);
        for (const QString &e : c.errors)
            ++refusals[e];
        for (auto it = c.raised.cbegin(); it != c.raised.cend(); ++it)
            raised[it.key()] += it.value();
        if (c.added + c.lost.size() != c.rounds)
            outcome.faults << QStringLiteral("clerk %1: %2 rounds, but %3 rows saved and %4 failed")
                                  .arg(k + 1).arg(c.rounds).arg(c.added).arg(c.lost.size());
        const QString student = QStringLiteral("C%1").arg(k + 1);
        const QRegularExpression remark(QStringLiteral("^c%1-(\\d+)\\|").arg(k + 1));
        QSet<QString> seen;
        for (const QString &row : rowsOf.take(student)) {
            const QRegularExpressionMatch m = remark.match(row);
            const QString tag = row.section(QLatin1Char('|'), 0, 0);
            if (!m.hasMatch() || m.captured(1).toLongLong() >= c.rounds)
                outcome.faults << QStringLiteral("clerk %1: a row nobody saved: %2").arg(k + 1).arg(row);
            else if (seen.contains(tag))
                outcome.faults << QStringLiteral("clerk %1: row %2 stored twice").arg(k + 1).arg(tag);
            else if (c.lost.contains(tag))
                outcome.faults << QStringLiteral("clerk %1: row %2 stored although its Save failed").arg(k + 1).arg(tag);
            seen.insert(tag);
        }
        if (seen.size() != c.added)
            outcome.faults << QStringLiteral("clerk %1 saved %2 rows, the database holds %3").arg(k + 1).arg(c.added).arg(seen.size());
    }
    const QStringList sharedNow = rowsOf.take(QStringLiteral("SHARED"));
    if (sharedNow.size() != sharedRows)
        outcome.faults << QStringLiteral("%1 shared rows instead of %2").arg(sharedNow.size()).arg(sharedRows);
    for (const QString &row : sharedNow) {
        const int i = row.section(QLatin1Char('|'), 0, 0).mid(7).toInt();
        const qint64 mark = row.section(QLatin1Char('|'), 1).toLongLong();
        outcome.raised += raised.value(i);
        if (mark != raised.value(i))
            outcome.faults << QStringLiteral("shared row %1: mark %2 after %3 saved raises").arg(i).arg(mark).arg(raised.value(i));
    }
    for (auto it = rowsOf.cbegin(); it != rowsOf.cend(); ++it)
        outcome.faults << QStringLiteral("%1 rows of student %2 that no clerk saved").arg(it.value().size()).arg(it.key());
    for (auto it = refusals.cbegin(); it != refusals.cend(); ++it)
        outcome.refusals << QStringLiteral("%1× %2").arg(it.value()).arg(it.key());
    return outcome;
}

}
