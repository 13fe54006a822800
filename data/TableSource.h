#pragma once
// A table's rows in key order. Rows are addressed by the engine's row key;
// a store or delete changes exactly the row that was read, and only while it
// is unchanged since (each column compared with what was read). Tables with a
// declared key that is not an INTEGER PRIMARY KEY are written by that key,
// since vacuuming may renumber their row keys. Which row stands where is the
// position map's business (PositionMap.h); this class reads and writes.
#include "data/PositionMap.h"
#include "data/RowSource.h"

#include <QCache>

namespace dravon {

class TableSource : public RowSource, private KeyReader
{
    Q_OBJECT
public:
    TableSource(Connection &connection, const QString &table, const QString &condition, QObject *parent = nullptr);

    QString tableName() const override { return m_table; }
    int count() const override { return m_map.count(); }
    bool countKnown() const override { return m_map.countKnown(); }
    bool ensure(int row) override;
    bool fetchMore() override;
    int loadLast() override;
    Values values(int row) override;
    void learnAfter(int row) override;
    void learnBefore(int row) override;
    void settle(int row) override;

    void insertRow(int row, const Values &values) override;
    void updateRow(int row, const Values &read, const Values &values, const QVector<bool> &changed) override;
    void deleteRows(const QVector<int> &rows, const QVector<Values> &read) override;
    Values reread(int row, const Values &read) override;
    void forget(int row) override;
    void forgetRows(int first, int last) override;
    void forgetValues() override;

    // By the column's index, compared as stored.
    std::optional<QVariant> lookup(int keyField, const QString &key, int resultField) override;
    std::optional<int> find(int field, const QString &text, bool prefix) override;
    std::optional<KeyedRows> keyedRows() const override;
    qint64 keyOfRow(int row) override;
    std::optional<int> rowOfKey(qint64 key) override { return positionOfKey(key); }
    bool positionsKnown() const override { return !m_counter || m_counter->isFinished(); }
    // The rows of the set as opened and those stored here since.
    std::optional<int> sortBy(int field, bool descending, int keep, const Progress &progress) override;
    bool isKnown(int row) const override { return m_map.isKnown(row); }
    bool orderPending() const override { return m_map.isPartial(); }
    bool awaitOrder(const Progress &progress) override;

    // A whole table whose row keys span fewer than this many is counted when
    // it opens, without a worker (tests lower it to reach the worker's paths).
    static constexpr qint64 defaultCountAtOpenLimit = 50000;
    static void setCountAtOpenLimitForTesting(qint64 rows);

protected:
    void applyCount(const RowCounter::Result &result) override;
    void applyFirstCount(qint64 count) override;

private:
    QVector<qint64> keysBetween(qint64 above, qint64 below, int limit, int offset, bool descending) override;
    qint64 readMaxKey();
    void startCounting();
    QString filter(const QString &keyCondition) const;
    QString localKeyList() const;
    void readFront(int wanted);
    void fetchAround(int row);
    QVector<qint64> readKeysAndValues(Statement &s);
    QString whereRead(const Values &read, QVector<QVariant> *bound, qint64 key) const;
    // False when no row has the key (any more).
    bool readOne(qint64 key);
    std::optional<int> positionOfKey(qint64 key);
    // A large set sorted by a column of the engine's own text order: its
    // first pages from one pass, the whole order from a worker.
    std::optional<int> sortInPages(int field, bool descending, qint64 keepKey, const QString &rows,
                                   const QString &orderSql, const Progress &progress);
    bool sortsByBytes(int field);
    void takeOrder();
    // Writes and reads by key need the whole order first.
    void completeOrder();

    QString m_table;
    QString m_condition;
    QStringList m_declaredKey;  // non-integer declared primary key columns
    PositionMap m_map;
    QCache<qint64, Values> m_values;
    std::shared_ptr<KeyOrder> m_sortWorker;  // reads the whole order of a partial sort
    QString m_sortSql;                       // that order's statement
};

}
