// The connection's server way: the login and the password change run on the
// server through the dialect; a refused login leaves the connection closed;
// the configuration file keeps its file key and adds the server's; the
// password goes only into libpq's password file, which the connection then
// uses; the data module connects to the server the configuration names; the
// setup dialog takes a server, typed and clicked, tests it and stores it.
#include "app/DBSetup_Unit.h"
#include "app/DM_Unit.h"
#include "data/Dravon.h"
#include "data/ProgramSettings.h"
#include "data/ServerSettings.h"
#include "data/SettingsClient.h"
#include "data/server/WorkerSession.h"
#include "gui/ServerAddressBox.h"
#include "gui/SharedConnection.h"
#include "support/GuiHelpers.h"
#include "support/TestServer.h"
#include "support/TestWorkspace.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

// A route to the test server: it carries the program's connections both
// ways until cut; then it ends them and takes new ones without ever
// answering, as a host that cannot be reached (each attempt to connect
// waits for its timeout) until mended.
class ServerRoute
{
public:
    explicit ServerRoute(int serverPort) : m_serverPort(serverPort)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(0);
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_listener, 16);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { carry(); });
    }
    ~ServerRoute()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    int port() const { return m_port; }
    void cut() { m_cut = true; }
    void mend() { m_cut = false; }

