#include "data/ResultCopy.h"

#include "data/BusyWait.h"

#include <QDir>
#include <QFileInfo>
#include <sqlite3.h>

namespace dravon {

ResultCopy::ResultCopy(const QString &databasePath, const QString &sql, int columns)
    : m_databasePath(QFileInfo(databasePath).absoluteFilePath()), m_sql(sql), m_columns(columns),
      m_file(QDir(QDir::tempPath()).filePath(QStringLiteral("veltrana-result-XXXXXX")))
{
    // An empty file is an empty database to the engine.
    if (!m_file.open())
        m_error = m_file.errorString();
    m_file.close();
}

ResultCopy::~ResultCopy()
{
    cancel();
    wait();
}

void ResultCopy::cancel()
{
    m_cancelled = true;
    std::lock_guard lock(m_mutex);
    if (sqlite3 *db = m_source.load())
        sqlite3_interrupt(db);
}

bool ResultCopy::ok() const
{
    std::lock_guard lock(m_mutex);
    return m_ok;
}

QString ResultCopy::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

void ResultCopy::run()
{
    if (!error().isEmpty())
        return;
    sqlite3 *copy = nullptr;
    sqlite3_stmt *insert = nullptr;
    QString failure;
    auto fail = [&](sqlite3 *db) {
        if (failure.isEmpty())
            failure = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
    };
    auto exec = [&](const QString &sql) {
        if (failure.isEmpty() && sqlite3_exec(copy, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(copy);
    };
    if (sqlite3_open_v2(QFile::encodeName(path()).constData(), &copy, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        fail(copy);
    // A private file that is thrown away with the window: no journal, no syncing.
    exec(QStringLiteral("PRAGMA journal_mode=OFF"));
    exec(QStringLiteral("PRAGMA synchronous=OFF"));
    QStringList columns, marks;
    for (int i = 0; i < m_columns; ++i) {
        columns << columnName(i);
        marks << QStringLiteral("?");
    }
    exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(tableName(), columns.join(QLatin1Char(','))));
    exec(QStringLiteral("BEGIN"));
    const QByteArray insertSql =
        QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(tableName(), marks.join(QLatin1Char(','))).toUtf8();
    if (failure.isEmpty() && sqlite3_prepare_v2(copy, insertSql.constData(), -1, &insert, nullptr) != SQLITE_OK)
        fail(copy);
    if (failure.isEmpty()) {
        qint64 rows = 0;
        const QString failed = copyRows([&](const std::function<void(sqlite3_stmt *)> &bind) {
            bind(insert);
            if (sqlite3_step(insert) != SQLITE_DONE) {
                fail(copy);
                sqlite3_reset(insert);
                return false;
            }
            sqlite3_reset(insert);
            m_copied = ++rows;
            return true;
        });
        if (failure.isEmpty())
            failure = failed;
    }
    sqlite3_finalize(insert);
    if (m_cancelled && failure.isEmpty())
        failure = QStringLiteral("cancelled");
    exec(QStringLiteral("COMMIT"));
    {
        std::lock_guard lock(m_mutex);
        m_ok = failure.isEmpty();
        m_error = failure;
    }
    sqlite3_close(copy);
}

QString ResultCopy::copyRows(const AddRow &add)
{
    sqlite3 *source = nullptr;
    sqlite3_stmt *query = nullptr;
    QString failure;
    auto fail = [&] {
        if (failure.isEmpty())
            failure = source ? QString::fromUtf8(sqlite3_errmsg(source)) : QStringLiteral("out of memory");
    };
    if (sqlite3_open_v2(QFile::encodeName(m_databasePath).constData(), &source, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        fail();
    if (failure.isEmpty()) {
        std::lock_guard lock(m_mutex);
        m_source = source;
    }
    sqlite3_busy_timeout(source, 5000);
    const QByteArray sql = m_sql.toUtf8();
    if (failure.isEmpty() && sqlite3_prepare_v2(source, sql.constData(), int(sql.size()), &query, nullptr) != SQLITE_OK)
        fail();
    qint64 rows = 0;
    bool ended = false;
    while (failure.isEmpty() && !m_cancelled && !ended) {
        const int rc = sqlite3_step(query);
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW) {
            fail();
            break;
        }
        const bool added = add([&](sqlite3_stmt *insert) {
            for (int i = 0; i < m_columns; ++i)
                sqlite3_bind_value(insert, i + 1, sqlite3_column_value(query, i));
        });
        if (!added)
            break;
        ++rows;
        if (writerWaiting()) {
            // A Save of this program goes first: the read lock goes, and the
            // statement then runs again up to where the copy stands.
            sqlite3_reset(query);
            waitForWriter();
            for (qint64 skipped = 0; skipped < rows && !ended; ++skipped) {
                const int again = sqlite3_step(query);
                if (again != SQLITE_ROW) {
                    // The rows were changed meanwhile: fewer of them now.
                    if (again != SQLITE_DONE)
                        fail();
                    ended = true;
                }
            }
        }
    }
    sqlite3_finalize(query);
    {
        std::lock_guard lock(m_mutex);
        m_source = nullptr;
    }
    sqlite3_close(source);
    return failure;
}

}
