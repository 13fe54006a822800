// Faults of the server met in the windows, driven by keys and clicks with
// the message boxes answered through the seam: a Save cut off by the server
// (stopped, the connection ended, the statement cancelled) says so, keeps
// what the clerk typed and stores it on the next Save once the server is
// back; a window open while the connection is lost says so when it needs
// rows and shows them again after the reconnection; a wrong password at
// start names the cause before the setup dialog opens.
#include "app/DBSetup_Unit.h"
#include "app/DM_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "data/ServerSettings.h"
#include "forms/master/TeacherSet_Unit.h"
#include "gui/ServerAddressBox.h"
#include "support/GuiHelpers.h"
#include "support/ProgramFixture.h"
#include "support/TestServer.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <functional>
#include <thread>

using dravon::DataSetState;
using testsupport::TestServer;

namespace {

void focus(QWidget *w)
{
    w->window()->activateWindow();
    QTRY_VERIFY(w->window()->isActiveWindow());
    w->setFocus();
    QTRY_VERIFY(w->hasFocus());
}

// The server's process for a connection of the program that waits for a
// row lock, found from outside the program while its Save waits.
qint64 waitingBackend(const QString &database)
{
    dravon::pg::Session watcher(TestServer::instance().address(QStringLiteral("postgres")));
    for (int i = 0; i < 3000; ++i) {
        const dravon::pg::Result r =
            watcher.exec(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE datname = $1 AND wait_event_type = 'Lock'"),
                         {database});
        if (r.rows() > 0)
            return r.value(0, 0).toLongLong();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

// The test server commits without waiting for its log and stops at once:
// what was committed before is made durable first, as a real server keeps it.
void checkpoint()
{
    TestServer::instance().exec(QStringLiteral("postgres"), QStringLiteral("CHECKPOINT"));
}

}

class ServerFaultsTest : public QObject, protected testsupport::ProgramFixture
{
    Q_OBJECT

private:
    TfrmDictionaryBase *openTeachers()
    {
        frmTeachMain->menuItem(QStringLiteral("D2"))->trigger();
        TfrmDictionaryBase *w = frmTeacherSet.data();
        if (w && QTest::qWaitForWindowExposed(w))
            return w;
        return nullptr;
    }
    static DataSetState state(TfrmDictionaryBase *w) { return w->mainSource()->state(); }
    static void clickRow(TfrmDictionaryBase *w, int row)
    {
        QTableView *grid = w->DBGrid;
        grid->scrollTo(grid->model()->index(row, 1));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(row, 1)).center());
    }
    QString storedName(const QString &id)
    {
        return ws->query(QStringLiteral("SELECT TchName FROM TeacherInfo WHERE TeacherID = '%1'").arg(id)).join('|');
    }
    QString databaseName() const { return dm->ADOConn.serverAddress()->database; }

private slots:
    void initTestCase() { qputenv("VELTRANA_TEST_ENGINE", "server"); }
    void init()
    {
        // The faults strike while the Save waits for a lock: it must not give up first.
        dravon::pg::setLockWaitForTesting(
            QTest::currentTestFunction() == QLatin1String("saveCutOffKeepsTheTypedValues") ? 120000 : 0);
        startProgram(QStringLiteral("INSERT INTO TeacherInfo (TeacherID, TchName) VALUES ('2007001', '甲'), ('2007002', '乙')"),
                     Screen::LoggedIn);
    }
    void cleanup()
    {
        stopProgram();
        dravon::pg::setLockWaitForTesting(0);
    }