private:
    static sockaddr_in loopback(int port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return address;
    }
    void carry()
    {
        std::vector<std::pair<int, int>> routes;  // the program's end, the server's end
        std::vector<int> unanswered;
        auto closeAll = [](auto &fds, auto close) {
            for (auto fd : fds)
                close(fd);
            fds.clear();
        };
        auto closePair = [](const std::pair<int, int> &p) {
            ::close(p.first);
            ::close(p.second);
        };
        while (!m_stop) {
            if (m_cut)
                closeAll(routes, closePair);
            else
                closeAll(unanswered, ::close);
            std::vector<pollfd> fds{{m_listener, POLLIN, 0}};
            for (const auto &r : routes) {
                fds.push_back({r.first, POLLIN, 0});
                fds.push_back({r.second, POLLIN, 0});
            }
            ::poll(fds.data(), fds.size(), 20);
            std::vector<std::pair<int, int>> open;
            for (size_t i = 0; i < routes.size(); ++i) {
                bool alive = true;
                for (int side = 0; side < 2 && alive; ++side) {
                    if (!(fds[1 + 2 * i + side].revents & (POLLIN | POLLHUP | POLLERR)))
                        continue;
                    const int from = side == 0 ? routes[i].first : routes[i].second;
                    const int to = side == 0 ? routes[i].second : routes[i].first;
                    char buffer[16384];
                    const ssize_t n = ::read(from, buffer, sizeof buffer);
                    alive = n > 0 && ::write(to, buffer, size_t(n)) == n;
                }
                if (alive)
                    open.push_back(routes[i]);
                else
                    closePair(routes[i]);
            }
            routes = open;
            if (fds[0].revents & POLLIN) {
                const int client = ::accept(m_listener, nullptr, nullptr);
                if (client < 0)
                    continue;
                if (m_cut) {
                    unanswered.push_back(client);
                    continue;
                }
                const int server = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in address = loopback(m_serverPort);
                if (::connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
                    routes.push_back({client, server});
                } else {
                    ::close(server);
                    ::close(client);
                }
            }
        }
        closeAll(routes, closePair);
        closeAll(unanswered, ::close);
    }

    int m_serverPort;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_cut{false};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
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

    // Statements sent at once that all succeed while the end of the batch
    // fails (here a deferred check at its implicit commit; a statement
    // timeout that strikes after the last statement is the same): the
    // failure is thrown, nothing is kept, and the session goes on.
    void pipelineFailingAtItsEndIsThrownAndTheSessionGoesOn()
    {
        ServerDatabase db;
        dravon::pg::Session session(db.address());
        session.exec(QStringLiteral("CREATE TABLE deferred_keys (k int UNIQUE DEFERRABLE INITIALLY DEFERRED)"));
        try {
            session.pipeline({QStringLiteral("INSERT INTO deferred_keys VALUES (1)"),
                              QStringLiteral("INSERT INTO deferred_keys VALUES (1)")});
            QFAIL("a failed end of the statements was not reported");
        } catch (const dravon::pg::ServerError &e) {
            QVERIFY2(e.uniqueViolation(), qPrintable(e.text()));
        }
        QCOMPARE(session.exec(QStringLiteral("SELECT count(*) FROM deferred_keys")).value(0, 0).toLongLong(), 0);
        const std::vector<dravon::pg::Result> next = session.pipeline({QStringLiteral("SELECT 1"), QStringLiteral("SELECT 2")});
        QCOMPARE(next.back().value(0, 0).toLongLong(), 2);
    }

    // The first results of statements sent at once are taken as soon as the
    // server has them, not when a later statement ends (a window's first page
    // waited for the read of more rows sent after it): here the later
    // statement waits for a lock that another session holds until then.
    void firstResultsComeBeforeTheLaterStatementsEnd()
    {
        ServerDatabase db;
        dravon::pg::Session holder(db.address()), session(db.address());
        holder.exec(QStringLiteral("CREATE TABLE held (k int)"));
        holder.exec(QStringLiteral("INSERT INTO held VALUES (7)"));
        holder.exec(QStringLiteral("BEGIN"));
        holder.exec(QStringLiteral("LOCK TABLE held IN ACCESS EXCLUSIVE MODE"));
        auto later = std::make_shared<dravon::pg::LaterResults>();
        const std::vector<dravon::pg::Result> first = session.pipelineAhead(
            {QStringLiteral("BEGIN"), QStringLiteral("SELECT 1"), QStringLiteral("SET LOCAL lock_timeout = '3s'"),
             QStringLiteral("SELECT k FROM held"), QStringLiteral("ROLLBACK")},
            2, later);
        QCOMPARE(first.size(), size_t(2));
        QCOMPARE(first.back().value(0, 0).toLongLong(), 1);
        // The later read still waits for the lock.
        QVERIFY(!session.settle(false));
        QVERIFY(!later->done);
        holder.exec(QStringLiteral("COMMIT"));
        QVERIFY(session.settle());
        QVERIFY(later->done);
        QVERIFY2(!later->error, later->error ? qPrintable(later->error->text()) : "");
        QCOMPARE(later->results.size(), size_t(3));
        QCOMPARE(later->results[1].value(0, 0).toLongLong(), 7);
        QCOMPARE(session.exec(QStringLiteral("SELECT 2")).value(0, 0).toLongLong(), 2);
    }

    // A worker's cancel is never lost: one that came while its session was
    // idle (the server drops it there) stops the next statement and copy at
    // once, and one that comes while a statement is being begun is asked
    // again until the statement ends.
    void aWorkersCancelIsNeverLost()
    {
        ServerDatabase db;
        const QString sleep = QStringLiteral("SELECT pg_sleep(5)");
        const auto run = [&](dravon::pg::Session &session, bool copy) {
            try {
                if (copy)
                    session.copyOut(QStringLiteral("COPY (%1) TO STDOUT").arg(sleep), [](dravon::pg::CopyRow &&) { return true; });
                else
                    session.exec(sleep);
            } catch (const dravon::pg::ServerError &e) {
                return e.sqlState();
            }
            return QStringLiteral("ran to its end");
        };
        {
            dravon::pg::Canceller canceller;
            dravon::pg::WorkerSession worker(db.address(), canceller);
            canceller.cancel();
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(run(worker.session(), false), QStringLiteral("57014"));
            QCOMPARE(run(worker.session(), true), QStringLiteral("57014"));
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        }
        for (const bool copy : {false, true}) {
            for (const int delayUs : {0, 300, 1000, 3000, 10000}) {
                dravon::pg::Canceller canceller;
                dravon::pg::WorkerSession worker(db.address(), canceller);
                QString state;
                std::thread statement([&] { state = run(worker.session(), copy); });
                std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
                QElapsedTimer clock;
                clock.start();
                canceller.cancel();
                statement.join();
                QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
                QCOMPARE(state, QStringLiteral("57014"));
            }
        }
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

    // A server older than the program supports is refused at connect, naming
    // its version, both when the program connects and when the dialog tests
    // the address; nothing is set up in it. (Only PostgreSQL 15 is installed:
    // the session is told to take the server for a 9.6 one.)
    void olderServerIsRefusedNamingItsVersion()
    {
        ServerDatabase db;
        dravon::pg::setServerVersionForTesting(90624, QStringLiteral("9.6.24"));
        auto ownVersion = qScopeGuard([] { dravon::pg::setServerVersionForTesting(0); });
        const QString expected = QStringLiteral("数据库服务器 %1 的版本是 9.6.24,本程序需要 PostgreSQL 10 或更新的版本。")
                                     .arg(db.address().display());
        dravon::Connection conn;
        conn.setServerAddress(db.address());
        try {
            conn.open();
            QFAIL("an older server was taken");
        } catch (const dravon::pg::ServerError &e) {
            QCOMPARE(e.text(), expected);
        }
        QVERIFY(!conn.isOpen());

        testsupport::MessageRecorder rec;
        ServerAddressBox box;
        box.showAddress(db.address());
        QTest::keyClicks(box.edtPassword, db.address().password);
        QTest::mouseClick(box.btnTestConnection, Qt::LeftButton);
        QCOMPARE(rec.last().icon, QMessageBox::Critical);
        QVERIFY2(rec.last().text.contains(expected), qPrintable(rec.last().text));
        dravon::pg::setServerVersionForTesting(0);
        QCOMPARE(db.query(QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_schema = 'public'")),
                 QStringList(QStringLiteral("0")));
    }

    // The server stopped under an open connection: the next statement says
    // the connection was lost, statements while the server is away say it
    // cannot be reached, and once it is back the connection goes on by
    // itself. A transaction begun before the loss is never reported as
    // committed on the new connection.
    void lostConnectionIsSaidAndTheConnectionComesBack()
    {
        ServerDatabase db;
        testsupport::TestServer &server = testsupport::TestServer::instance();
        dravon::Connection conn;
        conn.setServerAddress(db.address());
        conn.open();
        // The server runs again after the test, whatever fails in it.
        bool down = false;
        auto stop = [&] {
            // The test server commits without waiting for the disk and stops
            // as a crash would: what was committed is written first.
            server.exec(db.name(), QStringLiteral("CHECKPOINT"));
            server.stop();
            down = true;
        };
        auto start = [&] {
            server.start();
            down = false;
        };
        auto running = qScopeGuard([&] {
            if (down)
                start();
        });
        const QString update = QStringLiteral("Update [User] Set Remark='after' where UserID='1001'");

        stop();
        for (const QString &said : {QStringLiteral("的连接中断了,这次的操作没有完成,修改没有保存"),
                                    QStringLiteral("现在还连不上,这次的操作没有完成")}) {
            try {
                SQLExecute(update, conn);
                QFAIL("a statement ran with the server stopped");
            } catch (const dravon::Error &e) {
                QVERIFY2(e.text().contains(said), qPrintable(e.text()));
            }
        }
        start();
        // Tried again at the person's next action.
        dravon::Connection::noteUserAction();
        SQLExecute(update, conn);
        QCOMPARE(db.query(QStringLiteral("SELECT \"Remark\" FROM \"User\"")), QStringList(QStringLiteral("after")));
        QVERIFY(conn.isOpen());

        dravon::pg::Session &session = conn.session();
        try {
            session.transaction([&] {
                session.exec(QStringLiteral("INSERT INTO \"TeacherInfo\" (\"TeacherID\") VALUES ('lost')"));
                stop();
                // A caller that goes on after a failed statement.
                try {
                    session.exec(QStringLiteral("SELECT 1"));
                } catch (const dravon::Error &) {
                }
                start();
                QVERIFY(SQLSearch(QStringLiteral("Select * From [User]"), conn));
            });
            QFAIL("a transaction of the lost connection was reported committed");
        } catch (const dravon::pg::ServerError &e) {
            QVERIFY2(e.text().contains(QStringLiteral("连接中断过,这次的修改没有保存")), qPrintable(e.text()));
        }
        QCOMPARE(db.query(QStringLiteral("SELECT count(*) FROM \"TeacherInfo\"")), QStringList(QStringLiteral("0")));
        QVERIFY(SQLSearch(QStringLiteral("Select * From [User]"), conn));
    }

    // The server cannot be reached (each attempt to connect waits for the
    // timeout): the statement that finds the connection lost says so, the
    // next tries once to connect and says the server cannot be reached, and
    // the statements after it say the same at once. A key that answers a
    // message box is no new attempt; a key in a window is, and once the
    // server can be reached again the connection goes on.
    void unreachableServerIsTriedOncePerAction()
    {
        ServerDatabase db;
        ServerRoute route(testsupport::TestServer::instance().port());
        dravon::pg::ServerAddress address = db.address();
        address.port = route.port();
        dravon::Connection conn;
        conn.setServerAddress(address);
        conn.open();
        SetSharedConnection(&conn);
        auto unregister = qScopeGuard([] { SetSharedConnection(nullptr); });
        const QString update = QStringLiteral("Update [User] Set Remark='after' where UserID='1001'");
        auto attempt = [&](QString *failure) {
            QElapsedTimer clock;
            clock.start();
            try {
                SQLExecute(update, conn);
            } catch (const dravon::Error &e) {
                *failure = e.text();
            }
            return clock.elapsed();
        };

        route.cut();
        QString lost, unreachable;
        attempt(&lost);
        QVERIFY2(lost.contains(QStringLiteral("的连接中断了,这次的操作没有完成")), qPrintable(lost));
        const qint64 waited = attempt(&unreachable);
        QVERIFY2(unreachable.contains(QStringLiteral("现在还连不上,这次的操作没有完成")), qPrintable(unreachable));
        QVERIFY2(waited >= 4000, qPrintable(QString::number(waited)));
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Veltrana"), unreachable);
        box.show();
        QTest::keyClick(&box, Qt::Key_Space);
        for (int i = 0; i < 3; ++i) {
            QString again;
            const qint64 took = attempt(&again);
            QCOMPARE(again, unreachable);
            QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        }

        route.mend();
        QLineEdit edit;
        edit.show();
        QTest::keyClick(&edit, Qt::Key_A);
        QString none;
        attempt(&none);
        QCOMPARE(none, QString());
        QCOMPARE(db.query(QStringLiteral("SELECT \"Remark\" FROM \"User\"")), QStringList(QStringLiteral("after")));
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

    void setupDialogTakesAServer()
    {
        TestWorkspace ws;
        ServerDatabase db;
        PasswordFile passwords;
        ResetApplicationEndForTesting();
        testsupport::MessageRecorder rec;
        TDM dm;
        QVERIFY(dm.ADOConn.isOpen() && !dm.ADOConn.isServer());
        {
            // The build without the server way shows the file way only.
            TfrmDBSetup fileOnly(nullptr);
            QVERIFY(!fileOnly.findChild<QRadioButton *>() && !fileOnly.findChild<ServerAddressBox *>());
        }
        SetServerWayOfferedForTesting(true);
        auto offeredOnlyHere = qScopeGuard([] { SetServerWayOfferedForTesting(false); });
        TfrmDBSetup setup(nullptr);
        setup.show();
        QVERIFY(QTest::qWaitForWindowExposed(&setup));
        QVERIFY(setup.rdoFile->isChecked());
        QCOMPARE(setup.edtDBFilePath->text(), ws.dbPath());
        QVERIFY(!setup.grpServer->isEnabled());
        QTest::mouseClick(setup.rdoServer, Qt::LeftButton, {}, QPoint(5, setup.rdoServer->height() / 2));
        QVERIFY(setup.rdoServer->isChecked());
        QVERIFY(setup.grpServer->isEnabled() && !setup.btnFilePath->isEnabled());
        ServerAddressBox *box = setup.grpServer;

        // Nothing typed: the dialog says what it needs and connects nowhere.
        QTest::mouseClick(setup.btnOk, Qt::LeftButton);
        QCOMPARE(rec.texts(), QStringList(QStringLiteral("请填写服务器的主机、端口(1-65535)、数据库和用户!")));
        QVERIFY(box->edtHost->hasFocus());
        QVERIFY(dm.ADOConn.isOpen() && !dm.ADOConn.isServer());

        const dravon::pg::ServerAddress a = db.address();
        // Typed field after field, Tab between them, as a clerk does.
        auto typeThenTab = [](const QString &text) {
            QWidget *field = QApplication::focusWidget();
            QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(field, text);
            QTest::keyClick(field, Qt::Key_Tab);
        };
        for (const QString &text : {a.host, QStringLiteral("70000"), a.database, a.user, QStringLiteral("wrong")})
            typeThenTab(text);
        QCOMPARE(QApplication::focusWidget(), box->btnTestConnection);
        QCOMPARE(box->edtUser->text(), a.user);
        // A port out of range is refused before anything connects.
        QTest::keyClick(box->btnTestConnection, Qt::Key_Space);
        QCOMPARE(rec.last().text, QStringLiteral("请填写服务器的主机、端口(1-65535)、数据库和用户!"));
        QVERIFY(box->edtPort->hasFocus());
        QTest::keyClick(box->edtPort, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box->edtPort, QString::number(a.port));
        QTest::mouseClick(box->btnTestConnection, Qt::LeftButton);
        QVERIFY2(rec.last().text.startsWith(QStringLiteral("用户名或密码不正确")), qPrintable(rec.last().text));
        QCOMPARE(rec.last().icon, QMessageBox::Critical);
        // OK with the wrong password: the server's reason, then the usual message;
        // as with a file, a failed OK leaves the connection closed and writes nothing.
        const QByteArray iniBefore = fileText(ws.iniPath());
        QTest::mouseClick(setup.btnOk, Qt::LeftButton);
        QCOMPARE(rec.last().text, QStringLiteral("数据库连接失败!"));
        QVERIFY(!dm.ADOConn.isOpen() && !ApplicationEndRequested());
        QCOMPARE(fileText(ws.iniPath()), iniBefore);

        box->edtPassword->selectAll();
        QTest::keyClicks(box->edtPassword, a.password);
        QTest::mouseClick(box->btnTestConnection, Qt::LeftButton);
        QCOMPARE(rec.last().text, QStringLiteral("连接成功!\n数据库 %1 是空的,第一次连接时将建立本程序的数据表。").arg(a.database));
        // Testing sets nothing up and stores nothing.
        QCOMPARE(db.query(QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_schema = 'public'")),
                 QStringList(QStringLiteral("0")));
        QVERIFY(!QFile::exists(passwords.path()));

        QTest::mouseClick(setup.btnOk, Qt::LeftButton);
        QCOMPARE(rec.last().text, QStringLiteral("数据连接成功,请重新启动程序!"));
        QVERIFY(ApplicationEndRequested());
        QVERIFY(dm.ADOConn.isServer() && dm.ADOConn.isOpen());
        QCOMPARE(db.query(QStringLiteral("SELECT \"UserID\" FROM \"User\"")), QStringList(QStringLiteral("1001")));
        const QString ini = QString::fromUtf8(fileText(ws.iniPath()));
        QVERIFY2(ini.contains(QStringLiteral("ServerDatabase=") + a.database) && !ini.contains(a.password)
                     && ini.contains(QStringLiteral("DBConFileName=") + ws.dbPath()),
                 qPrintable(ini));
        QVERIFY(QString::fromUtf8(fileText(passwords.path())).contains(a.password));

        // The next start connects through the password file, and the dialog shows the server.
        ResetApplicationEndForTesting();
        TDM next;
        QVERIFY(next.ADOConn.isServer() && next.ADOConn.isOpen());
        TfrmDBSetup again(nullptr);
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QVERIFY(again.rdoServer->isChecked());
        QCOMPARE(again.grpServer->edtDatabase->text(), a.database);
        QCOMPARE(again.grpServer->edtPort->text(), QString::number(a.port));
        QVERIFY(again.grpServer->edtPassword->text().isEmpty());
        QTest::mouseClick(again.grpServer->btnTestConnection, Qt::LeftButton);
        QCOMPARE(rec.last().text, QStringLiteral("连接成功!\n数据库 %1 中有本程序的数据表。").arg(a.database));

        // Back to the file by the keyboard: the file key was kept all along.
        again.rdoFile->setFocus();
        QTest::keyClick(again.rdoFile, Qt::Key_Space);
        QVERIFY(again.rdoFile->isChecked() && again.btnFilePath->isEnabled());
        QTest::mouseClick(again.btnOk, Qt::LeftButton);
        QCOMPARE(rec.last().text, QStringLiteral("数据连接成功,请重新启动程序!"));
        QVERIFY(!ReadServerAddress(ws.iniPath()));
        QCOMPARE(ReadDBFileName(ws.iniPath()), ws.dbPath());
        QVERIFY(DM->ADOConn.isOpen() && !DM->ADOConn.isServer());
    }

    void testConnectionRefusesAnotherProgramsDatabase()
    {
        ServerDatabase db;
        db.exec(QStringLiteral("CREATE TABLE invoices (id int)"));
        testsupport::MessageRecorder rec;
        ServerAddressBox box;
        box.showAddress(db.address());
        QTest::keyClicks(box.edtPassword, db.address().password);
        QTest::mouseClick(box.btnTestConnection, Qt::LeftButton);
        QCOMPARE(rec.last().icon, QMessageBox::Critical);
        QVERIFY2(rec.last().text.contains(QStringLiteral("不是本程序的数据库")), qPrintable(rec.last().text));
        QCOMPARE(db.query(QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_schema = 'public'")),
                 QStringList(QStringLiteral("1")));
    }
};

QTEST_MAIN(TestServerConnection)
#include "tst_serverconnection.moc"
