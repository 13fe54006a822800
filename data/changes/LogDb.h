#pragma once
// The change log's statements on either engine. Each is written once, in the
// program's SQL ("?1" parameters, the file's names), and the server's
// dialect rewrites it for a server database. On the file a statement is
// prepared once per text and kept for the many rows of one operation.
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>
#include <map>
#include <memory>

struct sqlite3;

namespace dravon {

class Connection;
class Dialect;
class Statement;
namespace pg { class Session; }

using LogRow = QVariantList;

class LogDb
{
public:
    // The connection's own handle or session; throws dravon::Error when it is closed.
    explicit LogDb(Connection &connection);
    // A file handle of the caller's.
    explicit LogDb(sqlite3 *db);
    // A server session of the caller's, with the dialect of its database.
    LogDb(pg::Session &session, const Dialect &dialect);
    ~LogDb();
    LogDb(const LogDb &) = delete;
    LogDb &operator=(const LogDb &) = delete;

    bool onServer() const { return m_session != nullptr; }
    // The server session; nullptr on the file.
    pg::Session *session() const { return m_session; }
    // Every row of a query; throws dravon::Error.
    QList<LogRow> rows(const QString &sql, const QVariantList &params = {});
    // The first value of the first row; invalid when there is no row.
    QVariant value(const QString &sql, const QVariantList &params = {});
    // Runs a write; returns the number of rows it changed.
    qint64 exec(const QString &sql, const QVariantList &params = {});

private:
    Statement &prepared(const QString &sql, const QVariantList &params);
    QString forServer(const QString &sql);

    sqlite3 *m_db = nullptr;
    pg::Session *m_session = nullptr;
    const Dialect *m_dialect = nullptr;
    std::map<QString, std::unique_ptr<Statement>> m_statements;
    QHash<QString, QString> m_rewritten;
};

}
