#pragma once
// The rows of a read-only statement on a PostgreSQL server, read as the
// file's query results are (QuerySource.h): the first page at once through a
// cursor that is closed before control returns to the event loop, then a
// worker with a connection of its own copies the whole result into a private
// file, from which any row is read (and the result sorted) once it is done.
// Memory holds a bounded number of rows however long the result. A result of
// a few pages is read whole while the first page is painted, so that it
// needs no worker.
#include "data/QuerySource.h"
#include "data/server/PgSession.h"
#include "data/server/ServerResultCopy.h"

namespace dravon {

class ServerQuerySource : public QuerySource
{
    Q_OBJECT
public:
    // sql: in the program's own SQL. Throws dravon::Error when the server
    // refuses it.
    ServerQuerySource(Connection &connection, const QString &sql, QObject *parent = nullptr);

    void waitForCount() override;
    int loadLast() override;
    std::optional<int> sortBy(int field, bool descending, int keep, const Progress &progress) override;

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
    void readFirstPages(int rows);
    // The rows of a page from position start on, which the copy keeps in
    // their places. False when the copy under way took the rows seen
    // before these: it is then taken (takeCopyNow).
    bool keepPage(const pg::Result &page, int start);
    // Every row from now on from the copy that has all its rows in.
    void takeCopyNow();
    // The opening's read of more rows, sent with the first page: polled
    // after the paint, taken in at the latest before any other read of the
    // set. True when it was taken in now.
    void pollMoreRows();
    bool takeMoreRows();

    QString refusal(const QString &reason) const override;

    QString m_sql;        // as written, for messages
    QString m_statement;  // rewritten for the server
    QVector<unsigned> m_types;  // the server's type of each column
    // Every row read by the cursor, by position (ServerResultCopy::rowHash):
    // the copy keeps them in these places, so that no row handed out moves.
    std::shared_ptr<SeenRows> m_seen = std::make_shared<SeenRows>();
    bool m_opening = true;
    std::shared_ptr<pg::LaterResults> m_moreRows;  // while the opening's read of more rows is under way
};

// How a value of one of the server's types shows (the server's type number).
FieldType fieldTypeOfServerType(unsigned type);

}
