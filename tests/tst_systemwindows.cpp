// The system-maintenance windows driven through the main window's menu:
// school information kept in the ini file, the password change, backup and
// restore of the database file (also while windows are open, while another
// connection writes, and with the restoring process killed), and the about
// window.
#include "app/Common_Unit.h"
#include "app/DM_Unit.h"
#include "app/Login_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/DatabaseFiles.h"
#include "data/Dravon.h"
#include "data/SchemaUpgrade.h"
#include "data/SettingsClient.h"
#include "forms/master/CollegeSet_Unit.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "forms/system/About_Unit.h"
#include "forms/system/BackUpData_Unit.h"
#include "forms/system/KeptDatabases_Unit.h"
#include "forms/system/ModifyPassword_Unit.h"
#include "forms/system/SchoolInfo_Unit.h"
#include "gui/Shell_Unit.h"
#include "app/Program_Unit.h"
#include "data/StagingFiles.h"
#include "data/ServerSettings.h"
#include "data/server/ServerBackup.h"
#include "gui/controls/DataSource.h"
#include "support/FirstVersion.h"
#include "support/GuiHelpers.h"
#include "support/ProgramFixture.h"
#include "support/TestServer.h"
#include "support/TestWorkspace.h"

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProcess>
#include <QTableWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <QAbstractItemView>
#include <QDateTime>

#include <atomic>
#include <sys/stat.h>
#include <unistd.h>
#include <sqlite3.h>
#include <thread>

using testsupport::MessageRecorder;
using testsupport::TestWorkspace;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

QByteArray fileHash(const QString &path)
{
    return QCryptographicHash::hash(fileBytes(path), QCryptographicHash::Sha256);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// "ok" when the file is a sound database.
QString integrity(const QString &path)
{
    return testsupport::querySql(path, QStringLiteral("PRAGMA integrity_check")).join(QLatin1Char('|'));
}

// The college names stored in a database file, in order.
QStringList colleges(const QString &path)
{
    return testsupport::querySql(path, QStringLiteral("SELECT GrdName FROM GradeInfo ORDER BY GradeID"));
}

// The college names a backup holds, in order: read from the copied database
// file, or, from a server database's dump, by the server's restore tool.
QStringList backupColleges(const QString &path)
{
    if (!testsupport::testsOnServer())
        return colleges(path);
    QProcess tool;
    tool.start(dravon::pg::serverToolPath(QStringLiteral("pg_restore")),
               {QStringLiteral("--data-only"), QStringLiteral("--table=GradeInfo"), QStringLiteral("--file=-"), path});
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
        return {QStringLiteral("<no dump: %1>").arg(QString::fromLocal8Bit(tool.readAllStandardError()))};
    // COPY "GradeInfo" ("GradeID", "GrdName", ...) FROM stdin; then a row a line up to "\.".
    QMap<QString, QString> byId;
    int idColumn = -1, nameColumn = -1;
    for (const QString &line : QString::fromUtf8(tool.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("COPY "))) {
            QStringList columns = line.section(QLatin1Char('('), 1).section(QLatin1Char(')'), 0, 0).split(QStringLiteral(", "));
            for (QString &c : columns)
                c.remove(QLatin1Char('"'));
            idColumn = columns.indexOf(QStringLiteral("GradeID"));
            nameColumn = columns.indexOf(QStringLiteral("GrdName"));
        } else if (line == QLatin1String("\\.")) {
            nameColumn = -1;
        } else if (nameColumn >= 0) {
            const QStringList fields = line.split(QLatin1Char('\t'));
            byId.insert(fields.value(idColumn), fields.value(nameColumn));
        }
    }
    return byId.values();
}

void click(QPushButton *button)
{
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

// The file's journal mode as its header records it: 1 for a rollback journal,
// 2 for a write-ahead log.
int headerJournalMode(const QString &path)
{
    const QByteArray header = fileBytes(path).left(20);
    return header.size() == 20 && header[18] == header[19] ? int(header[18]) : -1;
}

// Tears an index from its table, as a copy taken while the file was written
// may: the index leaves the schema, the table changes without it, and it
// comes back with its old entries.
void tearIndex(const QString &path, const QString &index, const QString &change)
{
    const QString root = testsupport::querySql(path, QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = '%1'").arg(index)).value(0);
    const QString table = testsupport::querySql(path, QStringLiteral("SELECT tbl_name FROM sqlite_master WHERE name = '%1'").arg(index)).value(0);
    QString sql = testsupport::querySql(path, QStringLiteral("SELECT sql FROM sqlite_master WHERE name = '%1'").arg(index)).value(0);
    sql.replace(QLatin1Char('\''), QStringLiteral("''"));
    testsupport::execSql(path, QStringLiteral("PRAGMA writable_schema = ON; DELETE FROM sqlite_master WHERE name = '%1'").arg(index));
    testsupport::execSql(path, change);
    testsupport::execSql(path, QStringLiteral("PRAGMA writable_schema = ON; "
                                              "INSERT INTO sqlite_master VALUES ('index', '%1', '%2', %3, '%4')")
                                   .arg(index, table, root, sql));
}

// A process id that no process has now: one of a process that has ended.
qint64 endedProcessId()
{
    QProcess p;
    p.start(QStringLiteral("sleep"), {QStringLiteral("0.05")});
    p.waitForStarted();
    const qint64 pid = p.processId();
    p.waitForFinished();
    return pid;
}

// Many score rows, so that copies take a measurable time.
void fillScores(const QString &path, int rows)
{
    testsupport::execSql(path, QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
        "INSERT INTO Score (StudentID, Term, SubjectID, ClassID, Score, Remark) "
        "SELECT printf('S%07d', i), '2007-2008-1', 'K' || (i % 50), 'C' || (i % 30), 60.0 + (i % 40), "
        "'remark text to give the row some body ' || i FROM n").arg(rows));
}

}

class SystemWindowsTest : public QObject, protected testsupport::ProgramFixture
{
    Q_OBJECT

private:
    // Answers of the file dialogs, in order; each dialog asked is recorded.
    QStringList fileAnswers;
    QList<QFileDialog *> dialogsAsked;

    // The program as after start-up and login of user 1001: the main window
    // and, when the settings library is there, the data module.
    void start(bool withLibrary = true)
    {
        startProgram({}, Screen::Hidden, withLibrary);
        if (!withLibrary)
            CurrentUserID = QStringLiteral("1001");
        // The main window is shown as at start: its login comes first. Without
        // the settings library there is no connection, and the login window
        // is closed by other means (the main window then goes on).
        testsupport::whenModal<TfrmLogin>([withLibrary](TfrmLogin *login) {
            if (!withLibrary) {
                login->reject();
                return;
            }
            login->edtUserID->setText(QStringLiteral("1001"));
            login->edtUserPwd->setText(QStringLiteral("admin"));
            login->btnLogin->click();
        });
        ShowMainWindowAfterLogin(false);
        QCOMPARE(frmTeachMain->statusPanelText(0), QStringLiteral("登录用户编号:1001"));
        SetFileDialogHandler([this](QFileDialog *dialog) {
            dialogsAsked << dialog;
            return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
        });
    }
    void menu(const char *item)
    {
        QAction *action = frmTeachMain->menuItem(QString::fromLatin1(item));
        QVERIFY(action);
        QVERIFY(action->isEnabled());
        action->trigger();
        QCoreApplication::processEvents();
    }
    QString iniValue(const QString &key) const
    {
        return settings::readIni(ws->iniPath(), QStringLiteral("Info"), key);
    }
    bool login(const QString &user, const QString &password)
    {
        std::unique_ptr<TfrmLogin> dialog(new TfrmLogin(nullptr));
        dialog->edtUserID->setText(user);
        dialog->edtUserPwd->setText(password);
        dialog->btnLogin->click();
        return dialog->result() == QDialog::Accepted;
    }
    QString storedPassword(const QString &user) const
    {
        return ws->query(QStringLiteral("SELECT UserPassword FROM \"User\" WHERE UserID = '%1'").arg(user)).value(0);
    }
    // What a run of the password dialog left behind.
    struct PasswordRun
    {
        QString user;
        QString oldText, newText, againText;
        QString focus;
        bool stillOpen = false;
    };
    PasswordRun changePassword(const QString &oldPassword, const QString &newPassword, const QString &again)
    {
        PasswordRun run;
        testsupport::whenModal<TfrmModifyPassword>([&](TfrmModifyPassword *d) {
            run.user = d->lblUser->text();
            d->edtOldPassword->setText(oldPassword);
            d->edtNewPassword->setText(newPassword);
            d->edtPasswordAgain->setText(again);
            d->btnOK->click();
            if (!d->isVisible())
                return;
            run.stillOpen = true;
            run.oldText = d->edtOldPassword->text();
            run.newText = d->edtNewPassword->text();
            run.againText = d->edtPasswordAgain->text();
            run.focus = d->focusWidget() ? d->focusWidget()->objectName() : QString();
            d->btnCancel->click();
        });
        menu("S4");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return run;
    }
    void seedColleges(const QStringList &names)
    {
        ws->exec(QStringLiteral("DELETE FROM GradeInfo"));
        int id = 2007001;
        for (const QString &name : names)
            ws->exec(QStringLiteral("INSERT INTO GradeInfo (GradeID, GrdName) VALUES ('%1', '%2')").arg(id++).arg(name));
    }
    QString inWorkspace(const QString &name) const { return QDir(ws->dir()).filePath(name); }
    // The college names in the program's database, in order.
    QStringList dbColleges() const { return ws->query(QStringLiteral("SELECT GrdName FROM GradeInfo ORDER BY GradeID")); }
    // Backs up through the window to `name` (".mdb" is appended by the window).
    void backupTo(const QString &name)
    {
        fileAnswers << name;
        click(frmBackupData->btnBackup);
    }
    void restoreFrom(const QString &path)
    {
        fileAnswers << path;
        click(frmBackupData->btnRestore);
    }

