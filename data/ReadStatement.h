#pragma once
// One read statement in the program's SQL ("?n" parameters, rowid, SQLite's
// functions), run on the connection's engine and read row by row. On the
// file it is a statement prepared on the engine's handle; on the server the
// dialect rewrites it, only the parameters it uses are sent (numbered again
// in order), and its rows come in one result. The statement runs at the
// first step and is gone with the object, so nothing stays open between events.
#include <QString>
#include <QVariant>
#include <QVector>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace dravon {

class Connection;

class ReadStatement
{
public:
    // Throws dravon::Error when the engine refuses the statement.
    ReadStatement(Connection &connection, const QString &sql);
    ~ReadStatement();
    ReadStatement(const ReadStatement &) = delete;
    ReadStatement &operator=(const ReadStatement &) = delete;

    // Binds ?index (1-based); nothing when the statement has no such parameter.
    ReadStatement &bind(int index, const QVariant &value);
    // The next row; false at the end. Throws dravon::Error.
    bool step();
    bool isNull(int column) const;
    qint64 int64(int column) const;
    // Integers as qlonglong, other numbers as double, the rest as text; NULL invalid.
    QVariant value(int column) const;
    QString text(int column) const;

private:
    class Server;
    Connection &m_connection;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
    std::unique_ptr<Server> m_server;
};

// The statement with its "$n" parameters (outside quotes) numbered 1, 2, ...
// in the order of their first use, and for each new number the old one.
struct DenseParameters
{
    QString sql;
    QVector<int> original;
};
DenseParameters denseParameters(const QString &serverSql);

}
