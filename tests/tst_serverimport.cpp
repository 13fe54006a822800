// An import into a server database while the server and other clerks go on:
// 取消 during the check stops the match statement on the server itself (it
// was waiting on a lock another program held) and the program's session
// goes on to import the same file; another clerk's Save made while the
// apply holds its table lock waits and then goes on, or is refused as any
// Save of a row changed meanwhile, with nothing lost on either side; a row
// another session holds on to ends the apply with the lock message.
#include "app/DM_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "data/import/ServerStage.h"
#include "gui/OpenFileDialog.h"
#include "gui/import/ImportWizard.h"
#include "support/ImportFixtures.h"
#include "support/ProgramFixture.h"
#include "support/TestServer.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

using namespace importing;
using testsupport::TestServer;

namespace {

void clickNext(QWizard *wizard)
{
    QTest::mouseClick(wizard->button(QWizard::NextButton), Qt::LeftButton);
}

// Whether the server process pid waits for a lock; asked from outside the program.
bool waitsOnLock(dravon::pg::Session &watcher, qint64 pid)
{
    return watcher
               .exec(QStringLiteral("SELECT 1 FROM pg_stat_activity WHERE pid = $1 AND wait_event_type = 'Lock'"), {pid})
               .rows()
           > 0;
}

// Waits until a server process of the database other than those named waits for a lock; 0 when none does.
qint64 waitingOther(dravon::pg::Session &watcher, const QString &database, const QList<qint64> &besides)
{
    for (int i = 0; i < 1000; ++i) {
        const dravon::pg::Result r = watcher.exec(
            QStringLiteral("SELECT pid FROM pg_stat_activity WHERE datname = $1 AND wait_event_type = 'Lock'"), {database});
        for (int row = 0; row < r.rows(); ++row)
            if (!besides.contains(r.value(row, 0).toLongLong()))
                return r.value(row, 0).toLongLong();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

const QString students = QStringLiteral("SELECT StudentID || '|' || StuName || '|' || coalesce(StuContact, '') "
                                        "FROM StudentInfo ORDER BY StudentID");

}

class ServerImportTest : public QObject, protected testsupport::ProgramFixture
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> files;
    QString csv;

    QString databaseName() const { return dm->ADOConn.serverAddress()->database; }
    qint64 programPid() const
    {
        return dm->ADOConn.session().exec(QStringLiteral("SELECT pg_backend_pid()")).value(0, 0).toLongLong();
    }

private slots:
    void initTestCase()
    {
        qputenv("VELTRANA_TEST_ENGINE", "server");
        dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d"));
    }
    void init()
    {
        // These cases hold a lock on purpose while the program waits for it;
        // the limit of a lock wait is tried on a connection of its own.
        dravon::pg::setLockWaitForTesting(120000);
        startProgram({}, Screen::LoggedIn);
        dravon::pg::setLockWaitForTesting(0);
        testsupport::seedSchool(*ws);
        files = std::make_unique<QTemporaryDir>();
        csv = files->filePath(QStringLiteral("students.csv"));
        QFile f(csv);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("学号,姓名\n0024002,李思\n0024010,甲\n");
    }
    void cleanup()
    {
        dravon::pg::setLockWaitForTesting(0);
        ServerStage::setBeforeMatchForTesting({});
        SetOpenFileNameHandler({});
        stopProgram();
        files.reset();
    }

    // Another program holds the table while the match runs; 取消 stops the
    // statement there and then, not when the other program lets go.
    void cancelStopsTheMatchOnTheServer()
    {
        const qint64 pid = programPid();
        dravon::pg::Session holder(TestServer::instance().address(databaseName()));
        dravon::pg::Session watcher(TestServer::instance().address(databaseName()));
        // A safety net: the lock goes after a while even if nothing stops the statement.
        holder.exec(QStringLiteral("SET idle_in_transaction_session_timeout = '30s'"));
        ServerStage::setBeforeMatchForTesting([&holder] {
            holder.exec(QStringLiteral("BEGIN"));
            holder.exec(QStringLiteral("LOCK TABLE \"StudentInfo\" IN ACCESS EXCLUSIVE MODE"));
        });
        SetOpenFileNameHandler([this](QWidget *, const QString &, const QString &) { return csv; });
        bool waited = false, heldAtCancel = false;
        QString status;
        QElapsedTimer sinceCancel;
        testsupport::whenModal<ImportWizard>([&](ImportWizard *wizard) {
            QTest::mouseClick(wizard->findChild<ImportFilePage *>()->btnBrowse, Qt::LeftButton);
            clickNext(wizard);  // 映射
            clickNext(wizard);  // 方式
            // 取消 once the match waits on the server (the check lets events through meanwhile).
            QTimer clicker;
            clicker.setInterval(20);
            QObject::connect(&clicker, &QTimer::timeout, wizard, [&] {
                if (!waitsOnLock(watcher, pid))
                    return;
                clicker.stop();
                waited = true;
                heldAtCancel = holder.inTransaction();
                sinceCancel.start();
                QTest::mouseClick(wizard->button(QWizard::CancelButton), Qt::LeftButton);
            });
            clicker.start();
            clickNext(wizard);  // 检查
            auto *check = wizard->findChild<ImportCheckPage *>();
            QTRY_VERIFY_WITH_TIMEOUT(sinceCancel.isValid() && !check->lblStatus->text().startsWith(QStringLiteral("正在")),
                                     40000);
            status = check->lblStatus->text();
        });
        OpenImportWizard(frmTeachMain, QStringLiteral("StudentInfo"));
        QVERIFY2(waited, "the match never waited on the lock");
        QVERIFY(heldAtCancel);
        QCOMPARE(status, QStringLiteral("检查已停止。"));
        // Stopped by the cancel, well before the other program's lock went.
        QVERIFY2(sinceCancel.elapsed() < 10000, qPrintable(QString::number(sinceCancel.elapsed())));
        QVERIFY(holder.inTransaction());
        QCOMPARE(watcher.exec(QStringLiteral("SELECT state FROM pg_stat_activity WHERE pid = $1"), {pid}).text(0, 0),
                 QStringLiteral("idle"));
        QVERIFY(recorder->messages.isEmpty());
        holder.exec(QStringLiteral("ROLLBACK"));
        ServerStage::setBeforeMatchForTesting({});
        QCOMPARE(ws->query(students), (QStringList{"0024001|张三|", "0024002|李四|", "0024003|王五|"}));

        // The session goes on: the same file is checked and imported.
        QString result;
        testsupport::whenModal<ImportWizard>([&](ImportWizard *wizard) {
            QTest::mouseClick(wizard->findChild<ImportFilePage *>()->btnBrowse, Qt::LeftButton);
            clickNext(wizard);
            clickNext(wizard);
            clickNext(wizard);
            auto *check = wizard->findChild<ImportCheckPage *>();
            QTRY_VERIFY_WITH_TIMEOUT(check->isComplete(), 20000);
            clickNext(wizard);
            auto *apply = wizard->findChild<ImportApplyPage *>();
            QTRY_VERIFY_WITH_TIMEOUT(apply->isComplete(), 20000);
            result = apply->lblResult->text();
            QTest::mouseClick(wizard->button(QWizard::FinishButton), Qt::LeftButton);
        });
        OpenImportWizard(frmTeachMain, QStringLiteral("StudentInfo"));
        QVERIFY2(result.startsWith(QStringLiteral("导入完成:新增 1 条,更新 1 条。")), qPrintable(result));
        QCOMPARE(ws->query(students), (QStringList{"0024001|张三|", "0024002|李思|", "0024003|王五|", "0024010|甲|"}));
        QVERIFY2(recorder->messages.isEmpty(), qPrintable(recorder->texts().join('\n')));
    }

    // Another session holds a student's row (an open transaction in another
    // tool): the apply waits for its table lock about as long as a Save on
    // the file, then fails with the lock message and writes nothing; once
    // that session ends, the same check is applied.
    void aRowHeldElsewhereEndsTheApplyAsLocked()
    {
        dravon::Connection connection;
        ws->openConnection(connection);
        testsupport::PreparedImport prepared = testsupport::prepareImport(connection, csv, QStringLiteral("StudentInfo"));
        ImportRun run(connection, prepared.plan);
        QVERIFY(run.check(*prepared.reader));
        const QStringList before = ws->query(students);
        dravon::pg::Session holder(TestServer::instance().address(databaseName()));
        holder.exec(QStringLiteral("BEGIN"));
        holder.exec(QStringLiteral("UPDATE \"StudentInfo\" SET \"StuContact\" = \"StuContact\" WHERE \"StudentID\" = '0024003'"));
        QElapsedTimer clock;
        clock.start();
        QString failure;
        try {
            applyImport(run);
        } catch (const dravon::Error &e) {
            failure = e.text();
        }
        const qint64 waited = clock.elapsed();
        QVERIFY2(failure.startsWith(QStringLiteral("导入失败,已全部撤销,数据库与导入前相同。\n原因: "
                                                   "数据库正被其他操作占用(已锁定),请稍后再试。")),
                 qPrintable(failure));
        QVERIFY2(waited >= 900 && waited < 15000, qPrintable(QString::number(waited)));
        QCOMPARE(ws->query(students), before);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM ChangeBatch WHERE Action = '导入'")), QStringList{"0"});
        holder.exec(QStringLiteral("ROLLBACK"));
        const ApplyResult result = applyImport(run);
        QVERIFY(result.completed);
        QCOMPARE(ws->query(students), (QStringList{"0024001|张三|", "0024002|李思|", "0024003|王五|", "0024010|甲|"}));
    }

    // Another program's clerk has a student's row open and saves it while
    // the apply holds the table: the Save waits for the import's end.
    void aSaveDuringTheApplyWaitsThenGoesOn_data()
    {
        QTest::addColumn<QString>("student");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("a row the import leaves")
            << "0024003" << "saved" << QStringList{"0024001|张三|", "0024002|李思|", "0024003|王五|139", "0024010|甲|"};
        QTest::newRow("a row the import changes")
            << "0024002" << "该记录已被其他用户或程序修改或删除,未保存。"
            << QStringList{"0024001|张三|", "0024002|李思|", "0024003|王五|", "0024010|甲|"};
    }
    void aSaveDuringTheApplyWaitsThenGoesOn()
    {
        QFETCH(QString, student);
        QFETCH(QString, outcome);
        QFETCH(QStringList, stored);
        testsupport::PreparedImport prepared = testsupport::prepareImport(dm->ADOConn, csv, QStringLiteral("StudentInfo"));
        ImportRun run(dm->ADOConn, prepared.plan);
        QVERIFY(run.check(*prepared.reader));
        const qint64 pid = programPid();

        // The other program: its own connection and record set, on a thread of its own.
        std::atomic<bool> editing{false}, save{false};
        QString saved;
        std::thread clerk([&] {
            try {
                // Its Save waits for the import however long it takes here.
                dravon::pg::setLockWaitForTesting(120000);
                dravon::Connection connection;
                ws->openConnection(connection);
                dravon::pg::setLockWaitForTesting(0);
                auto rows = SQLDataSet(
                    QStringLiteral("Select * From StudentInfo Where StudentID = '%1'").arg(student), connection);
                rows->edit();
                rows->setFieldText(QStringLiteral("StuContact"), QStringLiteral("139"));
                editing = true;
                while (!save)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                rows->post();
                saved = QStringLiteral("saved");
            } catch (const dravon::Error &e) {
                saved = e.text();
            }
            editing = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(editing, 20000);

        dravon::pg::Session watcher(TestServer::instance().address(databaseName()));
        qint64 clerkPid = 0;
        const ApplyResult result = applyImport(run, [&](qint64, qint64) {
            if (!save) {
                save = true;
                // The import holds the table; the clerk's Save waits for it.
                clerkPid = waitingOther(watcher, databaseName(), {pid});
            }
            return true;
        });
        clerk.join();
        QVERIFY2(clerkPid != 0, "the Save did not wait for the import");
        QVERIFY(result.completed);
        QCOMPARE(result.added + result.updated, 2);
        QVERIFY2(saved.startsWith(outcome), qPrintable(saved));
        QCOMPARE(ws->query(students), stored);
        // The import is one batch; the clerk's Save, when stored, another.
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM ChangeBatch")),
                 QStringList{outcome == QLatin1String("saved") ? "2" : "1"});
    }
};

QTEST_MAIN(ServerImportTest)
#include "tst_serverimport.moc"