    // Restores from candidate through the window and expects one error that
    // holds every text of `said`, with the database file unchanged.
    void restoreIsRefused(const QString &candidate, const QStringList &said)
    {
        const QByteArray before = fileHash(ws->dbPath());
        restoreFrom(candidate);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QVERIFY(recorder->last().text.startsWith(QStringLiteral("还原失败!")));
        for (const QString &text : said)
            QVERIFY2(recorder->last().text.contains(text), qPrintable(recorder->last().text));
        QCOMPARE(fileHash(ws->dbPath()), before);
        QVERIFY(!frmBackupData->Animate1->isActive());
    }

private slots:
    void cleanup()
    {
        SetFileDialogHandler({});
        fileAnswers.clear();
        dialogsAsked.clear();
        stopProgram();
    }

    // ---- school information ---------------------------------------------

    void schoolInfoRoundTrip()
    {
        start();
        menu("S2");
        QVERIFY(frmSchoolInfo);
        QCOMPARE(frmSchoolInfo->windowTitle(), QStringLiteral("学校信息"));
        for (QLabel *l : {frmSchoolInfo->Label1, frmSchoolInfo->Label2, frmSchoolInfo->Label3, frmSchoolInfo->Label4})
            QVERIFY(l->isVisible());
        QCOMPARE(frmSchoolInfo->Label2->text(), QStringLiteral("地    址："));
        QCOMPARE(frmSchoolInfo->Label3->text(), QStringLiteral("联 系 人："));
        QCOMPARE(frmSchoolInfo->edtSchoolName->text(), QString());

        frmSchoolInfo->edtSchoolName->setText(QStringLiteral("第一实验学校"));
        frmSchoolInfo->edtSchoolAddress->setText(QStringLiteral("C:\\路径\\not escaped; = [x]"));
        frmSchoolInfo->edtLinkMan->setText(QString());
        frmSchoolInfo->edtType->setText(QStringLiteral(" 010-1234 "));
        click(frmSchoolInfo->btnOK);
        QCOMPARE(recorder->texts(), QStringList{QStringLiteral("信息保存成功!")});
        QCOMPARE(recorder->last().title, QStringLiteral("提示"));
        QCOMPARE(recorder->last().icon, QMessageBox::Information);
        QVERIFY(frmSchoolInfo);  // the window stays open

        QCOMPARE(iniValue("SchoolName"), QStringLiteral("第一实验学校"));
        QCOMPARE(iniValue("SchoolAddress"), QStringLiteral("C:\\路径\\not escaped; = [x]"));
        QCOMPARE(iniValue("Type"), QStringLiteral(" 010-1234 "));
        // The empty box is written as an empty value, not left out.
        const QByteArray ini = fileBytes(ws->iniPath());
        QVERIFY2(ini.contains("\nLinkMan=\n"), ini.constData());
        QVERIFY(ini.contains("DBConFileName="));  // the database path is kept
        // and so is the server the program works on.
        if (ws->onServer()) {
            dravon::pg::ServerAddress stored = *ws->serverAddress();
            stored.password.clear();
            QCOMPARE(ReadServerAddress(ws->iniPath()), std::optional(stored));
        }

        // Cancel after editing writes nothing and closes the window.
        frmSchoolInfo->edtSchoolName->setText(QStringLiteral("改了但没保存"));
        click(frmSchoolInfo->btnCancel);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!frmSchoolInfo);
        QCOMPARE(fileBytes(ws->iniPath()), ini);

