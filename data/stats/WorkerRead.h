#pragma once
// Reading for the statistics off the window's thread: a read-only connection
// of its own to the database file, statements stepped without a Qt value per
// column, scans of the score table in short read transactions (so a Save of
// the program never waits behind them), and a worker thread that runs one
// such piece of work and can be cancelled at any moment.
#include "data/server/WorkerSession.h"

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

namespace dravon {
class Connection;
class Dialect;
}

struct sqlite3;
struct sqlite3_stmt;

namespace stats {

// Thrown out of a reading that was cancelled.
struct Cancelled
{
};

// Where a worker reads: the database file, or the database on the server.
struct ReadTarget
{
    ReadTarget(const QString &path) : path(path) {}
    ReadTarget(const dravon::pg::ServerAddress &address) : server(address) {}
    // The database the program's connection has open.
    static ReadTarget of(const dravon::Connection &connection);

    QString path;
    std::optional<dravon::pg::ServerAddress> server;
};

class ReadConnection
{
public:
    // Opens the file read-only, or connects to the server (a worker session
    // of its own); throws dravon::Error when it cannot.
    explicit ReadConnection(const ReadTarget &target);
    ~ReadConnection();
    ReadConnection(const ReadConnection &) = delete;
    ReadConnection &operator=(const ReadConnection &) = delete;

    // The file's handle; null on the server.
    sqlite3 *handle() const { return m_db; }
    bool isServer() const { return m_session != nullptr; }
    dravon::pg::Session &session() const { return m_session->session(); }
    const dravon::Dialect &dialect() const { return *m_dialect; }
    // From any thread: the running statement stops and the reading throws Cancelled.
    void cancel();
    bool cancelled() const { return m_cancelled; }
    void throwIfCancelled() const;

private:
    sqlite3 *m_db = nullptr;
    // The canceller outlives the session that it lets go of as it ends.
    std::unique_ptr<dravon::pg::Canceller> m_canceller;
    std::unique_ptr<dravon::pg::WorkerSession> m_session;
    std::unique_ptr<dravon::Dialect> m_dialect;
    std::atomic<bool> m_cancelled{false};
};

// One statement on a read connection, in the program's SQL (rewritten by the
// dialect on the server, where its rows come in one result). Throws
// dravon::Error when the database refuses it, Cancelled when the connection
// was cancelled.
class Rows
{
public:
    Rows(ReadConnection &connection, const QString &sql);
    ~Rows();
    Rows(const Rows &) = delete;
    Rows &operator=(const Rows &) = delete;

    void bind(int index, const QString &text);  // 1-based
    void bind(int index, qint64 value);
    // The next row; false at the end (the statement is then reset).
    bool next();
    void reset();

    int columnCount() const;
    bool isNull(int column) const;
    // The column's UTF-8 bytes, valid until the next step.
    std::string_view bytes(int column) const;
    QString text(int column) const;
    double real(int column) const;
    qint64 int64(int column) const;

private:
    struct Server
    {
        QString sql;
        QVector<QVariant> binds;
        dravon::pg::Result result;
        int row = -1;
        bool ran = false;
        // The current row's texts as UTF-8, made when asked for.
        mutable QVector<QByteArray> bytes;
        mutable QVector<bool> made;
    };
    ReadConnection &m_connection;
    sqlite3_stmt *m_stmt = nullptr;
    std::unique_ptr<Server> m_server;
};

// An SQL condition over Score's columns with its parameters (numbered from
// a first parameter on), "1 = 1" when nothing narrows (a truth value on both engines). rowKeyOrder: no index
// chooses the rows (only unindexed columns are tested), so they come in
// row-key order and a scan can stop and go on after the last key it read.
struct ScanCondition
{
    QString sql;
    QStringList binds;
    bool rowKeyOrder = true;
};

// The statement that reads `columns` of the score rows that meet `conditions`
// in one run (its parameters from ?1).
QString ScoreScanSql(const QString &columns, const QString &conditions);

// Calls onRow(rows) for every score row meeting the condition (its
// parameters numbered from ?2). A scan in row-key order lets a write of the
// program that waits for the file go first: it lets go of its read lock and
// goes on after the last row key it read. Other scans are short (an index
// chooses their rows) and run in one go. On the server, where readers never
// hold up writers, a scan in row-key order reads pages of rows by key, so
// the program never holds a whole large table in memory.
void ScanScores(ReadConnection &connection, const QString &columns, const ScanCondition &condition,
                const std::function<void(const Rows &)> &onRow);

// Tests: the rows per statement of a scan on the server (0: the default),
// so that a small school's scans cross pages.
void setServerScanPageForTesting(int rows);

// A worker thread running one piece of reading on its own read connection.
class BackgroundJob : public QThread
{
    Q_OBJECT
public:
    using Work = std::function<void(ReadConnection &)>;
    BackgroundJob(const ReadTarget &target, Work work, QObject *parent = nullptr);
    // Cancels the work and waits for the thread.
    ~BackgroundJob() override;

    // From the owning thread: stops the work as soon as possible.
    void cancel();
    bool wasCancelled() const { return m_cancelRequested; }
    // After done(): the error text when the work failed, else empty.
    QString error() const;

signals:
    // The work ended: completed, failed or cancelled.
    void done();

protected:
    void run() override;

private:
    ReadTarget m_target;
    Work m_work;
    std::atomic<bool> m_cancelRequested{false};
    mutable std::mutex m_mutex;
    ReadConnection *m_connection = nullptr;
    QString m_error;
};

}
