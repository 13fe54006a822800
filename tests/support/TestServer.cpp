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
    const QStringList out = runScript({QStringLiteral("start"), password(),
                                       QString::number(QCoreApplication::applicationPid())})
                                .split(QLatin1Char(' '));
    if (out.size() != 2)
        qFatal("pg-test-server.sh start printed %s", qPrintable(out.join(QLatin1Char(' '))));
    m_folder = out.at(0);
    m_port = out.at(1).toInt();
}

TestServer::~TestServer()
{
    // At exit, without an event loop: a plain command.
    const QByteArray command = QFile::encodeName(script()) + " remove '" + QFile::encodeName(m_folder) + "'";
    if (std::system(command.constData()) != 0)
        fprintf(stderr, "the test server in %s was not removed\n", qPrintable(m_folder));
}

QString TestServer::password()
{
    return QStringLiteral("test-secret-1");
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
    const QString name = QStringLiteral("test_%1").arg(++m_databases);
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
    runScript({QStringLiteral("stop"), m_folder});
}

void TestServer::start()
{
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
