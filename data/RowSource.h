#pragma once
// Where a record set's rows come from. Two sources share one interface: a
// table read in keyset pages by row key (writable), and the result of any
// other read-only statement read forward by a cursor. Both show their first
// rows at once and learn the true row count on a worker connection. No
// statement stays prepared or open once control returns to the event loop, so
// other programs can write to the file and vacuum it while sets are open.
#include <QCache>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QThread>
#include <QVariant>
#include <QVector>
#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace dravon {

class Connection;

enum class FieldType { Text, Integer, Real, Date };

struct Field
{
    QString name;
    FieldType type = FieldType::Text;
};

using Values = QVector<QVariant>;

// A prepared engine statement, reset after use and finalized when its owner
// releases statements at the end of the running event.
class Statement
{
public:
    Statement() = default;
    ~Statement() { finalize(); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // Prepares sql on db unless already prepared there; throws dravon::Error.
    void prepare(sqlite3 *db, const QString &sql);
    bool isPrepared() const { return m_stmt != nullptr; }
    void bind(int index, const QVariant &value);  // 1-based
    // Steps once: true for a row, false at the end; throws on failure.
    bool step();
    // Runs a write; throws TableSource::Refused with the engine's text when refused.
    void execWrite();
    bool isReadOnly() const;
    QString columnName(int column) const;
    QString declaredType(int column) const;
    QVariant value(int column) const;
    qint64 int64(int column) const;
    int columnCount() const;
    void reset();
    void finalize();
    QString sql() const { return m_sql; }

private:
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
    QString m_sql;
};

// Throws dravon::Error with the engine's message for a failed call.
[[noreturn]] void failEngine(sqlite3 *db, const QString &what);

// Counts rows on its own connection to the same file. For a table it finds
// every stride-th row key, each from the one before (the read lock is
// dropped every few hundred), so that any row position can later be reached
// by one keyset page.
class RowCounter : public QThread
{
    Q_OBJECT
public:
    struct Result
    {
        bool ok = false;
        QString error;
        qint64 count = 0;
        QVector<qint64> checkpoints;  // key of the row at position i * stride
    };
    // keySql: "SELECT rowid FROM t WHERE rowid > ?1 AND rowid <= ?2 [AND (c)] ORDER BY rowid LIMIT ?3 OFFSET ?4",
    // or empty with countSql "SELECT count(*) FROM (...)". With keySql, a
    // countSql (its ?1 bound to maxKey) gives the count first, before the
    // checkpoints are found.
    RowCounter(const QString &path, const QString &keySql, qint64 maxKey, const QString &countSql, int stride);
    ~RowCounter() override;
    void cancel();
    Result result() const;
    // The count learnt before the checkpoints; -1 until then.
    qint64 firstCount() const { return m_firstCount; }
    // Tests: the walk for checkpoints waits after the first count until
    // released (at most ten seconds), so that what shows meanwhile can be checked.
    static void holdCheckpointsForTesting(bool hold);

signals:
    void counted();
    void firstCounted();

protected:
    void run() override;

private:
    QString m_path;
    QString m_keySql;
    qint64 m_maxKey;
    QString m_countSql;
    int m_stride;
    std::atomic<bool> m_cancelled{false};
    std::atomic<qint64> m_firstCount{-1};
    std::atomic<sqlite3 *> m_db{nullptr};
    mutable std::mutex m_mutex;
    Result m_result;
};

class RowSource : public QObject
{
    Q_OBJECT
public:
    RowSource(Connection &connection, QObject *parent = nullptr);
    ~RowSource() override;

    const QVector<Field> &fields() const { return m_fields; }
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
    void waitForCount();
    // Gives the row at this position its lasting place (by key) before a row
    // is stored or deleted there; may reset the rows when others changed them.
    virtual void settle(int) {}

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

protected:
    sqlite3 *handle();
    Statement &statement(const QString &sql);
    void scheduleRelease();
    void startCounter(const QString &keySql, qint64 maxKey, const QString &countSql);
    virtual void applyCount(const RowCounter::Result &result) = 0;
    // The count, before the worker has finished; a source may show it already.
    virtual void applyFirstCount(qint64) {}
    virtual void statementsReleased() {}
    Values readValues(const Statement &s, int firstColumn) const;
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
    int m_memoRow = -1;
    Values m_memo;
};

// A table's rows in key order. Rows are addressed by the engine's row key;
// a store or delete changes exactly the row that was read, and only while it
// is unchanged since (each column compared with what was read). Tables with a
// declared key that is not an INTEGER PRIMARY KEY are written by that key,
// since vacuuming may renumber their row keys.
//
// Positions: before the count is known, the rows read from the front, then
// (after a jump to the end) the rows read from the back; the middle is
// inserted when the count and the worker's checkpoints arrive, and read by
// keyset pages between checkpoints.
class TableSource : public RowSource
{
    Q_OBJECT
public:
    TableSource(Connection &connection, const QString &table, const QString &condition, QObject *parent = nullptr);

    QString table() const { return m_table; }
    int count() const override;
    bool countKnown() const override { return m_countKnown; }
    bool ensure(int row) override;
    bool fetchMore() override;
    int loadLast() override;
    Values values(int row) override;
    void learnAfter(int row) override;
    void learnBefore(int row) override;
    void settle(int row) override;

