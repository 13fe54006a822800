#include "data/server/ServerQuerySource.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/server/PgSession.h"

#include <algorithm>
#include <numeric>

namespace dravon {

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
    : RowSource(connection, parent)
{
    QString statement = sql.trimmed();
    while (statement.endsWith(QLatin1Char(';')))
        statement = statement.chopped(1).trimmed();
    pg::Result result;
    try {
        result = connection.session().exec(connection.dialect().rewrite(statement));
    } catch (const pg::ServerError &e) {
        if (e.connectionLost())
            throw;
        throw Error(QStringLiteral("数据库无法执行语句 \"%1\": %2").arg(sql, e.text()));
    }
    for (int c = 0; c < result.columns(); ++c)
        m_fields.append({result.columnName(c), fieldTypeOfServerType(result.columnType(c))});
    m_rows.reserve(result.rows());
    for (int r = 0; r < result.rows(); ++r) {
        Values values(m_fields.size());
        for (int c = 0; c < m_fields.size(); ++c)
            values[c] = result.value(r, c);
        m_rows.append(values);
    }
    m_rowsFetched = m_rows.size();
    m_order.resize(m_rows.size());
    std::iota(m_order.begin(), m_order.end(), 0);
}

Values ServerQuerySource::values(int row)
{
    if (row < 0 || row >= count())
        return Values(m_fields.size());
    return m_rows.at(m_order.at(row));
}

namespace {

// The file's order of values: empty, then numbers, then texts (byte order).
int compareStored(const QVariant &a, const QVariant &b)
{
    const int rankA = a.isNull() ? 0 : a.typeId() == QMetaType::QString ? 2 : 1;
    const int rankB = b.isNull() ? 0 : b.typeId() == QMetaType::QString ? 2 : 1;
    if (rankA != rankB)
        return rankA < rankB ? -1 : 1;
    if (rankA == 1) {
        const double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if (rankA == 2) {
        const QByteArray x = a.toString().toUtf8(), y = b.toString().toUtf8();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    return 0;
}

}

std::optional<int> ServerQuerySource::sortBy(int field, bool descending, int keep, const Progress &)
{
    const int keepRow = keep >= 0 && keep < count() ? m_order.at(keep) : -1;
    emit aboutToReset();
    std::iota(m_order.begin(), m_order.end(), 0);
    std::stable_sort(m_order.begin(), m_order.end(), [&](int x, int y) {
        const int c = compareStored(m_rows[x].value(field), m_rows[y].value(field));
        return descending ? c > 0 : c < 0;
    });
    forgetMemo();
    setSortOrder(field, descending);
    emit resetDone();
    return keepRow >= 0 ? int(m_order.indexOf(keepRow)) : -1;
}

}
