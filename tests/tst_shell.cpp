// The application shell driven headless: start-up paths, the setup dialog,
// the login, the main window and its menu, the child-window base.
#include "app/Common_Unit.h"
#include "app/DBSetup_Unit.h"
#include "app/DM_Unit.h"
#include "app/Login_Unit.h"
#include "app/Looks_Unit.h"
#include "app/Program_Unit.h"
#include "gui/Shell_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/SettingsClient.h"
#include "data/ShortDate.h"
#include "forms/master/CollegeSet_Unit.h"
#include "support/GuiHelpers.h"
#include "support/TestWorkspace.h"

#include <QAction>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QLabel>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using testsupport::MessageRecorder;
using testsupport::TestWorkspace;
using testsupport::showMainWindowLoggedIn;
using testsupport::whenModal;

namespace {
QByteArray fileContent(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}

class ShellTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<MessageRecorder> rec;

    void connectDataModule()
    {
        QVERIFY(CreateApplicationWindows());
        QVERIFY(DM->ADOConn.isOpen());
    }
    // The master window of colleges, shown as a child of the logged-in main window.
    TfrmCollegeSet *openCollegeWindow()
    {
        connectDataModule();
        showMainWindowLoggedIn(QStringLiteral("1001"), QStringLiteral("admin"));
        frmTeachMain->menuItem(QStringLiteral("D5"))->trigger();
        if (!frmCollegeSet || !QTest::qWaitForWindowExposed(frmCollegeSet))
            return nullptr;
        return frmCollegeSet;
    }
    static QString plain(QString text)
    {
        return text.remove(QRegularExpression(QStringLiteral("\\(&.\\)"))).remove(QLatin1Char('&'));
    }

private slots:
    void initTestCase()
    {
        // As the program runs: Qt's own texts in Chinese.
        QVERIFY(LoadQtTranslations(*static_cast<QApplication *>(QCoreApplication::instance())));
    }
    void init()
    {
        ResetApplicationEndForTesting();
        SetLoginWindowCreated(false);
        CurrentUserID.clear();
        dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d"));
        ws = std::make_unique<TestWorkspace>();
        rec = std::make_unique<MessageRecorder>();
    }
    void cleanup()
    {
        DestroyApplicationWindows();
        rec.reset();
        ws.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void goodPathConnectsWithoutAQuestion()
    {
        connectDataModule();
        QVERIFY(rec->messages.isEmpty());
        QVERIFY(!frmTeachMain->isVisible());
        QVERIFY(!LoginWindowCreated());
        if (const auto address = ws->serverAddress()) {
            QVERIFY(DM->ADOConn.isServer() && DM->ADOConn.serverAddress());
            QCOMPARE(DM->ADOConn.serverAddress()->database, address->database);
            QCOMPARE(DM->ADOConn.serverAddress()->port, address->port);
        } else
            QCOMPARE(DM->ADOConn.connectionString(),
                     QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Persist Security Info=False").arg(ws->dbPath()));
    }

    void unusableSettingsReportThenSetupEndsTheRun_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("shownPath");
        QTest::newRow("no ini file") << QString() << QString();
        QTest::newRow("no section") << QStringLiteral("[Info]\nSchoolName=一中\n") << QString();
        QTest::newRow("garbage") << QStringLiteral("\x01\x02 garbage\n=\n[[[\nDBConFileName\n") << QString();
        QTest::newRow("empty value") << QStringLiteral("[BDConn]\nDBConFileName=\n") << QString();
        QTest::newRow("missing file") << QStringLiteral("[BDConn]\nDBConFileName=/nonexistent/无.mdb\n")
                                      << QStringLiteral("/nonexistent/无.mdb");
        QTest::newRow("directory") << QStringLiteral("[BDConn]\nDBConFileName=/tmp\n") << QStringLiteral("/tmp");
        QTest::newRow("text file") << QStringLiteral("[BDConn]\nDBConFileName=%TEXT%\n") << QStringLiteral("%TEXT%");
        QTest::newRow("zero-byte file") << QStringLiteral("[BDConn]\nDBConFileName=%EMPTY%\n") << QStringLiteral("%EMPTY%");
        QTest::newRow("foreign database") << QStringLiteral("[BDConn]\nDBConFileName=%FOREIGN%\n")
                                          << QStringLiteral("%FOREIGN%");
    }
    void unusableSettingsReportThenSetupEndsTheRun()
    {
        QFETCH(QString, ini);
        QFETCH(QString, shownPath);
        const QString textFile = QDir(ws->dir()).filePath(QStringLiteral("notes.mdb"));
        QFile notes(textFile);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("plain text, not a database\n");
        notes.close();
        const QString emptyFile = QDir(ws->dir()).filePath(QStringLiteral("empty.mdb"));
        QFile empty(emptyFile);
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        const QString foreignFile = QDir(ws->dir()).filePath(QStringLiteral("foreign.mdb"));
        testsupport::execSql(foreignFile, QStringLiteral("CREATE TABLE Notes (Text TEXT)"));
        for (QString *text : {&ini, &shownPath}) {
            text->replace(QStringLiteral("%TEXT%"), textFile);
            text->replace(QStringLiteral("%EMPTY%"), emptyFile);
            text->replace(QStringLiteral("%FOREIGN%"), foreignFile);
        }
        if (ini.isNull())
            QFile::remove(ws->iniPath());
        else
            ws->writeIni(ini.toUtf8());

        QString seenPath;
        bool mainVisibleMeanwhile = true;
        whenModal<TfrmDBSetup>([&](TfrmDBSetup *setup) {
            seenPath = setup->edtDBFilePath->text();
            mainVisibleMeanwhile = frmTeachMain->isVisible();
            setup->close();
        });
        QVERIFY(!CreateApplicationWindows());
        QCOMPARE(rec->texts(), QStringList({"数据库连接失败!"}));
        QCOMPARE(rec->last().title, QStringLiteral("错误"));
        QCOMPARE(rec->last().icon, QMessageBox::Critical);
        QCOMPARE(rec->last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(seenPath, shownPath);
        QVERIFY(!mainVisibleMeanwhile);
        QVERIFY(ApplicationEndRequested());
        QVERIFY(!LoginWindowCreated());
        // The end request keeps every later window away, the login first.
        ShowMainWindowAfterLogin(false);
        QVERIFY(!frmTeachMain->isVisible());
        QVERIFY(!LoginWindowCreated());
    }

    void missingSettingsLibraryReadsNothing()
    {
        QFile::remove(QDir(ws->dir()).filePath(QStringLiteral("libQuelmi.so")));
        whenModal<TfrmDBSetup>([](TfrmDBSetup *setup) { setup->close(); });
        QVERIFY(!CreateApplicationWindows());
        QCOMPARE(rec->texts(), QStringList({"数据库连接失败!"}));
    }

    void setupAtStartupWalksItsFourMessages()
    {
        QFile::remove(ws->iniPath());
        const QString textFile = QDir(ws->dir()).filePath(QStringLiteral("坏 文件.mdb"));
        QFile bad(textFile);
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not a database");
        bad.close();
        bool dialogOpenAfterFailure = false, connectionClosedAfterFailure = false, focusOnPath = false;
        whenModal<TfrmDBSetup>([&](TfrmDBSetup *setup) {
            QVERIFY(setup->edtDBFilePath->isReadOnly());
            // It does not look like a field to type into.
            QCOMPARE(setup->edtDBFilePath->palette().color(QPalette::Base),
                     setup->palette().color(QPalette::Window));
            setup->btnOk->click();  // empty path
            focusOnPath = setup->focusWidget() == setup->edtDBFilePath;
            whenModal<QFileDialog>([&](QFileDialog *files) {
                QVERIFY(files->nameFilters().contains(QStringLiteral("Access(*.mdb)")));
                files->setDirectory(QFileInfo(textFile).absolutePath());
                files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(QFileInfo(textFile).fileName());
                static_cast<QDialog *>(files)->accept();
            });
            setup->btnFilePath->click();
            setup->btnOk->click();  // not a database
            dialogOpenAfterFailure = setup->isVisible();
            connectionClosedAfterFailure = !DM->ADOConn.isOpen();
            setup->edtDBFilePath->setText(ws->dbPath());
            setup->btnOk->click();  // good
        });
        QVERIFY(!CreateApplicationWindows());
        QCOMPARE(rec->texts(), QStringList({"数据库连接失败!", "请选择数据库路径!", "数据库连接失败!", "数据连接成功,请重新启动程序!"}));
        QCOMPARE(rec->messages[1].title, QStringLiteral("错误"));
        QCOMPARE(rec->messages[3].title, QStringLiteral("提示"));
        QCOMPARE(rec->messages[3].icon, QMessageBox::Information);
        QVERIFY(focusOnPath);
        QVERIFY(dialogOpenAfterFailure);
        QVERIFY(connectionClosedAfterFailure);
        QVERIFY(ApplicationEndRequested());
        // The folder of the file picked is remembered for the next file dialog.
        QCOMPARE(fileContent(ws->iniPath()), QStringLiteral("[Dialogs]\nLastFolder=%1\n[BDConn]\nDBConFileName=%2\n")
                                                 .arg(QFileInfo(textFile).absolutePath(), ws->dbPath())
                                                 .toUtf8());
    }

    // The setup dialog refuses what start-up refuses: an empty file and
    // another program's database are no connection.
    void setupRefusesEmptyAndForeignFiles()
    {
        FILE_ONLY("the setup dialog's file way; its server way: tst_serverconnection");
        connectDataModule();
        SetLoginWindowCreated(true);
        const QString emptyFile = QDir(ws->dir()).filePath(QStringLiteral("empty.mdb"));
        QFile empty(emptyFile);
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        const QString foreignFile = QDir(ws->dir()).filePath(QStringLiteral("foreign.mdb"));
        testsupport::execSql(foreignFile, QStringLiteral("CREATE TABLE \"User\" (UserID TEXT)"));
        const QByteArray iniBefore = fileContent(ws->iniPath());
        bool openAfterRefusals = false;
        whenModal<TfrmDBSetup>([&](TfrmDBSetup *setup) {
            setup->edtDBFilePath->setText(emptyFile);
            setup->btnOk->click();
            setup->edtDBFilePath->setText(foreignFile);
            setup->btnOk->click();
            openAfterRefusals = setup->isVisible();
            setup->close();
        });
        frmTeachMain->menuItem(QStringLiteral("N5"))->trigger();
        QVERIFY(openAfterRefusals);
        QCOMPARE(rec->texts(), QStringList({"数据库连接失败!", "数据库连接失败!"}));
        QVERIFY(!ApplicationEndRequested());
        QCOMPARE(fileContent(ws->iniPath()), iniBefore);
        QCOMPARE(QFileInfo(emptyFile).size(), 0);
    }

    // A file of a newer version (or one whose upgrade failed) says why, at
    // start and in the setup dialog, before the usual message; it stays as it was.
    void unusableFileVersionSaysWhy()
    {
        FILE_ONLY("the file's schema version; an older server database: tst_serverschema");
        ws->exec(QStringLiteral("PRAGMA user_version = 99"));
        const QByteArray before = fileContent(ws->dbPath());
        const QString why = QStringLiteral("数据库 %1 由较新版本的程序建立(版本 99),本程序不能使用。").arg(ws->dbPath());
        whenModal<TfrmDBSetup>([&](TfrmDBSetup *setup) {
            setup->edtDBFilePath->setText(ws->dbPath());
            setup->btnOk->click();
            setup->close();
        });
        QVERIFY(!CreateApplicationWindows());
        QCOMPARE(rec->texts(), QStringList({why, "数据库连接失败!", why, "数据库连接失败!"}));
        QCOMPARE(DM->lastSchemaFailure(), why);
        QCOMPARE(fileContent(ws->dbPath()), before);
    }

    void fileDialogCancelKeepsThePath()
    {
        connectDataModule();
        TfrmDBSetup setup(frmTeachMain);
        setup.show();
        QCOMPARE(setup.edtDBFilePath->text(), ws->dbPath());
        whenModal<QFileDialog>([](QFileDialog *files) { files->reject(); });
        setup.btnFilePath->click();
        QCOMPARE(setup.edtDBFilePath->text(), ws->dbPath());
        QTest::keyClicks(setup.edtDBFilePath, QStringLiteral("typed"));
        QCOMPARE(setup.edtDBFilePath->text(), ws->dbPath());
    }

    void setupFromMenu()
    {
        FILE_ONLY("the setup dialog's file way; its server way: tst_serverconnection");
        connectDataModule();
        SetLoginWindowCreated(true);
        whenModal<TfrmDBSetup>([](TfrmDBSetup *setup) { setup->close(); });
        frmTeachMain->menuItem(QStringLiteral("N5"))->trigger();
        QVERIFY(!ApplicationEndRequested());
        QVERIFY(DM->ADOConn.isOpen());
        QVERIFY(rec->messages.isEmpty());

        const QString other = QDir(ws->dir()).filePath(QStringLiteral("另一个 数据库.mdb"));
        testsupport::createDatabase(other);
        bool closedAfterFailure = false;
        whenModal<TfrmDBSetup>([&](TfrmDBSetup *setup) {
            setup->edtDBFilePath->setText(QDir(ws->dir()).filePath(QStringLiteral("missing.mdb")));
            setup->btnOk->click();
            closedAfterFailure = !DM->ADOConn.isOpen();
            setup->edtDBFilePath->setText(other);
            setup->btnOk->click();
        });
        frmTeachMain->menuItem(QStringLiteral("N5"))->trigger();
        QVERIFY(closedAfterFailure);
        QCOMPARE(rec->texts(), QStringList({"数据库连接失败!", "数据连接成功,请重新启动程序!"}));
        QVERIFY(ApplicationEndRequested());
        QCOMPARE(ReadDBFileName(GetConfigFileName()), other);
        QVERIFY(QFile::exists(ws->dbPath()));
        QVERIFY(!QFile::exists(QDir(ws->dir()).filePath(QStringLiteral("missing.mdb"))));
    }

    // The connection works but the path cannot be stored: the dialog says so
    // and stays, instead of asking for a restart that would lose the choice.
    void setupReportsAPathNotSaved()
    {
        FILE_ONLY("the setup dialog's file way; its server way: tst_serverconnection");
        connectDataModule();
        SetLoginWindowCreated(true);
        const QByteArray before = fileContent(ws->iniPath());
        const QString other = QDir(ws->dir()).filePath(QStringLiteral("other.mdb"));
        testsupport::createDatabase(other);
        // Lower the process's file size limit so the new ini cannot be written out.
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        bool stillOpen = false;
        whenModal<TfrmDBSetup>([&](TfrmDBSetup *setup) {
            rlimit limited = old;
            limited.rlim_cur = 8;
            ::setrlimit(RLIMIT_FSIZE, &limited);
            setup->edtDBFilePath->setText(other);
            setup->btnOk->click();
            ::setrlimit(RLIMIT_FSIZE, &old);
            stillOpen = setup->isVisible();
            setup->close();
        });
        frmTeachMain->menuItem(QStringLiteral("N5"))->trigger();
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(stillOpen);
        QCOMPARE(rec->messages.size(), 1);
        QCOMPARE(rec->last().text, QStringLiteral("数据库路径没有保存!\n无法写入配置文件: %1\n请检查磁盘空间和写入权限后再试。")
                                       .arg(ws->iniPath()));
        QCOMPARE(rec->last().icon, QMessageBox::Critical);
        QVERIFY(!ApplicationEndRequested());
        QCOMPARE(fileContent(ws->iniPath()), before);
    }

    void configFileIsBesideTheExecutable()
    {
        const QString before = GetConfigFileName();
        QCOMPARE(before, QDir(ws->dir()).filePath(QStringLiteral("ConfigDB.ini")));
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(QDir::tempPath());
        QCOMPARE(GetConfigFileName(), before);
        QDir::setCurrent(cwd);
        settings::setExecutableDirForTesting(QString());
        QCOMPARE(GetConfigFileName(), QCoreApplication::applicationDirPath() + QStringLiteral("/ConfigDB.ini"));
        settings::setExecutableDirForTesting(ws->dir());
    }

    void loginFailureKeepsTheNumberAndEmptiesThePassword()
    {
        connectDataModule();
        TfrmLogin login;
        login.show();
        QCOMPARE(login.windowTitle(), QStringLiteral("Veltrana登录"));
        QCOMPARE(login.edtUserPwd->echoMode(), QLineEdit::Password);
        login.edtUserID->setText(QStringLiteral("1001"));
        login.edtUserPwd->setText(QStringLiteral("wrong"));
        login.edtUserPwd->setFocus();
        login.btnLogin->click();
        QCOMPARE(rec->texts(), QStringList({"登录信息错误,请重新登录!"}));
        QCOMPARE(rec->last().title, QStringLiteral("错误"));
        QCOMPARE(rec->last().icon, QMessageBox::Critical);
        QCOMPARE(login.edtUserID->text(), QStringLiteral("1001"));
        QCOMPARE(login.edtUserPwd->text(), QString());
        QCOMPARE(login.focusWidget(), login.edtUserID);
        QVERIFY(login.isVisible());
        QVERIFY(CurrentUserID.isEmpty());
    }

    void loginQuotesWhatIsTyped_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("right") << "1001" << "admin" << true;
        QTest::newRow("empty") << "" << "" << false;
        QTest::newRow("quote in number") << "1001' OR '1'='1" << "x" << false;
        QTest::newRow("quote in password") << "1001" << "' OR UserPassword<>'" << false;
        QTest::newRow("comment") << "1001' --" << "" << false;
        // A backslash is no escape character in the statement, on either engine.
        QTest::newRow("backslash before quote") << "1001" << "\\' OR 1=1 --" << false;
        QTest::newRow("quoted account") << "O'Neil" << "it's" << true;
    }
    void loginQuotesWhatIsTyped()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        ws->exec(QStringLiteral("INSERT INTO \"User\" VALUES ('O''Neil', 'x', 'it''s', NULL)"));
        connectDataModule();
        TfrmLogin login;
        login.show();
        login.edtUserID->setText(user);
        login.edtUserPwd->setText(password);
        login.btnLogin->click();
        QCOMPARE(login.result() == QDialog::Accepted, accepted);
        QCOMPARE(CurrentUserID, accepted ? user : QString());
        QCOMPARE(rec->messages.size(), accepted ? 0 : 1);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM \"User\"")), QStringList({"2"}));
    }

    void returnMovesThroughTheLogin()
    {
        connectDataModule();
        TfrmLogin login;
        login.show();
        QVERIFY(QTest::qWaitForWindowActive(&login));
        login.edtUserID->setFocus();
        QTest::keyClicks(login.edtUserID, QStringLiteral("1001"));
        QTest::keyClick(login.edtUserID, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), login.edtUserPwd);
        QTest::keyClicks(login.edtUserPwd, QStringLiteral("admin"));
        QTest::keyClick(login.edtUserPwd, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), login.btnLogin);
        QVERIFY(CurrentUserID.isEmpty());
        QVERIFY(login.result() != QDialog::Accepted);
        QTest::keyClick(login.btnLogin, Qt::Key_Return);
        QCOMPARE(login.result(), int(QDialog::Accepted));
        QCOMPARE(CurrentUserID, QStringLiteral("1001"));
        QVERIFY(rec->messages.isEmpty());
    }

    void loginErrorsReachTheGeneralReport()
    {
        connectDataModule();
        TfrmLogin login;
        login.show();
        DM->ADOConn.close();
        login.edtUserID->setText(QStringLiteral("1001"));
        login.btnLogin->click();
        QCOMPARE(rec->messages.size(), 1);
        QCOMPARE(rec->last().title, QStringLiteral("Veltrana"));
        QCOMPARE(rec->last().icon, QMessageBox::Critical);
        QVERIFY(!rec->last().text.isEmpty());
        QVERIFY(login.isVisible());
    }

    void mainWindowRunsLoginThenShowsTheUser()
    {
        connectDataModule();
        bool mainVisibleDuringLogin = true;
        whenModal<TfrmLogin>([&](TfrmLogin *login) {
            mainVisibleDuringLogin = frmTeachMain->isVisible();
            login->edtUserID->setText(QStringLiteral("1001"));
            login->edtUserPwd->setText(QStringLiteral("wrong"));
            login->btnLogin->click();
            login->edtUserPwd->setText(QStringLiteral("admin"));
            login->btnLogin->click();
        });
        ShowMainWindowAfterLogin(false);
        QVERIFY(!mainVisibleDuringLogin);
        QVERIFY(frmTeachMain->isVisible());
        QVERIFY(LoginWindowCreated());
        QCOMPARE(frmTeachMain->statusPanelText(0), QStringLiteral("登录用户编号:1001"));
        QCOMPARE(frmTeachMain->statusPanelText(1), QString());
        QCOMPARE(frmTeachMain->windowTitle(), QStringLiteral("Veltrana"));
        QVERIFY(frmLogin.isNull());  // released after it closed
    }

    void loginExitEndsWithoutTheMainWindow()
    {
        connectDataModule();
        whenModal<TfrmLogin>([](TfrmLogin *login) { login->btnExit->click(); });
        ShowMainWindowAfterLogin(false);
        QVERIFY(ApplicationEndRequested());
        QVERIFY(!frmTeachMain->isVisible());
        QVERIFY(CurrentUserID.isEmpty());
    }

    void menuTreeInOrder()
    {
        connectDataModule();
        QStringList tree;
        for (QAction *top : frmTeachMain->menuBar()->actions()) {
            tree << top->objectName() + QLatin1Char('=') + top->text();
            std::function<void(QMenu *, const QString &)> walk = [&](QMenu *menu, const QString &indent) {
                for (QAction *a : menu->actions()) {
                    tree << indent + a->objectName() + QLatin1Char('=') + (a->isSeparator() ? QStringLiteral("-") : a->text());
                    if (a->menu())
                        walk(a->menu(), indent + QStringLiteral("  "));
                }
            };
            walk(top->menu(), QStringLiteral("  "));
        }
        // Where the server way is offered, 数据迁移 stands in 数据维护 too.
        const QStringList migration = ws->onServer() ? QStringList{"    N9=数据迁移…"} : QStringList{};
        const QStringList expected = QStringList{
            "S1=系统设置(&S)", "  S2=学校信息", "  S3=用户管理", "  S4=更改密码", "  S5=数据维护",
            "    N2=备份/还原数据库", "    N8=导入数据…"} + migration + QStringList{"    N10=回收站", "    N4=-", "    N5=数据库连接设置", "  N1=-",
            "  S6=退出", "E1=编辑(&E)", "  E2=撤销", "  E3=重做",
            "D1=基础字典(&D)", "  D2=老师信息", "  D3=学生信息", "  D4=教学科目", "  D5=院系维护", "  D6=班级维护", "  D7=宿舍信息",
            "M1=学生管理(&M)", "  M2=学生成绩", "  M3=社会实践", "  M4=品德成绩", "  M5=宿舍安排", "  M6=缴费记录",
            "N3=排课管理(&P)", "  N6=课程安排", "  N7=课程查询",
            "T1=统计分析(&T)", "  T2=成绩统计", "  T3=成绩排名", "  T4=汇总", "  T5=-", "  T6=统计设置…",
            "H1=使用帮助(&H)", "  H2=使用说明", "  H3=关于(&A)…"};
        QCOMPARE(tree, expected);
    }

    void helpItemDoesNothing()
    {
        connectDataModule();
        QAction *help = frmTeachMain->menuItem(QStringLiteral("H2"));
        QVERIFY(help->isEnabled());
        help->trigger();
        QVERIFY(rec->messages.isEmpty());
        QVERIFY(frmTeachMain->mdiArea()->subWindowList().isEmpty());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void exitAsksFirst()
    {
        connectDataModule();
        SetLoginWindowCreated(true);
        rec->answer(QMessageBox::No);
        frmTeachMain->menuItem(QStringLiteral("S6"))->trigger();
        QCOMPARE(rec->texts(), QStringList({"你确定要出退系统吗?"}));
        QCOMPARE(rec->last().title, QStringLiteral("提示"));
        QCOMPARE(rec->last().icon, QMessageBox::Information);
        QCOMPARE(rec->last().buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY(!ApplicationEndRequested());
        rec->answer(QMessageBox::Yes);
        frmTeachMain->menuItem(QStringLiteral("S6"))->trigger();
        QVERIFY(ApplicationEndRequested());
    }

    void closeBoxEndsWithoutAQuestion()
    {
        connectDataModule();
        showMainWindowLoggedIn(QStringLiteral("1001"), QStringLiteral("admin"));
        QVERIFY(frmTeachMain->isVisible());
        QVERIFY(frmTeachMain->close());
        QVERIFY(rec->messages.isEmpty());
        QVERIFY(!frmTeachMain->isVisible());
    }

    void endRequestCancelsOpenModalWindows()
    {
        connectDataModule();
        int result = -1;
        whenModal<TfrmDBSetup>([](TfrmDBSetup *) { RequestApplicationEnd(); });
        SetLoginWindowCreated(true);
        auto *dialog = new TfrmDBSetup(frmTeachMain);
        result = ExecDialog(dialog);
        QCOMPARE(result, int(QDialog::Rejected));
        QVERIFY(!dialog->isVisible());
        delete dialog;
        // Nothing modal opens any more.
        TfrmLogin login;
        QCOMPARE(ExecDialog(&login), int(QDialog::Rejected));
    }

    void childWindowEnterKeyAndContextMenu()
    {
        ws->exec(QStringLiteral("INSERT INTO GradeInfo VALUES ('2007001', '计算机学院', NULL)"));
        connectDataModule();
        showMainWindowLoggedIn(QStringLiteral("1001"), QStringLiteral("admin"));
        frmTeachMain->menuItem(QStringLiteral("D5"))->trigger();
        QVERIFY(frmCollegeSet);
        TfrmCollegeSet *w = frmCollegeSet;
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->activateWindow();
        w->edtName->setFocus();
        QTest::keyClick(w->edtName, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), w->edtRemark);
        w->btnCancel->setFocus();
        QTest::keyClick(w->btnCancel, Qt::Key_Return);
        QVERIFY(QApplication::focusWidget() != w->btnCancel);
        QVERIFY(w->isAncestorOf(QApplication::focusWidget()));

        QStringList items;
        for (QAction *a : w->PopupMenu1->actions())
            items << (a->isSeparator() ? QStringLiteral("-") : a->text() + QLatin1Char('|') + a->shortcut().toString());
        QCOMPARE(items, QStringList({"剪切(Cu&t)|Ctrl+X", "复制(&Copy)|Ctrl+C", "粘贴(&Paste)|Ctrl+V", "-",
                                     "删除(&Delete)|Del", "撤销(&Undo)|Ctrl+Z", "全选(Select &All)|Ctrl+A"}));
        w->btnAdd->setFocus();
        emit w->PopupMenu1->aboutToShow();
        for (QAction *a : w->PopupMenu1->actions())
            if (!a->isSeparator())
                QVERIFY2(!a->isEnabled(), qPrintable(a->text()));

        // Pasting into a bound field starts edit state by itself.
        QApplication::clipboard()->setText(QStringLiteral("信息学院"));
        w->edtName->setFocus();
        w->edtName->selectAll();
        emit w->PopupMenu1->aboutToShow();
        QVERIFY(w->EditCut1->isEnabled() && w->EditCopy1->isEnabled() && w->EditPaste1->isEnabled());
        QVERIFY(w->EditDelete1->isEnabled() && w->EditSelectAll1->isEnabled());
        w->EditPaste1->trigger();
        QCOMPARE(w->edtName->text(), QStringLiteral("信息学院"));
        QCOMPARE(w->mainSource()->state(), dravon::DataSetState::Edit);
        w->btnSave->click();
        QCOMPARE(ws->query(QStringLiteral("SELECT GrdName FROM GradeInfo")), QStringList({"信息学院"}));

        // Closing frees the window and empties its reference.
        w->closeWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(frmCollegeSet.isNull());
        QVERIFY(frmTeachMain->mdiArea()->subWindowList().isEmpty());
    }

    // Qt's own texts are Chinese: the setup dialog's file dialog, its buttons
    // and labels. A child window's system menu still has no maximize or size
    // item, found through the translated texts.
    void qtTextsInChinese()
    {
        connectDataModule();
        TfrmDBSetup setup(frmTeachMain);
        setup.OpenPath->setDirectory(ws->dir());
        setup.OpenPath->show();
        QVERIFY(QTest::qWaitForWindowExposed(setup.OpenPath));
        auto *box = setup.OpenPath->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QVERIFY(box);
        QStringList buttons;
        for (QAbstractButton *b : box->buttons())
            buttons << plain(b->text());
        buttons.sort();
        QCOMPARE(buttons, QStringList({"取消", "打开"}));
        for (const char *name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"}) {
            auto *label = setup.OpenPath->findChild<QLabel *>(QString::fromLatin1(name));
            QVERIFY(label);
            QVERIFY2(!label->text().contains(QRegularExpression(QStringLiteral("[A-Za-z]{2}"))), qPrintable(label->text()));
        }
        if (!qEnvironmentVariableIsEmpty("VELTRANA_SHOT_DIR"))
            setup.OpenPath->grab().save(qEnvironmentVariable("VELTRANA_SHOT_DIR") + QStringLiteral("/filedialog.png"));
        setup.OpenPath->reject();
    }
    void systemMenuWithoutMaximizeWhenTranslated()
    {
        TfrmCollegeSet *w = openCollegeWindow();
        QVERIFY(w);
        QMenu *system = w->mdiSubWindow()->systemMenu();
        QVERIFY(system);
        QStringList items;
        for (QAction *a : system->actions())
            if (a->isVisible() && !a->isSeparator())
                items << a->text();
        QCOMPARE(items, QStringList({"恢复(&R)", "移动(&M)", "最小化(&N)", "关闭(&C)"}));
    }

    // Access keys: inside a child window its buttons' letters act on its
    // buttons; a letter no button claims, or any letter without a child
    // window, opens the menu; F10 reaches the menu bar.
    void accessKeysOfChildButtonsAndMenus()
    {
        ws->exec(QStringLiteral("INSERT INTO GradeInfo VALUES ('2007001', '计算机学院', NULL)"));
        TfrmCollegeSet *w = openCollegeWindow();
        QVERIFY(w);
        auto *systemMenu = frmTeachMain->findChild<QMenu *>(QStringLiteral("S1"));
        auto *courseMenu = frmTeachMain->findChild<QMenu *>(QStringLiteral("N3"));
        QVERIFY(systemMenu && courseMenu);
        w->activateWindow();
        w->edtName->setFocus();
        w->edtName->selectAll();
        testsupport::typeText(w->edtName, QStringLiteral("信息学院"));
        QCOMPARE(w->mainSource()->state(), dravon::DataSetState::Edit);
        QTest::keyClick(w->edtName, Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(ws->query(QStringLiteral("SELECT GrdName FROM GradeInfo")), QStringList({"信息学院"}));
        QCOMPARE(w->mainSource()->state(), dravon::DataSetState::Browse);
        QCOMPARE(w->edtName->text(), QStringLiteral("信息学院"));
        QVERIFY(!systemMenu->isVisible());
        QVERIFY(rec->messages.isEmpty());

        // Alt+A adds a row in the window, not in a menu.
        QTest::keyClick(w->edtName, Qt::Key_A, Qt::AltModifier);
        QTRY_COMPARE(w->mainSource()->state(), dravon::DataSetState::Insert);
        QTest::keyClick(w->edtName, Qt::Key_C, Qt::AltModifier);
        QTRY_COMPARE(w->mainSource()->state(), dravon::DataSetState::Browse);

        // No button of the window has P: the course menu opens.
        QTest::keyClick(w->edtName, Qt::Key_P, Qt::AltModifier);
        QTRY_VERIFY(courseMenu->isVisible());
        courseMenu->hide();
        frmTeachMain->menuBar()->setActiveAction(nullptr);

        // F10 reaches the menu bar.
        QTest::keyClick(w->edtName, Qt::Key_F10);
        QTRY_VERIFY(systemMenu->isVisible());
        systemMenu->hide();
        frmTeachMain->menuBar()->setActiveAction(nullptr);

        // Without a child window Alt+S opens the system menu.
        w->closeWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(frmTeachMain->mdiArea()->subWindowList().isEmpty());
        frmTeachMain->activateWindow();
        QTest::keyClick(frmTeachMain, Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(systemMenu->isVisible());
        systemMenu->hide();
        QCOMPARE(ws->query(QStringLiteral("SELECT GrdName FROM GradeInfo")), QStringList({"信息学院"}));
    }
};

QTEST_MAIN(ShellTest)
#include "tst_shell.moc"
