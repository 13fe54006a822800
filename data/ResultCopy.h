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

struct sqlite3;

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
    void cancel();
    // Rows copied so far.
    qint64 copied() const { return m_copied; }
    bool ok() const;
    QString error() const;

protected:
    void run() override;

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
