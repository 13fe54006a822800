#include "support/TestServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <cstdlib>
#include <utility>

namespace testsupport {

namespace {

QString script()
{
    return QStringLiteral(VELTRANA_SOURCE_DIR "/scripts/pg-test-server.sh");
}

// Runs the script; its standard output, or a fatal failure with its errors.
QString runScript(const QStringList &arguments)
{
    QProcess p;
    p.start(script(), arguments);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qFatal("pg-test-server.sh %s failed: %s", qPrintable(arguments.value(0)),
               p.readAllStandardError().constData());
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

}

TestServer &TestServer::instance()
{
    static TestServer server;
    return server;
}

TestServer::TestServer()
{
    // "<folder> <port>", as the script prints it: of the run's server, or of one of this program's own.
    QString started;
    const QString runServer = qEnvironmentVariable("VELTRANA_TEST_SERVER");
    if (!runServer.isEmpty()) {
        QFile file(runServer);
        if (!file.open(QIODevice::ReadOnly))
            qFatal("the test run's server should be named in %s: %s", qPrintable(runServer), qPrintable(file.errorString()));
        started = QString::fromUtf8(file.readAll()).trimmed();
        m_shared = true;
    } else {
        started = runScript({QStringLiteral("start"), password(), QString::number(QCoreApplication::applicationPid())});
    }
    const QStringList out = started.split(QLatin1Char(' '));
    if (out.size() != 2 || out.at(1).toInt() <= 0)
        qFatal("not a test server's folder and port: %s", qPrintable(started));
    m_folder = out.at(0);
    m_port = out.at(1).toInt();
}

TestServer::~TestServer()
{
    // The run's server goes at the end of the run, with this program's databases.
    if (m_shared)
        return;
    // At exit, without an event loop: a plain command.
    const QByteArray command = QFile::encodeName(script()) + " remove '" + QFile::encodeName(m_folder) + "'";
    if (std::system(command.constData()) != 0)
        fprintf(stderr, "the test server in %s was not removed\n", qPrintable(m_folder));
}

QString TestServer::password()
{
    return QStringLiteral(VELTRANA_TEST_SERVER_PASSWORD);
}

dravon::pg::ServerAddress TestServer::address(const QString &database) const
{
    dravon::pg::ServerAddress a;
    a.host = QStringLiteral("127.0.0.1");
    a.port = m_port;
    a.database = database;
    a.user = user();
    a.password = password();
    return a;
}

QString TestServer::createDatabase(const QString &templateName)
{
    const QString name = QStringLiteral("test_%1_%2").arg(QCoreApplication::applicationPid()).arg(++m_databases);
    exec(QStringLiteral("postgres"), templateName.isEmpty()
                                         ? QStringLiteral("CREATE DATABASE %1").arg(name)
                                         : QStringLiteral("CREATE DATABASE %1 TEMPLATE %2").arg(name, templateName));
    return name;
}

void TestServer::dropDatabase(const QString &name)
{
    exec(QStringLiteral("postgres"), QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
}

void TestServer::exec(const QString &database, const QString &sql) const
{
    try {
        dravon::pg::Session session(address(database));
        session.execScript(sql);
    } catch (const dravon::Error &e) {
        qFatal("SQL failed on the test server: %s\n%s", qPrintable(e.text()), qPrintable(sql.left(500)));
    }
}

QStringList TestServer::query(const QString &database, const QString &sql) const
{
    try {
        dravon::pg::Session session(address(database));
        const dravon::pg::Result r = session.exec(sql);
        QStringList rows;
        for (int i = 0; i < r.rows(); ++i)
            rows << r.text(i, 0);
        return rows;
    } catch (const dravon::Error &e) {
        qFatal("query failed on the test server: %s\n%s", qPrintable(e.text()), qPrintable(sql.left(500)));
    }
}

void TestServer::stop()
{
    if (m_shared)
        qFatal("this suite stops its server: it must keep its own, not the run's (tests/CMakeLists.txt)");
    runScript({QStringLiteral("stop"), m_folder});
}

void TestServer::start()
{
    if (m_shared)
        qFatal("this suite restarts its server: it must keep its own, not the run's (tests/CMakeLists.txt)");
    runScript({QStringLiteral("restart"), m_folder});
}

ServerDatabase::ServerDatabase(const QString &templateName)
    : m_name(TestServer::instance().createDatabase(templateName))
{
}

ServerDatabase::ServerDatabase(Existing existing)
    : m_name(std::move(existing.name))
{
}

ServerDatabase::~ServerDatabase()
{
    if (!m_name.isEmpty())
        TestServer::instance().dropDatabase(m_name);
}

QString ServerDatabase::release()
{
    return std::exchange(m_name, QString());
}

}
