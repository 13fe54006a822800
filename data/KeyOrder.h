#pragma once
// The row keys of a set in a new order (a sort), read by a worker thread on a
// connection of its own, while the caller shows progress and may cancel.
#include <QThread>
#include <QVariant>
#include <QVector>
#include <atomic>
#include <functional>
#include <mutex>

struct sqlite3;

namespace dravon {

// Called now and then while a long operation runs; returning false cancels.
using Progress = std::function<bool(qint64 done, qint64 total)>;

class KeyOrder : public QThread
{
    Q_OBJECT
public:
    // sql yields one row key per row, in the order wanted; binds are its
    // parameters ?1, ?2, ...
    KeyOrder(const QString &path, const QString &sql, const QVector<QVariant> &binds = {});
    ~KeyOrder() override;
    virtual void cancel();
    // Runs the statement and waits for it, calling progress(keys read, total)
    // every few tens of milliseconds. False when cancelled or failed (error()).
    bool read(qint64 total, const Progress &progress);
    // The same in two steps: the worker starts reading, and later the caller
    // waits for it (progress as above; returning false cancels the worker).
    void begin();
    bool await(qint64 total, const Progress &progress);
    bool succeeded() const { return isFinished() && !m_cancelled && error().isEmpty(); }
    QString error() const;
    bool wasCancelled() const { return m_cancelled; }
    // Tests: the worker waits before it reads until cancelled (at most ten
    // seconds), so that the progress shown meanwhile can be used.
    static void holdForTesting(bool hold);
    const QVector<qint64> &keys() const { return m_keys; }

protected:
    void run() override;
    // For an order of another engine, which overrides run() and cancel()
    // and reports through the members below.
    KeyOrder() = default;
    bool isCancelled() const { return m_cancelled; }
    // The worker holds before the whole order while a test says so.
    void holdWhileTesting() const;
    void addKey(qint64 key)
    {
        m_keys.append(key);
        m_done = m_keys.size();
    }
    void setError(const QString &text);

private:
    QString m_path;
    QString m_sql;
    QVector<QVariant> m_binds;
    std::atomic<bool> m_cancelled{false};
    std::atomic<qint64> m_done{0};
    std::atomic<sqlite3 *> m_db{nullptr};
    mutable std::mutex m_mutex;
    QString m_error;
    QVector<qint64> m_keys;
};

}
