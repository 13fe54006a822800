#include "support/TestWorkspace.h"

#include "app/Common_Unit.h"
#include "data/Connection.h"
#include "data/Dialect.h"
#include "data/ServerSettings.h"
#include "data/SettingsClient.h"
#include "data/server/ServerSchema.h"
#include "support/TestServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <sqlite3.h>

namespace testsupport {

QString schemaFile()
{
    return QStringLiteral(VELTRANA_SCHEMA_FILE);
}

QString buildBinDir()
{
    return QStringLiteral(VELTRANA_BIN_DIR);
}

QString connectionStringFor(const QString &dbPath)
{
    return BuildConnectionString(dbPath);
}

namespace {

sqlite3 *openDb(const QString &path, int flags)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr) != SQLITE_OK) {
        const QString error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        qFatal("cannot open %s: %s", qPrintable(path), qPrintable(error));
    }
    sqlite3_busy_timeout(db, 2000);
    return db;
}

}

void createDatabase(const QString &path)
{
    QFile schema(schemaFile());
    if (!schema.open(QIODevice::ReadOnly))
        qFatal("cannot read the schema %s", qPrintable(schemaFile()));
    if (QFile::exists(path))
        qFatal("database %s exists already", qPrintable(path));
    // One transaction: one write to disk instead of one per statement
    // (about 3 s less per test on a busy disk).
    execSql(path, QStringLiteral("BEGIN;\n") + QString::fromUtf8(schema.readAll()) + QStringLiteral("\nCOMMIT;"));
}

void execSql(const QString &dbPath, const QString &sql)
{
    sqlite3 *db = openDb(dbPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    char *message = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    const QString error = message ? QString::fromUtf8(message) : QString();
    sqlite3_free(message);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        qFatal("SQL failed: %s\n%s", qPrintable(error), qPrintable(sql.left(500)));
}

void execSqlWithTextBytes(const QString &dbPath, const QString &sql, const QByteArray &bytes)
{
    sqlite3 *db = openDb(dbPath, SQLITE_OPEN_READWRITE);
    sqlite3_stmt *stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), -1, &stmt, nullptr) != SQLITE_OK)
        qFatal("SQL failed: %s\n%s", sqlite3_errmsg(db), qPrintable(sql));
    sqlite3_bind_text(stmt, 1, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        qFatal("SQL failed: %s\n%s", sqlite3_errmsg(db), qPrintable(sql));
    sqlite3_close(db);
}

QStringList querySql(const QString &dbPath, const QString &sql)
{
    sqlite3 *db = openDb(dbPath, SQLITE_OPEN_READONLY);
    sqlite3_stmt *stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), -1, &stmt, nullptr) != SQLITE_OK)
        qFatal("query failed: %s", sqlite3_errmsg(db));
    QStringList rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const unsigned char *text = sqlite3_column_text(stmt, 0);
        rows << (text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString());
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

TestWorkspace::TestWorkspace(bool withSettingsLibrary, const QString &dbName)
{
    if (!m_dir.isValid())
        qFatal("no temporary folder");
    m_dbPath = QDir(m_dir.path()).filePath(dbName);
    createDatabase(m_dbPath);
    if (withSettingsLibrary
        && !QFile::copy(QDir(buildBinDir()).filePath(QStringLiteral("libQuelmi.so")),
                        QDir(m_dir.path()).filePath(QStringLiteral("libQuelmi.so"))))
        qFatal("cannot copy the settings library");
    writeIni(QStringLiteral("[BDConn]\nDBConFileName=%1\n").arg(m_dbPath).toUtf8());
    settings::setExecutableDirForTesting(m_dir.path());
    if (testsOnServer())
        useServer();
}

bool testsOnServer()
{
    return qgetenv("VELTRANA_TEST_ENGINE") == "server";
}

namespace {

// A database set up for the program once per test program; each workspace
// gets a copy of it, which the server makes faster than the setup.
const QString &programTemplate()
{
    static const QString name = [] {
        const QString made = TestServer::instance().createDatabase();
        dravon::pg::Session session(TestServer::instance().address(made));
        dravon::pg::prepareServerSchema(session);
        return made;
    }();
    return name;
}

}

void TestWorkspace::useServer()
{
    m_server = std::make_unique<ServerDatabase>(programTemplate());
    dravon::pg::ServerAddress address = m_server->address();
    {
        dravon::pg::Session session(address);
        m_dialect = std::make_unique<dravon::PostgresDialect>(dravon::pg::serverNames(session));
    }
    // The password in a password file of the workspace's own, as an office
    // keeps it; the ini file names the server without it.
    qputenv("PGPASSFILE", QFile::encodeName(QDir(m_dir.path()).filePath(QStringLiteral("pgpass"))));
    StorePassword(address);
    address.password.clear();
    WriteServerAddress(iniPath(), address);
    SetServerWayOfferedForTesting(true);
}

TestWorkspace::~TestWorkspace()
{
    if (m_server) {
        SetServerWayOfferedForTesting(false);
        qunsetenv("PGPASSFILE");
        m_server.reset();
    }
    settings::setExecutableDirForTesting(QString());
}

void TestWorkspace::exec(const QString &sql) const
{
    if (m_server) {
        // Rows given their numbers by a test: the server numbers the next
        // rows after them, as the file does.
        m_server->exec(m_dialect->rewrite(sql) + QStringLiteral(";\n") + QStringLiteral(
            "DO $$ DECLARE t text; BEGIN FOR t IN SELECT c.relname FROM pg_class c JOIN pg_attribute a "
            "ON a.attrelid = c.oid AND a.attname = 'Id' AND a.attidentity <> '' "
            "WHERE c.relkind = 'r' AND c.relnamespace = current_schema()::regnamespace LOOP "
            "EXECUTE format('SELECT setval(pg_get_serial_sequence(%L, ''Id''), "
            "coalesce((SELECT max(\"Id\") FROM %I), 0) + 1, false)', quote_ident(t), t); END LOOP; END $$"));
    } else
        execSql(m_dbPath, sql);
}

std::optional<dravon::pg::ServerAddress> TestWorkspace::serverAddress() const
{
    if (!m_server)
        return std::nullopt;
    return m_server->address();
}

void TestWorkspace::pointAt(dravon::Connection &connection) const
{
    if (m_server)
        connection.setServerAddress(m_server->address());
    else
        connection.setConnectionString(connectionString());
}

void TestWorkspace::openConnection(dravon::Connection &connection) const
{
    pointAt(connection);
    connection.open();
}

QStringList TestWorkspace::query(const QString &sql) const
{
    return m_server ? m_server->query(m_dialect->rewrite(sql)) : querySql(m_dbPath, sql);
}

QString TestWorkspace::iniPath() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("ConfigDB.ini"));
}

void TestWorkspace::writeIni(const QByteArray &content) const
{
    QFile file(iniPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(iniPath()));
}

}
