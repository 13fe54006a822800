#pragma once
// A throw-away PostgreSQL server for the tests (scripts/pg-test-server.sh).
// A test run starts one for all its programs (a CTest fixture, see
// tests/CMakeLists.txt) and names it in the file VELTRANA_TEST_SERVER gives;
// a program run without it starts one of its own on first use, in a
// temporary folder, on a free local port, removed when the program ends (or
// dies). Each test takes a fresh database of its own, named after the
// program's process, so that programs running at once on the run's server
// never meet.
#include "data/server/PgSession.h"

#include <QString>
#include <memory>

namespace testsupport {

class TestServer
{
public:
    // The server of this test program: the run's, or its own, started by the first call.
    static TestServer &instance();
    // Whether the server is the test run's, shared with other programs.
    bool shared() const { return m_shared; }
    ~TestServer();

    int port() const { return m_port; }
    static QString user() { return QStringLiteral("veltrana"); }
    static QString password();
    // The address of a database on this server, as the superuser with its password.
    dravon::pg::ServerAddress address(const QString &database) const;

    // A new database with a name of its own: empty, or a copy of a template database.
    QString createDatabase(const QString &templateName = {});
    void dropDatabase(const QString &name);
    // Runs statements, or a query whose first column of every row is returned, as the superuser.
    void exec(const QString &database, const QString &sql) const;
    QStringList query(const QString &database, const QString &sql) const;

    // Fault tests: stop the server (open connections break) and start it again
    // on the same port. Only a program's own server: such a suite is not given the run's.
    void stop();
    void start();

private:
    TestServer();
    QString m_folder;
    int m_port = 0;
    int m_databases = 0;
    bool m_shared = false;
};

// A fresh database on the test server for one test, dropped afterwards.
class ServerDatabase
{
public:
    // templateName: a database of the test server to copy; empty for an empty one.
    explicit ServerDatabase(const QString &templateName = {});
    // A database of the test server made before (see release()), dropped afterwards.
    struct Existing
    {
        QString name;
    };
    explicit ServerDatabase(Existing existing);
    ~ServerDatabase();
    // Gives the database up without dropping it; its name.
    QString release();
    QString name() const { return m_name; }
    dravon::pg::ServerAddress address() const { return TestServer::instance().address(m_name); }
    void exec(const QString &sql) const { TestServer::instance().exec(m_name, sql); }
    QStringList query(const QString &sql) const { return TestServer::instance().query(m_name, sql); }

private:
    QString m_name;
};

}
