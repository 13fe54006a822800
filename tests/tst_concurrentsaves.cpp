// Ten programs saving scores into one database at once, each a process with
// its own connection and record sets (tests/helpers/ScoreClerk): every row
// saved is there once, nothing whose Save failed is there, no raise of a
// shared row is lost to another clerk's, and no clerk hangs. On the server
// every Save succeeds but those refused because another clerk changed the
// row first; on one file the clerks queue for the file's write lock, and a
// Save that waited too long is refused with a clear message and stores
// nothing; ten programs opening a file of an earlier version at once all
// get to work. A long query in one program does not hold up a Save in another.
// BenchConcurrentSaves runs the same for a minute and reports throughput.
#include "data/Dravon.h"
#include "data/SchemaUpgrade.h"
#include "support/FirstVersion.h"
#include "support/ScoreClerks.h"
#include "support/TestServer.h"
#include "support/TestWorkspace.h"

#include <QAtomicInt>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using testsupport::ClerksOutcome;

class ConcurrentSavesTest : public QObject
{
    Q_OBJECT

private slots:
    void tenClerksOnTheServer()
    {
        testsupport::ServerDatabase db;
        const ClerksOutcome outcome = testsupport::runScoreClerks({{}, db.name()}, 10, 3);
        qInfo("%s", qPrintable(outcome.summary()));
        QVERIFY2(outcome.faults.isEmpty(), qPrintable(outcome.faults.join('\n')));
        QVERIFY2(outcome.refusals.isEmpty(), qPrintable(outcome.refusals.join('\n')));
        QVERIFY(outcome.added > 0);
        QVERIFY(outcome.raised > 0);
        // Clerks did change the same rows at the same time.
        QVERIFY(outcome.conflicts > 0);
    }

    void tenClerksOnOneFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Teach.mdb"));
        testsupport::createDatabase(path);
        const ClerksOutcome outcome = testsupport::runScoreClerks({path, {}}, 10, 3);
        qInfo("%s", qPrintable(outcome.summary()));
        for (const QString &refusal : outcome.refusals)
            qInfo("refused: %s", qPrintable(refusal));
        QVERIFY2(outcome.faults.isEmpty(), qPrintable(outcome.faults.join('\n')));
        QVERIFY(outcome.added > 0);
        QVERIFY(outcome.raised > 0);
        // A Save that found the file busy says so, in words a clerk can act on.
        for (const QString &refusal : outcome.refusals)
            QVERIFY2(refusal.contains(QStringLiteral("请稍后再试")), qPrintable(refusal));
    }

    // A file of an earlier version opened by ten programs at the same
    // moment: one upgrades it (keeping one copy of it as it was), the others
    // find it upgraded and go on.
    void tenClerksOpenAnOlderFileAtOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Teach.mdb"));
        testsupport::createDatabase(path);
        testsupport::execSql(path, QString::fromUtf8(testsupport::firstVersionRecordTables));
        const ClerksOutcome outcome = testsupport::runScoreClerks({path, {}}, 10, 1);
        QVERIFY2(outcome.faults.isEmpty(), qPrintable(outcome.faults.join('\n')));
        QVERIFY(outcome.added > 0);
        QCOMPARE(testsupport::querySql(path, QStringLiteral("PRAGMA user_version")),
                 QStringList{QString::number(dravon::currentSchemaVersion)});
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("Teach.mdb.before-upgrade-*")}, QDir::Files).size(), 1);
    }

    // One program runs a query that takes seconds on the server; another
    // saves a change to a row the query reads, and is done while the query
    // still runs.
    void longQueryDoesNotHoldUpASave()
    {
        testsupport::ServerDatabase db;
        dravon::Connection saving;
        saving.setServerAddress(db.address());
        saving.open();
        db.exec(QStringLiteral("INSERT INTO \"Score\" (\"StudentID\", \"Score\", \"Remark\") VALUES "
                               "('2007001', 60, 'a'), ('2007002', 70, 'b'), ('2007003', 80, 'c')"));

        QAtomicInt queryDone(0);
        QString queryError;
        int queryRows = -1;
        std::unique_ptr<QThread> querying(QThread::create([&] {
            try {
                dravon::Connection connection;
                connection.setServerAddress(db.address());
                connection.open();
                auto rows = SQLDataSet(QStringLiteral("Select S.StudentID, S.Score, pg_sleep(2) As Pause "
                                                      "From Score S Order By S.StudentID"),
                                       connection);
                queryRows = rows->recordCount();
            } catch (const dravon::Error &e) {
                queryError = e.text();
            }
            queryDone.storeRelease(1);
        }));
        querying->start();
        // The query may be running as its own statement or under a cursor's
        // FETCH (and on a worker's copy as well): look for the sleep itself.
        QTRY_VERIFY_WITH_TIMEOUT(db.query(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'PgSleep' "
                                                         "AND datname = current_database() AND pid <> pg_backend_pid()"))
                                         .value(0)
                                         .toInt() >= 1,
                                 20000);

        auto scores = SQLDataSet(QStringLiteral("Select * From Score"), saving);
        scores->first();
        scores->edit();
        scores->setFieldText(QStringLiteral("Score"), QStringLiteral("99"));
        scores->post();
        QCOMPARE(queryDone.loadAcquire(), 0);
        QCOMPARE(db.query(QStringLiteral("SELECT \"Score\" FROM \"Score\" WHERE \"Remark\" = 'a'")), QStringList{"99"});

        QVERIFY(querying->wait(60000));
        QVERIFY2(queryError.isEmpty(), qPrintable(queryError));
        QCOMPARE(queryRows, 3);
    }
};

QTEST_GUILESS_MAIN(ConcurrentSavesTest)
#include "tst_concurrentsaves.moc"
