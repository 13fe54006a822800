// One clerk entering scores for a while through the program's own connection
// and record set, as the score window does: each round adds a score row
// (Add + Save) and raises the mark of one of the shared rows by one
// (Edit + Save), rows that the other clerks raise at the same time. A Save
// refused because another clerk changed the row first is given up, as a
// clerk would, and the row is shown anew. A helper of tst_concurrentsaves
// and of BenchConcurrentSaves (tests/support/ScoreClerks.h).
//   ScoreClerk <clerk> <seconds> file <path>
//   ScoreClerk <clerk> <seconds> server <host> <port> <database> <user>
// The shared rows are the score rows of student "SHARED" with the remarks
// "shared-0", "shared-1" ... The server's password comes from PGPASSWORD or
// the password file. Once connected it prints "ready" and starts on a line
// on its input, so that all clerks begin together. At the end it prints what
// it did, one fact a line:
//   rounds <n> / added <n> / raised <shared row> <n> / conflicts <n> /
//   slowest <ms> / lost <remark> (an Add whose Save failed) / error <text>;
// or, when it cannot open the database, "unusable <text>" and exit code 1.
#include "data/Dravon.h"
#include "HelperPlace.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMap>
#include <QRandomGenerator>
#include <QThread>
#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return 2;
    const int clerk = args[1].toInt();
    const qint64 milliseconds = qint64(args[2].toDouble() * 1000);
    dravon::Connection connection;
    if (!pointAtPlace(connection, args.mid(3)))
        return 2;

    QRandomGenerator random(quint32(clerk) * 7919u + 17u);
    const QString student = QStringLiteral("C%1").arg(clerk);
    int rounds = 0, added = 0, conflicts = 0;
    qint64 slowest = 0;
    QMap<int, int> raised;
    QStringList problems;
    try {
        connection.open();
    } catch (const dravon::Error &e) {
        say(QStringLiteral("unusable ") + e.text().simplified());
        return 1;
    }
    try {
        std::printf("ready\n");
        std::fflush(stdout);
        char go[16];
        if (!std::fgets(go, sizeof go, stdin))
            return 3;
        std::unique_ptr<dravon::RecordSet> scores, shared;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < milliseconds) {
            // A clerk opens the window anew now and then.
            if (rounds % 200 == 0) {
                scores.reset();
                shared.reset();
                scores = SQLDataSet(QStringLiteral("Select * From Score Where StudentID = '%1'").arg(student), connection);
                shared = SQLDataSet(QStringLiteral("Select * From Score Where StudentID = 'SHARED'"), connection);
                shared->waitForCount();
            }
            const QString remark = QStringLiteral("c%1-%2").arg(clerk).arg(rounds);
            ++rounds;
            QElapsedTimer save;
            save.start();
            try {
                scores->insert();
                scores->setFieldText(QStringLiteral("StudentID"), student);
                scores->setFieldText(QStringLiteral("SubjectID"), QStringLiteral("S%1").arg(random.bounded(20)));
                scores->setFieldText(QStringLiteral("Score"), QString::number(random.bounded(101)));
                scores->setFieldText(QStringLiteral("Remark"), remark);
                scores->post();
                ++added;
            } catch (const dravon::Error &e) {
                problems << QStringLiteral("lost ") + remark << QStringLiteral("error ") + e.text().simplified();
                scores->cancel();
            }
            slowest = std::max(slowest, save.elapsed());

            if (shared->recordCount() == 0)
                continue;
            const int row = int(random.bounded(shared->recordCount()));
            save.restart();
            try {
                shared->moveTo(row);
                const int mark = shared->fieldValue(QStringLiteral("Score")).toInt();
                shared->edit();
                shared->setFieldText(QStringLiteral("Score"), QString::number(mark + 1));
                // Typing takes a moment, in which another clerk may save the row.
                QThread::usleep(random.bounded(2000));
                shared->post();
                ++raised[shared->fieldValue(QStringLiteral("Remark")).toString().mid(7).toInt()];
            } catch (const dravon::Error &e) {
                // The refusal shows the row as it is now; the clerk gives up this change.
                if (e.text().contains(QStringLiteral("已被其他用户或程序修改")))
                    ++conflicts;
                else
                    problems << QStringLiteral("error ") + e.text().simplified();
                shared->cancel();
            }
            slowest = std::max(slowest, save.elapsed());
        }
    } catch (const dravon::Error &e) {
        problems << QStringLiteral("error ") + e.text().simplified();
    }
    say(QStringLiteral("rounds %1").arg(rounds));
    say(QStringLiteral("added %1").arg(added));
    for (auto it = raised.cbegin(); it != raised.cend(); ++it)
        say(QStringLiteral("raised %1 %2").arg(it.key()).arg(it.value()));
    say(QStringLiteral("conflicts %1").arg(conflicts));
    say(QStringLiteral("slowest %1").arg(slowest));
    for (const QString &p : std::as_const(problems))
        say(p);
    std::fflush(stdout);
    return 0;
}
