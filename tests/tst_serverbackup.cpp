// A server database's backup: the dump file holds every row (restored into
// another database it gives the same tables and rows), replaces an older
// backup of the same name only when complete, and a failed dump (wrong
// password, no such folder) leaves no file and an older backup as it was.
#include "data/server/Migration.h"
#include "data/server/ServerBackup.h"
#include "support/SeededData.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

using testsupport::ServerDatabase;

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
};

QTEST_MAIN(TestServerBackup)
#include "tst_serverbackup.moc"
