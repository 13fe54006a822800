#include "data/Dravon.h"

#include "data/changes/ChangeBatch.h"

#include <QSqlError>
#include <QRegularExpression>
#include <QSqlQuery>
#include <optional>

namespace {

QString failure(const QString &sql, const QSqlQuery &query)
{
    return QStringLiteral("数据库无法执行语句 \"%1\": %2").arg(sql, dravon::engineErrorText(query));
}

// An INSERT, UPDATE, DELETE or REPLACE statement.
bool changesRows(const QString &sql)
{
    static const QRegularExpression dml(QStringLiteral("^\\s*(insert|update|delete|replace)\\b"),
                                        QRegularExpression::CaseInsensitiveOption);
    return dml.match(sql).hasMatch();
}

}

bool SQLSearch(const QString &sql, dravon::Connection &connection)
{
    if (connection.isServer()) {
        try {
            return connection.session().exec(connection.rewrite(sql)).rows() > 0;
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
    // A change of rows is a batch of the change log: its caller's, or one of its own.
    std::optional<dravon::ChangeBatch> batch;
    if (changesRows(sql))
        batch.emplace(connection, dravon::BatchTag{QStringLiteral("修改"), QString(), QStringLiteral("执行修改语句")});
    if (connection.isServer()) {
        try {
            connection.session().exec(connection.rewrite(sql));
        } catch (const dravon::pg::ServerError &e) {
            throw dravon::Error(QStringLiteral("数据库无法执行语句 \"%1\": %2").arg(sql, e.text()));
        }
        // Any other statement may have changed the tables' shapes.
        if (!batch)
            connection.forgetServerCatalog();
        if (batch)
            batch->commit();
        return;
    }
    QSqlQuery query(connection.database());
    if (!query.exec(dravon::translateSql(sql)))
        throw dravon::Error(failure(sql, query));
    query.finish();
    if (batch)
        batch->commit();
}

std::unique_ptr<dravon::RecordSet> SQLDataSet(const QString &sql, dravon::Connection &connection)
{
    return std::make_unique<dravon::RecordSet>(connection, sql);
}
