#pragma once
// A server query's whole result copied into a private file (ResultCopy.h) by
// a worker on a connection of its own. The statement runs whole as one
// "COPY (query) TO STDOUT" (one snapshot; the server may plan it with
// parallel workers, which it never does for a cursor), and its rows are
// read as they come while the worker writes them, so neither the server nor
// this program holds the whole result and the server waits for no more than
// the connection's buffers. A read on the server holds back no writer. The
// rows the program has already shown (read by a cursor of its own, perhaps
// in another plan's order) keep their places at the front of the copy, in
// the order shown; the others follow in the order the server gives them.
#include "data/ResultCopy.h"
#include "data/server/PgSession.h"

namespace dravon {

class ServerResultCopy : public ResultCopy
{
    Q_OBJECT
public:
    // sql: already in the server's SQL. types: the server's type number of
    // each column (as the first page had them). shown: rowKey of each row
    // shown so far, from the first on.
    ServerResultCopy(const pg::ServerAddress &address, const QString &sql, const QVector<unsigned> &types,
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
    QVector<unsigned> m_types;
    QVector<QByteArray> m_shown;
};

}
