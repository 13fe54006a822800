#pragma once
// One connection to a PostgreSQL server through libpq, and its results.
// Values come back as SQLite would give them to the rest of the program:
// integers as qlonglong, other numbers as double, dates as ISO text
// (yyyy-MM-dd), truth values as 0 or 1, everything else as text; NULL as an
// invalid QVariant. Parameters ($1, $2 ...) are sent as text and typed by
// the server from the statement.
#include "data/Error.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>
#include <mutex>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;
typedef struct pg_cancel PGcancel;

namespace dravon::pg {

// Where the server is. An empty password leaves it to libpq's password file
// (~/.pgpass, or the file PGPASSFILE names).
struct ServerAddress
{
    QString host;
    int port = 5432;
    QString database;
    QString user;
    QString password;

    bool operator==(const ServerAddress &) const = default;
    // "host:port/database" for messages.
    QString display() const;
};

// The oldest server major version whose SQL the program's schema and
// statements need (identity columns, ON CONFLICT, ...).
constexpr int oldestServerVersion = 100000;

// A failure reported by the server or by libpq. sqlState is the server's
// five-character error code, empty when the server was not reached.
class ServerError : public Error
{
public:
    ServerError(const QString &text, const QString &sqlState) : Error(text), m_sqlState(sqlState) {}
    QString sqlState() const { return m_sqlState; }
    // The connection itself failed or was lost (class 08, or no code at all
    // from a session that had been open): the statement may be tried again
    // after a reconnection.
    bool connectionLost() const;
    bool uniqueViolation() const { return m_sqlState == QLatin1String("23505"); }
    // The server ended the statement for a reason of its own, not the data's
    // (cancelled, timed out, a deadlock or serialization failure, a lock not
    // granted): nothing of it was stored, and it may simply be tried again.
    bool abortedByServer() const;

private:
    QString m_sqlState;
};

class Result
{
public:
    Result() = default;
    explicit Result(PGresult *result);
    ~Result();
    Result(Result &&other) noexcept;
    Result &operator=(Result &&other) noexcept;
    Result(const Result &) = delete;
    Result &operator=(const Result &) = delete;

    int rows() const;
    int columns() const;
    QString columnName(int column) const;
    // The server's type number of a column (pg_type.oid).
    unsigned columnType(int column) const;
    bool isNull(int row, int column) const;
    QVariant value(int row, int column) const;
    QString text(int row, int column) const;  // "" for NULL
    // The value as the server sent it (its text form) and its length in
    // bytes; valid while the result lives. Null for NULL.
    const char *raw(int row, int column, int *length) const;
    // Rows changed by an INSERT, UPDATE or DELETE.
    qint64 affected() const;

private:
    PGresult *m_result = nullptr;
};

// One row of a "COPY ... TO STDOUT" in the server's text format, as it came
// (its line end included); its bytes are the holder's to change.
class CopyRow
{
public:
    CopyRow() = default;
    CopyRow(char *data, int length) : m_data(data), m_length(length) {}
    ~CopyRow();
    CopyRow(CopyRow &&other) noexcept;
    CopyRow &operator=(CopyRow &&other) noexcept;
    CopyRow(const CopyRow &) = delete;
    CopyRow &operator=(const CopyRow &) = delete;

