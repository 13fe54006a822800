#include "data/server/PgSession.h"

#include <atomic>
#include <exception>
#include <optional>
#include <utility>

#include <QDate>
#include <QByteArrayList>
#include <libpq-fe.h>
#include <poll.h>

namespace dravon::pg {

namespace {

// Type numbers of the server's built-in types (pg_type.oid).
enum : Oid {
    boolOid = 16,
    int8Oid = 20,
    int2Oid = 21,
    int4Oid = 23,
    oidOid = 26,
    float4Oid = 700,
    float8Oid = 701,
    numericOid = 1700,
};

QString trimmed(const char *text)
{
    return QString::fromUtf8(text ? text : "").trimmed();
}

// A connection option value quoted for a conninfo string.
QByteArray option(const QString &value)
{
    QByteArray v = value.toUtf8();
    v.replace('\\', "\\\\");
    v.replace('\'', "\\'");
    return '\'' + v + '\'';
}

QByteArray parameterText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return QByteArray::number(value.toDouble(), 'g', 17);
    case QMetaType::Bool:
        return value.toBool() ? "t" : "f";
    case QMetaType::QDate:
        return value.toDate().toString(Qt::ISODate).toUtf8();
    default:
        return value.toString().toUtf8();
    }
}

struct VersionForTesting
{
    int number = 0;
    QString text;
};

VersionForTesting &versionForTesting()
{
    static VersionForTesting version;
    return version;
}

}

QString arrayText(const QVector<QVariant> &values)
{
    // Every value quoted, so that an empty text, the text NULL, braces,
    // commas and blanks stay values; quotes and backslashes escaped.
    QByteArray text = "{";
    for (const QVariant &value : values) {
        if (text.size() > 1)
            text += ',';
        if (value.isNull()) {
            text += "NULL";
            continue;
        }
        QByteArray element = parameterText(value);
        element.replace('\\', "\\\\");
        element.replace('"', "\\\"");
        text += '"' + element + '"';
    }
    text += '}';
    return QString::fromUtf8(text);
}

void setServerVersionForTesting(int number, const QString &text)
{
    versionForTesting() = {number, text};
}

namespace {

std::atomic<int> lockWaitForTesting{0};

}

void setLockWaitForTesting(int milliseconds)
{
    lockWaitForTesting = milliseconds;
}

QString ServerAddress::display() const
{
    return QStringLiteral("%1:%2/%3").arg(host).arg(port).arg(database);
}

bool ServerError::connectionLost() const
{
    return m_sqlState.startsWith(QLatin1String("08")) || m_sqlState == QLatin1String("57P01")
           || m_sqlState == QLatin1String("57P02") || m_sqlState == QLatin1String("57P03");
}

namespace {

// Why the server ended a statement on its own, for the classes abortedByServer() knows.
QString abortReason(const QString &sqlState)
{
    if (sqlState == QLatin1String("57014"))
        return QStringLiteral("语句被取消或超时");
    if (sqlState == QLatin1String("40001"))
        return QStringLiteral("与其他用户同时进行的修改冲突");
    if (sqlState == QLatin1String("40P01"))
        return QStringLiteral("与其他用户的操作互相等待");
    return {};
}

}

bool ServerError::abortedByServer() const
{
    return m_sqlState == QLatin1String("55P03") || !abortReason(m_sqlState).isEmpty();
}

QString connectionFailureText(const ServerAddress &address, const QString &libpqText, const QString &sqlState)
{
    QString what;
    if (sqlState == QLatin1String("28P01") || libpqText.contains(QLatin1String("password authentication failed"))
        || libpqText.contains(QLatin1String("no password supplied")))
        what = QStringLiteral("用户名或密码不正确(用户 %1)。").arg(address.user);
    else if (sqlState == QLatin1String("3D000") || libpqText.contains(QLatin1String("does not exist")))
        what = QStringLiteral("服务器上没有数据库 %1。").arg(address.database);
    else if (sqlState.startsWith(QLatin1String("28")))
        what = QStringLiteral("服务器不允许用户 %1 连接数据库 %2。").arg(address.user, address.database);
    else
        what = QStringLiteral("无法连接到数据库服务器 %1:%2。").arg(address.host).arg(address.port);
    return libpqText.isEmpty() ? what : what + QLatin1Char('\n') + libpqText;
}

