#include "data/ReadStatement.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/server/PgSession.h"

#include <QHash>
#include <sqlite3.h>

namespace dravon {

DenseParameters denseParameters(const QString &serverSql)
{
    DenseParameters out;
    QHash<int, int> renumbered;
    const int n = int(serverSql.size());
    out.sql.reserve(n);
    for (int i = 0; i < n;) {
        const QChar c = serverSql.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // A literal or a quoted name, with its doubled quotes.
            int end = i + 1;
            while (end < n) {
                if (serverSql.at(end) == c) {
                    if (end + 1 < n && serverSql.at(end + 1) == c) {
                        end += 2;
                        continue;
                    }
                    ++end;
                    break;
                }
                ++end;
            }
            out.sql += QStringView(serverSql).mid(i, end - i);
            i = end;
        } else if (c == QLatin1Char('$') && i + 1 < n && serverSql.at(i + 1).isDigit()) {
            int end = i + 1;
            while (end < n && serverSql.at(end).isDigit())
                ++end;
            const int old = QStringView(serverSql).mid(i + 1, end - i - 1).toInt();
            auto it = renumbered.constFind(old);
            if (it == renumbered.constEnd()) {
                out.original << old;
                it = renumbered.insert(old, int(out.original.size()));
            }
            out.sql += QLatin1Char('$') + QString::number(it.value());
            i = end;
        } else {
            out.sql += c;
            ++i;
        }
    }
    return out;
}

class ReadStatement::Server
{
public:
    QString sql;  // as written for the program
    QVector<QVariant> binds;
    pg::Result result;
    int row = -1;
    bool ran = false;
};

ReadStatement::ReadStatement(Connection &connection, const QString &sql) : m_connection(connection)
{
    if (connection.isServer()) {
        m_server = std::make_unique<Server>();
        m_server->sql = sql;
        return;
    }
    m_db = static_cast<sqlite3 *>(connection.nativeHandle());
    if (sqlite3_prepare16_v2(m_db, sql.utf16(), int(sql.size() * 2), &m_stmt, nullptr) != SQLITE_OK)
        throw Error(engineErrorText(m_db));
}

ReadStatement::~ReadStatement()
{
    sqlite3_finalize(m_stmt);
}

ReadStatement &ReadStatement::bind(int index, const QVariant &value)
{
    if (m_server) {
        if (m_server->binds.size() < index)
            m_server->binds.resize(index);
        m_server->binds[index - 1] = value;
        return *this;
    }
    if (index > sqlite3_bind_parameter_count(m_stmt))
        return *this;
    int rc;
    if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
        rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
    else {
        const QString text = value.toString();
        rc = sqlite3_bind_text16(m_stmt, index, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
    }
    if (rc != SQLITE_OK)
        throw Error(engineErrorText(m_db));
    return *this;
}

bool ReadStatement::step()
{
    if (m_server) {
        Server &s = *m_server;
        if (!s.ran) {
            s.ran = true;
            const DenseParameters dense = denseParameters(m_connection.rewrite(s.sql));
            QVector<QVariant> params;
            for (int old : dense.original)
                params << s.binds.value(old - 1);
            s.result = m_connection.session().exec(dense.sql, params);
        }
        return ++s.row < s.result.rows();
    }
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        throw Error(engineErrorText(m_db));
    return false;
}

bool ReadStatement::isNull(int column) const
{
    if (m_server)
        return m_server->result.isNull(m_server->row, column);
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

qint64 ReadStatement::int64(int column) const
{
    if (m_server)
        return m_server->result.value(m_server->row, column).toLongLong();
    return sqlite3_column_int64(m_stmt, column);
}

QVariant ReadStatement::value(int column) const
{
    if (m_server)
        return m_server->result.value(m_server->row, column);
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(m_stmt, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(m_stmt, column);
    case SQLITE_NULL:
        return {};
    default:
        return text(column);
    }
}

QString ReadStatement::text(int column) const
{
    if (m_server)
        return m_server->result.text(m_server->row, column);
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column)),
                             sqlite3_column_bytes(m_stmt, column));
}

}
