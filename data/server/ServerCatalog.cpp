#include "data/server/ServerCatalog.h"

#include "data/server/PgSession.h"

namespace dravon::pg {

ServerCatalog ServerCatalog::read(Session &session)
{
    const Result r = session.exec(QStringLiteral(
        "SELECT c.relname, a.attname, format_type(a.atttypid, a.atttypmod), "
        "coalesce((SELECT i.indisprimary FROM pg_index i WHERE i.indrelid = c.oid AND i.indisprimary "
        "AND a.attnum = ANY(i.indkey)), false) "
        "FROM pg_class c JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
        "WHERE c.relkind IN ('r', 'p') AND c.relnamespace = current_schema()::regnamespace "
        "ORDER BY c.relname, a.attnum"));
    ServerCatalog catalog;
    for (int i = 0; i < r.rows(); ++i) {
        const QString table = r.text(i, 0);
        auto found = catalog.m_tables.find(table);
        if (found == catalog.m_tables.end()) {
            found = catalog.m_tables.insert(table, {});
            catalog.m_byLowerName[table.toLower()].append(table);
        }
        found->append({r.text(i, 1), r.text(i, 2), r.value(i, 3).toLongLong() != 0});
    }
    return catalog;
}

QString ServerCatalog::tableNamed(const QString &name) const
{
    if (m_tables.contains(name))
        return name;
    const QStringList tables = m_byLowerName.value(name.toLower());
    return tables.isEmpty() ? QString() : tables.first();
}

const QVector<CatalogColumn> *ServerCatalog::columnsOf(const QString &table) const
{
    const auto found = m_tables.constFind(table);
    return found == m_tables.constEnd() ? nullptr : &*found;
}

}
