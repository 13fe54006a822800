#pragma once
// The database connection. It takes the program's connection string
// ("...;Data Source=<path>;Persist Security Info=False"), opens the file named
// after "Data Source=" with SQLite read-write, and never creates a file.
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

struct sqlite3;

namespace dravon {

class Connection
{
public:
    Connection();
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void setConnectionString(const QString &text);
    QString connectionString() const { return m_connectionString; }
    // The path after "Data Source=", up to ";Persist Security Info=" or the next ";".
    QString databasePath() const;

    // Throws dravon::Error when the file is missing, not a database, not
    // writable, or lacks any of the program's thirteen tables.
    void open();
    void close();
    bool isOpen() const;

    // The open database; throws dravon::Error when the connection is closed.
    QSqlDatabase database() const;
    // The engine's own handle (sqlite3*), for what Qt SQL does not offer.
    void *nativeHandle() const;

private:
    QString m_connectionString;
    QString m_name;
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
