// A process killed with SIGKILL in the middle of its batches leaves each
// change and its log entries both present or both absent: a helper
// (BatchWriter) writes batches through the program's record set and is killed
// at random moments, many times; after each kill the database is opened
// again and every row must match its log exactly. On the server the killed
// program's open transaction goes with its connection.
#include "support/TestWorkspace.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <csignal>

using testsupport::TestWorkspace;

class KillConsistencyTest : public QObject
{
    Q_OBJECT

private slots:
    void killedWriterLeavesChangeAndLogTogether()
    {
        TestWorkspace ws(false);
        const QString writer = QDir(testsupport::buildBinDir()).filePath(QStringLiteral("BatchWriter"));
        QVERIFY2(QFileInfo(writer).isExecutable(), qPrintable(writer));
        QStringList place{QStringLiteral("file"), ws.dbPath()};
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (const auto address = ws.serverAddress()) {
            place = QStringList{QStringLiteral("server"), address->host, QString::number(address->port),
                                address->database, address->user};
            environment.insert(QStringLiteral("PGPASSWORD"), address->password);
        }
        // The engines keep a logged row as a JSON object (the server as text)
        // and a row key in the row's type (the server as text).
        const bool server = ws.onServer();
        auto logged = [&](const char *column, const char *field) {
            return server ? QStringLiteral("(L.%1::json ->> '%2')").arg(QLatin1String(column), QLatin1String(field))
                          : QStringLiteral("json_extract(L.%1, '$.%2')").arg(QLatin1String(column), QLatin1String(field));
        };
        const QString scoreKey = server ? QStringLiteral("CAST(S.Id AS text)") : QStringLiteral("S.Id");
        // A round on the server costs more (a connection, the names read):
        // fewer rounds, each given more time to complete some batches.
        const int rounds = server ? 12 : 25;
        const int longestWait = server ? 400 : 90;
        QRandomGenerator random(20240601);
        int killedWithRows = 0;
        for (int round = 0; round < rounds; ++round) {
            QProcess process;
            process.setProcessEnvironment(environment);
            process.start(writer, QStringList{QString::number(round)} + place);
            QVERIFY(process.waitForStarted());
            // Started and connected (slow on a busy machine), then killed a moment into its batches.
            QVERIFY2(process.waitForReadyRead(60000), qPrintable(process.readAllStandardError()));
            QTest::qWait(int(random.bounded(5, longestWait)));
            QVERIFY2(process.state() == QProcess::Running, qPrintable(process.readAllStandardError()));
            ::kill(pid_t(process.processId()), SIGKILL);
            QVERIFY(process.waitForFinished(60000));

            // Opened again, the journal of a cut-off batch is rolled back; the file is sound...
            if (!server) {
                ws.exec("SELECT count(*) FROM Score;");
                QCOMPARE(ws.query("PRAGMA integrity_check"), QStringList{"ok"});
                QCOMPARE(ws.query("SELECT count(*) FROM ChangeBatchCurrent"), QStringList{"0"});
            }
            // ...every row was logged as inserted by a batch, with its values
            // (a key may be used again after a delete: the latest entries count),
            // and carries the mark of its last logged change...
            QCOMPARE(ws.query(QStringLiteral("SELECT count(*) FROM Score S WHERE S.Remark IS DISTINCT FROM (SELECT %1 "
                                             "FROM ChangeLog L WHERE L.TableName = 'Score' AND L.RowKey = %2 AND "
                                             "L.Operation = 'I' AND L.BatchID IS NOT NULL ORDER BY L.ChangeID DESC LIMIT 1)")
                                  .arg(logged("NewValue", "Remark"), scoreKey)),
                     QStringList{"0"});
            QCOMPARE(ws.query(QStringLiteral("SELECT count(*) FROM Score S WHERE S.Score IS DISTINCT FROM (SELECT CAST(CASE "
                                             "L.Operation WHEN 'U' THEN L.NewValue ELSE %1 END AS REAL) FROM ChangeLog L "
                                             "WHERE L.TableName = 'Score' AND L.RowKey = %2 AND (L.Operation = 'I' OR "
                                             "L.Field = 'Score') ORDER BY L.ChangeID DESC LIMIT 1)")
                                  .arg(logged("NewValue", "Score"), scoreKey)),
                     QStringList{"0"});
            // ...every row logged as inserted and not deleted is there...
            QCOMPARE(ws.query(QStringLiteral("SELECT count(*) FROM ChangeLog I WHERE I.Operation = 'I' AND NOT EXISTS "
                                             "(SELECT 1 FROM Score S WHERE %1 = I.RowKey) AND NOT EXISTS (SELECT 1 FROM "
                                             "ChangeLog D WHERE D.TableName = 'Score' AND D.RowKey = I.RowKey AND "
                                             "D.Operation = 'D' AND D.ChangeID > I.ChangeID)")
                                  .arg(scoreKey)),
                     QStringList{"0"});
            // ...and each batch is whole: three rows stored, one mark, two rows deleted.
            QCOMPARE(ws.query("SELECT count(*) FROM ChangeBatch B WHERE (SELECT count(*) FROM ChangeLog L WHERE "
                              "L.BatchID = B.BatchID) <> CASE B.Action WHEN '导入' THEN 3 WHEN '保存' THEN 1 "
                              "WHEN '批量删除' THEN 2 END"),
                     QStringList{"0"});
            QCOMPARE(ws.query("SELECT count(*) FROM ChangeLog WHERE BatchID IS NULL"), QStringList{"0"});
            if (ws.query("SELECT count(*) FROM Score").value(0).toInt() > 0)
                ++killedWithRows;
        }
        QVERIFY(killedWithRows > rounds * 2 / 5);
        // The kills fell at different points: some batches were cut off, some completed.
        const int batches = ws.query("SELECT count(*) FROM ChangeBatch").value(0).toInt();
        QVERIFY2(batches > rounds, qPrintable(QString::number(batches)));
    }
};

QTEST_GUILESS_MAIN(KillConsistencyTest)
#include "tst_killconsistency.moc"
