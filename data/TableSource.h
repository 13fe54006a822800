#pragma once
// A table's rows in key order. Rows are addressed by the engine's row key;
// a store or delete changes exactly the row that was read, and only while it
// is unchanged since (each column compared with what was read). Tables with a
// declared key that is not an INTEGER PRIMARY KEY are written by that key,
// since vacuuming may renumber their row keys. Which row stands where is the
// position map's business (PositionMap.h); this class reads and writes.
#include "data/PagedTableSource.h"

namespace dravon {

class TableSource : public PagedTableSource
{
    Q_OBJECT
public:
    TableSource(Connection &connection, const QString &table, const QString &condition, QObject *parent = nullptr);

    void insertRow(int row, const Values &values) override;
    void updateRow(int row, const Values &read, const Values &values, const QVector<bool> &changed) override;
    void deleteRows(const QVector<int> &rows, const QVector<Values> &read) override;
    Values reread(int row, const Values &read) override;

    // By the column's index, compared as stored.
    std::optional<QVariant> lookup(int keyField, const QString &key, int resultField) override;
    std::optional<int> find(int field, const QString &text, bool prefix) override;
    // The rows of the set as opened and those stored here since.
    std::optional<int> sortBy(int field, bool descending, int keep, const Progress &progress) override;

    // A whole table whose row keys span fewer than this many is counted when
    // it opens, without a worker (tests lower it to reach the worker's paths).
    static constexpr qint64 defaultCountAtOpenLimit = 50000;
    static void setCountAtOpenLimitForTesting(qint64 rows);
    static qint64 countAtOpenRows();

protected:
    QVector<qint64> readRows(qint64 above, qint64 below, int limit, bool descending) override;
    QVector<qint64> readRowsWithKeys(const QVector<qint64> &keys) override;
    std::optional<Values> readRow(qint64 key) override;
    std::shared_ptr<KeyOrder> orderWorker() override;

private:
    QVector<qint64> keysBetween(qint64 above, qint64 below, int limit, int offset, bool descending) override;
    void startCounting();
    QString filter(const QString &keyCondition) const;
    QVector<qint64> readKeysAndValues(Statement &s);
    QString whereRead(const Values &read, QVector<QVariant> *bound, qint64 key) const;
    // A large set sorted by a column of the engine's own text order: its
    // first pages from one pass, the whole order from a worker.
    std::optional<int> sortInPages(int field, bool descending, qint64 keepKey, const QString &rows,
                                   const QString &orderSql, const Progress &progress);
    bool sortsByBytes(int field);

    QStringList m_declaredKey;  // non-integer declared primary key columns
    QString m_sortSql;          // the statement of the current sort's whole order
};

}
