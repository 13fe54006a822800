#pragma once
// A query's result copied into a private file by a worker with a connection
// of its own, so that any row of it can later be read by its number, at any
// depth, without running the statement again. The copy also gives the row
// count. The worker gives up its read lock on the database as soon as a
// write of this program waits (it then runs the statement again and steps
// over the rows already copied).
#include <QThread>
#include <QTemporaryFile>
#include <atomic>
#include <mutex>

#include <functional>

struct sqlite3;
struct sqlite3_stmt;

namespace dravon {

class ResultCopy : public QThread
{
    Q_OBJECT
public:
    // The copy's table: its rows numbered from 1 in the statement's order,
    // its columns c0, c1, ... in the statement's.
    static QString tableName() { return QStringLiteral("result"); }
    static QString columnName(int column) { return QStringLiteral("c%1").arg(column); }

    ResultCopy(const QString &databasePath, const QString &sql, int columns);
    ~ResultCopy() override;
    // The file the copy is written to (removed with this object); empty when
    // no file could be made.
    QString path() const { return m_file.fileName(); }
    virtual void cancel();
    // Rows copied so far.
    qint64 copied() const { return m_copied; }
    bool ok() const;
    QString error() const;

protected:
    void run() override;
    // The engine's part: runs the statement and hands each row to add (which
    // binds the row's values to the copy's insert, then stores it: false
    // when the copy failed). Returns the reason it failed, empty when every
    // row was copied.
    using AddRow = std::function<bool(const std::function<void(sqlite3_stmt *insert)> &bind)>;
    virtual QString copyRows(const AddRow &add);
    bool isCancelled() const { return m_cancelled; }
    int columns() const { return m_columns; }
    const QString &sql() const { return m_sql; }

private:
    QString m_databasePath;
    QString m_sql;
    int m_columns;
    QTemporaryFile m_file;
    std::atomic<bool> m_cancelled{false};
    std::atomic<qint64> m_copied{0};
    std::atomic<sqlite3 *> m_source{nullptr};
    mutable std::mutex m_mutex;
    bool m_ok = false;
    QString m_error;
};

}
