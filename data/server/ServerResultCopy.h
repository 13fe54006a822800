#pragma once
// A server query's whole result copied into a private file (ResultCopy.h) by
// a worker on a connection of its own: the statement runs as a cursor in one
// read-only snapshot and its rows come in batches, so neither the server nor
// this program holds the whole result at once. A read on the server holds
// back no writer.
#include "data/ResultCopy.h"
#include "data/server/PgSession.h"

namespace dravon {

class ServerResultCopy : public ResultCopy
{
    Q_OBJECT
public:
    // sql: already in the server's SQL.
    ServerResultCopy(const pg::ServerAddress &address, const QString &sql, int columns);
    ~ServerResultCopy() override;
    void cancel() override;

protected:
    QString copyRows(const AddRow &add) override;

private:
    pg::ServerAddress m_address;
    pg::Canceller m_canceller;
};

}
