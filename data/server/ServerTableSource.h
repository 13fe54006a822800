#pragma once
// A table's rows on a PostgreSQL server, in the order of the row key "Id"
// (the stand-in for the file's row key, never reused). Reads are keyset
// pages by "Id" through the connection's libpq session, so nothing stays
// open between events; paging, placing and sorting are shared with the
// file's tables (PagedTableSource.h), this class reads and writes. A store or delete changes exactly the row that
// was read and only while every column is as it was read, so a second clerk's
// Save of a row changed meanwhile is refused and nothing is lost.
#include "data/PagedTableSource.h"
#include "data/server/ServerKeyOrder.h"

namespace dravon {

namespace pg {
class Session;
class Result;
}

// The name of the server's table that name means (any case); empty when
// the database has no such table.
QString serverTableNamed(Connection &connection, const QString &name);

class ServerTableSource : public PagedTableSource
{
    Q_OBJECT
public:
    // table: the name as the server's schema writes it; condition: the WHERE
    // condition in the program's SQL (rewritten by the connection's dialect).
    ServerTableSource(Connection &connection, const QString &table, const QString &condition,
                      QObject *parent = nullptr);

    void insertRow(int row, const Values &values) override;
    void updateRow(int row, const Values &read, const Values &values, const QVector<bool> &changed) override;
    void deleteRows(const QVector<int> &rows, const QVector<Values> &read) override;
    Values reread(int row, const Values &read) override;

    std::optional<QVariant> lookup(int keyField, const QString &key, int resultField) override;
    std::optional<int> find(int field, const QString &text, bool prefix) override;
    // A small set is sorted here at once; a larger one by a worker on a
    // session of its own, which sends the first pages at once and then the
    // whole order, with progress (a cancel stops its statement on the server).
    std::optional<int> sortBy(int field, bool descending, int keep, const Progress &progress) override;

protected:
    QVector<qint64> readRows(qint64 above, qint64 below, int limit, bool descending) override;
    QVector<qint64> readRowsWithKeys(const QVector<qint64> &keys) override;
    std::optional<Values> readRow(qint64 key) override;
    std::shared_ptr<KeyOrder> orderWorker() override;

private:
    QVector<qint64> keysBetween(qint64 above, qint64 below, int limit, int offset, bool descending) override;
    pg::Result run(const QString &sql, const QVector<QVariant> &params);
    // Runs a write; the server's refusal becomes WriteRefused.
    pg::Result write(const QString &sql, const QVector<QVariant> &params);
    QString where(const QString &keyCondition) const;
    // The rows with their values as read; the keys.
    QVector<qint64> takeRows(const pg::Result &result, bool replace);
    // The text as a value of the field's type; none when it cannot be one
    // (the server would refuse to compare it with the column).
    std::optional<QVariant> comparable(int field, const QString &text) const;

    QString m_quotedTable;
    QString m_serverCondition;  // the condition rewritten for the server; empty for none
    QString m_columns;          // "Id", then the fields, quoted
    QStringList m_fieldTypes;   // each field's type as the server writes it ("double precision")
    ServerSort m_sort;          // the current sort, for its whole order
    QVector<int> m_declaredKey; // the fields of the declared primary key other than "Id"
};

}