    // Writes. Each throws dravon::Error; Conflict when the row is no longer
    // the one that was read (nothing is then changed).
    struct Conflict
    {
    };
    // The database refused the statement; the engine's text.
    struct Refused
    {
        QString engineText;
    };
    // Stores a new row and gives it position row.
    void insertRow(int row, const Values &values, const QVector<bool> &given);
    // Changes the columns marked in changed; read holds the row as it was read.
    void updateRow(int row, const Values &read, const Values &values, const QVector<bool> &changed);
    // Deletes the rows at the positions (ascending) as read; in one transaction.
    void deleteRows(const QVector<int> &rows, const QVector<Values> &read);
    // Reads the row at position row again, by its key (read holds it as it
    // was read); no values at all (not even empty ones) when it is gone.
    Values reread(int row, const Values &read);
    // Drops the row at position row from this set (after it was deleted).
    void forget(int row);

    std::optional<QVariant> lookup(int keyField, const QString &key, int resultField);
    // Position of the first row of this set whose column equals key.
    std::optional<int> locate(int keyField, const QString &key) { return find(keyField, key, false); }
    // The position of the first row, in this set's order, whose column equals
    // text (or begins with it), found by the column's index.
    std::optional<int> find(int field, const QString &text, bool prefix);

    // For searches that run in the database: the set's rows are the rows of
    // the table that meet the condition, with keys up to maxKey, in key order,
    // except the local rows (stored through this set), which stay where they
    // were added. The key of a position (-1 for none) and the position of a key.
    QString condition() const { return m_condition; }
    qint64 maxKey() const { return m_maxKey; }
    QList<qint64> localKeys() const { return m_localInserted.values(); }
    qint64 keyOfRow(int row) { return row >= 0 && row < count() ? keyAt(row) : -1; }
    std::optional<int> rowOfKey(qint64 key) { return positionOfKey(key); }
    // Whether rowOfKey answers without waiting for the worker's count and checkpoints.
    bool positionsKnown() const { return !m_counter || m_counter->isFinished(); }

    // A whole table whose row keys span fewer than this many is counted when
    // it opens, without a worker (tests lower it to reach the worker's paths).
    static constexpr qint64 defaultCountAtOpenLimit = 50000;
    static void setCountAtOpenLimitForTesting(qint64 rows);

protected:
    void applyCount(const RowCounter::Result &result) override;
    void applyFirstCount(qint64 count) override;

private:
    struct Chunk
    {
        // Materialized: row keys in display order (-1 for a row gone elsewhere).
        bool materialized = true;
        QVector<qint64> keys;
        // Otherwise the snapshot's rows at positions [first, end).
        int first = 0;
        int end = 0;
        // The rows between front and back once the count is known but the
        // checkpoints are not yet: positions [0, end) of that range.
        bool pending = false;
        int size() const { return materialized ? int(keys.size()) : end - first; }
    };

    QString filter(const QString &keyCondition) const;
    int chunkAt(int row, int *offset) const;
    qint64 keyAt(int row);
    const QVector<qint64> &segment(int index);
    qint64 pendingKey(int offset, int size);
    void settlePending();
    void replacePending(const QVector<Chunk> &middle);
    int splitAt(int row, int *offset);
    void readFront(int wanted);
    void fetchAround(int row);
    void readInto(Statement &s, QVector<qint64> *keys);
    QString whereRead(const Values &read, QVector<QVariant> *bound, qint64 key) const;
    void placeStored(int row, qint64 key);
    // False when no row has the key (any more).
    bool readOne(qint64 key);
    std::optional<int> positionOfKey(qint64 key);
    int positionAtOrAbove(qint64 key);

    QString m_table;
    QString m_condition;
    QStringList m_declaredKey;  // non-integer declared primary key columns
    qint64 m_maxKey = 0;        // the snapshot: rows with keys up to this
    QVector<Chunk> m_chunks;    // [0] front; back chunk last while m_backLoaded and the gap is open
    bool m_gapOpen = true;      // rows may lie between the front and the back (or the end)
    bool m_backLoaded = false;
    bool m_countKnown = false;
    qint64 m_frontLast = std::numeric_limits<qint64>::min();  // largest snapshot key read from the front
    qint64 m_backFirst = 0;     // smallest snapshot key read from the back
    int m_frontBase = 0;        // snapshot rows read from the front
    int m_backBase = 0;         // snapshot rows read from the back
    QVector<qint64> m_checkpoints;
    int m_snapshotCount = 0;
    bool m_provisional = false;   // positions from the first count; checkpoints to come
    bool m_changedLocally = false;  // rows stored or deleted through this set
    QCache<int, QVector<qint64>> m_pendingPages;
    QSet<qint64> m_localInserted;
    QCache<int, QVector<qint64>> m_segments;
    QCache<qint64, Values> m_values;
};

// The rows of a read-only statement, read forward by a cursor that stays
// open only while the running event reads on; later reads run the statement
// again and step to the wanted row.
class QuerySource : public RowSource
{
    Q_OBJECT
public:
    QuerySource(Connection &connection, const QString &sql, QObject *parent = nullptr);

    int count() const override { return m_count; }
    bool countKnown() const override { return m_countKnown; }
    bool ensure(int row) override;
    bool fetchMore() override;
    int loadLast() override;
    Values values(int row) override;

protected:
    void applyCount(const RowCounter::Result &result) override;
    void statementsReleased() override;

private:
    void readPage(int start, int rows);
    void grow(int newCount, bool final);

    QString m_sql;
    int m_count = 0;
    bool m_countKnown = false;
    qint64 m_cursorPos = -1;  // rows the open cursor has stepped past; -1 when closed
    QCache<int, Values> m_rows;
};

}
