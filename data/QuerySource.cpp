#include "data/QuerySource.h"

#include "data/Error.h"

namespace dravon {

namespace {

constexpr int pageSize = 128;
// A query's rows are read again only by running it again: many are kept.
constexpr int queryCacheRows = 20000;

}


QuerySource::QuerySource(Connection &connection, const QString &sql, QObject *parent)
    : RowSource(connection, parent)
{
    m_rows.setMaxCost(queryCacheRows);
    // A closing ";" must go for the statement to be wrapped for counting, and
    // a trailing comment must not swallow the ")".
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
        startCounter({}, 0, QStringLiteral("SELECT count(*) FROM (%1)").arg(m_sql));
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
            s.reset();
            m_cursorPos = 0;
            grow(start, true);
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
        m_rows.insert(end, new Values(readValues(s, 0)));
        ++m_rowsFetched;
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
    if (final && !m_countKnown && m_counter)
        m_counter->cancel();
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
    if (!m_countKnown) {
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
        grow(total, true);
    }
    return m_count - 1;
}

Values QuerySource::values(int row)
{
    if (row < 0 || row >= m_count)
        return Values(m_fields.size());
    if (remembers(row))
        return remembered();
    const Values *v = m_rows.object(row);
    if (!v) {
        readPage(row - row % pageSize, pageSize);
        v = m_rows.object(row);
    }
    if (!v)
        return Values(m_fields.size());
    return remember(row, *v);
}

void QuerySource::applyCount(const RowCounter::Result &result)
{
    if (m_countKnown)
        return;
    grow(qMax(m_count, int(result.count)), true);
}

}
