#include "data/server/ServerRowCounter.h"

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
    std::unique_ptr<pg::Session> connection;
    try {
        connection = std::make_unique<pg::Session>(m_address);
        pg::Session &session = *connection;
        m_canceller.attach(session);
        if (!isCancelled()) {
            // The count and the checkpoints from one snapshot; a read-only
            // transaction on the server holds back no writer.
            session.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
            const qint64 count = session.exec(QStringLiteral("SELECT count(*) ") + m_rows, {maxKey()}).value(0, 0).toLongLong();
            tellFirstCount(count);
            if (!isCancelled()) {
                // The server numbers the rows in key order in one pass and
                // keeps every stride-th key.
                const pg::Result keys = session.exec(
                    QStringLiteral("SELECT \"Id\" FROM (SELECT \"Id\", row_number() OVER (ORDER BY \"Id\") AS n %1) k "
                                   "WHERE (n - 1) % $2 = 0 ORDER BY \"Id\"")
                        .arg(m_rows),
                    {maxKey(), stride()});
                result.checkpoints.reserve(keys.rows());
                for (int r = 0; r < keys.rows(); ++r)
                    result.checkpoints.append(keys.value(r, 0).toLongLong());
                result.count = count;
                result.ok = true;
            }
            session.exec(QStringLiteral("COMMIT"));
        }
    } catch (const Error &e) {
        result.ok = false;
        result.error = e.text();
    }
    // No cancel reaches the server once the connection is gone.
    m_canceller.detach();
    connection.reset();
    if (isCancelled()) {
        result.ok = false;
        result.error = QStringLiteral("cancelled");
    }
    finish(result);
}

}
