#pragma once
// A test's own folder: a fresh database built from the schema, a ConfigDB.ini
// pointing to it, and a copy of the settings library. The program is pointed
// at this folder while the workspace lives, so the delivered database and ini
// file are never touched.
#include "data/server/PgSession.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

namespace dravon {
class Connection;
class PostgresDialect;
}

namespace testsupport {

class ServerDatabase;

// Whether the window suites run on a server database: the test command runs
// some suites a second time with VELTRANA_TEST_ENGINE=server.
bool testsOnServer();

// A case about the database file itself (its locks, journal, path, mode,
// upgrades, the sqlite3 shell): on a server database it does not apply, for
// the reason given in one line.
#define FILE_ONLY(why)                    \
    if (testsupport::testsOnServer())     \
    QSKIP(why)

QString schemaFile();
// The folder where the build put the program and its libraries.
QString buildBinDir();
// "Provider=...;Data Source=<path>;Persist Security Info=False".
QString connectionStringFor(const QString &dbPath);
// Creates a database from the schema at path (which must not exist).
void createDatabase(const QString &path);
// Runs SQL statements on their own connection (to seed or inspect rows).
void execSql(const QString &dbPath, const QString &sql);
// Runs one statement whose single parameter is bound as text made of exactly
// these bytes (also bytes that are not UTF-8, as another tool may write).
void execSqlWithTextBytes(const QString &dbPath, const QString &sql, const QByteArray &bytes);
// First column of every row of a query, as text ("" for NULL).
QStringList querySql(const QString &dbPath, const QString &sql);

class TestWorkspace
{
public:
    // On the server (testsOnServer()) the ini file names a fresh database of
    // the throw-away test server, set up for the program, and exec and query
    // run there, through the server's dialect; the file is made all the same.
    explicit TestWorkspace(bool withSettingsLibrary = true, const QString &dbName = QStringLiteral("Teach.mdb"));
    ~TestWorkspace();
    bool onServer() const { return m_server != nullptr; }
    // The server database's address with its password; none for the file.
    std::optional<dravon::pg::ServerAddress> serverAddress() const;
    // Points the connection at the workspace's database (the file, or the
    // server's) and opens it.
    void openConnection(dravon::Connection &connection) const;
    // A connection to the workspace's database, not yet open: the file, or
    // the server database with its password.
    void pointAt(dravon::Connection &connection) const;

    QString dir() const { return m_dir.path(); }
    QString dbPath() const { return m_dbPath; }
    QString iniPath() const;
    QString connectionString() const { return connectionStringFor(m_dbPath); }
    void exec(const QString &sql) const;
    QStringList query(const QString &sql) const;
    // A statement written for the file as the server runs it (the same text on the file).
    QString statementForEngine(const QString &sql) const;
    // Rewrites ConfigDB.ini with this content.
    void writeIni(const QByteArray &content) const;

private:
    void useServer();

    QTemporaryDir m_dir;
    QString m_dbPath;
    std::unique_ptr<ServerDatabase> m_server;
    std::unique_ptr<dravon::PostgresDialect> m_dialect;
};

}
