#include "data/QuerySource.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/SqlText.h"

#include <QTimer>
#include <sqlite3.h>

namespace dravon {

namespace {

// Rows read at once from the copy: a walk or an export reads on in pages of this many.
constexpr int copyPageSize = 512;
// Rows read by the cursor are read again only by running the statement
// again: many are kept. Rows of the copy are read again cheaply.
constexpr int queryCacheRows = 20000;
constexpr int copyCacheRows = 4096;

}

QuerySource::QuerySource(Connection &connection, QObject *parent) : RowSource(connection, parent)
{
    m_rows.setMaxCost(queryCacheRows);
    m_copied.setMaxCost(copyCacheRows);
}

QuerySource::QuerySource(Connection &connection, const QString &sql, QObject *parent) : QuerySource(connection, parent)
{
    // A closing ";" must go for the statement to run inside another, and a
    // trailing comment must not swallow what follows it.
    m_sql = sql.trimmed();
    while (m_sql.endsWith(QLatin1Char(';')))
        m_sql = m_sql.chopped(1).trimmed();
    m_sql += QLatin1Char('\n');
    Statement &s = statement(m_sql);
    if (!s.isReadOnly())
        throw Error(QStringLiteral("语句不是查询,不能打开为记录集: %1").arg(sql));
    // Column names and declared types from the engine itself, so that a date
    // column shows as a date also in a join.
    for (int i = 0; i < s.columnCount(); ++i)
        m_fields.append({s.columnName(i), typeFromDeclaration(s.declaredType(i))});
    readPage(0, pageSize);
    if (!m_countKnown)
        startCopy();
}

QuerySource::~QuerySource()
{
    m_copy.reset();  // the worker stops first
    m_copyRange.finalize();
    m_copySome.finalize();
    sqlite3_close(m_copyDb);
}

std::unique_ptr<ResultCopy> QuerySource::makeCopy()
{
    return std::make_unique<ResultCopy>(m_connection.databasePath(), m_sql, int(m_fields.size()));
}

QString QuerySource::refusal(const QString &reason) const
{
    return QStringLiteral("无法读取查询结果: %1").arg(reason);
}

void QuerySource::keepRow(int position, const Values &values)
{
    m_rows.insert(position, new Values(values));
    ++m_rowsFetched;
}

void QuerySource::startCopy(bool rowsPainted)
{
    m_copy = makeCopy();
    watchCopy();
    if (rowsPainted) {
        m_copy->start(QThread::LowPriority);
        return;
    }
    // The copy starts once the first rows have been painted (a timer fires
    // after the events already posted), so it does not compete with them.
    QTimer::singleShot(1, this, [this] {
        if (m_copy && !m_copy->isRunning() && !m_copy->isFinished())
            m_copy->start(QThread::LowPriority);
    });
}

void QuerySource::watchCopy()
{
    // Only while it is still this set's copy: one taken (or given up)
    // meanwhile may have been followed by another that is still running.
    ResultCopy *copy = m_copy.get();
    connect(copy, &QThread::finished, this, [this, copy] {
        if (m_copy.get() == copy)
            takeCopy();
    }, Qt::QueuedConnection);
}

void QuerySource::takeCopy(bool reportFailure)
{
    if (!m_copy || m_copyDb)
        return;
    if (!m_copy->isRunning() && !m_copy->isFinished())
        m_copy->start();
    m_copy->wait();
    if (!m_copy->ok()) {
        // Without the copy the rows are still read by running the statement.
        m_copyError = m_copy->error();
        m_copy.reset();
        if (m_copyError == QLatin1String("cancelled"))
            return;
        emit countFailed(m_copyError);
        if (++m_copyFailures == 1) {
            // Once more (the reason may have passed: a lost connection, a
            // server busy); failing again, the user hears the reason.
            startCopy();
        } else if (reportFailure) {
            emit readFailed(refusal(m_copyError));
        }
        return;
    }
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(m_copy->path()).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        m_copyError = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
        sqlite3_close(db);
        m_copy.reset();
        emit countFailed(m_copyError);
        return;
    }
    m_copyDb = db;
    // From now on every row comes from the copy: one snapshot of the result.
    forgetMemo();
    m_rows.clear();
    const qint64 rows = m_copy->copied();
    // Rows the cursor read past the copy's end (others deleted rows since)
    // go; rows the copy has beyond the cursor's are added.
    const int copied = int(qMin<qint64>(rows, std::numeric_limits<int>::max() / 2));
    m_countKnown = false;
    grow(copied, true);
}

void QuerySource::waitForCount()
{
    takeCopy();
}

bool QuerySource::waitForCopy(const Progress &progress)
{
    while (!m_copyDb) {
        if (!m_copy) {
            // A result read whole at once has no copy yet, and a copy that
            // failed is made again: here, for the caller who waits.
            m_copy = makeCopy();
            watchCopy();
        }
        if (!m_copy->isRunning() && !m_copy->isFinished())
            m_copy->start();
        while (m_copy && !m_copyDb && !m_copy->wait(30))
            if (progress && !progress(m_copy->copied(), 0))
                return false;
        // The caller hears of a failure by the exception, not by readFailed.
        takeCopy(false);
        if (!m_copyDb && !m_copy)
            throw Error(refusal(m_copyError));
    }
    return true;
}

void QuerySource::statementsReleased()
{
    m_cursorPos = -1;
}

