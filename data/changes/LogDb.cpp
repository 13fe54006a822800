#include "data/changes/LogDb.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/Statement.h"
#include "data/server/PgSession.h"

#include <sqlite3.h>

namespace dravon {

LogDb::LogDb(Connection &connection)
{
    if (connection.isServer()) {
        m_session = &connection.session();
        m_dialect = &connection.dialect();
        return;
    }
    m_db = static_cast<sqlite3 *>(connection.nativeHandle());
    if (!m_db)
        throw Error(QStringLiteral("数据库没有连接。"));
}

LogDb::LogDb(sqlite3 *db) : m_db(db) {}

LogDb::LogDb(pg::Session &session, const Dialect &dialect) : m_session(&session), m_dialect(&dialect) {}

LogDb::~LogDb() = default;

QString LogDb::forServer(const QString &sql)
{
    auto it = m_rewritten.constFind(sql);
    if (it == m_rewritten.cend())
        it = m_rewritten.insert(sql, m_dialect->rewrite(sql));
    return *it;
}

Statement &LogDb::prepared(const QString &sql, const QVariantList &params)
{
    auto &s = m_statements[sql];
    if (!s) {
        s = std::make_unique<Statement>();
        s->prepare(m_db, sql);
    }
    s->reset();
    for (int i = 0; i < params.size(); ++i)
        s->bind(i + 1, params[i]);
    return *s;
}

QList<LogRow> LogDb::rows(const QString &sql, const QVariantList &params)
{
    QList<LogRow> rows;
    if (m_session) {
        const pg::Result r = m_session->exec(forServer(sql), QVector<QVariant>(params.cbegin(), params.cend()));
        for (int i = 0; i < r.rows(); ++i) {
            LogRow row;
            for (int c = 0; c < r.columns(); ++c)
                row << r.value(i, c);
            rows << row;
        }
        return rows;
    }
    Statement &s = prepared(sql, params);
    while (s.step()) {
        LogRow row;
        for (int c = 0; c < s.columnCount(); ++c)
            row << s.value(c);
        rows << row;
    }
    s.reset();
    return rows;
}

QVariant LogDb::value(const QString &sql, const QVariantList &params)
{
    const QList<LogRow> found = rows(sql, params);
    return found.isEmpty() || found.first().isEmpty() ? QVariant() : found.first().first();
}

qint64 LogDb::exec(const QString &sql, const QVariantList &params)
{
    if (m_session)
        return m_session->exec(forServer(sql), QVector<QVariant>(params.cbegin(), params.cend())).affected();
    Statement &s = prepared(sql, params);
    s.step();
    s.reset();
    return sqlite3_changes(m_db);
}

}
