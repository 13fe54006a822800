#pragma once
// Counting a table set's rows on a PostgreSQL server, on a connection of its
// own in a worker thread, so that a window over millions of rows shows its
// first page at once. Like the file's counter it tells the count first, then
// the key of every stride-th row (the checkpoints) and the count again, both
// from one later snapshot.
// A read on the server blocks no writer, so nothing waits for the worker.
#include "data/RowCounter.h"
#include "data/server/PgSession.h"

namespace dravon {

class ServerRowCounter : public RowCounter
{
    Q_OBJECT
public:
    // rows: "FROM <table> WHERE "Id" <= $1 [AND (<condition>)]", the set's
    // rows up to the newest key maxKey, in the server's SQL.
    ServerRowCounter(const pg::ServerAddress &address, const QString &rows, qint64 maxKey, int stride);
    ~ServerRowCounter() override;
    // Stops the worker, also in the middle of a statement.
    void cancel() override;

protected:
    void run() override;

private:
    pg::ServerAddress m_address;
    QString m_rows;
    pg::Canceller m_canceller;
};

}