    char *data() const { return m_data; }
    int length() const { return m_length; }

private:
    char *m_data = nullptr;
    int m_length = 0;
};

// The results of a pipeline's later statements, read after the caller went
// on (Session::pipelineAhead).
struct LaterResults
{
    bool done = false;  // every result is in
    // The statements' results in order, up to the first that failed.
    std::vector<Result> results;
    // The first failure (the rest were skipped by the server); a lost
    // connection also when the session connected again meanwhile.
    std::optional<ServerError> error;
};

// What a session's transactions may do: a read-only session's statements
// that would write are refused by the server.
enum class Access { ReadWrite, ReadOnly };

// How long a session's statements wait for a lock another session holds (a
// row being saved, a table being imported into). Limited: about as long as
// a Save on the file waits for the file's lock (lockWaitMs), then the
// statement fails with SQLSTATE 55P03 and the file's lock message; nothing
// of it is kept. Unlimited: until the lock is given, as the server does by
// default (a transaction may still limit its own with SET LOCAL).
enum class LockWait { Unlimited, Limited };
constexpr int lockWaitMs = 1000;

class Session
{
public:
    // Connects; throws ServerError with a clear text when the server cannot be
    // reached, refuses the user or password, has no such database, or is
    // older than oldestServerVersion.
    explicit Session(const ServerAddress &address, Access access = Access::ReadWrite,
                     LockWait lockWait = LockWait::Unlimited);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    const ServerAddress &address() const { return m_address; }
    // A worker's session, stopped from another thread: once *requested is
    // true, a statement or copy begun is refused (as cancelled, 57014) and
    // one under way is asked to stop at every look until it ends, since the
    // server drops a request that comes before it has begun a statement.
    void stopWhen(const std::atomic<bool> *requested) { m_stopRequest = requested; }
    bool stopRequested() const { return m_stopRequest && m_stopRequest->load(); }
    // Runs one statement with parameters; throws ServerError.
    Result exec(const QString &sql, const QVector<QVariant> &params = {});
    // Runs one statement as exec() does, calling keepGoing() about every
    // 50 ms while the server works on it; when keepGoing() returns false the
    // server is asked to stop the statement (again at every look until it
    // ends), and the result is nothing.
    // A statement that ended before the request came may have done its work:
    // run it in a transaction to take that back.
    std::optional<Result> execWhile(const QString &sql, const QVector<QVariant> &params,
                                    const std::function<bool()> &keepGoing);
    // Runs several statements separated by ";" (no parameters); throws ServerError.
    void execScript(const QString &sql);
    // Runs statements without parameters one after the other, sent to the
    // server at once so that they cost one round trip; each is still parsed
    // alone (a statement cannot smuggle in another). Returns their results
    // in order; throws ServerError for the first that failed (the rest were
    // skipped by the server).
    std::vector<Result> pipeline(const QStringList &statements);
    // Sends statements as pipeline() does but waits only for the results of
    // the first `now` of them, and returns those (throws ServerError for the
    // first of them that failed). The others are read while the caller goes
    // on: by settle(), at the latest before the session's next statement,
    // into `later`. What the statements leave open (a transaction whose
    // end was skipped after a failure) is rolled back then.
    std::vector<Result> pipelineAhead(const QStringList &statements, int now, std::shared_ptr<LaterResults> later);
    // Reads the results of a pipelineAhead() still under way; wait false:
    // only those the server has sent by now. True when none are left.
    bool settle(bool wait = true) const;
    // Sends one statement without waiting for it, so that the caller can
    // work while the server runs it; takeResult() waits for its result
    // (throws ServerError). Nothing else runs on the session in between.
    void send(const QString &sql);
    Result takeResult();
    // BEGIN ... COMMIT around work; on any exception ROLLBACK and rethrow.
    // When the session connected again meanwhile, what the work wrote before
    // went with the lost connection: nothing is committed and it throws.
    template<typename Work>
    void transaction(Work &&work)
    {
        const int connection = m_connections;
        exec(QStringLiteral("BEGIN"));
        try {
            work();
            if (m_connections != connection)
                throw lostTransaction();
        } catch (...) {
            rollbackQuietly();
            throw;
        }
        exec(QStringLiteral("COMMIT"));
    }
    // Connects again to the same address after the connection was lost (the
    // server restarted, the network came back); the same checks as at the
    // first connection. Throws ServerError while the server cannot be reached.
    void reconnect();
    void rollbackQuietly();
    // Sends rows to a "COPY ... FROM STDIN" statement: produce() fills the
    // next chunk of rows in COPY's text format and returns false when there
    // are no more. An exception from produce() ends the copy as failed and
    // is rethrown; a refusal by the server throws ServerError. Returns the
    // number of rows the server took.
    qint64 copyIn(const QString &copySql, const std::function<bool(QByteArray &chunk)> &produce);
    // Runs a "COPY (query) TO STDOUT" and hands each row to take() as soon
    // as it comes: the rows are read while the caller works on them, so the
    // server waits for no more than the connection's buffers hold. take()
    // returning false (or throwing, which is rethrown) stops the copy: the
    // server is asked to end the statement, what it sent meanwhile is passed
    // over, and the session stays usable. Returns the rows taken; throws
    // ServerError when the server refused or failed the copy.
    qint64 copyOut(const QString &copySql, const std::function<bool(CopyRow &&row)> &take);
    // The server's version as a number (150018 for 15.18).
    int serverVersion() const;
    // The password this connection logged in with: the address's own, or
    // the one libpq took from the password file for this database; empty
    // when none was needed.
    QString passwordInUse() const;
    bool isOk() const;
    // Times the session has connected: what a session's temporary tables
    // were made under is gone once this has grown.
    int connectionCount() const { return m_connections; }
    // True while a transaction is open (or failed and not yet rolled back).
    bool inTransaction() const;
    PGconn *handle() const { return m_conn; }

private:
    struct PipelineRead;
    // flushAfter: the server is asked to send the results of that many
    // statements as soon as it has them (it would otherwise keep the end of
    // them in its output buffer until later statements fill it or end).
    PipelineRead sendPipeline(const QStringList &statements, int flushAfter = -1);
    // Reads a pipeline's results in order, the first upTo statements' or
    // (-1) all of them and its end; wait false: only as far as the server's
    // answers have come. True when it got that far.
    bool readPipeline(PipelineRead &read, bool wait, int upTo = -1) const;
    // A pipeline read on later is given up (the connection is gone).
    void abandonLater();

