#include "data/server/ServerQuerySource.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/server/ServerResultCopy.h"

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
    if (!countKnown())
        startCopy();
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
    forgetMemo();  // a statement run again may give other rows
    int end = start;
    bool atEnd = false;
    auto keep = [&](const pg::Result &page) {
        if (m_fields.isEmpty())
            for (int c = 0; c < page.columns(); ++c)
                m_fields.append({page.columnName(c), fieldTypeOfServerType(page.columnType(c))});
        for (int r = 0; r < page.rows(); ++r) {
            if (m_opening)
                m_shown.append(ServerResultCopy::rowKey(page, r));
            Values values(m_fields.size());
            for (int c = 0; c < m_fields.size(); ++c)
                values[c] = page.value(r, c);
            keepRow(end++, values);
        }
    };
    if (start == 0 && !m_connection.session().inTransaction()) {
        readFirstPages(rows, keep, atEnd);
        grow(end, atEnd);
        return;
    }
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
        keep(page);
        atEnd = page.rows() < rows;
    });
    grow(end, atEnd);
}

void ServerQuerySource::readFirstPages(int rows, const std::function<void(const pg::Result &)> &keep, bool &atEnd)
{
    // The statement's first rows in one round trip to the server, in a
    // read-only transaction of their own: nothing stays open between events.
    pg::Session &session = m_connection.session();
    try {
        try {
            const std::vector<pg::Result> opened = session.pipeline(
                {QStringLiteral("BEGIN READ ONLY"),
                 QStringLiteral("DECLARE %1 NO SCROLL CURSOR FOR %2").arg(cursorName, m_statement),
                 QStringLiteral("FETCH %1 FROM %2").arg(rows).arg(cursorName)});
            keep(opened.back());
            atEnd = opened.back().rows() < rows;
            if (!atEnd) {
                // A result of a few pages (a student's scores, a dormitory's
                // places) is read whole now when the server has it at hand,
                // so it needs no worker; a result the server is slow to
                // produce is left to the worker.
                try {
                    const std::vector<pg::Result> more = session.pipeline(
                        {QStringLiteral("SET LOCAL statement_timeout = %1").arg(moreRowsMs),
                         QStringLiteral("FETCH %1 FROM %2").arg(moreRows).arg(cursorName)});
                    keep(more.back());
                    atEnd = more.back().rows() < moreRows;
                } catch (const pg::ServerError &e) {
                    if (e.connectionLost())
                        throw;
                }
            }
        } catch (...) {
            session.rollbackQuietly();
            throw;
        }
        // Read only: the end of the transaction (failed or not) loses nothing.
        session.exec(QStringLiteral("ROLLBACK"));
    } catch (const pg::ServerError &e) {
        if (e.connectionLost())
            throw;
        throw Error(refusal(e.text()));
    }
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
    return std::make_unique<ServerResultCopy>(m_connection.session().address(), m_statement, int(m_fields.size()), m_shown);
}

QString ServerQuerySource::refusal(const QString &reason) const
{
    return QStringLiteral("数据库无法执行语句 \"%1\": %2").arg(m_sql, reason);
}

}
