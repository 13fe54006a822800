#include "data/server/ServerRowCounter.h"

#include "data/server/WorkerSession.h"

namespace dravon {

ServerRowCounter::ServerRowCounter(const pg::ServerAddress &address, const QString &rows, qint64 maxKey, int stride)
    : RowCounter(maxKey, stride), m_address(address), m_rows(rows)
{
}

ServerRowCounter::~ServerRowCounter()
{
    cancel();
    wait();
}

void ServerRowCounter::cancel()
{
    RowCounter::cancel();
    m_canceller.cancel();
}

void ServerRowCounter::run()
{
    Result result;
    try {
        pg::WorkerSession worker(m_address, m_canceller);
        pg::Session &session = worker.session();
        if (!isCancelled()) {
            // A read on the server holds back no writer. The checkpoints are
            // read after the count has been told, in a snapshot of their own,
            // as the file's walk is: rows deleted elsewhere in between make
            // their count differ from the first one, so the rows shown by
            // position meanwhile are laid out again rather than taking the
            // places of other rows (a Ctrl+Del of rows selected meanwhile is
            // then refused instead of deleting the rows that moved up).
            const qint64 count = session.exec(QStringLiteral("SELECT count(*) ") + m_rows, {maxKey()}).value(0, 0).toLongLong();
            tellFirstCount(count);
            if (!isCancelled()) {
                // The server numbers the rows in key order in one pass and
                // keeps every stride-th key, with the number of rows it saw.
                const pg::Result keys = session.exec(
                    QStringLiteral("SELECT \"Id\", total FROM (SELECT \"Id\", row_number() OVER (ORDER BY \"Id\") AS n, "
                                   "count(*) OVER () AS total %1) k WHERE (n - 1) % $2 = 0 ORDER BY \"Id\"")
                        .arg(m_rows),
                    {maxKey(), stride()});
                result.checkpoints.reserve(keys.rows());
                for (int r = 0; r < keys.rows(); ++r)
                    result.checkpoints.append(keys.value(r, 0).toLongLong());
                result.count = keys.rows() > 0 ? keys.value(0, 1).toLongLong() : 0;
                result.ok = true;
            }
        }
    } catch (const Error &e) {
        result.ok = false;
        result.error = e.text();
    }
    if (isCancelled()) {
        result.ok = false;
        result.error = QStringLiteral("cancelled");
    }
    finish(result);
}

}
