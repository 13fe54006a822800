// A server database's backup: the dump file holds every row (restored into
// another database it gives the same tables and rows), replaces an older
// backup of the same name only when complete, and a failed dump (wrong
// password, no such folder) leaves no file and an older backup as it was.
// The restore switches the database's name over to the backup's rows and
// keeps the replaced rows, also through the backup window of a program
// working on the server; what is not a backup of the program's database,
// another program still connected, or a failed reopen change nothing.
#include "app/DM_Unit.h"
#include "data/Dravon.h"
#include "data/ServerSettings.h"
#include "data/server/Migration.h"
#include "data/server/ServerBackup.h"
#include "forms/system/BackUpData_Unit.h"
#include "forms/system/KeptDatabases_Unit.h"
#include "support/GuiHelpers.h"
#include "support/SeededData.h"

#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QFile>
#include <QProcess>
#include <QtTest>
#include <memory>

using testsupport::ServerDatabase;
using testsupport::TestServer;

namespace {

QByteArray fileText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList databases()
{
    return TestServer::instance().query(QStringLiteral("postgres"),
                                        QStringLiteral("SELECT datname FROM pg_database ORDER BY datname"));
}

// The program's connection as the restore closes and reopens it.
struct ProgramConnection
{
    QStringList calls;
    int failingReopens = 0;
    dbfiles::RestoreHooks hooks(const dravon::pg::ServerAddress &address)
    {
        return {[this] { calls << QStringLiteral("close"); },
                [this, address] {
                    calls << QStringLiteral("reopen");
                    if (failingReopens > 0) {
                        --failingReopens;
                        throw dravon::Error(QStringLiteral("reopen refused"));
                    }
                    dravon::pg::Session session(address);
                }};
    }
};

}

class TestServerBackup : public QObject
{
    Q_OBJECT

private slots:
    void backupHoldsEveryRow()
    {
        const auto file = testsupport::seededFile();
        ServerDatabase db;
        dravon::pg::migrateFileToServer(file->dbPath(), db.address());
        // A name with a space and Chinese, where an older backup already is.
        const QString target = QDir(file->dir()).filePath(QStringLiteral("服务器 备份.mdb"));
        writeFile(target, "older backup");
        dravon::pg::backupServerDatabase(db.address(), target);
        QVERIFY(fileText(target).startsWith("PGDMP"));
        QCOMPARE(QFile::permissions(target) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
        QCOMPARE(QDir(file->dir()).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden), QStringList());

        ServerDatabase restored;
        QProcess restore;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGPASSWORD"), restored.address().password);
        restore.setProcessEnvironment(env);
        restore.setProcessChannelMode(QProcess::MergedChannels);
        restore.start(dravon::pg::serverToolPath(QStringLiteral("pg_restore")),
                      {QStringLiteral("--host=") + restored.address().host,
                       QStringLiteral("--port=") + QString::number(restored.address().port),
                       QStringLiteral("--username=") + restored.address().user, QStringLiteral("--exit-on-error"),
                       QStringLiteral("--no-owner"), QStringLiteral("--dbname=") + restored.name(), target});
        QVERIFY(restore.waitForFinished(60000));
        QVERIFY2(restore.exitCode() == 0, restore.readAll().constData());
        const QString original = testsupport::serverState(db);
        QVERIFY(original.contains(QStringLiteral("Score=")));
        QCOMPARE(testsupport::serverState(restored), original);
    }

