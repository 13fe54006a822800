// The connection's server way: the login and the password change run on the
// server through the dialect; a refused login leaves the connection closed;
// the configuration file keeps its file key and adds the server's; the
// password goes only into libpq's password file, which the connection then
// uses; the data module connects to the server the configuration names.
#include "app/DM_Unit.h"
#include "data/Dravon.h"
#include "data/ProgramSettings.h"
#include "data/ServerSettings.h"
#include "data/SettingsClient.h"
#include "support/TestServer.h"
#include "support/TestWorkspace.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::ServerDatabase;
using testsupport::TestWorkspace;

namespace {

QByteArray fileText(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Points libpq at a password file of the test's own.
class PasswordFile
{
public:
    PasswordFile() : m_path(m_dir.filePath(QStringLiteral("pgpass"))) { qputenv("PGPASSFILE", QFile::encodeName(m_path)); }
    ~PasswordFile() { qunsetenv("PGPASSFILE"); }
    QString path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

}

class TestServerConnection : public QObject
{
    Q_OBJECT

private slots:
    void loginAndPasswordChangeOnTheServer()
    {
        ServerDatabase db;
        dravon::Connection conn;
        conn.setServerAddress(db.address());
        conn.open();
        QVERIFY(conn.isOpen());
        QCOMPARE(conn.dialect().engine(), dravon::Engine::Postgres);
        QVERIFY(conn.nativeHandle() == nullptr);
        const QString login = QStringLiteral("SELECT * FROM [User] WHERE UserID=");
        QVERIFY(SQLSearch(login + dravon::QuotedStr(QStringLiteral("1001")) + QStringLiteral(" AND UserPassword=")
                              + dravon::QuotedStr(QStringLiteral("admin")),
                          conn));
        QVERIFY(!SQLSearch(login + dravon::QuotedStr(QStringLiteral("1001")) + QStringLiteral(" AND UserPassword=")
                               + dravon::QuotedStr(QStringLiteral("x' OR '1'='1")),
                           conn));
        SQLExecute(QStringLiteral("Update [User] Set UserPassword=") + dravon::QuotedStr(QStringLiteral("it's new"))
                       + QStringLiteral(" where UserID=") + dravon::QuotedStr(QStringLiteral("1001")),
                   conn);
        QCOMPARE(db.query(QStringLiteral("SELECT \"UserPassword\" FROM \"User\"")), QStringList(QStringLiteral("it's new")));
        // A refused statement names the program's statement and the server's reason.
        try {
            SQLExecute(QStringLiteral("Update [User] Set NoSuchColumn='1'"), conn);
            QFAIL("the server took an unknown column");
        } catch (const dravon::Error &e) {
            QVERIFY2(e.text().contains(QStringLiteral("Update [User] Set NoSuchColumn")) && e.text().contains(QStringLiteral("nosuchcolumn")),
                     qPrintable(e.text()));
        }
        // The session goes on after a refusal.
        QVERIFY(SQLSearch(QStringLiteral("Select * From [User]"), conn));
        conn.close();
        QVERIFY(!conn.isOpen());
        QVERIFY_THROWS_EXCEPTION(dravon::Error, SQLSearch(QStringLiteral("Select * From [User]"), conn));
    }

    void refusedLoginLeavesTheConnectionClosed()
    {
        ServerDatabase db;
        dravon::pg::ServerAddress wrong = db.address();
        wrong.password = QStringLiteral("not-it");
        dravon::Connection conn;
        conn.setServerAddress(wrong);
        QVERIFY_THROWS_EXCEPTION(dravon::pg::ServerError, conn.open());
        QVERIFY(!conn.isOpen());
        // Nothing was set up in the database.
        QCOMPARE(db.query(QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_schema = 'public'")),
                 QStringList(QStringLiteral("0")));
    }

    void configurationKeepsTheFileKey()
    {
        TestWorkspace ws;
        const QByteArray fileOnly = fileText(ws.iniPath());
        QVERIFY(!ReadServerAddress(ws.iniPath()));
        ChooseDatabaseFile(ws.iniPath());
        QCOMPARE(fileText(ws.iniPath()), fileOnly);

        dravon::pg::ServerAddress a;
        a.host = QStringLiteral("db.school.local");
        a.port = 5433;
        a.database = QStringLiteral("teach");
        a.user = QStringLiteral("clerk");
        a.password = QStringLiteral("never-stored");
        WriteServerAddress(ws.iniPath(), a);
        const QString ini = QString::fromUtf8(fileText(ws.iniPath()));
        QVERIFY2(ini.contains(QStringLiteral("DBConFileName=") + ws.dbPath()), qPrintable(ini));
        QVERIFY2(ini.contains(QStringLiteral("Engine=PostgreSQL")) && !ini.contains(QStringLiteral("never-stored")),
                 qPrintable(ini));
        a.password.clear();
        QCOMPARE(ReadServerAddress(ws.iniPath()), std::optional<dravon::pg::ServerAddress>(a));
        QCOMPARE(ReadDBFileName(ws.iniPath()), ws.dbPath());
        ChooseDatabaseFile(ws.iniPath());
        QVERIFY(!ReadServerAddress(ws.iniPath()));
        QCOMPARE(ReadDBFileName(ws.iniPath()), ws.dbPath());
    }

    void passwordFileLines_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("new file") << QString() << QStringLiteral("h:5432:teach:clerk:pw\n");
        QTest::newRow("other lines kept, ours added")
            << QStringLiteral("other:5432:*:x:y\n") << QStringLiteral("other:5432:*:x:y\nh:5432:teach:clerk:pw\n");
        QTest::newRow("ours replaced in place, a duplicate dropped")
            << QStringLiteral("a:1:b:c:d\nh:5432:teach:clerk:old\nz:2:*:*:e\nh:5432:teach:clerk:older")
            << QStringLiteral("a:1:b:c:d\nh:5432:teach:clerk:pw\nz:2:*:*:e\n");
        QTest::newRow("another port is another line")
            << QStringLiteral("h:5433:teach:clerk:old\n") << QStringLiteral("h:5433:teach:clerk:old\nh:5432:teach:clerk:pw\n");
    }

    void passwordFileLines()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        dravon::pg::ServerAddress a{QStringLiteral("h"), 5432, QStringLiteral("teach"), QStringLiteral("clerk"),
                                    QStringLiteral("pw")};
        QCOMPARE(WithPassword(before, a), after);
        a.password = QStringLiteral("a:b\\c");
        QCOMPARE(WithPassword(QString(), a), QStringLiteral("h:5432:teach:clerk:a\\:b\\\\c\n"));
    }

    void storedPasswordIsUsedToConnect()
    {
        ServerDatabase db;
        PasswordFile passwords;
        // A clerk's own role that owns the database, with a password the file must escape.
        const QString role = QStringLiteral("clerk_") + db.name();
        db.exec(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD 'pw:with\\specials'; ALTER DATABASE %2 OWNER TO %1")
                    .arg(role, db.name()));
        dravon::pg::ServerAddress a = db.address();
        a.user = role;
        a.password = QStringLiteral("pw:with\\specials");
        StorePassword(a);
        const auto mode = QFile(passwords.path()).permissions();
        QVERIFY(mode.testFlag(QFileDevice::ReadOwner));
        QVERIFY(!(mode & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther)));
        a.password.clear();
        dravon::Connection conn;
        conn.setServerAddress(a);
        conn.open();
        QVERIFY(SQLSearch(QStringLiteral("Select * From [User] where UserID='1001'"), conn));
    }

    void dataModuleConnectsToTheConfiguredServer()
    {
        TestWorkspace ws;
        ServerDatabase db;
        PasswordFile passwords;
        StorePassword(db.address());
        dravon::pg::ServerAddress a = db.address();
        WriteServerAddress(ws.iniPath(), a);
        SetServerWayOfferedForTesting(true);
        {
            TDM dm;
            QVERIFY(dm.ADOConn.isOpen());
            QVERIFY(dm.ADOConn.isServer());
        }
        // Without the server way the same file opens the database file.
        SetServerWayOfferedForTesting(false);
        TDM dm;
        QVERIFY(dm.ADOConn.isOpen());
        QVERIFY(!dm.ADOConn.isServer());
    }
};

QTEST_MAIN(TestServerConnection)
#include "tst_serverconnection.moc"
