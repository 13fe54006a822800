#pragma once
// A server query's whole result copied into a private file (ResultCopy.h) by
// a worker on a connection of its own. The statement runs whole as one
// "COPY (query) TO STDOUT" (one snapshot; the server may plan it with
// parallel workers, which it never does for a cursor), and its rows are
// read as they come while the worker writes them, so neither the server nor
// this program holds the whole result and the server waits for no more than
// the connection's buffers. A read on the server holds back no writer. The
// rows the program has already handed out (read by a cursor of its own,
// perhaps in another plan's order, when the set opened or as it was
// scrolled before the copy came) keep their places in the copy; the others
// fill the places left in the order the server gives them.
#include "data/ResultCopy.h"
#include "data/server/PgSession.h"

#include <QHash>
#include <mutex>

namespace dravon {

// The rows a query's set has read by its cursor, by position, each as a hash
// of its values as the server sent them (equal rows, equal hashes): written
// by the set as it reads, taken by its copy once all the copy's rows are in.
class SeenRows
{
public:
    // A row read at this position. False when the copy under way has
    // already taken the rows seen: the set then takes the copy.
    bool add(qint64 position, quint64 hash);
    // A new copy starts; returns its number for take().
    int startCopy();
    // The rows seen so far (the copy keeps their places for them as their
    // rows come).
    QHash<qint64, quint64> soFar();
    // The rows seen, for the copy numbered copy; rows seen from now on are
    // not in it (add() says so) until another copy starts.
    QHash<qint64, quint64> take(int copy);

private:
    std::mutex m_mutex;
    QHash<qint64, quint64> m_rows;
    int m_copy = 0;
    bool m_taken = false;
};

class ServerResultCopy : public ResultCopy
{
    Q_OBJECT
public:
    // sql: already in the server's SQL. types: the server's type number of
    // each column (as the first page had them). seen: the rows the set has
    // read so far and goes on reading, none when null.
    ServerResultCopy(const pg::ServerAddress &address, const QString &sql, const QVector<unsigned> &types,
                     std::shared_ptr<SeenRows> seen = {});
    // A row's values as the server sent them, as SeenRows keeps them.
    static quint64 rowHash(const pg::Result &result, int row);
    ~ServerResultCopy() override;
    void cancel() override;

protected:
    QString copyRows(RowWriter &rows) override;

private:
    pg::ServerAddress m_address;
    pg::Canceller m_canceller;
    QVector<unsigned> m_types;
    std::shared_ptr<SeenRows> m_seen;
    int m_copyNumber = 0;
};

}
