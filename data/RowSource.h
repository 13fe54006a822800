#pragma once
// Where a record set's rows come from. Two sources share one interface: a
// table read in keyset pages by row key (writable, TableSource.h), and the
// result of any other read-only statement (QuerySource.h). Both show their
// first rows at once and learn the true row count on a worker connection. No
// statement stays prepared or open once control returns to the event loop, so
// other programs can write to the file and vacuum it while sets are open.
#include "data/Field.h"
#include "data/KeyOrder.h"
#include "data/RowCounter.h"
#include "data/Statement.h"

#include <QHash>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

namespace dravon {

class Connection;

class RowSource : public QObject
{
    Q_OBJECT
public:
    RowSource(Connection &connection, QObject *parent = nullptr);
    ~RowSource() override;

    const QVector<Field> &fields() const { return m_fields; }
    // The table rows are written to; empty for a read-only source.
    virtual QString tableName() const { return {}; }
    bool isWritable() const { return !tableName().isEmpty(); }

    // Rows that have a position now.
    virtual int count() const = 0;
    // True once count() is the true number of rows of the set.
    virtual bool countKnown() const = 0;
    // Makes position row known if the set has it; false past the end.
    virtual bool ensure(int row) = 0;
    // Learns the next rows after the known ones; false when there are none.
    virtual bool fetchMore() = 0;
    // Makes the last row known; its position, -1 for an empty set.
    virtual int loadLast() = 0;
    // The row's values as read; empty values for a row gone elsewhere.
    virtual Values values(int row) = 0;
    // Makes sure the row after (before) row is the true neighbour, reading it
    // when the rows around are not all known yet.
    virtual void learnAfter(int row) { ensure(row + 1); }
    virtual void learnBefore(int) {}
    // Waits for the count being learnt and applies it.
    virtual void waitForCount();
    // Gives the row at this position its lasting place (by key) before a row
    // is stored or deleted there; may reset the rows when others changed them.
    virtual void settle(int) {}

    // Writes. A read-only source refuses each with dravon::Error. Conflict:
    // the row is no longer the one that was read (nothing is then changed).
    struct Conflict
    {
    };
    using Refused = WriteRefused;
    // Stores a new row and gives it position row.
    virtual void insertRow(int row, const Values &values);
    // Changes the columns marked in changed; read holds the row as it was read.
    virtual void updateRow(int row, const Values &read, const Values &values, const QVector<bool> &changed);
    // Deletes the rows at the positions (ascending) as read; in one transaction.
    virtual void deleteRows(const QVector<int> &rows, const QVector<Values> &read);
    // Reads the row at position row again (read holds it as it was read);
    // no values at all (not even empty ones) when it is gone.
    virtual Values reread(int row, const Values &read);
    // Drops the row at position row from this set (after it was deleted).
    virtual void forget(int row);
    // Drops the rows at positions first..last (after they were deleted).
    virtual void forgetRows(int first, int last);
    // Forgets the values read, keeping the positions: they are read again
    // when next asked for (after a write that was rolled back).
    virtual void forgetValues() { forgetMemo(); }

    // The result column of the first row whose key column equals key. By
    // default the rows are compared as they show.
    virtual std::optional<QVariant> lookup(int keyField, const QString &key, int resultField);
    // The position of the first row, in this set's order, whose column
    // equals text (or begins with it). By default the rows are compared as
    // they show.
    virtual std::optional<int> find(int field, const QString &text, bool prefix);

    // For searches that run in the database: the set's rows are the rows of
    // the table that meet the condition, with keys up to maxKey, in key order,
    // except the local keys (rows stored through this set), which stay where
    // they were added. None for a query result and for a set sorted by a column.
    struct KeyedRows
    {
        QString table;
        QString condition;  // the set's WHERE condition, empty for none
        qint64 maxKey = 0;  // rows with larger keys are not in the set
        QList<qint64> localKeys;
    };
    virtual std::optional<KeyedRows> keyedRows() const { return std::nullopt; }
    // The stored key of a position (-1 for none) and the position of a key;
    // only a source with keyed rows has keys.
    virtual qint64 keyOfRow(int) { return -1; }
    virtual std::optional<int> rowOfKey(qint64) { return std::nullopt; }
    // Whether rowOfKey answers without waiting for the count being learnt.
    virtual bool positionsKnown() const { return true; }

