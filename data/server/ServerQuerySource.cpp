#include "data/server/ServerQuerySource.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/server/ServerResultCopy.h"

#include <QTimer>

namespace dravon {

namespace {
const QString cursorName = QStringLiteral("veltrana_page");
// After the first page: up to this many rows more, when the server gives
// them within this time.
constexpr int moreRows = 1024;
constexpr int moreRowsMs = 30;
}

FieldType fieldTypeOfServerType(unsigned type)
{
    switch (type) {
    case 20:  // bigint
    case 21:  // smallint
    case 23:  // integer
    case 26:  // oid
    case 16:  // boolean, read as 0 or 1
        return FieldType::Integer;
    case 700:   // real
    case 701:   // double precision
    case 1700:  // numeric
        return FieldType::Real;
    case 1082:  // date
        return FieldType::Date;
    default:
        return FieldType::Text;
    }
}

ServerQuerySource::ServerQuerySource(Connection &connection, const QString &sql, QObject *parent)
    : QuerySource(connection, parent), m_sql(sql)
{
    QString statement = sql.trimmed();
    while (statement.endsWith(QLatin1Char(';')))
        statement = statement.chopped(1).trimmed();
    m_statement = connection.rewrite(statement);
    readPage(0, pageSize);
    m_opening = false;
    if (m_moreRows) {
        // After the paint (a timer fires after the events already posted).
        QTimer::singleShot(1, this, [this] { pollMoreRows(); });
    } else if (!countKnown()) {
        startCopy();
    }
}

bool ServerQuerySource::keepPage(const pg::Result &page, int start)
{
    if (m_fields.isEmpty()) {
        for (int c = 0; c < page.columns(); ++c) {
            m_fields.append({page.columnName(c), fieldTypeOfServerType(page.columnType(c))});
            m_types.append(page.columnType(c));
        }
    }
    int end = start;
    bool copyOpen = true;
    for (int r = 0; r < page.rows(); ++r) {
        copyOpen = m_seen->add(end, ServerResultCopy::rowHash(page, r)) && copyOpen;
        Values values(m_fields.size());
        for (int c = 0; c < m_fields.size(); ++c)
            values[c] = page.value(r, c);
        keepRow(end++, values);
    }
    return copyOpen;
}

void ServerQuerySource::pollMoreRows()
{
    if (!m_moreRows)
        return;
    if (m_moreRows->done || m_connection.session().settle(false))
        takeMoreRows();
    else
        QTimer::singleShot(2, this, [this] { pollMoreRows(); });
}

bool ServerQuerySource::takeMoreRows()
{
    if (!m_moreRows)
        return false;
    const std::shared_ptr<pg::LaterResults> more = std::exchange(m_moreRows, nullptr);
    if (!more->done)
        m_connection.session().settle();
    // Its statements: the time limit, the read, the end of the transaction.
    // A read that ran out of time (or failed) leaves the rest to the worker.
    const int start = count();
    int end = start;
    bool atEnd = false;
    bool copyOpen = true;
    if (more->results.size() >= 2) {
        const pg::Result &rows = more->results[1];
        copyOpen = keepPage(rows, start);
        end += rows.rows();
        atEnd = rows.rows() < moreRows;
    }
    grow(end, atEnd);
    if (!copyOpen)
        takeCopyNow();
    else if (!atEnd)
        startCopy(true);  // taken in after the paint, or for a caller who waits
    return true;
}

void ServerQuerySource::waitForCount()
{
    takeMoreRows();
    QuerySource::waitForCount();
}

int ServerQuerySource::loadLast()
{
    takeMoreRows();
    return QuerySource::loadLast();
}

std::optional<int> ServerQuerySource::sortBy(int field, bool descending, int keep, const Progress &progress)
{
    takeMoreRows();
    return QuerySource::sortBy(field, descending, keep, progress);
}

void ServerQuerySource::withCursor(const std::function<void(pg::Session &, bool ownTransaction)> &work)
{
    pg::Session &session = m_connection.session();
    const bool inTransaction = session.inTransaction();
    auto run = [&] {
        session.exec(QStringLiteral("DECLARE %1 NO SCROLL CURSOR FOR %2").arg(cursorName, m_statement));
        work(session, !inTransaction);
        session.exec(QStringLiteral("CLOSE ") + cursorName);
    };
    try {
        if (inTransaction) {
            run();
        } else {
            // Nothing stays open between events: the cursor ends with its transaction.
            session.exec(QStringLiteral("BEGIN READ ONLY"));
            try {
                run();
            } catch (...) {
                session.rollbackQuietly();
                throw;
            }
            session.exec(QStringLiteral("COMMIT"));
        }
    } catch (const pg::ServerError &e) {
        if (e.connectionLost())
            throw;
        throw Error(refusal(e.text()));
    }
}

void ServerQuerySource::readPage(int start, int rows)
{
    // The opening's rows read on come first; rows now there are not read again.
    if (takeMoreRows() && start < count())
        return;
    forgetMemo();  // a statement run again may give other rows
    if (start == 0 && !m_connection.session().inTransaction()) {
        readFirstPages(rows);
        return;
    }
    int end = start;
    bool atEnd = false;
    bool copyOpen = true;
    withCursor([&](pg::Session &session, bool) {
        if (start > 0) {
            // Rows before the page are stepped over on the server, not sent.
            const qint64 moved = session.exec(QStringLiteral("MOVE FORWARD %1 IN %2").arg(start).arg(cursorName)).affected();
            if (moved < start) {
                end = int(moved);
                atEnd = true;
                return;
            }
        }
        const pg::Result page = session.exec(QStringLiteral("FETCH %1 FROM %2").arg(rows).arg(cursorName));
        copyOpen = keepPage(page, start);
        end = start + page.rows();
        atEnd = page.rows() < rows;
    });
    grow(end, atEnd);
    if (!copyOpen)
        takeCopyNow();
}

void ServerQuerySource::takeCopyNow()
{
    // Its rows seen are all in place; these rows, read after, might not be:
    // what shows from now on is the copy's.
    QuerySource::waitForCount();
}

void ServerQuerySource::readFirstPages(int rows)
{
    // The statement's first rows in one round trip to the server, in a
    // read-only transaction of their own: nothing stays open between events.
    // When the set opens, a result of a few pages (a student's scores, a
    // dormitory's places) is read whole too when the server has it at hand,
    // so that it needs no worker; a result the server is slow to produce is
    // left to the worker. That read is sent with the first page and taken
    // in after the paint.
    QStringList statements{QStringLiteral("BEGIN READ ONLY"),
                           QStringLiteral("DECLARE %1 NO SCROLL CURSOR FOR %2").arg(cursorName, m_statement),
                           QStringLiteral("FETCH %1 FROM %2").arg(rows).arg(cursorName)};
    if (m_opening)
        statements << QStringLiteral("SET LOCAL statement_timeout = %1").arg(moreRowsMs)
                   << QStringLiteral("FETCH %1 FROM %2").arg(moreRows).arg(cursorName);
    // Read only: the end of the transaction (failed or not) loses nothing.
    statements << QStringLiteral("ROLLBACK");
    pg::Session &session = m_connection.session();
    auto more = std::make_shared<pg::LaterResults>();
    bool copyOpen = true;
    try {
        try {
            const std::vector<pg::Result> opened = session.pipelineAhead(statements, 3, more);
            const pg::Result &page = opened.back();
            copyOpen = keepPage(page, 0);
            const bool atEnd = page.rows() < rows;
            if (m_opening && !atEnd)
                m_moreRows = more;
            else
                session.settle();
            grow(page.rows(), atEnd);
        } catch (...) {
            session.rollbackQuietly();
            throw;
        }
    } catch (const pg::ServerError &e) {
        if (e.connectionLost())
            throw;
        throw Error(refusal(e.text()));
    }
    if (!copyOpen)
        takeCopyNow();
}

int ServerQuerySource::stepToEnd()
{
    qint64 total = 0;
    withCursor([&](pg::Session &session, bool) {
        total = session.exec(QStringLiteral("MOVE FORWARD ALL IN ") + cursorName).affected();
    });
    return int(qMin<qint64>(total, std::numeric_limits<int>::max() / 2));
}

std::unique_ptr<ResultCopy> ServerQuerySource::makeCopy()
{
    return std::make_unique<ServerResultCopy>(m_connection.session().address(), m_statement, m_types, m_seen);
}

QString ServerQuerySource::refusal(const QString &reason) const
{
    return QStringLiteral("数据库无法执行语句 \"%1\": %2").arg(m_sql, reason);
}

}