        // Reopening shows the values last saved.
        menu("S2");
        QCOMPARE(frmSchoolInfo->edtSchoolName->text(), QStringLiteral("第一实验学校"));
        QCOMPARE(frmSchoolInfo->edtSchoolAddress->text(), QStringLiteral("C:\\路径\\not escaped; = [x]"));
        QCOMPARE(frmSchoolInfo->edtLinkMan->text(), QString());
        QCOMPARE(frmSchoolInfo->edtType->text(), QStringLiteral(" 010-1234 "));
    }

    void schoolInfoBroughtToFrontDoesNotReadAgain()
    {
        start();
        ws->writeIni(fileBytes(ws->iniPath()) + "[Info]\nSchoolName=旧名\n");
        menu("S2");
        TfrmSchoolInfo *first = frmSchoolInfo;
        QCOMPARE(first->edtSchoolName->text(), QStringLiteral("旧名"));
        ws->writeIni(fileBytes(ws->iniPath()).replace("旧名", "新名"));
        menu("S2");
        QCOMPARE(frmSchoolInfo.data(), first);
        QCOMPARE(first->edtSchoolName->text(), QStringLiteral("旧名"));
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 1);
    }

    void schoolInfoWithoutLibraryWritesNothingAndSaysSo()
    {
        start(false);
        const QByteArray before = "[Info]\nSchoolName=保存过的\n";
        ws->writeIni(before);
        menu("S2");
        QVERIFY(frmSchoolInfo);
        QCOMPARE(frmSchoolInfo->edtSchoolName->text(), QString());  // nothing could be read
        frmSchoolInfo->edtSchoolName->setText(QStringLiteral("新学校"));
        click(frmSchoolInfo->btnOK);
        QCOMPARE(recorder->messages.size(), 1);
        QVERIFY(!recorder->last().text.contains(QStringLiteral("成功")));
        QVERIFY(recorder->last().text.contains(QStringLiteral("没有保存")));
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QCOMPARE(fileBytes(ws->iniPath()), before);
    }

    void schoolInfoUnwritableFileIsReportedNotConfirmed()
    {
        start();
        menu("S2");
        // The configuration file cannot be replaced: its name is now a folder.
        QVERIFY(QFile::remove(ws->iniPath()));
        QVERIFY(QDir().mkdir(ws->iniPath()));
        frmSchoolInfo->edtSchoolName->setText(QStringLiteral("写不进去"));
        click(frmSchoolInfo->btnOK);
        QCOMPARE(recorder->messages.size(), 1);
        QVERIFY(recorder->last().text.contains(QStringLiteral("无法写入配置文件")));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QVERIFY(frmSchoolInfo);
    }

    void schoolInfoLineBreakWritesNoneOfTheKeys()
    {
        start();
        const QByteArray before = fileBytes(ws->iniPath());
        menu("S2");
        frmSchoolInfo->edtSchoolName->setText(QStringLiteral("好学校"));
        frmSchoolInfo->edtSchoolAddress->setText(QStringLiteral("某路"));
        frmSchoolInfo->edtLinkMan->setText(QStringLiteral("张三\nSchoolName=被注入"));
        QVERIFY(frmSchoolInfo->edtLinkMan->text().contains(QLatin1Char('\n')));
        click(frmSchoolInfo->btnOK);
        QCOMPARE(recorder->messages.size(), 1);
        QVERIFY(recorder->last().text.contains(QStringLiteral("换行")));
        QVERIFY(recorder->last().text.contains(QStringLiteral("联系人")));
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QCOMPARE(fileBytes(ws->iniPath()), before);
        QCOMPARE(iniValue("SchoolName"), QString());
    }

    // ---- password change --------------------------------------------------

    void passwordOldIsCheckedFirstAndWithLetterCase_data()
    {
        QTest::addColumn<QString>("oldPassword");
        QTest::newRow("wrong") << "wrong";
        QTest::newRow("other-case") << "ADMIN";
        QTest::newRow("trailing-blank") << "admin ";
        QTest::newRow("empty") << "";
    }
    void passwordOldIsCheckedFirstAndWithLetterCase()
    {
        QFETCH(QString, oldPassword);
        start();
        const PasswordRun run = changePassword(oldPassword, QStringLiteral("new1"), QStringLiteral("new2"));
        QCOMPARE(recorder->texts(), QStringList{QStringLiteral("原始密码错误,请重新输入!")});
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QVERIFY(run.stillOpen);
        QCOMPARE(run.oldText, oldPassword);  // kept
        QCOMPARE(run.newText, QStringLiteral("new1"));
        QCOMPARE(run.againText, QStringLiteral("new2"));
        QCOMPARE(run.focus, QStringLiteral("edtOldPassword"));
        QCOMPARE(storedPassword("1001"), QStringLiteral("admin"));
    }

    void passwordNewOnesMustAgree()
    {
        start();
        const PasswordRun run = changePassword(QStringLiteral("admin"), QStringLiteral("abc"), QStringLiteral("abC"));
        QCOMPARE(recorder->texts(), QStringList{QStringLiteral("输入的新密码不一致,请重新输入!")});
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QVERIFY(run.stillOpen);
        QCOMPARE(run.oldText, QStringLiteral("admin"));
        QCOMPARE(run.newText, QString());
        QCOMPARE(run.againText, QString());
        QCOMPARE(run.focus, QStringLiteral("edtNewPassword"));
        QCOMPARE(storedPassword("1001"), QStringLiteral("admin"));
    }

    void passwordChangeStoresExactlyAndOnlyForTheUser()
    {
        start();
        ws->exec(QStringLiteral("INSERT INTO \"User\" VALUES ('1002', '其他', 'admin', NULL), "
                                "('1001 ', '相似', 'admin', NULL)"));
        const QString fresh = QStringLiteral("it's \"新\" -- x");
        const PasswordRun run = changePassword(QStringLiteral("admin"), fresh, fresh);
        QCOMPARE(run.user, QStringLiteral("1001"));
        QVERIFY(!run.stillOpen);
        QCOMPARE(recorder->texts(), QStringList{QStringLiteral("密码修改成功!")});
        QCOMPARE(recorder->last().title, QStringLiteral("提示"));
        QCOMPARE(recorder->last().icon, QMessageBox::Information);
        QVERIFY(!frmModifyPassword);  // the dialog freed itself
        QCOMPARE(storedPassword("1001"), fresh);
        QCOMPARE(storedPassword("1002"), QStringLiteral("admin"));
        QCOMPARE(storedPassword("1001 "), QStringLiteral("admin"));
        // The next login needs the new password.
        QVERIFY(!login(QStringLiteral("1001"), QStringLiteral("admin")));
        QVERIFY(login(QStringLiteral("1001"), fresh));
    }

    void passwordOfAnAccountDeletedMeanwhileIsNotReportedChanged()
    {
        start();
        ws->exec(QStringLiteral("UPDATE \"User\" SET UserPassword = '' WHERE UserID = '1001'"));
        ws->exec(QStringLiteral("INSERT INTO \"User\" VALUES ('1002', '其他', '', NULL)"));
        ws->exec(QStringLiteral("DELETE FROM \"User\" WHERE UserID = '1001'"));
        const PasswordRun run = changePassword(QString(), QStringLiteral("x"), QStringLiteral("x"));
        QVERIFY(run.stillOpen);
        QCOMPARE(recorder->messages.size(), 1);
        QVERIFY(!recorder->last().text.contains(QStringLiteral("成功")));
        QVERIFY(recorder->last().text.contains(QStringLiteral("1001")));
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QCOMPARE(ws->query(QStringLiteral("SELECT UserPassword FROM \"User\"")), QStringList{QString()});
    }

    void passwordCancelChangesNothing()
    {
        start();
        testsupport::whenModal<TfrmModifyPassword>([](TfrmModifyPassword *d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("更改密码设置"));
            QCOMPARE(d->lblUser->text(), QStringLiteral("1001"));
            QCOMPARE(d->edtNewPassword->echoMode(), QLineEdit::Password);
            d->edtOldPassword->setText(QStringLiteral("admin"));
            d->edtNewPassword->setText(QStringLiteral("x"));
            d->edtPasswordAgain->setText(QStringLiteral("x"));
            d->btnCancel->click();
        });
        menu("S4");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!frmModifyPassword);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(storedPassword("1001"), QStringLiteral("admin"));
    }

    // ---- backup -------------------------------------------------------------

    void backupAppendsMdbWhateverTheName()
    {
        start();
        seedColleges({QStringLiteral("计算机学院")});
        menu("N2");
        QVERIFY(frmBackupData);
        QCOMPARE(frmBackupData->windowTitle(), QStringLiteral("数据备份/还原"));
        QVERIFY(!frmBackupData->Animate1->isActive());

        backupTo(inWorkspace("backup"));
        QCOMPARE(recorder->texts(), QStringList{QStringLiteral("备份成功!")});
        QCOMPARE(recorder->last().title, QStringLiteral("提示"));
        QCOMPARE(recorder->last().icon, QMessageBox::Information);
        if (!ws->onServer())
            QCOMPARE(integrity(inWorkspace("backup.mdb")), QStringLiteral("ok"));
        QCOMPARE(backupColleges(inWorkspace("backup.mdb")), QStringList{QStringLiteral("计算机学院")});
        QVERIFY(!frmBackupData->Animate1->isActive());

        // The dialog: the Access filter, no extension of its own, no overwrite question.
        QFileDialog *save = dialogsAsked.value(0);
        QVERIFY(save);
        QCOMPARE(save->objectName(), QStringLiteral("SaveDialog"));
        QCOMPARE(save->nameFilters(), QStringList{QStringLiteral("Access(*.mdb)")});
        QCOMPARE(save->defaultSuffix(), QString());
        QVERIFY(save->testOption(QFileDialog::DontConfirmOverwrite));

        // A name that already ends in ".mdb" gets it once more.
        backupTo(inWorkspace("old.mdb"));
        QVERIFY(QFile::exists(inWorkspace("old.mdb.mdb")));
        QVERIFY(!QFile::exists(inWorkspace("old.mdb")) || QFileInfo(inWorkspace("old.mdb")).size() == 0);
        QCOMPARE(recorder->messages.size(), 2);

        // Cancelling the dialog copies nothing and says nothing.
        click(frmBackupData->btnBackup);
        QCOMPARE(recorder->messages.size(), 2);
        // No temporary file is left in the folder.
        const QStringList left = QDir(ws->dir()).entryList({QStringLiteral("*.part-*")}, QDir::Files | QDir::Hidden);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(',')));
    }

    void backupAsksBeforeReplacing()
    {
        start();
        seedColleges({QStringLiteral("甲")});
        menu("N2");
        const QString target = inWorkspace("keep.mdb");
        writeFile(target, "an earlier backup that must stay");

        recorder->answer(QMessageBox::No);
        backupTo(inWorkspace("keep"));
        QCOMPARE(recorder->texts(), QStringList{QStringLiteral("文件名重复,是否覆盖!")});
        QCOMPARE(recorder->last().title, QStringLiteral("提示"));
        QCOMPARE(recorder->last().icon, QMessageBox::Information);
        QCOMPARE(recorder->last().buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(fileBytes(target), QByteArray("an earlier backup that must stay"));
        QVERIFY(!frmBackupData->Animate1->isActive());

        recorder->answer(QMessageBox::Yes);
        backupTo(inWorkspace("keep"));
        QCOMPARE(recorder->texts(), QStringList({QStringLiteral("文件名重复,是否覆盖!"), QStringLiteral("文件名重复,是否覆盖!"),
                                                 QStringLiteral("备份成功!")}));
        QCOMPARE(backupColleges(target), QStringList{QStringLiteral("甲")});
    }

    void backupIsConsistentWhileWindowsAndWritersAreBusy()
    {
        FILE_ONLY("another program writes the file through SQLite's locks; several clerks on a server: tst_concurrentsaves");
        start();
        fillScores(ws->dbPath(), 60000);
        // A window with an unsaved new row.
        menu("D3");
        QVERIFY(frmStudentSet);
        click(frmStudentSet->btnAdd);
        frmStudentSet->edtName->setText(QStringLiteral("未保存的学生"));
        QCOMPARE(frmStudentSet->mainSource()->state(), dravon::DataSetState::Insert);
        menu("N2");

        // Another connection keeps writing in short transactions meanwhile.
        std::atomic<bool> stop{false};
        std::atomic<int> written{0};
        const QByteArray path = QFile::encodeName(ws->dbPath());
        std::thread writer([&] {
            sqlite3 *db = nullptr;
            sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
            sqlite3_busy_timeout(db, 5000);
            while (!stop) {
                if (sqlite3_exec(db,
                                 "BEGIN IMMEDIATE; INSERT INTO Score (StudentID, Term, Score) VALUES ('W', 't', 1.0);"
                                 "INSERT INTO Score (StudentID, Term, Score) VALUES ('W', 't', 2.0); COMMIT;",
                                 nullptr, nullptr, nullptr)
                    == SQLITE_OK)
                    ++written;
                else
                    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            }
            sqlite3_close(db);
        });
        while (written < 20)
            QThread::msleep(1);
        for (int i = 0; i < 3; ++i)
            backupTo(inWorkspace(QStringLiteral("busy%1").arg(i)));
        stop = true;
        writer.join();

        QCOMPARE(recorder->texts(), QStringList({"备份成功!", "备份成功!", "备份成功!"}));
        for (int i = 0; i < 3; ++i) {
            const QString copy = inWorkspace(QStringLiteral("busy%1.mdb").arg(i));
            QCOMPARE(integrity(copy), QStringLiteral("ok"));
            // Whole transactions only: the writer's rows come in pairs.
            const int w = testsupport::querySql(copy, "SELECT count(*) FROM Score WHERE StudentID = 'W'").value(0).toInt();
            QVERIFY2(w % 2 == 0, qPrintable(QString::number(w)));
            QVERIFY(w >= 40);
            QCOMPARE(testsupport::querySql(copy, "SELECT count(*) FROM Score WHERE StudentID <> 'W'").value(0),
                     QStringLiteral("60000"));
            // The unsaved row is not part of the database, nor of its copy.
            QCOMPARE(testsupport::querySql(copy, "SELECT count(*) FROM StudentInfo").value(0), QStringLiteral("0"));
        }
        // The window and its pending row are untouched.
        QVERIFY(frmStudentSet);
        QCOMPARE(frmStudentSet->mainSource()->state(), dravon::DataSetState::Insert);
        QCOMPARE(integrity(ws->dbPath()), QStringLiteral("ok"));
    }

    void backupOfALockedDatabaseFailsClearlyAndSoon()
    {
        FILE_ONLY("a lock on the file; the server's dump reads a snapshot");
        start();
        menu("N2");
        sqlite3 *locker = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(ws->dbPath()).constData(), &locker, SQLITE_OPEN_READWRITE, nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_exec(locker, "BEGIN EXCLUSIVE; INSERT INTO GradeInfo VALUES ('1', 'x', NULL)", nullptr, nullptr,
                              nullptr),
                 SQLITE_OK);
        QElapsedTimer timer;
        timer.start();
        backupTo(inWorkspace("locked"));
        const qint64 took = timer.elapsed();
        sqlite3_exec(locker, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(locker);
        QVERIFY2(took < 15000, qPrintable(QString::number(took)));
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QVERIFY2(recorder->last().text.contains(QStringLiteral("locked")), qPrintable(recorder->last().text));
        QVERIFY(!QFile::exists(inWorkspace("locked.mdb")));
        QVERIFY(QDir(ws->dir()).entryList({QStringLiteral("*.part-*")}, QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(!frmBackupData->Animate1->isActive());
    }

    void failedBackupIsReported()
    {
        start();
        menu("N2");
        const QString target = inWorkspace("no-such-folder/backup");
        backupTo(target);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QVERIFY(recorder->last().text.startsWith(QStringLiteral("备份失败!")));
        QVERIFY(recorder->last().text.contains(QDir::toNativeSeparators(target + ".mdb")));
        QVERIFY(recorder->last().text.contains(QStringLiteral("原因: ")));
        QVERIFY(!frmBackupData->Animate1->isActive());
        if (ws->onServer())
            return;  // the rest is about the file's path in the ini file and the file itself

        // The database path is read from the ini at the moment of the command.
        ws->writeIni(QStringLiteral("[BDConn]\nDBConFileName=%1\n").arg(inWorkspace("gone.mdb")).toUtf8());
        backupTo(inWorkspace("b2"));
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QVERIFY(recorder->last().text.contains(QStringLiteral("gone.mdb")));
        QVERIFY(!QFile::exists(inWorkspace("b2.mdb")));
        QVERIFY(!frmBackupData->Animate1->isActive());

        // A backup named like the open database itself is refused; the
        // database and the program's connection stay as they were.
        ws->writeIni(QStringLiteral("[BDConn]\nDBConFileName=%1\n").arg(ws->dbPath()).toUtf8());
        const QByteArray before = fileHash(ws->dbPath());
        QString name = ws->dbPath();
        name.chop(4);
        recorder->answer(QMessageBox::Yes);
        backupTo(name);
        QCOMPARE(recorder->messages.size(), 4);
        QCOMPARE(recorder->messages[2].text, QStringLiteral("文件名重复,是否覆盖!"));
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QVERIFY(recorder->last().text.contains(QStringLiteral("数据库文件本身")));
        QCOMPARE(fileHash(ws->dbPath()), before);
        SQLExecute(QStringLiteral("INSERT INTO GradeInfo (GradeID, GrdName) VALUES ('9', '仍在原文件')"), dm->ADOConn);
        QCOMPARE(colleges(ws->dbPath()), QStringList{QStringLiteral("仍在原文件")});
    }

    // ---- restore ------------------------------------------------------------

    void restoreBringsOldRowsBackWhileWindowsAreOpen()
    {
        start();
        seedColleges({QStringLiteral("老一"), QStringLiteral("老二")});
        menu("N2");
        backupTo(inWorkspace("before"));
        QCOMPARE(recorder->texts(), QStringList{QStringLiteral("备份成功!")});

        // New rows after the backup, through an open window.
        menu("D5");
        QVERIFY(frmCollegeSet);
        click(frmCollegeSet->btnAdd);
        frmCollegeSet->edtName->setText(QStringLiteral("新学院"));
        click(frmCollegeSet->btnSave);
        QCOMPARE(dbColleges(), QStringList({"老一", "老二", "新学院"}));
        const QByteArray current = ws->onServer() ? QByteArray() : fileHash(ws->dbPath());

        restoreFrom(inWorkspace("before.mdb"));
        QCOMPARE(recorder->messages.size(), 2);
        QVERIFY2(recorder->last().text.startsWith(QStringLiteral("还原成功!")), qPrintable(recorder->last().text));
        QCOMPARE(recorder->last().title, QStringLiteral("提示"));
        QCOMPARE(recorder->last().icon, QMessageBox::Information);
        QCOMPARE(dialogsAsked.last()->objectName(), QStringLiteral("OpenDialog"));
        QCOMPARE(dialogsAsked.last()->nameFilters(), QStringList{QStringLiteral("Access(*.mdb)")});
        QVERIFY(!frmBackupData->Animate1->isActive());

        // The old rows are back; the replaced database is kept and named.
        QCOMPARE(dbColleges(), QStringList({"老一", "老二"}));
        if (ws->onServer()) {
            // The password typed in the connection dialog is in the password
            // file for the program's database only; the restore reached the
            // server's other databases all the same.
            const QString line = recorder->last().text.section(QLatin1Char('\n'), 1, 1);
            const QString prefix = QStringLiteral("原数据库已保存为 服务器上的数据库 %1_before_").arg(ws->serverAddress()->database);
            QVERIFY2(line.startsWith(prefix), qPrintable(line));
            const QString kept = line.section(QLatin1Char(' '), -1);
            QCOMPARE(testsupport::TestServer::instance().query(kept, "SELECT \"GrdName\" FROM \"GradeInfo\" ORDER BY \"GradeID\""),
                     QStringList({"老一", "老二", "新学院"}));
            // 旧数据库… lists it, through the same password.
            QStringList listed;
            testsupport::whenModal<TfrmKeptDatabases>([&](TfrmKeptDatabases *dialog) {
                for (int r = 0; r < dialog->lstKept->rowCount(); ++r)
                    listed << dialog->lstKept->item(r, 0)->text();
                click(dialog->btnClose);
            });
            click(frmBackupData->btnKeptDatabases);
            QCOMPARE(listed, QStringList{kept});
            QCOMPARE(recorder->messages.size(), 2);
        } else {
            QCOMPARE(integrity(ws->dbPath()), QStringLiteral("ok"));
            const QStringList kept = QDir(ws->dir()).entryList({QStringLiteral("Teach.mdb.before-restore-*")}, QDir::Files);
            QCOMPARE(kept.size(), 1);
            QVERIFY(recorder->last().text.contains(kept.first()));
            QCOMPARE(fileHash(inWorkspace(kept.first())), current);
            QCOMPARE(colleges(inWorkspace(kept.first())), QStringList({"老一", "老二", "新学院"}));
        }

        // The program's connection works on the restored file.
        QVERIFY(dm->ADOConn.isOpen());
        QVERIFY(SQLSearch(QStringLiteral("SELECT * FROM GradeInfo WHERE GrdName='老二'"), dm->ADOConn));
        QVERIFY(!SQLSearch(QStringLiteral("SELECT * FROM GradeInfo WHERE GrdName='新学院'"), dm->ADOConn));

        // The open window showed the replaced file's rows: it was closed, and
        // the message says so. Reopened, it reads the restored rows.
        QVERIFY(!frmCollegeSet);
        QVERIFY2(recorder->last().text.contains(QStringLiteral("已关闭打开的窗口")), qPrintable(recorder->last().text));
        QVERIFY(recorder->last().text.contains(QStringLiteral("学院信息维护")));
        menu("D5");
        QVERIFY(frmCollegeSet);
        QAbstractItemModel *model = frmCollegeSet->DBGrid->model();
        QCOMPARE(model->rowCount(), 2);
        QStringList shown;
        for (int r = 0; r < model->rowCount(); ++r)
            shown << model->index(r, 1).data().toString();
        QCOMPARE(shown, QStringList({"老一", "老二"}));
        // And it writes to the restored file.
        click(frmCollegeSet->btnAdd);
        frmCollegeSet->edtName->setText(QStringLiteral("还原后新增"));
        click(frmCollegeSet->btnSave);
        QCOMPARE(dbColleges(), QStringList({"老一", "老二", "还原后新增"}));
        QCOMPARE(recorder->messages.size(), 2);
    }

    void restoreRefusesFilesThatAreNotProgramDatabases_data()
    {
        QTest::addColumn<QByteArray>("kind");
        QTest::newRow("text-file") << QByteArray("text");
        QTest::newRow("empty-file") << QByteArray("empty");
        QTest::newRow("other-database") << QByteArray("other");
        QTest::newRow("missing-column") << QByteArray("column");
        QTest::newRow("missing-file") << QByteArray("missing");
    }
    void restoreRefusesFilesThatAreNotProgramDatabases()
    {
        QFETCH(QByteArray, kind);
        start();
        seedColleges({QStringLiteral("现有")});
        const QString candidate = inWorkspace("candidate.mdb");
        if (kind == "text")
            writeFile(candidate, "[BDConn]\nthis is no database\n");
        else if (kind == "empty")
            writeFile(candidate, QByteArray());
        else if (kind == "other")
            testsupport::execSql(candidate, QStringLiteral("CREATE TABLE Notes (Body TEXT); INSERT INTO Notes VALUES ('x')"));
        else if (kind == "column") {
            testsupport::createDatabase(candidate);
            // The column's logging triggers go first, or the engine keeps it.
            testsupport::execSql(candidate, QStringLiteral("DROP TRIGGER Course_LogInsert; DROP TRIGGER Course_LogDelete; "
                                                           "DROP TRIGGER Course_LogTerm; ALTER TABLE Course DROP COLUMN Term"));
        }
        const QByteArray before = fileHash(ws->dbPath());
        menu("D5");
        menu("N2");
        restoreFrom(candidate);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QVERIFY(recorder->last().text.startsWith(QStringLiteral("还原失败!")));
        QVERIFY(recorder->last().text.contains(QDir::toNativeSeparators(candidate)));
        if (ws->onServer()) {
            // A database file chosen on a server (a backup of the file days,
            // say) is no dump of the server's tools: refused before any
            // window is closed.
            QVERIFY2(recorder->last().text.contains(QStringLiteral("不是服务器数据库的备份文件")), qPrintable(recorder->last().text));
            QVERIFY(frmCollegeSet);
            QCOMPARE(dbColleges(), QStringList{QStringLiteral("现有")});
        } else {
            if (kind != "missing")
                QVERIFY2(recorder->last().text.contains(QStringLiteral("不是本系统的数据库")), qPrintable(recorder->last().text));
            if (kind == "column")
                QVERIFY(recorder->last().text.contains(QStringLiteral("Term")));
        }
        QVERIFY(!frmBackupData->Animate1->isActive());
        QCOMPARE(fileHash(ws->dbPath()), before);
        QVERIFY(QDir(ws->dir()).entryList({QStringLiteral("*before-restore*")}, QDir::Files).isEmpty());
        QVERIFY(dm->ADOConn.isOpen());
        QVERIFY(SQLSearch(QStringLiteral("SELECT * FROM GradeInfo"), dm->ADOConn));
    }

    // Every schema version the program knows is taken: a first-version file
    // is upgraded in the copy before it is placed, so the database is
    // current at once and no copy of it is made beside it on reopening.
    void restoreTakesEveryVersionTheProgramKnows_data()
    {
        QTest::addColumn<bool>("firstVersion");
        QTest::newRow("current") << false;
        QTest::newRow("first version") << true;
    }
    void restoreTakesEveryVersionTheProgramKnows()
    {
        FILE_ONLY("the file's schema versions; the server's upgrade in a restore: tst_serverbackup");
        QFETCH(bool, firstVersion);
        start();
        const QString candidate = inWorkspace("older.mdb");
        testsupport::createDatabase(candidate);
        if (firstVersion)
            testsupport::execSql(candidate, QString::fromUtf8(testsupport::firstVersionRecordTables));
        testsupport::execSql(candidate, QString::fromUtf8(testsupport::firstVersionRows));
        testsupport::execSql(candidate, QStringLiteral("INSERT INTO GradeInfo (GradeID, GrdName) VALUES ('1', '旧版本的库')"));
        const QByteArray candidateBytes = fileHash(candidate);
        menu("N2");
        restoreFrom(candidate);
        QVERIFY2(recorder->last().text.startsWith(QStringLiteral("还原成功!")), qPrintable(recorder->last().text));
        QCOMPARE(colleges(ws->dbPath()), QStringList{QStringLiteral("旧版本的库")});
        QCOMPARE(testsupport::querySql(ws->dbPath(), "PRAGMA user_version"),
                 QStringList{QString::number(dravon::currentSchemaVersion)});
        QCOMPARE(testsupport::querySql(ws->dbPath(), "SELECT count(*) || '/' || count(DISTINCT Id) FROM Score"),
                 QStringList{"4/4"});
        QCOMPARE(integrity(ws->dbPath()), QStringLiteral("ok"));
        QCOMPARE(fileHash(candidate), candidateBytes);
        QVERIFY(QDir(ws->dir()).entryList({QStringLiteral("*before-upgrade*")}, QDir::Files | QDir::Hidden).isEmpty());
    }

    // A copy whose indexes do not match their tables passes the quick check
    // but not the full one: it is refused, and a search by name would have
    // found the wrong student.
    void restoreRefusesATornCopy()
    {
        FILE_ONLY("SQLite's index pages");
        start();
        seedColleges({QStringLiteral("现有")});
        const QString candidate = inWorkspace("torn.mdb");
        testsupport::createDatabase(candidate);
        testsupport::execSql(candidate, QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
            "INSERT INTO StudentInfo (StudentID, StuName) SELECT 2007000 + i, '学生' || i FROM n"));
        tearIndex(candidate, QStringLiteral("StudentInfo_StuName"), QStringLiteral("UPDATE StudentInfo SET StuName = StuName || '改'"));
        QCOMPARE(testsupport::querySql(candidate, "PRAGMA quick_check"), QStringList{"ok"});
        // A search by name finds the student whose name is no longer that.
        QCOMPARE(testsupport::querySql(candidate, "SELECT StudentID FROM StudentInfo WHERE StuName = '学生7'"),
                 QStringList{"2007007"});
        QCOMPARE(testsupport::querySql(candidate, "SELECT StuName FROM StudentInfo WHERE StudentID = '2007007'"),
                 QStringList{"学生7改"});
        menu("N2");
        restoreIsRefused(candidate, {QStringLiteral("数据库文件已损坏"), QStringLiteral("StudentInfo_StuName")});
        QVERIFY(QDir(ws->dir()).entryList({QStringLiteral("*before-restore*"), QStringLiteral(".*.part-*")},
                                          QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(SQLSearch(QStringLiteral("SELECT * FROM GradeInfo WHERE GrdName = '现有'"), dm->ADOConn));
    }

    // Only the program's own tables, columns, indexes and triggers come in
    // with a backup; anything else is refused, naming it.
    void restoreRefusesForeignSchemaObjects_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("named");
        QTest::newRow("trigger") << QStringLiteral(
            "CREATE TRIGGER WipeScores AFTER INSERT ON StudentInfo BEGIN DELETE FROM Score; END")
                                 << QStringLiteral("含有本系统没有的触发器 WipeScores");
        QTest::newRow("view") << QStringLiteral("CREATE VIEW Everyone AS SELECT * FROM \"User\"")
                              << QStringLiteral("含有本系统没有的视图 Everyone");
        QTest::newRow("table") << QStringLiteral("CREATE TABLE Notes (Body TEXT)") << QStringLiteral("含有本系统没有的表 Notes");
        QTest::newRow("index") << QStringLiteral("CREATE UNIQUE INDEX Score_Once ON Score (StudentID)")
                               << QStringLiteral("含有本系统没有的索引 Score_Once");
        QTest::newRow("extra column") << QStringLiteral("ALTER TABLE Score ADD COLUMN Extra INTEGER")
                                      << QStringLiteral("表 Score 多出列 Extra");
        QTest::newRow("missing index") << QStringLiteral("DROP INDEX StudentInfo_StuName")
                                       << QStringLiteral("缺少索引 StudentInfo_StuName");
        QTest::newRow("changed table") << QStringLiteral(
            "DROP TABLE Price; CREATE TABLE Price (Id INTEGER PRIMARY KEY, ClassID TEXT, PriceName TEXT, "
            "StudentID TEXT UNIQUE ON CONFLICT REPLACE, Price REAL, Remark TEXT);"
            "CREATE INDEX Price_StudentID ON Price (StudentID); CREATE INDEX Price_ClassID ON Price (ClassID);")
                                       << QStringLiteral("表 Price 的定义与本系统的不同");
        QTest::newRow("trigger in a first-version file") << QStringLiteral(
            "%1; CREATE TRIGGER WipeScores AFTER INSERT ON StudentInfo BEGIN DELETE FROM Score; END")
                .arg(QString::fromUtf8(testsupport::firstVersionRecordTables))
                                                         << QStringLiteral("含有本系统没有的触发器 WipeScores");
    }
    void restoreRefusesForeignSchemaObjects()
    {
        FILE_ONLY("SQLite schema objects; a server backup of another structure: tst_serverbackup");
        QFETCH(QString, change);
        QFETCH(QString, named);
        start();
        ws->exec(QStringLiteral("INSERT INTO Score (StudentID, Score) VALUES ('2007001', 90.0)"));
        const QString candidate = inWorkspace("foreign.mdb");
        testsupport::createDatabase(candidate);
        testsupport::execSql(candidate, change);
        QCOMPARE(dbfiles::programDatabaseProblem(candidate), QString());
        menu("N2");
        restoreIsRefused(candidate, {QStringLiteral("不是本系统的数据库"), named});
        // Nothing of the candidate runs in the program.
        SQLExecute(QStringLiteral("INSERT INTO StudentInfo (StudentID) VALUES ('2007009')"), dm->ADOConn);
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"1"});
    }

    // A candidate whose tables are all there but whose pages are damaged is
    // refused, after its copy was checked; the database stays as it was.
    void restoreRefusesADamagedCandidate()
    {
        FILE_ONLY("damaged SQLite pages");
        TestWorkspace w;
        testsupport::execSql(w.dbPath(), QStringLiteral("INSERT INTO GradeInfo VALUES ('1', '旧库', NULL)"));
        const QString candidate = QDir(w.dir()).filePath(QStringLiteral("damaged.mdb"));
        testsupport::createDatabase(candidate);
        fillScores(candidate, 20000);
        {
            QFile f(candidate);
            QVERIFY(f.open(QIODevice::ReadWrite));
            const qint64 pages = f.size() / 4096;
            for (qint64 page = pages / 2; page < pages / 2 + 8; ++page) {
                f.seek(page * 4096);
                f.write(QByteArray(4096, '\x5a'));
            }
        }
        QCOMPARE(dbfiles::programDatabaseProblem(candidate, dbfiles::PageCheck::TablesOnly), QString());
        const QByteArray before = fileHash(w.dbPath());
        QString error;
        try {
            dbfiles::restoreDatabase(candidate, w.dbPath(), {});
        } catch (const dravon::Error &e) {
            error = e.text();
        }
        QVERIFY2(error.contains(QStringLiteral("不是本系统的数据库")), qPrintable(error));
        QCOMPARE(fileHash(w.dbPath()), before);
        QVERIFY(QDir(w.dir()).entryList({QStringLiteral("*before-restore*"), QStringLiteral("*.part-*")},
                                        QDir::Files | QDir::Hidden).isEmpty());
    }

    // A database kept with a write-ahead log has its latest rows in the log,
    // not yet in the file: its backup still holds them.
    void backupOfALoggedDatabaseHoldsItsLatestRows()
    {
        FILE_ONLY("SQLite's write-ahead log");
        TestWorkspace w;
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(w.dbPath()).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                                  "INSERT INTO GradeInfo VALUES ('1', '日志里的学院', NULL)", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        QVERIFY(QFileInfo(w.dbPath() + "-wal").size() > 0);
        const QString copy = QDir(w.dir()).filePath(QStringLiteral("copy.mdb"));
        dbfiles::backupDatabase(w.dbPath(), copy);
        sqlite3_close(db);
        QCOMPARE(colleges(copy), QStringList{QStringLiteral("日志里的学院")});
        QCOMPARE(integrity(copy), QStringLiteral("ok"));
        // The backup itself is a plain rollback-journal file, nothing beside it.
        QCOMPARE(headerJournalMode(copy), 1);
        QVERIFY(!QFile::exists(copy + "-wal"));
        QVERIFY(!QFile::exists(copy + "-shm"));
    }

    void failedRestoreCopyIsReported()
    {
        FILE_ONLY("the database file's path in the ini file");
        start();
        seedColleges({QStringLiteral("原样")});
        const QString backup = inWorkspace("good.mdb");
        testsupport::createDatabase(backup);
        const QByteArray before = fileHash(ws->dbPath());
        menu("N2");
        // The database path in the ini names a folder that does not exist.
        const QString nowhere = inWorkspace("missing-folder/Teach.mdb");
        ws->writeIni(QStringLiteral("[BDConn]\nDBConFileName=%1\n").arg(nowhere).toUtf8());
        restoreFrom(backup);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QVERIFY(recorder->last().text.startsWith(QStringLiteral("还原失败!")));
        QVERIFY(recorder->last().text.contains(QDir::toNativeSeparators(nowhere)));
        QVERIFY(!frmBackupData->Animate1->isActive());
        QVERIFY(!QFile::exists(nowhere));
        QCOMPARE(fileHash(ws->dbPath()), before);
        QVERIFY(dm->ADOConn.isOpen());
    }

    void failedReopenPutsThePreviousFileBack()
    {
        FILE_ONLY("the replaced file; the server's failed reopen: tst_serverbackup");
        TestWorkspace w;
        testsupport::execSql(w.dbPath(), QStringLiteral("INSERT INTO GradeInfo VALUES ('1', '旧库', NULL)"));
        const QString candidate = QDir(w.dir()).filePath(QStringLiteral("new.mdb"));
        testsupport::createDatabase(candidate);
        const QByteArray before = fileHash(w.dbPath());
        int opens = 0;
        dbfiles::RestoreHooks hooks;
        hooks.closeConnection = [] {};
        hooks.reopenConnection = [&] {
            if (++opens == 1)
                throw dravon::Error(QStringLiteral("模拟的打开失败"));
        };
        QString error;
        try {
            dbfiles::restoreDatabase(candidate, w.dbPath(), hooks);
        } catch (const dravon::Error &e) {
            error = e.text();
        }
        QVERIFY(error.contains(QStringLiteral("模拟的打开失败")));
        QVERIFY(error.contains(QStringLiteral("已放回原数据库")));
        QCOMPARE(opens, 2);  // opened again on the previous file
        QCOMPARE(fileHash(w.dbPath()), before);
        QCOMPARE(colleges(w.dbPath()), QStringList{QStringLiteral("旧库")});
    }

    void staleJournalsGoWithTheReplacedFile()
    {
        FILE_ONLY("SQLite's journal files");
        TestWorkspace w;
        testsupport::execSql(w.dbPath(), QStringLiteral("INSERT INTO GradeInfo VALUES ('1', '旧库', NULL)"));
        const QString candidate = QDir(w.dir()).filePath(QStringLiteral("new.mdb"));
        testsupport::createDatabase(candidate);
        testsupport::execSql(candidate, QStringLiteral("INSERT INTO GradeInfo VALUES ('1', '新库', NULL)"));
        writeFile(w.dbPath() + "-journal", "journal of the previous file");
        writeFile(w.dbPath() + "-shm", "shared memory of the previous file");
        const QDateTime when(QDate(2026, 12, 8), QTime(1, 30, 0));
        const QString kept = dbfiles::restoreDatabase(candidate, w.dbPath(), {}, when);
        QCOMPARE(kept, w.dbPath() + QStringLiteral(".before-restore-20261208-013000"));
        QVERIFY(!QFile::exists(w.dbPath() + "-journal"));
        QVERIFY(!QFile::exists(w.dbPath() + "-shm"));
        QCOMPARE(fileBytes(kept + "-journal"), QByteArray("journal of the previous file"));
        QCOMPARE(colleges(w.dbPath()), QStringList{QStringLiteral("新库")});
        // A second restore in the same second keeps both previous files.
        const QString second = dbfiles::restoreDatabase(candidate, w.dbPath(), {}, when);
        QVERIFY(second != kept);
        QVERIFY(QFile::exists(kept));
        QVERIFY(QFile::exists(second));
    }

    void killedRestoreLeavesOldOrNewDatabase()
    {
        FILE_ONLY("the file's replacement by rename; the server switches names in one transaction");
        TestWorkspace w;
        const QString dir = w.dir();
        const QString oldDb = QDir(dir).filePath(QStringLiteral("old.mdb"));
        const QString newDb = QDir(dir).filePath(QStringLiteral("new.mdb"));
        testsupport::createDatabase(oldDb);
        testsupport::createDatabase(newDb);
        testsupport::execSql(oldDb, QStringLiteral("INSERT INTO GradeInfo VALUES ('1', 'OLD', NULL)"));
        testsupport::execSql(newDb, QStringLiteral("INSERT INTO GradeInfo VALUES ('1', 'NEW', NULL)"));
        fillScores(oldDb, 40000);
        fillScores(newDb, 60000);
        const QString target = QDir(dir).filePath(QStringLiteral("Teach-live.mdb"));

        auto runChild = [&](int killAfterMs) {
            QFile::remove(target);
            QVERIFY(QFile::copy(oldDb, target));
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--restore-child"), newDb, target});
            QVERIFY(child.waitForStarted());
            if (killAfterMs >= 0) {
                QThread::msleep(killAfterMs);
                child.kill();  // SIGKILL
            }
            QVERIFY(child.waitForFinished(30000));
        };

        // A whole run, to learn how long one takes.
        QElapsedTimer timer;
        timer.start();
        runChild(-1);
        const int whole = int(timer.elapsed());
        QCOMPARE(colleges(target), QStringList{QStringLiteral("NEW")});

        int sawOld = 0, sawNew = 0;
        for (int i = 0; i < 16; ++i) {
            // Spread over the whole run: a random point in each sixteenth of it.
            const double at = (i + QRandomGenerator::global()->generateDouble()) / 16.0;
            const int delay = int(at * (whole + 20));
            runChild(delay);
            QCOMPARE(integrity(target), QStringLiteral("ok"));
            const QStringList marker = colleges(target);
            QVERIFY2(marker == QStringList{"OLD"} || marker == QStringList{"NEW"}, qPrintable(marker.join(',')));
            const QString count = testsupport::querySql(target, "SELECT count(*) FROM Score").value(0);
            QCOMPARE(count, marker == QStringList{"OLD"} ? QStringLiteral("40000") : QStringLiteral("60000"));
            (marker == QStringList{"OLD"} ? sawOld : sawNew)++;
            // A killed run's partial copy is the program's leftover: it goes
            // at the next cleanup, and only the kept previous files remain.
            staging::removeLeftovers(dir);
            for (const QString &f : QDir(dir).entryList({QStringLiteral("*Teach-live.mdb*")}, QDir::Files | QDir::Hidden)) {
                if (f == QStringLiteral("Teach-live.mdb"))
                    continue;
                QVERIFY2(f.startsWith(QStringLiteral("Teach-live.mdb.before-restore-")), qPrintable(f));
                QFile::remove(QDir(dir).filePath(f));
            }
        }
        qInfo("one restore run took %d ms; killed runs left the old database %d times, the new one %d times", whole,
              sawOld, sawNew);
    }

    // A backup in write-ahead-log mode would put the database in that mode
    // for good, with "-wal" and "-shm" files beside it. The placed file is in
    // rollback-journal mode; saves leave nothing beside it; and its backups
    // are plain files too.
    void restoredFileIsInRollbackJournalMode()
    {
        FILE_ONLY("SQLite's journal mode");
        start();
        const QString candidate = inWorkspace("logged.mdb");
        testsupport::createDatabase(candidate);
        testsupport::execSql(candidate, QStringLiteral("PRAGMA journal_mode = WAL"));
        testsupport::execSql(candidate, QStringLiteral("INSERT INTO GradeInfo VALUES ('2007001', '日志模式的库', NULL)"));
        QCOMPARE(headerJournalMode(candidate), 2);
        menu("N2");
        restoreFrom(candidate);
        QVERIFY2(recorder->last().text.startsWith(QStringLiteral("还原成功!")), qPrintable(recorder->last().text));
        QCOMPARE(headerJournalMode(ws->dbPath()), 1);
        QCOMPARE(colleges(ws->dbPath()), QStringList{QStringLiteral("日志模式的库")});
        // The backup file was read as it is: nothing was made beside it.
        QVERIFY(!QFile::exists(candidate + "-wal"));
        QVERIFY(!QFile::exists(candidate + "-shm"));

        menu("D5");
        click(frmCollegeSet->btnAdd);
        testsupport::typeText(frmCollegeSet->edtName, QStringLiteral("还原后新增"));
        click(frmCollegeSet->btnSave);
        QCOMPARE(colleges(ws->dbPath()), QStringList({"日志模式的库", "还原后新增"}));
        QCOMPARE(headerJournalMode(ws->dbPath()), 1);
        QVERIFY(!QFile::exists(ws->dbPath() + "-wal"));
        QVERIFY(!QFile::exists(ws->dbPath() + "-shm"));

        frmBackupData->closeWindow();
        menu("N2");
        backupTo(inWorkspace("again"));
        QCOMPARE(headerJournalMode(inWorkspace("again.mdb")), 1);
        QCOMPARE(recorder->messages.size(), 2);
    }

    // The file is replaced only while no other connection is in the middle
    // of a transaction on it: with another program's write pending, the
    // restore waits a moment, then refuses, and that write still commits.
    void restoreRefusesWhileAnotherProgramWrites()
    {
        FILE_ONLY("SQLite's write lock; another program connected to a server: tst_serverbackup");
        start();
        seedColleges({QStringLiteral("原有")});
        const QString candidate = inWorkspace("other.mdb");
        testsupport::createDatabase(candidate);
        testsupport::execSql(candidate, QStringLiteral("INSERT INTO GradeInfo VALUES ('1', '备份里的', NULL)"));
        sqlite3 *other = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(ws->dbPath()).constData(), &other, SQLITE_OPEN_READWRITE, nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE; INSERT INTO GradeInfo VALUES ('2007009', '其他程序的', NULL)",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        menu("N2");
        restoreFrom(candidate);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QVERIFY2(recorder->last().text.contains(QStringLiteral("正被其他程序使用")), qPrintable(recorder->last().text));
        QCOMPARE(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        QCOMPARE(colleges(ws->dbPath()), QStringList({"原有", "其他程序的"}));
        QVERIFY(QDir(ws->dir()).entryList({QStringLiteral("*before-restore*"), QStringLiteral(".*.part-*")},
                                          QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(SQLSearch(QStringLiteral("SELECT * FROM GradeInfo WHERE GrdName = '其他程序的'"), dm->ADOConn));

        // Once that program is idle, the restore goes ahead.
        restoreFrom(candidate);
        QVERIFY2(recorder->last().text.startsWith(QStringLiteral("还原成功!")), qPrintable(recorder->last().text));
        QCOMPARE(colleges(ws->dbPath()), QStringList{QStringLiteral("备份里的")});
        sqlite3_close(other);
    }

    // A database path that is a symbolic link: the file it points to is
    // replaced and the link stays; the kept previous file is a file of its
    // own, not a second name of the live one.
    void restoreThroughALinkReplacesTheFileItPointsTo()
    {
        FILE_ONLY("a symbolic link to the file");
        start();
        seedColleges({QStringLiteral("链接前")});
        QVERIFY(QDir(ws->dir()).mkdir(QStringLiteral("real")));
        const QString real = inWorkspace("real/Teach-real.mdb");
        const QString link = inWorkspace("Teach-link.mdb");
        QVERIFY(QFile::copy(ws->dbPath(), real));
        QVERIFY(QFile::link(real, link));
        ws->writeIni(QStringLiteral("[BDConn]\nDBConFileName=%1\n").arg(link).toUtf8());
        QVERIFY(dm->ConnectDB());
        const QString candidate = inWorkspace("linked-backup.mdb");
        testsupport::createDatabase(candidate);
        testsupport::execSql(candidate, QStringLiteral("INSERT INTO GradeInfo VALUES ('1', '还原的', NULL)"));

        menu("N2");
        restoreFrom(candidate);
        QVERIFY2(recorder->last().text.startsWith(QStringLiteral("还原成功!")), qPrintable(recorder->last().text));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QFileInfo(link).symLinkTarget(), real);
        QCOMPARE(colleges(real), QStringList{QStringLiteral("还原的")});
        const QStringList kept = QDir(inWorkspace("real")).entryList({QStringLiteral("Teach-real.mdb.before-restore-*")}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        const QString keptPath = inWorkspace("real/" + kept.first());
        QVERIFY(!QFileInfo(keptPath).isSymLink());
        QVERIFY(recorder->last().text.contains(QDir::toNativeSeparators(keptPath)));
        QCOMPARE(colleges(keptPath), QStringList{QStringLiteral("链接前")});
        // The program writes to the restored file; the kept one stays as it was.
        SQLExecute(QStringLiteral("INSERT INTO GradeInfo VALUES ('2', '之后', NULL)"), dm->ADOConn);
        QCOMPARE(colleges(real), QStringList({"还原的", "之后"}));
        QCOMPARE(colleges(keptPath), QStringList{QStringLiteral("链接前")});
    }

    // The restored database keeps the mode, owner and group of the file it
    // replaces (the tests run as root, which may set them).
    void restoredFileKeepsModeAndGroup()
    {
        FILE_ONLY("the file's mode and owner");
        start();
        const gid_t group = 65534;
        QCOMPARE(::chown(QFile::encodeName(ws->dbPath()).constData(), uid_t(-1), group), 0);
        QCOMPARE(::chmod(QFile::encodeName(ws->dbPath()).constData(), 0640), 0);
        const QString candidate = inWorkspace("private.mdb");
        testsupport::createDatabase(candidate);
        QCOMPARE(::chmod(QFile::encodeName(candidate).constData(), 0600), 0);
        menu("N2");
        restoreFrom(candidate);
        QVERIFY2(recorder->last().text.startsWith(QStringLiteral("还原成功!")), qPrintable(recorder->last().text));
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(ws->dbPath()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(st.st_gid, group);
        QCOMPARE(st.st_uid, ::getuid());
    }

    // Windows open at a restore show and export the replaced file's rows:
    // they are closed (an edit in progress with them) and the message names
    // them; opened again they show the restored rows.
    void restoreClosesTheOpenWindowsAndSaysSo()
    {
        FILE_ONLY("a candidate database file; a server restore closes the windows: restoreBringsOldRowsBackWhileWindowsAreOpen");
        start();
        fillScores(ws->dbPath(), 500);
        seedColleges({QStringLiteral("旧学院")});
        const QString small = inWorkspace("three.mdb");
        testsupport::createDatabase(small);
        fillScores(small, 3);
        menu("M2");
        QVERIFY(frmStudentScore);
        QCOMPARE(frmStudentScore->DataStudentScore->dataSet()->recordCount(), 500);
        menu("D5");
        testsupport::typeText(frmCollegeSet->edtName, QStringLiteral("改"));
        menu("N2");
        restoreFrom(small);
        QCOMPARE(recorder->messages.size(), 1);
        const QString text = recorder->last().text;
        QVERIFY2(text.startsWith(QStringLiteral("还原成功!")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("已关闭打开的窗口(请重新打开以显示还原后的数据): 学生成绩、学院信息维护")),
                 qPrintable(text));
        QVERIFY(!frmStudentScore);
        QVERIFY(!frmCollegeSet);
        QVERIFY(frmBackupData);
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 1);
        QCOMPARE(colleges(ws->dbPath()), QStringList());

        menu("M2");
        QVERIFY(frmStudentScore);
        QCOMPARE(frmStudentScore->DataStudentScore->dataSet()->recordCount(), 3);
        QCOMPARE(frmStudentScore->findChild<QAbstractItemView *>(QStringLiteral("DBGrid1"))->model()->rowCount(), 3);
    }

    // What killed operations left (partial copies under this program's
    // temporary names whose process has ended) goes at start and after an
    // operation in that folder; nothing else is touched.
    void leftoversAreRemovedAtStartAndAfterAnOperation()
    {
        FILE_ONLY("partial copies of the file");
        start();
        const QString ended = QString::number(endedProcessId());
        const QString dir = ws->dir();
        auto make = [&](const QString &name, bool old = false) {
            const QString path = QDir(dir).filePath(name);
            writeFile(path, "personal data");
            if (old) {
                QFile f(path);
                QVERIFY(f.open(QIODevice::ReadWrite));
                QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-7200), QFileDevice::FileModificationTime));
            }
        };
        // Of an ended process, and (old) an earlier version's partial copy of the database.
        const QStringList leftovers = {".Teach.mdb.part-" + ended + "-Ab12Cd", ".Teach.mdb.part-" + ended + "-Ab12Cd-journal",
                                       ".ConfigDB.ini.part-" + ended + "-Qw34Er", ".成绩.xlsx.part-" + ended + "-Zx56Cv",
                                       ".Teach.mdb.part-Mn78Bv"};
        // Not hidden, of a running process, not quite the name, an earlier
        // version's copy still recent or of another file, someone else's.
        const QStringList others = {"Teach.mdb.part-" + ended + "-Ab12Cd", ".Teach.mdb.part-1-Ab12Cd",
                                    ".Teach.mdb.part-" + ended + "-Ab12C", ".Teach.mdb.part-Lk09Jh",
                                    ".photo.backup.part", ".notes.part-backup", "notes.part",
                                    "Teach.mdb.before-upgrade-20240101-000000"};
        for (const QString &name : leftovers)
            make(name, !name.contains(ended));
        for (const QString &name : others)
            make(name, !name.contains(QStringLiteral("Lk09Jh")));
        QVERIFY(QDir(dir).mkdir(".folder.part-" + ended + "-Ab12Cd"));
        const QString work = QDir(QDir::tempPath()).filePath("veltrana-xlsx-" + ended + "-Ab12Cd");
        QVERIFY(QDir().mkpath(work));
        writeFile(work + "/sheet1.xml", "rows");

        // A start of the program: the data module is made again.
        delete dm;
        dm = new TDM;
        QVERIFY(dm->ADOConn.isOpen());
        for (const QString &name : leftovers)
            QVERIFY2(!QFile::exists(QDir(dir).filePath(name)), qPrintable(name));
        for (const QString &name : others)
            QVERIFY2(QFile::exists(QDir(dir).filePath(name)), qPrintable(name));
        QVERIFY(QFileInfo(QDir(dir).filePath(".folder.part-" + ended + "-Ab12Cd")).isDir());
        QVERIFY(!QFileInfo::exists(work));

        // After a backup into another folder, that folder's leftovers go.
        QVERIFY(QDir(dir).mkdir("out"));
        const QString there = QDir(dir).filePath("out/.b.mdb.part-" + ended + "-Ab12Cd");
        writeFile(there, "partial backup");
        menu("N2");
        backupTo(QDir(dir).filePath("out/b"));
        QCOMPARE(recorder->texts(), QStringList{QStringLiteral("备份成功!")});
        QVERIFY(!QFile::exists(there));
        QCOMPARE(QDir(QDir(dir).filePath("out")).entryList(QDir::Files | QDir::Hidden), QStringList{"b.mdb"});
    }

    // ---- about ------------------------------------------------------------

    void aboutIsModalWithNameAndNotice()
    {
        start();
        bool seen = false;
        testsupport::whenModal<TfrmAbout>([&](TfrmAbout *d) {
            seen = true;
            QCOMPARE(d->windowTitle(), QStringLiteral("关于..."));
            QCOMPARE(d->Label1->text(), QStringLiteral("Veltrana"));
            QVERIFY(d->Label1->font().bold());
            QVERIFY(d->Label1->font().pointSizeF() > d->Label2->font().pointSizeF());
            QVERIFY(d->Label2->font().bold());
            // The program is offered under the GPL (Qt Charts requires it).
            QVERIFY(d->Label2->text().contains(QStringLiteral("GNU GPL 第 3 版或更新版本")));
            QVERIFY(d->Label2->width() >= d->Label2->sizeHint().width());
            QVERIFY(!d->Image1->pixmap().isNull());
            // Picture upper left, name to its right, notice below it.
            QVERIFY(d->Label1->geometry().left() >= d->Image1->geometry().right());
            QVERIFY(d->Label2->geometry().top() >= d->Image1->geometry().bottom());
            QVERIFY(d->findChildren<QPushButton *>().isEmpty());
            QVERIFY(d->findChildren<QLineEdit *>().isEmpty());
            d->close();
        });
        menu("H3");
        QVERIFY(seen);
        QVERIFY(!frmAbout);  // released after it closed
        QCOMPARE(recorder->messages.size(), 0);
    }
};

// The test binary doubles as the restoring process that the kill test stops.
int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--restore-child") == 0) {
        QCoreApplication app(argc, argv);
        try {
            dbfiles::restoreDatabase(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), {});
        } catch (const std::exception &e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        return 0;
    }
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    SystemWindowsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_systemwindows.moc"