    // Sorting: the rows in the order of a column (descending when asked),
    // rows with equal values in their order as read. The new position of the
    // row that stood at keep comes back (-1 when there is none); nothing when
    // the sort was cancelled through progress, which is called now and then
    // while a large set is read (the order then stays as it was). Throws
    // dravon::Error when the database refuses it. A source that cannot
    // sort (rows computed and ordered by their owner) leaves the order as it is.
    virtual std::optional<int> sortBy(int, bool, int, const Progress &) { return std::nullopt; }
    struct SortOrder
    {
        int field = -1;  // -1: the order as read
        bool descending = false;
    };
    SortOrder sortOrder() const { return m_sortOrder; }
    // A large sort shows its first pages at once while a worker reads the
    // whole order. Until it is complete some rows are not known: isKnown is
    // false for them, and awaitOrder waits for the worker (starting it again
    // when it was cancelled), with progress; false when progress cancelled.
    // Every other read of such a row waits by itself, without progress.
    virtual bool isKnown(int) const { return true; }
    virtual bool orderPending() const { return false; }
    virtual bool awaitOrder(const Progress &) { return true; }
    // A set of at most this many rows is sorted at once, without a worker
    // and without progress (tests lower it to reach the worker's path).
    static constexpr int defaultSortHereLimit = 50000;
    static void setSortHereLimitForTesting(int rows);
    static int sortHereLimit();

    qint64 rowsFetched() const { return m_rowsFetched; }
    // Finalizes every prepared statement; runs after the event that used them.
    void releaseStatements();

signals:
    // Positions first..last (as they will be) are about to hold new rows.
    void aboutToInsert(int first, int last);
    void inserted();
    void aboutToReset();
    void resetDone();
    void countFailed(const QString &text);
    // Rows of the set could not be read (the statement was refused when it
    // ran again): text says why, for the user.
    void readFailed(const QString &text);
    // A partial sort was completed with every known row in its place: the
    // rows unknown so far can be shown now.
    void orderCompleted();

protected:
    sqlite3 *handle();
    Statement &statement(const QString &sql);
    void scheduleRelease();
    void startCounter(const QString &keySql, qint64 maxKey, const QString &countSql);
    // A counter of another engine, started the same way.
    void startCounter(std::unique_ptr<RowCounter> counter);
    // Rows between two of a counter's checkpoints.
    static int counterStride();
    virtual void applyCount(const RowCounter::Result &result) = 0;
    // The count, before the worker has finished; a source may show it already.
    virtual void applyFirstCount(qint64) {}
    virtual void statementsReleased() {}
    Values readValues(const Statement &s, int firstColumn) const;
    [[noreturn]] void refuseWrite() const;
    // The keys of a sort, read here (small sets) or by a worker with progress;
    // nothing when cancelled.
    std::optional<QVector<qint64>> readOrder(sqlite3 *db, const QString &path, const QString &sql,
                                             const QVector<QVariant> &binds, const Progress &progress);
    void setSortOrder(int field, bool descending) { m_sortOrder = {field, descending}; }
    // The row last asked for: a grid or a walk asks for each of its columns
    // in turn. Forgotten whenever rows move or are read again.
    bool remembers(int row) const { return row == m_memoRow; }
    const Values &remember(int row, const Values &values)
    {
        m_memoRow = row;
        m_memo = values;
        return m_memo;
    }
    const Values &remembered() const { return m_memo; }
    void forgetMemo() { m_memoRow = -1; }

    Connection &m_connection;
    QVector<Field> m_fields;
    qint64 m_rowsFetched = 0;
    std::unique_ptr<RowCounter> m_counter;

private:
    void takeCount();
    void takeFirstCount();
    QHash<QString, Statement *> m_statements;
    bool m_releaseScheduled = false;
    SortOrder m_sortOrder;
    int m_memoRow = -1;
    Values m_memo;
};

}
