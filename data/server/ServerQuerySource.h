#pragma once
// The rows of a read-only statement on a PostgreSQL server, read as the
// file's query results are (QuerySource.h): the first page at once through a
// cursor that is closed before control returns to the event loop, then a
// worker with a connection of its own copies the whole result into a private
// file, from which any row is read (and the result sorted) once it is done.
// Memory holds a bounded number of rows however long the result.
#include "data/QuerySource.h"
#include "data/server/PgSession.h"

namespace dravon {

class ServerQuerySource : public QuerySource
{
    Q_OBJECT
public:
    // sql: in the program's own SQL. Throws dravon::Error when the server
    // refuses it.
    ServerQuerySource(Connection &connection, const QString &sql, QObject *parent = nullptr);

protected:
    void readPage(int start, int rows) override;
    int stepToEnd() override;
    std::unique_ptr<ResultCopy> makeCopy() override;

private:
    // Runs work with the statement open as a cursor, in the caller's
    // transaction or in a read-only one of its own (ownTransaction).
    void withCursor(const std::function<void(pg::Session &, bool ownTransaction)> &work);
    // The first page, and the next ones too when the server has them at
    // hand, when no transaction of the caller's is open; atEnd when that
    // was the whole result.
    void readFirstPages(int rows, const std::function<void(const pg::Result &)> &keep, bool &atEnd);

    QString refusal(const QString &reason) const override;

    QString m_sql;        // as written, for messages
    QString m_statement;  // rewritten for the server
    // The rows read when the set opened, by ServerResultCopy::rowKey: the
    // copy keeps them in these places, so that no row shown moves.
    QVector<QByteArray> m_shown;
    bool m_opening = true;
};

// How a value of one of the server's types shows (the server's type number).
FieldType fieldTypeOfServerType(unsigned type);

}
