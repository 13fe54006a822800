#include "data/Dravon.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

QString failure(const QString &sql, const QSqlQuery &query)
{
    return QStringLiteral("数据库无法执行语句 \"%1\": %2").arg(sql, dravon::engineErrorText(query));
}

}

bool SQLSearch(const QString &sql, dravon::Connection &connection)
{
    if (connection.isServer()) {
        try {
            return connection.session().exec(connection.dialect().rewrite(sql)).rows() > 0;
        } catch (const dravon::pg::ServerError &e) {
            throw dravon::Error(QStringLiteral("数据库无法执行语句 \"%1\": %2").arg(sql, e.text()));
        }
    }
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    if (!query.exec(dravon::translateSql(sql)))
        throw dravon::Error(failure(sql, query));
    return query.next();
}

void SQLExecute(const QString &sql, dravon::Connection &connection)
{
    if (connection.isServer()) {
        try {
            connection.session().exec(connection.dialect().rewrite(sql));
            return;
        } catch (const dravon::pg::ServerError &e) {
            throw dravon::Error(QStringLiteral("数据库无法执行语句 \"%1\": %2").arg(sql, e.text()));
        }
    }
    QSqlQuery query(connection.database());
    if (!query.exec(dravon::translateSql(sql)))
        throw dravon::Error(failure(sql, query));
}

std::unique_ptr<dravon::RecordSet> SQLDataSet(const QString &sql, dravon::Connection &connection)
{
    return std::make_unique<dravon::RecordSet>(connection, sql);
}
