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

namespace {

// Rows stored by one insert statement: one statement step per row costs
// about twice as much.
constexpr int rowsPerInsert = 64;

// Rows into the copy's table, rowsPerInsert at a time where the caller
// vouches for as many rows, else one at a time.
class BatchInsert : public ResultCopy::RowWriter
{
public:
    BatchInsert(sqlite3 *copy, int columns, std::atomic<qint64> &copied) : m_copy(copy), m_columns(columns), m_copied(copied)
    {
    }
    ~BatchInsert()
    {
        sqlite3_finalize(m_many);
        sqlite3_finalize(m_one);
    }

    bool prepare() { return prepared(rowsPerInsert, &m_many) && prepared(1, &m_one); }
    // Why a row could not be stored; empty while every row was.
    const QString &error() const { return m_error; }

    bool add(const Bind &bind, qint64 rowNumber, qint64 following) override
    {
        const bool alone = m_pending == 0 && following + 1 < rowsPerInsert;
        sqlite3_stmt *insert = alone ? m_one : m_many;
        const int first = (alone ? 0 : m_pending) * (m_columns + 1) + 1;
        if (rowNumber > 0)
            sqlite3_bind_int64(insert, first, rowNumber);
        else
            sqlite3_bind_null(insert, first);
        bind(insert, first + 1);
        if (alone)
            return stored(insert, 1);
        if (++m_pending < rowsPerInsert)
            return true;
        m_pending = 0;
        return stored(insert, rowsPerInsert);
    }

    bool renumber(const QVector<QPair<qint64, qint64>> &moves) override
    {
        // Each row to the negative of its new number first, so that no two
        // rows ever share a number, then all of them back at once.
        sqlite3_stmt *move = nullptr;
        const QByteArray table = ResultCopy::tableName().toUtf8();
        bool ok = sqlite3_prepare_v2(m_copy, "UPDATE " + table + " SET rowid = ?2 WHERE rowid = ?1", -1, &move, nullptr)
                  == SQLITE_OK;
        for (int i = 0; ok && i < moves.size(); ++i) {
            sqlite3_bind_int64(move, 1, moves[i].first);
            sqlite3_bind_int64(move, 2, -moves[i].second);
            ok = sqlite3_step(move) == SQLITE_DONE;
            sqlite3_reset(move);
        }
        sqlite3_finalize(move);
        ok = ok && sqlite3_exec(m_copy, "UPDATE " + table + " SET rowid = -rowid WHERE rowid < 0", nullptr, nullptr, nullptr)
                       == SQLITE_OK;
        if (!ok && m_error.isEmpty())
            m_error = QString::fromUtf8(sqlite3_errmsg(m_copy));
        return ok;
    }

private:
    bool prepared(int rows, sqlite3_stmt **statement)
    {
        QStringList columns{QStringLiteral("rowid")};
        for (int i = 0; i < m_columns; ++i)
            columns << ResultCopy::columnName(i);
        const QString row = QStringLiteral("(%1)").arg(QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(',')));
        const QByteArray sql = QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                                   .arg(ResultCopy::tableName(), columns.join(QLatin1Char(',')),
                                        QStringList(rows, row).join(QLatin1Char(',')))
                                   .toUtf8();
        return sqlite3_prepare_v2(m_copy, sql.constData(), -1, statement, nullptr) == SQLITE_OK;
    }

    bool stored(sqlite3_stmt *insert, int rows)
    {
        const bool ok = sqlite3_step(insert) == SQLITE_DONE;
        if (ok)
            m_copied += rows;
        else if (m_error.isEmpty())
            m_error = QString::fromUtf8(sqlite3_errmsg(m_copy));
        sqlite3_reset(insert);
        return ok;
    }

    sqlite3 *m_copy;
    int m_columns;
    std::atomic<qint64> &m_copied;
    sqlite3_stmt *m_many = nullptr;
    sqlite3_stmt *m_one = nullptr;
    int m_pending = 0;
    QString m_error;
};

}

void ResultCopy::run()
{
    if (!error().isEmpty())
        return;
    sqlite3 *copy = nullptr;
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
    QStringList columns;
    for (int i = 0; i < m_columns; ++i)
        columns << columnName(i);
    const QString columnList = columns.join(QLatin1Char(','));
    exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(tableName(), columnList));
    exec(QStringLiteral("BEGIN"));
    {
        BatchInsert rows(copy, m_columns, m_copied);
        if (failure.isEmpty() && !rows.prepare())
            fail(copy);
        if (failure.isEmpty()) {
            // The copy's own failure first: the engine's part then merely stopped.
            const QString failed = copyRows(rows);
            failure = rows.error().isEmpty() ? failed : rows.error();
        }
    }
    if (failure.isEmpty() && !m_cancelled) {
        // Rows numbered with gaps (a row expected at a place did not come)
        // are numbered again densely, in their order.
        sqlite3_stmt *numbers = nullptr;
        qint64 highest = 0;
        if (sqlite3_prepare_v2(copy, "SELECT max(rowid) FROM result", -1, &numbers, nullptr) == SQLITE_OK
            && sqlite3_step(numbers) == SQLITE_ROW)
            highest = sqlite3_column_int64(numbers, 0);
        sqlite3_finalize(numbers);
        if (highest != m_copied) {
            exec(QStringLiteral("CREATE TABLE dense (%1)").arg(columnList));
            exec(QStringLiteral("INSERT INTO dense SELECT %1 FROM %2 ORDER BY rowid").arg(columnList, tableName()));
            exec(QStringLiteral("DROP TABLE %1").arg(tableName()));
            exec(QStringLiteral("ALTER TABLE dense RENAME TO %1").arg(tableName()));
        }
    }
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

QString ResultCopy::copyRows(RowWriter &writer)
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
        // The values are copied as they are bound: the statement steps on.
        const bool added = writer.add([&](sqlite3_stmt *insert, int first) {
            for (int i = 0; i < m_columns; ++i)
                sqlite3_bind_value(insert, first + i, sqlite3_column_value(query, i));
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