Result::Result(PGresult *result) : m_result(result) {}

Result::~Result()
{
    if (m_result)
        PQclear(m_result);
}

Result::Result(Result &&other) noexcept : m_result(other.m_result)
{
    other.m_result = nullptr;
}

Result &Result::operator=(Result &&other) noexcept
{
    if (this != &other) {
        if (m_result)
            PQclear(m_result);
        m_result = other.m_result;
        other.m_result = nullptr;
    }
    return *this;
}

int Result::rows() const
{
    return m_result ? PQntuples(m_result) : 0;
}

int Result::columns() const
{
    return m_result ? PQnfields(m_result) : 0;
}

QString Result::columnName(int column) const
{
    return QString::fromUtf8(PQfname(m_result, column));
}

unsigned Result::columnType(int column) const
{
    return PQftype(m_result, column);
}

bool Result::isNull(int row, int column) const
{
    return PQgetisnull(m_result, row, column);
}

const char *Result::raw(int row, int column, int *length) const
{
    if (PQgetisnull(m_result, row, column)) {
        *length = 0;
        return nullptr;
    }
    *length = PQgetlength(m_result, row, column);
    return PQgetvalue(m_result, row, column);
}

QString Result::text(int row, int column) const
{
    if (isNull(row, column))
        return QStringLiteral("");
    return QString::fromUtf8(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

QVariant Result::value(int row, int column) const
{
    if (isNull(row, column))
        return QVariant();
    const char *raw = PQgetvalue(m_result, row, column);
    switch (PQftype(m_result, column)) {
    case int8Oid:
    case int4Oid:
    case int2Oid:
    case oidOid:
        return QVariant(QByteArray(raw).toLongLong());
    case float4Oid:
    case float8Oid:
    case numericOid:
        return QVariant(QByteArray(raw).toDouble());
    case boolOid:
        return QVariant(qlonglong(raw[0] == 't' ? 1 : 0));
    default:
        // Text, and dates, whose output is ISO (DateStyle is set to ISO).
        return QVariant(QString::fromUtf8(raw, PQgetlength(m_result, row, column)));
    }
}

void Canceller::attach(const Session &session)
{
    std::lock_guard lock(m_mutex);
    PQfreeCancel(m_cancel);
    m_cancel = PQgetCancel(session.handle());
}

void Canceller::detach()
{
    std::lock_guard lock(m_mutex);
    PQfreeCancel(m_cancel);
    m_cancel = nullptr;
}

void Canceller::cancel()
{
    m_requested = true;
    std::lock_guard lock(m_mutex);
    if (m_cancel) {
        char reason[256];
        PQcancel(m_cancel, reason, int(sizeof reason));
    }
}

qint64 Result::affected() const
{
    return m_result ? QByteArray(PQcmdTuples(m_result)).toLongLong() : 0;
}

Session::Session(const ServerAddress &address, Access access, LockWait lockWait)
    : m_address(address), m_access(access), m_lockWait(lockWait)
{
    connect();
}

void Session::reconnect()
{
    abandonLater();
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
    connect();
}

ServerError Session::lostTransaction() const
{
    return ServerError(QStringLiteral("与数据库服务器 %1 的连接中断过,这次的修改没有保存。请再做一次。").arg(m_address.display()),
                       QStringLiteral("08006"));
}

void Session::connect()
{
    const ServerAddress &address = m_address;
    QByteArray conninfo = "host=" + option(address.host) + " port=" + QByteArray::number(address.port)
                          + " dbname=" + option(address.database) + " user=" + option(address.user)
                          + " connect_timeout=5 client_encoding=UTF8 application_name=Veltrana"
                          // A network that goes silent (a cable pulled, the server's
                          // machine gone) sends no end: the session would wait for the
                          // answer without end. The system asks the server's machine
                          // after 10 s of silence and gives the connection up within
                          // about 30 s, and the program then says it was lost and
                          // connects again. A long statement is not cut: the server's
                          // machine answers these requests while it runs.
                          + " keepalives=1 keepalives_idle=10 keepalives_interval=5 keepalives_count=3"
                            " tcp_user_timeout=30000"
                          // Scans of a large table start at its first row, not where
                          // another session's scan happens to be: a statement without
                          // an order gives its rows in the same order each time it runs,
                          // so a page read by running it again fits the pages before it.
                          // A large statement is planned for its whole result while the
                          // windows read its first page: compiling it to machine code
                          // (JIT) costs some 100 ms before the first rows and saves nothing.
                          + " options='-c DateStyle=ISO,YMD -c standard_conforming_strings=on"
                            " -c synchronize_seqscans=off -c jit=off"
                          // Set at connection: it costs no statement of its own.
                          + (m_access == Access::ReadOnly ? " -c default_transaction_read_only=on" : "")
                          + (m_lockWait == LockWait::Limited
                                 ? " -c lock_timeout=" + QByteArray::number(lockWaitForTesting ? lockWaitForTesting.load() : lockWaitMs)
                                 : QByteArray())
                          + "'";
    if (!address.password.isEmpty())
        conninfo += " password=" + option(address.password);
    m_conn = PQconnectdb(conninfo.constData());
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
        const QString text = m_conn ? trimmed(PQerrorMessage(m_conn)) : QStringLiteral("libpq: out of memory");
        // libpq reports no code for a refused login; its text tells it.
        QString state;
        if (text.contains(QLatin1String("password authentication failed")))
            state = QStringLiteral("28P01");
        else if (text.contains(QLatin1String("does not exist")) && text.contains(QLatin1String("database")))
            state = QStringLiteral("3D000");
        PQfinish(m_conn);
        m_conn = nullptr;
        throw ServerError(connectionFailureText(address, text, state), state.isEmpty() ? QStringLiteral("08001") : state);
    }
    ++m_connections;
    const VersionForTesting &pretended = versionForTesting();
    const int number = pretended.number ? pretended.number : PQserverVersion(m_conn);
    if (number < oldestServerVersion) {
        const QString version =
            pretended.number ? pretended.text : QString::fromUtf8(PQparameterStatus(m_conn, "server_version"));
        PQfinish(m_conn);
        m_conn = nullptr;
        throw ServerError(QStringLiteral("数据库服务器 %1 的版本是 %2,本程序需要 PostgreSQL %3 或更新的版本。")
                              .arg(address.display(), version)
                              .arg(oldestServerVersion / 10000),
                          QStringLiteral("0A000"));
    }
}

Session::~Session()
{
    abandonLater();
    if (m_conn)
        PQfinish(m_conn);
}

QString Session::passwordInUse() const
{
    const char *used = m_conn ? PQpass(m_conn) : nullptr;
    return used ? QString::fromUtf8(used) : QString();
}

bool Session::isOk() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

bool Session::inTransaction() const
{
    if (!m_conn)
        return false;
    settle();
    const PGTransactionStatusType status = PQtransactionStatus(m_conn);
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

int Session::serverVersion() const
{
    if (!m_conn)
        return 0;
    return versionForTesting().number ? versionForTesting().number : PQserverVersion(m_conn);
}

ServerError Session::failure(PGresult *result, const QString &sql) const
{
    QString state = result ? QString::fromUtf8(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QString();
    QString text = result ? trimmed(PQresultErrorMessage(result)) : QString();
    if (text.isEmpty())
        text = trimmed(PQerrorMessage(m_conn));
    if (PQstatus(m_conn) != CONNECTION_OK) {
        if (state.isEmpty())
            state = QStringLiteral("08006");
        text = QStringLiteral("与数据库服务器 %1 的连接中断了,这次的操作没有完成,修改没有保存。"
                              "服务器恢复后,程序会重新连接。\n%2")
                   .arg(m_address.display(), text);
    } else if (state == QLatin1String("55P03")) {
        // The lock wait ran out: told as the file tells its lock.
        text = lockedText(text);
    } else if (const QString reason = abortReason(state); !reason.isEmpty()) {
        text = QStringLiteral("数据库服务器中止了这次操作(%1),修改没有保存。可以再试一次。\n%2").arg(reason, text);
    }
    Q_UNUSED(sql);
    return ServerError(text, state);
}

namespace {

// Parameters in the server's text form; NULL as a null pointer.
struct ParameterTexts
{
    explicit ParameterTexts(const QVector<QVariant> &params)
    {
        texts.reserve(params.size());
        values.reserve(params.size());
        for (const QVariant &p : params) {
            if (p.isNull()) {
                values.append(nullptr);
            } else {
                texts.append(parameterText(p));
                values.append(texts.last().constData());
            }
        }
    }
    QByteArrayList texts;
    QVector<const char *> values;
};

}

Result Session::exec(const QString &sql, const QVector<QVariant> &params)
{
    if (m_stopRequest) {
        std::optional<Result> result = execWhile(sql, params, [] { return true; });
        if (!result)
            throw stoppedByRequest(sql);
        return std::move(*result);
    }
    settle();
    const QByteArray statement = sql.toUtf8();
    const ParameterTexts texts(params);
    PGresult *result = PQexecParams(m_conn, statement.constData(), int(params.size()), nullptr,
                                    texts.values.constData(), nullptr, nullptr, 0);
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        ServerError error = failure(result, sql);
        if (result)
            PQclear(result);
        throw error;
    }
    return Result(result);
}

namespace {

// Every result of the statement sent last, the first one kept: libpq ends
// them with a null result.
PGresult *firstResultOf(PGconn *conn)
{
    PGresult *kept = nullptr;
    while (PGresult *result = PQgetResult(conn)) {
        if (!kept)
            kept = result;
        else
            PQclear(result);
    }
    return kept;
}

bool succeeded(PGresult *result)
{
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

}

// A pipeline sent to the server and how far its results have been read.
struct Session::PipelineRead
{
    PipelineRead() = default;
    PipelineRead(PipelineRead &&other) noexcept
        : statements(std::move(other.statements)), sent(other.sent), next(other.next),
          kept(std::exchange(other.kept, nullptr)), ending(other.ending), empty(other.empty),
          results(std::move(other.results)), error(std::move(other.error))
    {
    }
    ~PipelineRead()
    {
        if (kept)
            PQclear(kept);
    }

    QStringList statements;
    int sent = 0;              // statements the server was sent
    int next = 0;              // the statement whose results come next
    PGresult *kept = nullptr;  // its first result so far
    bool ending = false;       // past the statements: their end (the sync) comes
    int empty = 0;             // null results in a row after the statements
    std::vector<Result> results;
    std::optional<ServerError> error;
};

Session::PipelineRead Session::sendPipeline(const QStringList &statements, int flushAfter)
{
    if (PQenterPipelineMode(m_conn) != 1)
        throw failure(nullptr, statements.value(0));
    PipelineRead read;
    read.statements = statements;
    for (const QString &sql : statements) {
        if (PQsendQueryParams(m_conn, sql.toUtf8().constData(), 0, nullptr, nullptr, nullptr, nullptr, 0) != 1) {
            read.error = failure(nullptr, sql);
            break;
        }
        ++read.sent;
        if (read.sent == flushAfter && read.sent < statements.size() && PQsendFlushRequest(m_conn) != 1) {
            read.error = failure(nullptr, sql);
            break;
        }
    }
    if (PQpipelineSync(m_conn) != 1 && !read.error)
        read.error = failure(nullptr, statements.value(read.sent));
    return read;
}

bool Session::readPipeline(PipelineRead &p, bool wait, int upTo) const
{
    // Whether the next result can be taken without waiting for the server
    // (a lost connection gives its failure at once).
    auto ready = [&] { return wait || PQconsumeInput(m_conn) != 1 || !PQisBusy(m_conn); };
    const int last = upTo < 0 ? p.sent : qMin(upTo, p.sent);
    while (!p.ending && p.next < last) {
        if (!ready())
            return false;
        if (PGresult *result = PQgetResult(m_conn)) {
            // A statement's results end with a null result; the first is kept.
            if (!p.kept)
                p.kept = result;
            else
                PQclear(result);
            continue;
        }
        PGresult *result = std::exchange(p.kept, nullptr);
        const QString &sql = p.statements.at(p.next++);
        if (succeeded(result)) {
            p.results.emplace_back(result);
            continue;
        }
        // After a failure the server skips the rest up to the pipeline's end.
        if ((!result || PQresultStatus(result) != PGRES_PIPELINE_ABORTED) && !p.error)
            p.error = failure(result, sql);
        if (result)
            PQclear(result);
        if (!result && PQstatus(m_conn) != CONNECTION_OK)
            p.ending = true;
    }
    if (upTo >= 0 && p.next >= last && !p.ending)
        return true;
    p.ending = true;
    // The pipeline's end. Its implicit commit can still fail here (a
    // deferred check), or a statement timeout strike after the last
    // statement: that failure comes before the end, after an empty result.
    while (p.empty < 2) {
        if (!ready())
            return false;
        PGresult *result = PQgetResult(m_conn);
        if (!result) {
            if (PQstatus(m_conn) != CONNECTION_OK)
                break;
            ++p.empty;
            continue;
        }
        p.empty = 0;
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_FATAL_ERROR && !p.error)
            p.error = failure(result, p.statements.value(p.sent - 1));
        PQclear(result);
        if (status == PGRES_PIPELINE_SYNC)
            break;
    }
    p.empty = 2;
    if (PQexitPipelineMode(m_conn) != 1 && !p.error)
        p.error = failure(nullptr, p.statements.value(p.sent - 1));
    return true;
}

std::vector<Result> Session::pipeline(const QStringList &statements)
{
    settle();
    PipelineRead read = sendPipeline(statements);
    readPipeline(read, true);
    if (read.error)
        throw *read.error;
    return std::move(read.results);
}

std::vector<Result> Session::pipelineAhead(const QStringList &statements, int now, std::shared_ptr<LaterResults> later)
{
    settle();
    auto read = std::make_unique<PipelineRead>(sendPipeline(statements, now));
    readPipeline(*read, true, now);
    if (read->error) {
        // The rest were skipped by the server: their end is read now.
        readPipeline(*read, true);
        throw *read->error;
    }
    std::vector<Result> first = std::move(read->results);
    read->results.clear();
    m_pending = std::move(read);
    m_later = std::move(later);
    return first;
}

bool Session::settle(bool wait) const
{
    if (!m_pending)
        return true;
    if (!readPipeline(*m_pending, wait))
        return false;
    const std::unique_ptr<PipelineRead> read = std::move(m_pending);
    const std::shared_ptr<LaterResults> later = std::move(m_later);
    // No one waits to end what the statements left open: it ends here.
    const PGTransactionStatusType status = PQtransactionStatus(m_conn);
    if (status == PQTRANS_INTRANS || status == PQTRANS_INERROR) {
        if (PGresult *result = PQexec(m_conn, "ROLLBACK"))
            PQclear(result);
    }
    later->results = std::move(read->results);
    later->error = std::move(read->error);
    later->done = true;
    return true;
}

void Session::abandonLater()
{
    if (!m_pending)
        return;
    m_pending.reset();
    if (const std::shared_ptr<LaterResults> later = std::exchange(m_later, nullptr)) {
        later->error = ServerError(QStringLiteral("与数据库服务器 %1 的连接中断了。").arg(m_address.display()),
                                   QStringLiteral("08006"));
        later->done = true;
    }
}

std::optional<Result> Session::execWhile(const QString &sql, const QVector<QVariant> &params,
                                         const std::function<bool()> &keepGoing)
{
    settle();
    if (stopRequested())
        return std::nullopt;
    const ParameterTexts texts(params);
    if (PQsendQueryParams(m_conn, sql.toUtf8().constData(), int(params.size()), nullptr, texts.values.constData(),
                          nullptr, nullptr, 0)
        != 1)
        throw failure(nullptr, sql);
    bool stopped = false;
    while (PQisBusy(m_conn)) {
        pollfd wait{PQsocket(m_conn), POLLIN, 0};
        ::poll(&wait, 1, 50);
        // A lost connection: the result below says so.
        if (PQconsumeInput(m_conn) != 1)
            break;
        if (!PQisBusy(m_conn) || (!stopped && !stopRequested() && keepGoing()))
            continue;
        // Asked again at every look until the statement ends: the server
        // drops a request that comes before it has begun the statement.
        stopped = true;
        askServerToStop();
    }
    PGresult *result = firstResultOf(m_conn);
    if (stopped && PQstatus(m_conn) == CONNECTION_OK) {
        if (result)
            PQclear(result);
        return std::nullopt;
    }
    if (!succeeded(result)) {
        ServerError error = failure(result, sql);
        if (result)
            PQclear(result);
        throw error;
    }
    return Result(result);
}

ServerError Session::stoppedByRequest(const QString &sql) const
{
    return ServerError(QStringLiteral("语句已按请求停止: %1").arg(sql), QStringLiteral("57014"));
}

void Session::askServerToStop() const
{
    if (PGcancel *cancel = PQgetCancel(m_conn)) {
        char reason[256];
        PQcancel(cancel, reason, int(sizeof reason));
        PQfreeCancel(cancel);
    }
}

void Session::send(const QString &sql)
{
    settle();
    if (PQsendQueryParams(m_conn, sql.toUtf8().constData(), 0, nullptr, nullptr, nullptr, nullptr, 0) != 1)
        throw failure(nullptr, sql);
}

Result Session::takeResult()
{
    PGresult *result = firstResultOf(m_conn);
    if (!succeeded(result)) {
        ServerError error = failure(result, QString());
        if (result)
            PQclear(result);
        throw error;
    }
    return Result(result);
}

void Session::execScript(const QString &sql)
{
    settle();
    PGresult *result = PQexec(m_conn, sql.toUtf8().constData());
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        ServerError error = failure(result, sql);
        if (result)
            PQclear(result);
        throw error;
    }
    PQclear(result);
    // PQexec returns the last result only; an earlier failure ends the script there.
}

qint64 Session::copyIn(const QString &copySql, const std::function<bool(QByteArray &chunk)> &produce)
{
    settle();
    PGresult *start = PQexec(m_conn, copySql.toUtf8().constData());
    if (!start || PQresultStatus(start) != PGRES_COPY_IN) {
        ServerError error = failure(start, copySql);
        if (start)
            PQclear(start);
        throw error;
    }
    PQclear(start);
    // Ends the copy and returns the server's answer to it.
    auto finish = [this, &copySql](const char *failedBecause) {
        if (PQputCopyEnd(m_conn, failedBecause) != 1)
            throw failure(nullptr, copySql);
        Result last;
        while (PGresult *r = PQgetResult(m_conn)) {
            if (PQresultStatus(r) != PGRES_COMMAND_OK) {
                ServerError error = failure(r, copySql);
                PQclear(r);
                while (PGresult *rest = PQgetResult(m_conn))
                    PQclear(rest);
                throw error;
            }
            last = Result(r);
        }
        return last.affected();
    };
    QByteArray chunk;
    try {
        for (;;) {
            chunk.clear();
            const bool more = produce(chunk);
            if (!chunk.isEmpty() && PQputCopyData(m_conn, chunk.constData(), int(chunk.size())) != 1)
                throw failure(nullptr, copySql);
            if (!more)
                break;
        }
    } catch (...) {
        // The server must leave the copy state before anything else is sent;
        // its own complaint about the abandoned copy is not the cause.
        try {
            finish("abandoned by the program");
        } catch (const ServerError &) {
        }
        throw;
    }
    return finish(nullptr);
}

CopyRow::~CopyRow()
{
    if (m_data)
        PQfreemem(m_data);
}

CopyRow::CopyRow(CopyRow &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_length(std::exchange(other.m_length, 0))
{
}

CopyRow &CopyRow::operator=(CopyRow &&other) noexcept
{
    if (this != &other) {
        if (m_data)
            PQfreemem(m_data);
        m_data = std::exchange(other.m_data, nullptr);
        m_length = std::exchange(other.m_length, 0);
    }
    return *this;
}

qint64 Session::copyOut(const QString &copySql, const std::function<bool(CopyRow &&row)> &take)
{
    settle();
    if (stopRequested())
        throw stoppedByRequest(copySql);
    PGresult *start = PQexec(m_conn, copySql.toUtf8().constData());
    if (!start || PQresultStatus(start) != PGRES_COPY_OUT) {
        ServerError error = failure(start, copySql);
        if (start)
            PQclear(start);
        throw error;
    }
    PQclear(start);
    qint64 rows = 0;
    bool stopped = false;
    bool byRequest = false;  // stopped by the session's stop request, not by take()
    std::exception_ptr thrown;
    for (;;) {
        char *data = nullptr;
        // The next row; 0 while none has come whole (a session that may be
        // stopped looks at its request in between), -1 at the copy's end,
        // -2 when it failed (the result below says why).
        const int length = PQgetCopyData(m_conn, &data, m_stopRequest ? 1 : 0);
        if (length == 0) {
            if (!stopped && stopRequested())
                stopped = byRequest = true;
            // Asked again at every look: the first request may have come
            // before the server began the statement.
            if (stopped)
                askServerToStop();
            pollfd wait{PQsocket(m_conn), POLLIN, 0};
            ::poll(&wait, 1, 50);
            // A lost connection: the result below says so.
            if (PQconsumeInput(m_conn) != 1)
                break;
            continue;
        }
        if (length < 0)
            break;
        CopyRow row(data, length);
        if (stopped)
            continue;
        if (stopRequested()) {
            stopped = byRequest = true;
            askServerToStop();
            continue;
        }
        try {
            if (take(std::move(row))) {
                ++rows;
                continue;
            }
        } catch (...) {
            thrown = std::current_exception();
        }
        stopped = true;
        askServerToStop();
    }
    PGresult *end = firstResultOf(m_conn);
    // A copy stopped here ends as cancelled (or complete, when the request came late).
    if (!stopped && !succeeded(end)) {
        ServerError error = failure(end, copySql);
        if (end)
            PQclear(end);
        throw error;
    }
    if (end)
        PQclear(end);
    if (thrown)
        std::rethrow_exception(thrown);
    // Not every row was taken: the caller must not take it for the whole copy.
    if (byRequest)
        throw stoppedByRequest(copySql);
    return rows;
}

void Session::rollbackQuietly()
{
    if (!isOk())
        return;
    settle();
    PGresult *result = PQexec(m_conn, "ROLLBACK");
    if (result)
        PQclear(result);
}

}
