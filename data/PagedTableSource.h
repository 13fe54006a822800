#pragma once
// A table's rows in the order of their row key, read in keyset pages, for
// any engine. This class keeps what is the same on every engine: which row
// stands where (the position map, PositionMap.h), the values read, paging
// from the front and the back, placing rows by key once they are counted,
// and a large sort that shows its first pages while a worker reads the
// whole order. An engine only says how it reads: a page of rows after or
// before a key, rows by their keys, one row, and the whole order of a sort.
#include "data/KeyOrder.h"
#include "data/PositionMap.h"
#include "data/RowSource.h"
#include "data/SortedPages.h"

#include <QCache>
#include <memory>

namespace dravon {

class PagedTableSource : public RowSource, protected KeyReader
{
    Q_OBJECT
public:
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
    void forget(int row) override;
    void forgetRows(int first, int last) override;
    void forgetValues() override;

    std::optional<KeyedRows> keyedRows() const override;
    qint64 keyOfRow(int row) override;
    std::optional<int> rowOfKey(qint64 key) override { return positionOfKey(key); }
    bool positionsKnown() const override { return !m_counter || m_counter->isFinished(); }
    bool isKnown(int row) const override { return m_map.isKnown(row); }
    bool orderPending() const override { return m_map.isPartial(); }
    bool awaitOrder(const Progress &progress) override;

protected:
    // table: the name rows are written to; condition: the set's WHERE
    // condition as the program wrote it; maxKey: the newest row key when
    // the set opens (rows added later by others are not in it).
    PagedTableSource(Connection &connection, const QString &table, const QString &condition, qint64 maxKey,
                     QObject *parent);

    // ---- what an engine reads. Each keeps the values it reads in m_values
    // (a row already kept is left as it is, but by readRowsWithKeys).

    // The rows of the set with keys above `above` and below `below`, at
    // most limit, ascending (descending when asked), with their values.
    virtual QVector<qint64> readRows(qint64 above, qint64 below, int limit, bool descending) = 0;
    // The rows with these keys (at most aroundBatch), their values kept
    // afresh; the keys found.
    virtual QVector<qint64> readRowsWithKeys(const QVector<qint64> &keys) = 0;
    // One row's values; none when no row has the key (any more).
    virtual std::optional<Values> readRow(qint64 key) = 0;
    // A worker that reads the whole order of the current sort again, not yet
    // started (after a wait for it was cancelled).
    virtual std::shared_ptr<KeyOrder> orderWorker() = 0;

    static constexpr int pageSize = 128;
    static constexpr int aroundBatch = 64;

    void applyCount(const RowCounter::Result &result) override;
    void applyFirstCount(qint64 count) override;

    // Keeps the values read of a row not kept yet.
    void keep(qint64 key, Values *values)
    {
        m_values.insert(key, values);
        ++m_rowsFetched;
    }
    bool isKept(qint64 key) const { return m_values.contains(key); }
    void readFront(int wanted);
    // Reads the row again; false when it is gone (it then shows empty).
    bool readOne(qint64 key);
    // The row found again by its declared key stands under row key now (-1:
    // it is gone); what was kept under its old key goes. Returns now.
    qint64 rekeyRow(int row, qint64 now);
    std::optional<int> positionOfKey(qint64 key);
    // The first of these rows in the set's order.
    std::optional<int> firstPositionOf(const QVector<qint64> &keys);
    // The keys of the rows stored through this set, "1,2,3".
    QString localKeyList() const;

    // A sort whose whole order is known.
    void showOrder(const QVector<qint64> &keys, int field, bool descending);
    // A sort known in part: its pages show now, the worker (started now, or
    // once the first pages are painted) reads the whole order. The position
    // of the chosen row comes back.
    int showPagesFirst(const SortedPages::Result &pages, int field, bool descending,
                       const std::shared_ptr<KeyOrder> &worker);
    // Writes and reads by key need the whole order first.
    void completeOrder();

    QString m_table;
    QString m_condition;
    PositionMap m_map;
    QCache<qint64, Values> m_values;

private:
    void fetchAround(int row);
    void takeOrder();
    std::shared_ptr<KeyOrder> m_sortWorker;  // reads the whole order of a partial sort
};

}