    // The Save waits for a row another program holds; meanwhile the server
    // ends it one way or another.
    void saveCutOffKeepsTheTypedValues_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("server stopped") << "stop" << "与数据库服务器";
        QTest::newRow("connection ended by the server") << "terminate" << "与数据库服务器";
        QTest::newRow("statement cancelled by the server") << "cancel" << "数据库服务器中止了这次操作(语句被取消或超时)";
    }
    void saveCutOffKeepsTheTypedValues()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        TfrmDictionaryBase *w = openTeachers();
        QVERIFY(w);
        clickRow(w, 1);
        focus(w->edtName);
        testsupport::typeText(w->edtName, QStringLiteral("改"));
        QCOMPARE(state(w), DataSetState::Edit);

        auto holder = std::make_unique<dravon::pg::Session>(TestServer::instance().address(databaseName()));
        holder->exec(QStringLiteral("BEGIN"));
        holder->exec(QStringLiteral("UPDATE \"TeacherInfo\" SET \"Remark\" = \"Remark\" WHERE \"TeacherID\" = '2007002'"));
        std::atomic<bool> struck{false};
        std::thread server([&, database = databaseName()] {
            const qint64 pid = waitingBackend(database);
            if (pid == 0)
                return;
            if (fault == QLatin1String("stop")) {
                checkpoint();
                TestServer::instance().stop();
            } else {
                dravon::pg::Session admin(TestServer::instance().address(QStringLiteral("postgres")));
                admin.exec(fault == QLatin1String("terminate") ? QStringLiteral("SELECT pg_terminate_backend($1)")
                                                               : QStringLiteral("SELECT pg_cancel_backend($1)"),
                           {pid});
            }
            struck = true;
        });
        QTest::keyClick(w->edtName, Qt::Key_S, Qt::ControlModifier);
        server.join();
        QVERIFY(struck);

        QCOMPARE(recorder->messages.size(), 1);
        QVERIFY2(recorder->texts().value(0).contains(message), qPrintable(recorder->texts().value(0)));
        QVERIFY2(recorder->texts().value(0).contains(QStringLiteral("没有保存")), qPrintable(recorder->texts().value(0)));
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(w->edtName->text(), QStringLiteral("乙改"));

        if (fault == QLatin1String("stop")) {
            holder.reset();
            TestServer::instance().start();
        } else {
            holder->exec(QStringLiteral("ROLLBACK"));
        }
        QCOMPARE(storedName(QStringLiteral("2007002")), QStringLiteral("乙"));

        focus(w->edtName);
        QTest::keyClick(w->edtName, Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(recorder->messages.size() == 1, qPrintable(recorder->texts().join('\n')));
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(storedName(QStringLiteral("2007002")), QStringLiteral("乙改"));
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM TeacherInfo")), QStringList{"2"});
    }

    // Another session keeps a teacher's row in an open transaction (a tool
    // left open): the Save and the Delete of that row wait about as long as
    // on the file and are refused with the file's lock message; nothing of
    // them is written, the typed values stay, and each goes through once
    // the other session ends.
    void aRowHeldElsewhereIsReportedAsLocked()
    {
        TfrmDictionaryBase *w = openTeachers();
        QVERIFY(w);
        const QString batches = ws->query(QStringLiteral("SELECT count(*) FROM ChangeBatch")).join('|');
        dravon::pg::Session holder(TestServer::instance().address(databaseName()));
        auto hold = [&] {
            holder.exec(QStringLiteral("BEGIN"));
            holder.exec(QStringLiteral("UPDATE \"TeacherInfo\" SET \"Remark\" = \"Remark\" WHERE \"TeacherID\" = '2007002'"));
        };
        auto refusedInTime = [&](const std::function<void()> &action, int messagesBefore) {
            QElapsedTimer clock;
            clock.start();
            action();
            const qint64 waited = clock.elapsed();
            QVERIFY2(recorder->messages.size() == messagesBefore + 1, qPrintable(recorder->texts().join('\n')));
            const QString text = recorder->last().text;
            QVERIFY2(text.startsWith(QStringLiteral("数据库正被其他操作占用(已锁定),请稍后再试。\n")), qPrintable(text));
            QVERIFY2(waited >= 900 && waited < 15000, qPrintable(QString::number(waited)));
        };
        hold();
        clickRow(w, 1);
        focus(w->edtName);
        testsupport::typeText(w->edtName, QStringLiteral("改"));
        refusedInTime([&] { QTest::keyClick(w->edtName, Qt::Key_S, Qt::ControlModifier); }, 0);
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(w->edtName->text(), QStringLiteral("乙改"));
        QCOMPARE(storedName(QStringLiteral("2007002")), QStringLiteral("乙"));
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM ChangeBatch")).join('|'), batches);

        holder.exec(QStringLiteral("ROLLBACK"));
        focus(w->edtName);
        QTest::keyClick(w->edtName, Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(recorder->messages.size() == 1, qPrintable(recorder->texts().join('\n')));
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(storedName(QStringLiteral("2007002")), QStringLiteral("乙改"));

        hold();
        clickRow(w, 1);
        refusedInTime([&] { QTest::mouseClick(w->btnDel, Qt::LeftButton); }, 2);
        QCOMPARE(recorder->texts().value(1), QStringLiteral("确定要删除此条记录?"));
        QCOMPARE(ws->query(QStringLiteral("SELECT TchName FROM TeacherInfo ORDER BY TeacherID")), (QStringList{"甲", "乙改"}));
        QCOMPARE(w->mainSource()->dataSet()->recordCount(), 2);
        holder.exec(QStringLiteral("ROLLBACK"));
        clickRow(w, 1);
        QTest::mouseClick(w->btnDel, Qt::LeftButton);
        QVERIFY2(recorder->messages.size() == 4, qPrintable(recorder->texts().join('\n')));
        QCOMPARE(ws->query(QStringLiteral("SELECT TchName FROM TeacherInfo ORDER BY TeacherID")), QStringList{"甲"});
    }

    // The window is open over more rows than it has read; the connection
    // goes; moving to rows not read yet says so, and once the server is back
    // the same keys show them.
    void lostConnectionWithAWindowOpen()
    {
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 3 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
                                "INSERT INTO TeacherInfo (TeacherID, TchName) SELECT 2007000 + i, '名' || i FROM n"));
        TfrmDictionaryBase *w = openTeachers();
        QVERIFY(w);
        clickRow(w, 0);
        checkpoint();
        TestServer::instance().stop();
        focus(w->DBGrid);
        QTest::keyClick(w->DBGrid, Qt::Key_End, Qt::ControlModifier);
        QTRY_VERIFY2(!recorder->messages.isEmpty(), "the lost connection was not reported");
        QVERIFY2(recorder->texts().first().contains(QStringLiteral("与数据库服务器")), qPrintable(recorder->texts().first()));
        // The rows that cannot be read show empty; repaints (as under the
        // message box) do not report the same failure again and again.
        QTest::qWait(100);
        const int told = recorder->messages.size();
        QVERIFY2(told <= 2, qPrintable(recorder->texts().join('\n')));
        for (int i = 0; i < 3; ++i) {
            w->DBGrid->viewport()->repaint();
            QTest::qWait(20);
        }
        QVERIFY2(recorder->messages.size() == told, qPrintable(recorder->texts().join('\n')));
        // Each further key says once that the server is still away.
        QTest::keyClick(w->DBGrid, Qt::Key_PageUp);
        QTest::qWait(100);
        QVERIFY2(recorder->messages.size() <= told + 1, qPrintable(recorder->texts().join('\n')));
        QVERIFY2(recorder->texts().last().contains(QStringLiteral("与数据库服务器")), qPrintable(recorder->texts().last()));

        TestServer::instance().start();
        const int before = recorder->messages.size();
        focus(w->DBGrid);
        QTest::keyClick(w->DBGrid, Qt::Key_End, Qt::ControlModifier);
        QTRY_COMPARE(w->txtID->text(), QStringLiteral("2008000"));
        QCOMPARE(w->edtName->text(), QStringLiteral("名1000"));
        QVERIFY2(recorder->messages.size() == before, qPrintable(recorder->texts().join('\n')));
        QCOMPARE(state(w), DataSetState::Browse);
    }

    // The password file holds a wrong password: the start names the cause,
    // then the usual message and the setup dialog, where the right password
    // connects.
    void wrongPasswordAtStart()
    {
        stopProgram();
        ws = std::make_unique<testsupport::TestWorkspace>();
        dravon::pg::ServerAddress wrong = TestServer::instance().address(ReadServerAddress(ws->iniPath())->database);
        wrong.password = QStringLiteral("not-it");
        StorePassword(wrong);
        recorder = std::make_unique<testsupport::MessageRecorder>();
        new TfrmTeachMain;
        bool dialogSeen = false;
        testsupport::whenModal<TfrmDBSetup>([&](TfrmDBSetup *setup) {
            dialogSeen = true;
            QLineEdit *password = setup->grpServer->edtPassword;
            password->selectAll();
            QTest::keyClicks(password, TestServer::password());
            QTest::mouseClick(setup->btnOk, Qt::LeftButton);
        }, 20000);
        dm = new TDM;
        QVERIFY(dialogSeen);
        const QStringList texts = recorder->texts();
        QVERIFY2(texts.size() == 3, qPrintable(texts.join('\n')));
        QVERIFY2(texts[0].startsWith(QStringLiteral("用户名或密码不正确(用户 veltrana)。")), qPrintable(texts[0]));
        QCOMPARE(texts[1], QStringLiteral("数据库连接失败!"));
        QCOMPARE(texts[2], QStringLiteral("数据连接成功,请重新启动程序!"));
        QVERIFY(dm->ADOConn.isServer() && dm->ADOConn.isOpen());
    }
};

QTEST_MAIN(ServerFaultsTest)
#include "tst_serverfaults.moc"