    void failedBackupLeavesNoFile_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("wrong password") << QStringLiteral("password") << QStringLiteral("password authentication failed");
        QTest::newRow("no such database") << QStringLiteral("database") << QStringLiteral("does not exist");
        QTest::newRow("no such folder") << QStringLiteral("folder") << QStringLiteral("无法在");
    }

    void failedBackupLeavesNoFile()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        ServerDatabase db;
        dravon::pg::ServerAddress address = db.address();
        if (fault == QLatin1String("password"))
            address.password = QStringLiteral("wrong");
        else if (fault == QLatin1String("database"))
            address.database = QStringLiteral("nosuchdb");
        QTemporaryDir dir;
        const QString folder = fault == QLatin1String("folder") ? dir.filePath(QStringLiteral("missing")) : dir.path();
        const QString target = QDir(folder).filePath(QStringLiteral("backup.mdb"));
        if (fault != QLatin1String("folder"))
            writeFile(target, "older backup");
        try {
            dravon::pg::backupServerDatabase(address, target);
            QFAIL("the backup was written");
        } catch (const dravon::Error &e) {
            QVERIFY2(e.text().startsWith(QStringLiteral("备份服务器上的数据库 %1 失败").arg(address.display())),
                     qPrintable(e.text()));
            QVERIFY2(e.text().contains(message), qPrintable(e.text()));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 fault == QLatin1String("folder") ? QStringList() : QStringList(QStringLiteral("backup.mdb")));
        if (fault != QLatin1String("folder"))
            QCOMPARE(fileText(target), QByteArray("older backup"));
    }

    void restoreSwitchesToTheBackupsRows()
    {
        const auto file = testsupport::seededFile();
        ServerDatabase db;
        dravon::pg::migrateFileToServer(file->dbPath(), db.address());
        const QString target = QDir(file->dir()).filePath(QStringLiteral("backup.mdb"));
        dravon::pg::backupServerDatabase(db.address(), target);
        const QString backedUp = testsupport::serverState(db);
        db.exec(QStringLiteral("INSERT INTO \"TeacherInfo\" (\"TeacherID\") VALUES ('0099'); DELETE FROM \"Score\""));

        ProgramConnection program;
        const QDateTime now(QDate(2026, 12, 8), QTime(9, 30, 5));
        const QString kept = dravon::pg::restoreServerDatabase(target, db.address(), program.hooks(db.address()), now);
        QCOMPARE(kept, db.name() + QStringLiteral("_before_20261208_093005"));
        QCOMPARE(program.calls, QStringList({QStringLiteral("close"), QStringLiteral("reopen")}));
        QCOMPARE(testsupport::serverState(db), backedUp);
        // The replaced rows stay in the kept database; no half-restored database is left.
        QCOMPARE(TestServer::instance().query(kept, QStringLiteral("SELECT count(*) FROM \"TeacherInfo\" WHERE \"TeacherID\" = '0099'")),
                 QStringList(QStringLiteral("1")));
        QVERIFY2(!databases().join(QLatin1Char(',')).contains(QStringLiteral("_restoring_")), qPrintable(databases().join(',')));
        TestServer::instance().dropDatabase(kept);
    }

    void refusedRestoreChangesNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("calls");
        const QStringList none;
        const QStringList closedAndReopened = {QStringLiteral("close"), QStringLiteral("reopen")};
        QTest::newRow("not a backup") << QStringLiteral("text file") << QStringLiteral("不是服务器数据库的备份文件") << none;
        QTest::newRow("another program's database") << QStringLiteral("foreign") << QStringLiteral("不是本程序的数据库") << none;
        QTest::newRow("another program connected")
            << QStringLiteral("connected") << QStringLiteral("还有其他程序连接着这个数据库") << closedAndReopened;
        QTest::newRow("the restored database does not open")
            << QStringLiteral("reopen") << QStringLiteral("已恢复原数据库")
            << QStringList({QStringLiteral("close"), QStringLiteral("reopen"), QStringLiteral("reopen")});
        // A backup of the program's tables changed by hand: each difference is named.
        QTest::newRow("a column missing") << QStringLiteral("ALTER TABLE \"Score\" DROP COLUMN \"Remark\"")
                                          << QStringLiteral("缺少列 Score.Remark") << none;
        QTest::newRow("an index missing") << QStringLiteral("DROP INDEX \"Score_StudentID\"")
                                          << QStringLiteral("缺少索引 Score_StudentID") << none;
        QTest::newRow("a column of another type")
            << QStringLiteral("ALTER TABLE \"TeacherInfo\" ALTER COLUMN \"TchAge\" TYPE integer")
            << QStringLiteral("列 TeacherInfo.TchAge 不同") << none;
        QTest::newRow("a foreign trigger")
            << QStringLiteral("CREATE FUNCTION stamp() RETURNS trigger LANGUAGE plpgsql AS 'BEGIN RETURN NEW; END';"
                              "CREATE TRIGGER stamp BEFORE INSERT ON \"Score\" FOR EACH ROW EXECUTE FUNCTION stamp()")
            << QStringLiteral("多出触发器 Score.stamp") << none;
    }

    void refusedRestoreChangesNothing()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QFETCH(QStringList, calls);
        const auto file = testsupport::seededFile();
        ServerDatabase db;
        dravon::pg::migrateFileToServer(file->dbPath(), db.address());
        const QString candidate = QDir(file->dir()).filePath(QStringLiteral("candidate.mdb"));
        if (fault == QLatin1String("text file")) {
            writeFile(candidate, "not a dump");
        } else if (fault == QLatin1String("foreign")) {
            ServerDatabase other;
            other.exec(QStringLiteral("CREATE TABLE invoices (id int)"));
            dravon::pg::backupServerDatabase(other.address(), candidate);
        } else if (fault.contains(QLatin1Char(' '))) {
            // A copy of the program's database, changed by this statement.
            ServerDatabase altered;
            dravon::pg::migrateFileToServer(file->dbPath(), altered.address());
            altered.exec(fault);
            dravon::pg::backupServerDatabase(altered.address(), candidate);
        } else {
            dravon::pg::backupServerDatabase(db.address(), candidate);
        }
        db.exec(QStringLiteral("DELETE FROM \"Score\" WHERE \"Id\" < 100"));
        const QString before = testsupport::serverState(db);
        const QStringList databasesBefore = databases();

        std::unique_ptr<dravon::pg::Session> stillConnected;
        if (fault == QLatin1String("connected"))
            stillConnected = std::make_unique<dravon::pg::Session>(db.address());
        ProgramConnection program;
        program.failingReopens = fault == QLatin1String("reopen") ? 1 : 0;
        try {
            dravon::pg::restoreServerDatabase(candidate, db.address(), program.hooks(db.address()));
            QFAIL("the restore went through");
        } catch (const dravon::Error &e) {
            QVERIFY2(e.text().startsWith(QStringLiteral("还原服务器上的数据库 %1 ").arg(db.address().display())),
                     qPrintable(e.text()));
            QVERIFY2(e.text().contains(message), qPrintable(e.text()));
        }
        QCOMPARE(program.calls, calls);
        stillConnected.reset();
        QCOMPARE(databases(), databasesBefore);
        QCOMPARE(testsupport::serverState(db), before);
    }

    void windowBacksUpAndRestoresTheServerDatabase()
    {
        const auto ws = testsupport::seededFile();
        ServerDatabase db;
        dravon::pg::migrateFileToServer(ws->dbPath(), db.address());
        // The program works on the server, its password where libpq looks for it.
        qputenv("PGPASSWORD", db.address().password.toUtf8());
        dravon::pg::ServerAddress stored = db.address();
        stored.password.clear();
        WriteServerAddress(ws->iniPath(), stored);
        SetServerWayOfferedForTesting(true);
        QStringList answers;
        SetFileDialogHandler([&answers](QFileDialog *) { return answers.isEmpty() ? QString() : answers.takeFirst(); });
        auto restoreSettings = qScopeGuard([] {
            qunsetenv("PGPASSWORD");
            SetServerWayOfferedForTesting(false);
            SetFileDialogHandler({});
        });
        testsupport::MessageRecorder rec;
        TDM dm;
        QVERIFY(dm.ADOConn.isServer() && dm.ADOConn.isOpen());
        TfrmBackupData window(nullptr);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QString backup = QDir(ws->dir()).filePath(QStringLiteral("期末备份"));
        answers << backup;
        QTest::mouseClick(window.btnBackup, Qt::LeftButton);
        QCOMPARE(rec.texts(), QStringList(QStringLiteral("备份成功!")));
        QVERIFY(fileText(backup + QStringLiteral(".mdb")).startsWith("PGDMP"));
        const QString backedUp = testsupport::serverState(db);
        db.exec(QStringLiteral("DELETE FROM \"Score\""));
        const QString changed = testsupport::serverState(db);

        // Another program still connected: refused, nothing changed, the program's connection open again.
        {
            dravon::pg::Session other(db.address());
            answers << backup + QStringLiteral(".mdb");
            QTest::mouseClick(window.btnRestore, Qt::LeftButton);
        }
        QVERIFY2(rec.last().text.startsWith(QStringLiteral("还原失败!")), qPrintable(rec.last().text));
        QVERIFY2(rec.last().text.contains(QStringLiteral("数据库: 服务器上的数据库 %1").arg(db.address().display()))
                     && rec.last().text.contains(QStringLiteral("还有其他程序连接着这个数据库")),
                 qPrintable(rec.last().text));
        QCOMPARE(testsupport::serverState(db), changed);
        QVERIFY(dm.ADOConn.isOpen());

        answers << backup + QStringLiteral(".mdb");
        QTest::mouseClick(window.btnRestore, Qt::LeftButton);
        const QString prefix = QStringLiteral("还原成功!\n原数据库已保存为 服务器上的数据库 ") + db.name() + QStringLiteral("_before_");
        QVERIFY2(rec.last().text.startsWith(prefix), qPrintable(rec.last().text));
        QVERIFY2(rec.last().text.contains(QStringLiteral("不再需要的旧数据库可以在“旧数据库…”中删除。")),
                 qPrintable(rec.last().text));
        // The backup's rows and log, with the restore noted in the log.
        auto withoutBatches = [](const QString &state) {
            QStringList lines = state.split(QLatin1Char('\n'));
            lines.removeIf([](const QString &line) { return line.startsWith(QLatin1String("ChangeBatch=")); });
            return lines;
        };
        QCOMPARE(withoutBatches(testsupport::serverState(db)), withoutBatches(backedUp));
        QVERIFY(backedUp.startsWith(QLatin1String("ChangeBatch=\n")));
        QCOMPARE(db.query(QStringLiteral("SELECT \"Action\" || '|' || \"Window\" || '|' || \"Description\" FROM \"ChangeBatch\"")),
                 QStringList(QStringLiteral("还原|frmBackupData|从备份文件 %1 还原数据库")
                                 .arg(QDir::toNativeSeparators(backup + QStringLiteral(".mdb")))));
        // The program goes on with the restored rows.
        QVERIFY(dm.ADOConn.isOpen());
        QVERIFY(SQLSearch(QStringLiteral("SELECT * FROM Score WHERE StudentID = '0000001'"), dm.ADOConn));

        // The kept database is listed in 旧数据库… and goes once the clerk confirms.
        const QString kept = rec.last().text.section(QLatin1Char('\n'), 1, 1).section(QLatin1Char(' '), -1);
        QVERIFY(databases().contains(kept));
        QVERIFY(window.btnKeptDatabases->isVisible());
        QStringList listed;
        testsupport::whenModal<TfrmKeptDatabases>([&](TfrmKeptDatabases *dialog) {
            for (int r = 0; r < dialog->lstKept->rowCount(); ++r)
                listed << dialog->lstKept->item(r, 0)->text();
            rec.answer(QMessageBox::Yes);
            QTest::mouseClick(dialog->btnDrop, Qt::LeftButton);
            QTest::mouseClick(dialog->btnClose, Qt::LeftButton);
        });
        QTest::mouseClick(window.btnKeptDatabases, Qt::LeftButton);
        QCOMPARE(listed, QStringList(kept));
        QVERIFY(!databases().contains(kept));
        QVERIFY(databases().contains(db.name()));
    }

    // Only the databases restores of this database kept are listed, newest
    // first; one is dropped only after the clerk says 是, never the database
    // itself or another one, and not while a program is connected to it.
    void keptDatabasesAreListedAndDroppedOnlyWhenConfirmed()
    {
        ServerDatabase db;
        TestServer &server = TestServer::instance();
        const QString n = db.name();
        const QStringList kept = {n + QStringLiteral("_before_20261203_093005_2"), n + QStringLiteral("_before_20261203_093005"),
                                  n + QStringLiteral("_before_20261201_080000")};
        const QStringList others = {n + QStringLiteral("_before_yesterday"), n + QStringLiteral("x_before_20261201_080000"),
                                    n + QStringLiteral("_before_20261201_080000_1"), n + QStringLiteral("_before_20261301_080000")};
        for (const QString &name : kept + others)
            server.exec(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
        auto dropAll = qScopeGuard([&] {
            for (const QString &name : kept + others)
                server.exec(QStringLiteral("postgres"), QStringLiteral("DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)").arg(name));
        });

        const QList<dravon::pg::KeptDatabase> listed = dravon::pg::keptDatabases(db.address());
        QStringList names;
        for (const auto &k : listed)
            names << k.name;
        QCOMPARE(names, kept);
        QCOMPARE(listed.last().keptAt, QDateTime(QDate(2026, 12, 1), QTime(8, 0)));
        QVERIFY(listed.last().bytes > 0);

        for (const QString &name : {n, others.first(), others.at(2)}) {
            try {
                dravon::pg::dropKeptDatabase(db.address(), name);
                QFAIL(qPrintable(name + QStringLiteral(" was dropped")));
            } catch (const dravon::Error &e) {
                QVERIFY2(e.text().contains(QStringLiteral("没有删除")), qPrintable(e.text()));
            }
        }
        {
            dravon::pg::Session connected(server.address(kept.last()));
            try {
                dravon::pg::dropKeptDatabase(db.address(), kept.last());
                QFAIL("a database in use was dropped");
            } catch (const dravon::Error &e) {
                QVERIFY2(e.text().contains(QStringLiteral("还有程序连接着这个数据库")), qPrintable(e.text()));
            }
        }

        testsupport::MessageRecorder rec;
        TfrmKeptDatabases dialog(db.address(), nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.lstKept->rowCount(), 3);
        QCOMPARE(dialog.lstKept->item(2, 1)->text(), QStringLiteral("2026-12-01 08:00:00"));
        const QRect second = dialog.lstKept->visualItemRect(dialog.lstKept->item(1, 1));
        QTest::mouseClick(dialog.lstKept->viewport(), Qt::LeftButton, {}, second.center());
        rec.answer(QMessageBox::No);
        QTest::mouseClick(dialog.btnDrop, Qt::LeftButton);
        QCOMPARE(rec.messages.size(), 1);
        QVERIFY2(rec.last().text.contains(kept.at(1)) && rec.last().text.contains(QStringLiteral("2026-12-03 09:30:05")),
                 qPrintable(rec.last().text));
        QCOMPARE(rec.last().defaultButton, QMessageBox::No);
        QCOMPARE(dialog.lstKept->rowCount(), 3);
        QVERIFY(databases().contains(kept.at(1)));

        rec.answer(QMessageBox::Yes);
        QTest::mouseClick(dialog.btnDrop, Qt::LeftButton);
        QCOMPARE(rec.messages.size(), 2);
        QCOMPARE(dialog.lstKept->rowCount(), 2);
        const QStringList after = databases();
        QVERIFY(!after.contains(kept.at(1)));
        for (const QString &name : QStringList{n, kept.first(), kept.last()} + others)
            QVERIFY2(after.contains(name), qPrintable(name));
    }
};

QTEST_MAIN(TestServerBackup)
#include "tst_serverbackup.moc"
