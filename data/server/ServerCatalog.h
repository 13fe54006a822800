#pragma once
// The tables of a server database and their columns, read in one statement.
// A window opens several record sets over the same few tables, and each one
// needs its table's name as the schema writes it and its columns; asking
// the server for them every time costs two round trips per record set. The
// connection keeps one catalog (Connection::serverCatalog) and reads it
// again after a statement that may change the schema, or when a table is
// asked for that the catalog does not hold.
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

namespace dravon::pg {

class Session;

struct CatalogColumn
{
    QString name;
    QString type;  // as format_type writes it ("bigint", "character varying(20)" ...)
    bool primaryKey = false;
};

class ServerCatalog
{
public:
    // The tables of the session's current schema; throws ServerError.
    static ServerCatalog read(Session &session);

    // The table a statement means by name (any case; the exact spelling
    // first), as the schema writes it; empty when there is none.
    QString tableNamed(const QString &name) const;
    // A table's columns in their order; null for a table the catalog does not hold.
    const QVector<CatalogColumn> *columnsOf(const QString &table) const;

private:
    QHash<QString, QVector<CatalogColumn>> m_tables;  // by the schema's spelling
    QHash<QString, QStringList> m_byLowerName;
};

}
