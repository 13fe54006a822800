#include "data/RowCounter.h"

#include "data/BusyWait.h"

#include <QFileInfo>
#include <sqlite3.h>
#include <limits>

namespace dravon {

namespace {
std::atomic<bool> holdCheckpoints{false};
}

void RowCounter::holdCheckpointsForTesting(bool hold)
{
    holdCheckpoints = hold;
}

RowCounter::RowCounter(const QString &path, const QString &keySql, qint64 maxKey, const QString &countSql, int stride)
    : m_path(QFileInfo(path).absoluteFilePath()), m_keySql(keySql), m_maxKey(maxKey), m_countSql(countSql), m_stride(stride)
{
}

RowCounter::RowCounter(qint64 maxKey, int stride) : m_maxKey(maxKey), m_stride(stride) {}

void RowCounter::tellFirstCount(qint64 count)
{
    m_firstCount = count;
    emit firstCounted();
    for (int waited = 0; holdCheckpoints && !m_cancelled && waited < 10000; ++waited)
        QThread::msleep(1);
}

void RowCounter::finish(const Result &result)
{
    {
        std::lock_guard lock(m_mutex);
        m_result = result;
    }
    emit counted();
}

RowCounter::~RowCounter()
{
    cancel();
    wait();
}

void RowCounter::cancel()
{
    m_cancelled = true;
    std::lock_guard lock(m_mutex);
    if (sqlite3 *db = m_db.load())
        sqlite3_interrupt(db);
}

RowCounter::Result RowCounter::result() const
{
    std::lock_guard lock(m_mutex);
    return m_result;
}

void RowCounter::run()
{
    Result result;
    sqlite3 *db = nullptr;
    const QByteArray path = m_path.toUtf8();
    auto engineText = [&] { return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory"); };
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        result.error = engineText();
    } else {
        {
            std::lock_guard lock(m_mutex);
            m_db = db;
        }
        sqlite3_busy_timeout(db, 5000);
        if (!m_countSql.isEmpty() && !m_cancelled) {
            // The engine counts a whole table from its pages, many times
            // faster than the walk below: the count is told at once.
            sqlite3_stmt *first = nullptr;
            const QByteArray countSql = m_countSql.toUtf8();
            qint64 counted = -1;
            if (sqlite3_prepare_v2(db, countSql.constData(), int(countSql.size()), &first, nullptr) == SQLITE_OK) {
                sqlite3_bind_int64(first, 1, m_maxKey);
                if (sqlite3_step(first) == SQLITE_ROW)
                    counted = sqlite3_column_int64(first, 0);
            }
            sqlite3_finalize(first);
            if (counted >= 0)
                tellFirstCount(counted);
        }
        sqlite3_stmt *stmt = nullptr;
        const QByteArray sql = m_keySql.toUtf8();
        if (m_cancelled) {
            result.error = QStringLiteral("cancelled");
        } else if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK) {
            result.error = engineText();
        } else {
            // From one checkpoint the engine steps over stride rows to the
            // next one by itself; reads are grouped in short transactions, so
            // writers get in between.
            auto seek = [&](qint64 after, int limit, int offset) {
                sqlite3_reset(stmt);
                sqlite3_bind_int64(stmt, 1, after);
                sqlite3_bind_int64(stmt, 2, m_maxKey);
                sqlite3_bind_int(stmt, 3, limit);
                sqlite3_bind_int(stmt, 4, offset);
            };
            result.ok = true;
            int inTransaction = 0;
            seek(std::numeric_limits<qint64>::min(), 1, 0);
            int rc = sqlite3_step(stmt);
            if (rc == SQLITE_ROW) {
                qint64 checkpoint = sqlite3_column_int64(stmt, 0);
                result.checkpoints.append(checkpoint);
                while (!m_cancelled) {
                    if (inTransaction == 0) {
                        sqlite3_reset(stmt);  // no lock held while a writer goes first
                        waitForWriter();
                        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
                    }
                    // A Save of this program waits for no count: the read lock goes at once.
                    if (++inTransaction == 256 || writerWaiting()) {
                        sqlite3_reset(stmt);
                        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
                        inTransaction = 0;
                    }
                    seek(checkpoint - 1, 1, m_stride);
                    rc = sqlite3_step(stmt);
                    if (rc != SQLITE_ROW)
                        break;
                    checkpoint = sqlite3_column_int64(stmt, 0);
                    result.checkpoints.append(checkpoint);
                }
                if (rc == SQLITE_DONE) {
                    // The rows from the last checkpoint on.
                    seek(checkpoint - 1, m_stride, 0);
                    qint64 tail = 0;
                    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
                        ++tail;
                    result.count = qint64(result.checkpoints.size() - 1) * m_stride + tail;
                }
            }
            sqlite3_reset(stmt);
            if (inTransaction > 0)
                sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            if (m_cancelled) {
                result.ok = false;
                result.error = QStringLiteral("cancelled");
            } else if (rc != SQLITE_DONE) {
                result.ok = false;
                result.error = engineText();
            }
        }
        sqlite3_finalize(stmt);
        std::lock_guard lock(m_mutex);
        m_db = nullptr;
        sqlite3_close(db);
    }
    if (!m_db && db && !result.ok && result.error.isEmpty())
        result.error = QStringLiteral("failed");
    finish(result);
}

}
