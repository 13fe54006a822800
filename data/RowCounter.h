#pragma once
// Counting a set's rows on a connection of its own to the same file, in a
// worker thread, so that a window shows its first rows at once.
#include <QThread>
#include <QVector>
#include <atomic>
#include <mutex>

struct sqlite3;

namespace dravon {

// It finds every stride-th row key of a table, each from the one before
// (the read lock is dropped every few hundred, and at once when a write of
// this program waits), so that any row position can later be reached by one
// keyset page.
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
    // keySql: "SELECT rowid FROM t WHERE rowid > ?1 AND rowid <= ?2 [AND (c)] ORDER BY rowid LIMIT ?3 OFFSET ?4".
    // A countSql (its ?1 bound to maxKey), when given, tells the count first,
    // before the checkpoints are found.
    RowCounter(const QString &path, const QString &keySql, qint64 maxKey, const QString &countSql, int stride);
    ~RowCounter() override;
    virtual void cancel();
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
    // For a counter of another engine, which overrides run() and cancel()
    // and reports through tellFirstCount and finish.
    RowCounter(qint64 maxKey, int stride);
    bool isCancelled() const { return m_cancelled; }
    qint64 maxKey() const { return m_maxKey; }
    int stride() const { return m_stride; }
    // Tells the count learnt before the checkpoints (and, in tests, holds).
    void tellFirstCount(qint64 count);
    // Keeps the result and tells that it is there.
    void finish(const Result &result);

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

}
