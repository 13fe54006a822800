#pragma once
// A query's result copied into a private file by a worker with a connection
// of its own, so that any row of it can later be read by its number, at any
// depth, without running the statement again. The copy also gives the row
// count. The worker gives up its read lock on the database as soon as a
// write of this program waits (it then runs the statement again and steps
// over the rows already copied).
#include <QPair>
#include <QThread>
#include <QVector>
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

    // Where the engine's part puts the rows. Several rows go into one
    // insert statement when the caller says that as many follow whose
    // values stay valid meanwhile.
    class RowWriter
    {
    public:
        // Binds one row's values to the copy's insert (column c at
        // parameter first + c) and stores it under the row number given
        // (0: after the rows so far), at the latest when the statement is
        // full. following: rows the caller will add next whose bound
        // values stay valid until then (0 when unknown). False when the
        // copy failed.
        using Bind = std::function<void(sqlite3_stmt *insert, int first)>;
        virtual bool add(const Bind &bind, qint64 rowNumber = 0, qint64 following = 0) = 0;
        // Gives rows already stored other numbers, each pair (from, to);
        // each number to is free once the rows moved have left their
        // numbers. False when the copy failed.
        virtual bool renumber(const QVector<QPair<qint64, qint64>> &moves) = 0;

    protected:
        ~RowWriter() = default;
    };

protected:
    void run() override;
    // The engine's part: runs the statement and hands each row to the
    // writer. Returns the reason it failed, empty when every row was copied.
    // Row numbers given out of order may leave gaps (a row that was
    // expected did not come): the rows are numbered densely afterwards,
    // in the order of their numbers.
    virtual QString copyRows(RowWriter &rows);
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