    // Connects to m_address; throws ServerError (connection refused, login
    // refused, server too old), leaving no connection.
    void connect();
    ServerError failure(PGresult *result, const QString &sql) const;
    ServerError lostTransaction() const;
    // What a statement stopped by the stop request fails with.
    ServerError stoppedByRequest(const QString &sql) const;
    // Asks the server to stop the statement under way; a request it drops
    // (the statement not yet begun or already ended) does no harm.
    void askServerToStop() const;

    int m_connections = 0;  // times the session has connected

    ServerAddress m_address;
    Access m_access = Access::ReadWrite;
    LockWait m_lockWait = LockWait::Unlimited;
    PGconn *m_conn = nullptr;
    const std::atomic<bool> *m_stopRequest = nullptr;
    mutable std::unique_ptr<PipelineRead> m_pending;  // of pipelineAhead, still being read
    mutable std::shared_ptr<LaterResults> m_later;
};

// Stops the statement a worker runs on its session, from another thread:
// the worker attaches its session and detaches it before it goes. The
// request is kept: a session stopped by it (Session::stopWhen) goes on
// asking while its statement runs and begins none after it.
class Canceller
{
public:
    ~Canceller() { detach(); }
    void attach(const Session &session);
    void detach();
    void cancel();
    const std::atomic<bool> *request() const { return &m_requested; }

private:
    std::mutex m_mutex;
    PGcancel *m_cancel = nullptr;
    std::atomic<bool> m_requested{false};
};

// Tests: the version number and text a session takes the server to have
// (as server_version_num and server_version report them), so that the check
// of an older server is tried without one; number 0 ends it.
void setServerVersionForTesting(int number, const QString &text = {});
// Tests: the wait of LockWait::Limited sessions connected from now on, in
// milliseconds (a fault that has to strike while a Save waits for a lock);
// 0 puts lockWaitMs back.
void setLockWaitForTesting(int milliseconds);

// One parameter holding many values: an array's text ("{...}") as the server
// reads it, each value written as a parameter of its own would be, NULL for
// a null value. Cast it to the values' type ("$1::date[]").
QString arrayText(const QVector<QVariant> &values);

// The text of a connection failure for a person: what went wrong, in Chinese,
// followed by the server's own words.
QString connectionFailureText(const ServerAddress &address, const QString &libpqText, const QString &sqlState);

}
