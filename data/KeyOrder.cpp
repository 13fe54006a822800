#include "data/KeyOrder.h"

#include "data/BusyWait.h"

#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

namespace dravon {

namespace {
std::atomic<bool> hold{false};
}

void KeyOrder::holdForTesting(bool on)
{
    hold = on;
}

void KeyOrder::holdWhileTesting() const
{
    for (int waited = 0; hold && !m_cancelled && waited < 10000; ++waited)
        QThread::msleep(1);
}

void KeyOrder::setError(const QString &text)
{
    std::lock_guard lock(m_mutex);
    m_error = text;
}

KeyOrder::KeyOrder(const QString &path, const QString &sql, const QVector<QVariant> &binds)
    : m_path(QFileInfo(path).absoluteFilePath()), m_sql(sql), m_binds(binds)
{
}

KeyOrder::~KeyOrder()
{
    cancel();
    wait();
}

void KeyOrder::cancel()
{
    m_cancelled = true;
    std::lock_guard lock(m_mutex);
    if (sqlite3 *db = m_db.load())
        sqlite3_interrupt(db);
}

QString KeyOrder::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

bool KeyOrder::read(qint64 total, const Progress &progress)
{
    if (progress && !progress(0, total))
        return !(m_cancelled = true);
    begin();
    return await(total, progress);
}

void KeyOrder::begin()
{
    if (!isRunning() && !isFinished())
        start(QThread::LowPriority);
}

bool KeyOrder::await(qint64 total, const Progress &progress)
{
    begin();
    while (!wait(30)) {
        if (progress && !progress(m_done, total)) {
            cancel();
            wait();
            return false;
        }
    }
    return !m_cancelled && error().isEmpty();
}

void KeyOrder::run()
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
    QString failure;
    if (sqlite3_open_v2(QFile::encodeName(m_path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        failure = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
    } else {
        {
            std::lock_guard lock(m_mutex);
            m_db = db;
        }
        sqlite3_busy_timeout(db, 5000);
        const QByteArray sql = m_sql.toUtf8();
        if (m_cancelled || sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK) {
            failure = QString::fromUtf8(sqlite3_errmsg(db));
        } else {
            for (int i = 0; i < m_binds.size(); ++i)
                sqlite3_bind_int64(stmt, i + 1, m_binds[i].toLongLong());
            holdWhileTesting();
            // A Save of this program goes first: while the engine sorts, the
            // read lock is given up, and the statement runs again afterwards.
            sqlite3_progress_handler(db, 10000, [](void *) { return writerWaiting() ? 1 : 0; }, nullptr);
            int rc = SQLITE_DONE;
            for (;;) {
                while (!m_cancelled && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
                    m_keys.append(sqlite3_column_int64(stmt, 0));
                    m_done = m_keys.size();
                }
                if (rc != SQLITE_INTERRUPT || m_cancelled || !writerWaiting())
                    break;
                sqlite3_reset(stmt);
                m_keys.clear();
                m_done = 0;
                waitForWriter();
            }
            if (m_cancelled)
                failure = QStringLiteral("cancelled");
            else if (rc != SQLITE_DONE)
                failure = QString::fromUtf8(sqlite3_errmsg(db));
        }
        sqlite3_finalize(stmt);
        std::lock_guard lock(m_mutex);
        m_db = nullptr;
    }
    sqlite3_close(db);
    std::lock_guard lock(m_mutex);
    m_error = failure;
}

}
