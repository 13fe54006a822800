#pragma once
// A server query's whole result copied into a private file (ResultCopy.h) by
// a worker on a connection of its own: the statement runs as a cursor in one
// read-only snapshot and its rows come in batches, so neither the server nor
// this program holds the whole result at once. A read on the server holds
// back no writer. The rows the program has already shown (read by a cursor
// of its own, perhaps in another plan's order) keep their places at the
// front of the copy, in the order shown; the others follow in the order the
// server gives them.
#include "data/ResultCopy.h"
#include "data/server/PgSession.h"

namespace dravon {

class ServerResultCopy : public ResultCopy
{
    Q_OBJECT
public:
    // sql: already in the server's SQL. shown: rowKey of each row shown so
    // far, from the first on.
    ServerResultCopy(const pg::ServerAddress &address, const QString &sql, int columns,
                     const QVector<QByteArray> &shown = {});
    // A row's values as the server sent them, as one key: equal rows, equal keys.
    static QByteArray rowKey(const pg::Result &result, int row);
    ~ServerResultCopy() override;
    void cancel() override;

protected:
    QString copyRows(RowWriter &rows) override;

private:
    pg::ServerAddress m_address;
    pg::Canceller m_canceller;
    QVector<QByteArray> m_shown;
};

}