void QuerySource::readPage(int start, int rows)
{
    forgetMemo();  // a statement run again may give other rows
    Statement &s = statement(m_sql);
    if (m_cursorPos < 0 || m_cursorPos > start) {
        s.reset();
        m_cursorPos = 0;
    }
    // Rows before the page are stepped over without being read.
    while (m_cursorPos < start) {
        if (!s.step()) {
            const int total = int(m_cursorPos);
            s.reset();
            m_cursorPos = 0;
            grow(total, true);
            return;
        }
        ++m_cursorPos;
    }
    int end = start;
    bool atEnd = false;
    while (end < start + rows) {
        if (!s.step()) {
            atEnd = true;
            break;
        }
        keepRow(end, readValues(s, 0));
        ++end;
        ++m_cursorPos;
    }
    if (atEnd) {
        // At its end the statement is reset, so it holds no read lock.
        s.reset();
        m_cursorPos = 0;
    }
    grow(end, atEnd);
}

void QuerySource::grow(int newCount, bool final)
{
    if (final && newCount < m_count && !m_countKnown) {
        forgetMemo();
        emit aboutToReset();
        m_count = newCount;
        m_countKnown = true;
        emit resetDone();
        return;
    }
    if (final)
        m_countKnown = true;
    if (newCount > m_count) {
        emit aboutToInsert(m_count, newCount - 1);
        m_count = newCount;
        emit inserted();
    }
}

bool QuerySource::ensure(int row)
{
    while (row >= m_count && !m_countKnown) {
        const int before = m_count;
        readPage(m_count, pageSize);
        if (m_count == before)
            break;
    }
    return row < m_count;
}

bool QuerySource::fetchMore()
{
    if (m_countKnown)
        return false;
    const int before = m_count;
    readPage(m_count, pageSize);
    return m_count > before;
}

int QuerySource::loadLast()
{
    if (!m_countKnown && m_copy) {
        // The copy under way reaches the end as fast as stepping would, and
        // then serves every row.
        takeCopy();
    }
    if (!m_countKnown)
        grow(stepToEnd(), true);
    return m_count - 1;
}

int QuerySource::stepToEnd()
{
    // The statement's own end: stepped to without reading the rows.
    Statement &s = statement(m_sql);
    if (m_cursorPos < 0 || m_cursorPos > m_count) {
        s.reset();
        m_cursorPos = 0;
    }
    while (s.step())
        ++m_cursorPos;
    const int total = int(m_cursorPos);
    s.reset();
    m_cursorPos = 0;
    return total;
}

void QuerySource::readCopied(int row)
{
    // The page from this row on (a walk reads forward), by row number: one
    // range in the copy's own order, the numbers themselves after a sort.
    if (m_order.isEmpty()) {
        m_copyRange.prepare(m_copyDb, QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid >= ?1 ORDER BY rowid LIMIT ?2")
                                          .arg(ResultCopy::tableName()));
        m_copyRange.bind(1, qint64(row) + 1);
        m_copyRange.bind(2, copyPageSize);
        while (m_copyRange.step()) {
            m_copied.insert(m_copyRange.int64(0), new Values(readValues(m_copyRange, 1)));
            ++m_rowsFetched;
        }
        m_copyRange.reset();
        return;
    }
    constexpr int batch = 64;
    QStringList marks;
    for (int i = 1; i <= batch; ++i)
        marks << QStringLiteral("?%1").arg(i);
    m_copySome.prepare(m_copyDb, QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid IN (%2)")
                                     .arg(ResultCopy::tableName(), marks.join(QLatin1Char(','))));
    const int from = qMax(0, row - batch / 4);
    for (int i = 0; i < batch; ++i)
        m_copySome.bind(i + 1, from + i < m_order.size() ? QVariant(m_order[from + i]) : QVariant());
    while (m_copySome.step()) {
        m_copied.insert(m_copySome.int64(0), new Values(readValues(m_copySome, 1)));
        ++m_rowsFetched;
    }
    m_copySome.reset();
}

Values QuerySource::values(int row)
{
    if (row < 0 || row >= m_count)
        return Values(m_fields.size());
    if (remembers(row))
        return remembered();
    const Values *v = nullptr;
    if (!m_copyDb) {
        v = m_rows.object(row);
        if (!v) {
            readPage(row - row % pageSize, pageSize);
            // The read may have taken the copy in (its rows from now on).
            if (!m_copyDb)
                v = m_rows.object(row);
            else if (row >= m_count)
                return Values(m_fields.size());
        }
    }
    if (m_copyDb) {
        const qint64 key = copyKey(row);
        v = m_copied.object(key);
        if (!v) {
            readCopied(row);
            v = m_copied.object(key);
        }
    }
    if (!v)
        return Values(m_fields.size());
    return remember(row, *v);
}

std::optional<int> QuerySource::sortBy(int field, bool descending, int keep, const Progress &progress)
{
    if (!waitForCopy(progress))
        return std::nullopt;
    const qint64 keepKey = keep >= 0 && keep < m_count ? copyKey(keep) : -1;
    const std::optional<QVector<qint64>> keys = readOrder(
        m_copyDb, m_copy->path(),
        QStringLiteral("SELECT rowid FROM %1 ORDER BY %2%3, rowid")
            .arg(ResultCopy::tableName(), ResultCopy::columnName(field), descending ? QStringLiteral(" DESC") : QString()),
        {}, progress);
    if (!keys)
        return std::nullopt;
    forgetMemo();
    emit aboutToReset();
    m_order = *keys;
    m_count = int(m_order.size());
    emit resetDone();
    setSortOrder(field, descending);
    return keepKey >= 0 ? int(m_order.indexOf(keepKey)) : -1;
}

}
