#pragma once
// The database connection. The file way takes the program's connection string
// ("...;Data Source=<path>;Persist Security Info=False"), opens the file named
// after "Data Source=" with SQLite read-write, and never creates a file. The
// server way takes the address of a PostgreSQL database and sets the
// program's tables up in it when it is empty. Either way the connection's
// dialect rewrites the program's statements for its engine.
#include "data/Dialect.h"
#include "data/server/PgSession.h"
#include "data/server/ServerCatalog.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <memory>
#include <optional>

struct sqlite3;

namespace dravon {

class Connection
{
public:
    Connection();
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // The file way.
    void setConnectionString(const QString &text);
    QString connectionString() const { return m_connectionString; }
    // The server way, until setConnectionString is called again.
    void setServerAddress(const pg::ServerAddress &address);
    bool isServer() const { return m_server.has_value(); }
    std::optional<pg::ServerAddress> serverAddress() const { return m_server; }
    Engine engine() const { return isServer() ? Engine::Postgres : Engine::Sqlite; }
    // Rewrites statements for this connection's engine; on the server it knows
    // the database's names once the connection is open.
    const Dialect &dialect() const;
    // A statement in the program's SQL as this connection's engine runs it.
    // On the server a statement over a table the dialect does not know (one
    // made after the names were read) has the database's names read again
    // first, once; a statement over known tables reads nothing.
    QString rewrite(const QString &sql);
    // The path after "Data Source=", up to ";Persist Security Info=" or the next ";".
    QString databasePath() const;

    // Throws dravon::Error when the file is missing, not a database, not
    // writable, or lacks any of the program's thirteen tables; on the server
    // when it cannot be reached or refuses the login (pg::ServerError), or
    // holds a database that is not the program's (SchemaError).
    void open();
    void close();
    bool isOpen() const;

    // The open database; throws dravon::Error when the connection is closed.
    QSqlDatabase database() const;
    // The engine's own handle (sqlite3*), for what Qt SQL does not offer;
    // null on the server.
    void *nativeHandle() const;
    // The server session; throws dravon::Error when the connection is not an
    // open server connection.
    pg::Session &session() const;
    // The server database's tables and columns, read at most once until
    // forgotten (after a statement that may change the schema); a table
    // name it does not hold reads it again. Throws like session().
    QString serverTableNamed(const QString &name);
    const QVector<pg::CatalogColumn> &serverColumnsOf(const QString &table);
    void forgetServerCatalog() { m_catalog.reset(); }
    // A lost server connection is tried again once per action of the person:
    // after a failed try, the statements that follow fail at once with the
    // same message until the next key or click, so that a window does not
    // wait for an unreachable server again for each of its statements.
    static void noteUserAction();

private:
    void openServer();
    // The server database's tables and columns read again, for the
    // catalog and the dialect alike.
    void readServerNames();

    QString m_connectionString;
    QString m_name;
    std::optional<pg::ServerAddress> m_server;
    std::unique_ptr<pg::Session> m_session;
    SqliteDialect m_sqlite;
    std::unique_ptr<PostgresDialect> m_postgres;
    std::optional<pg::ServerCatalog> m_catalog;
    // The last failed reconnection and the user action it was tried in.
    mutable std::optional<pg::ServerError> m_reconnectFailure;
    mutable quint64 m_failedInAction = 0;
};

// The path part of a connection string.
QString dataSourceOf(const QString &connectionString);

// The text to report for a failed statement: when the database file was
// deleted, moved or replaced by another file since the connection opened it
// (the engine then only says "attempt to write a readonly database"), a clear
// text with its path; otherwise the engine's own text.
QString engineErrorText(const QSqlQuery &query);
// The same for the engine's own handle: its last error, or what became of the file.
QString engineErrorText(sqlite3 *db);
QString engineErrorText(sqlite3 *db, const QString &text);

}
