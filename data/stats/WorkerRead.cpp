#include "data/stats/WorkerRead.h"

#include "data/BusyWait.h"
#include "data/Connection.h"
#include "data/Dialect.h"
#include "data/Error.h"
#include "data/ReadStatement.h"
#include "data/server/WorkerSession.h"
#include "data/server/ServerSchema.h"

#include <QFile>
#include <limits>
#include <sqlite3.h>

namespace stats {

namespace {

// Virtual machine steps between two looks at the cancel flag.
constexpr int cancelCheckSteps = 4000;

// Score rows per statement of a scan on the server.
constexpr int defaultServerScanPage = 20000;
std::atomic<int> serverScanPage{defaultServerScanPage};

int stopWhenCancelled(void *context)
{
    return static_cast<ReadConnection *>(context)->cancelled() ? 1 : 0;
}

}

ReadTarget ReadTarget::of(const dravon::Connection &connection)
{
    if (const std::optional<dravon::pg::ServerAddress> address = connection.serverAddress())
        return ReadTarget(*address);
    return ReadTarget(connection.databasePath());
}

ReadConnection::ReadConnection(const ReadTarget &target)
{
    if (target.server) {
        m_canceller = std::make_unique<dravon::pg::Canceller>();
        m_session = std::make_unique<dravon::pg::WorkerSession>(*target.server, *m_canceller);
        m_dialect = std::make_unique<dravon::PostgresDialect>(dravon::pg::serverNames(session()));
        return;
    }
    const QString &path = target.path;
    const QByteArray name = QFile::encodeName(path);
    if (sqlite3_open_v2(name.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const QString text = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
        sqlite3_close(m_db);
        m_db = nullptr;
        throw dravon::Error(QStringLiteral("无法打开数据库文件 %1: %2").arg(path, text));
    }
    sqlite3_busy_timeout(m_db, 5000);
    sqlite3_progress_handler(m_db, cancelCheckSteps, &stopWhenCancelled, this);
}

ReadConnection::~ReadConnection()
{
    sqlite3_close(m_db);
}

void ReadConnection::cancel()
{
    m_cancelled = true;
    if (m_canceller)
        m_canceller->cancel();
}

void ReadConnection::throwIfCancelled() const
{
    if (m_cancelled)
        throw Cancelled();
}

Rows::Rows(ReadConnection &connection, const QString &sql) : m_connection(connection)
{
    connection.throwIfCancelled();
    if (connection.isServer()) {
        m_server = std::make_unique<Server>();
        m_server->sql = sql;
        return;
    }
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(connection.handle(), utf8.constData(), int(utf8.size()), &m_stmt, nullptr) != SQLITE_OK) {
        const QString text = dravon::engineErrorText(connection.handle());
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        throw dravon::Error(QStringLiteral("读取数据失败: %1").arg(text));
    }
}

Rows::~Rows()
{
    sqlite3_finalize(m_stmt);
}

void Rows::bind(int index, const QString &text)
{
    if (m_server) {
        if (m_server->binds.size() < index)
            m_server->binds.resize(index);
        m_server->binds[index - 1] = text;
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void Rows::bind(int index, qint64 value)
{
    if (m_server) {
        if (m_server->binds.size() < index)
            m_server->binds.resize(index);
        m_server->binds[index - 1] = qlonglong(value);
        return;
    }
    sqlite3_bind_int64(m_stmt, index, value);
}

bool Rows::next()
{
    if (m_server) {
        Server &s = *m_server;
        m_connection.throwIfCancelled();
        if (!s.ran) {
            s.ran = true;
            s.row = -1;
            try {
                const dravon::DenseParameters dense =
                    dravon::denseParameters(m_connection.dialect().rewrite(s.sql));
                QVector<QVariant> params;
                for (int old : dense.original)
                    params << s.binds.value(old - 1);
                // The worker's session keeps a cancel until the statement ends.
                s.result = m_connection.session().exec(dense.sql, params);
            } catch (const dravon::Error &e) {
                m_connection.throwIfCancelled();
                throw dravon::Error(QStringLiteral("读取数据失败: %1").arg(e.text()));
            }
        }
        if (++s.row < s.result.rows()) {
            s.made.fill(false, s.result.columns());
            s.bytes.resize(s.result.columns());
            return true;
        }
        reset();
        return false;
    }
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE) {
        sqlite3_reset(m_stmt);
        return false;
    }
    const QString text = dravon::engineErrorText(m_connection.handle());
    sqlite3_reset(m_stmt);
    if (rc == SQLITE_INTERRUPT || m_connection.cancelled())
        throw Cancelled();
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
        throw dravon::Error(dravon::lockedText(text));
    throw dravon::Error(QStringLiteral("读取数据失败: %1").arg(text));
}

void Rows::reset()
{
    if (m_server) {
        m_server->ran = false;
        m_server->result = dravon::pg::Result();
        return;
    }
    sqlite3_reset(m_stmt);
}

int Rows::columnCount() const
{
    if (m_server)
        return m_server->result.columns();
    return sqlite3_column_count(m_stmt);
}

bool Rows::isNull(int column) const
{
    if (m_server)
        return m_server->result.isNull(m_server->row, column);
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

std::string_view Rows::bytes(int column) const
{
    if (m_server) {
        const Server &s = *m_server;
        if (!s.made[column]) {
            // A truth value reads as the file gives it: 1 or 0.
            constexpr unsigned boolType = 16;
            s.bytes[column] = s.result.columnType(column) == boolType && !s.result.isNull(s.row, column)
                                  ? QByteArray::number(s.result.value(s.row, column).toLongLong())
                                  : s.result.text(s.row, column).toUtf8();
            s.made[column] = true;
        }
        return std::string_view(s.bytes[column].constData(), std::size_t(s.bytes[column].size()));
    }
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    return text ? std::string_view(text, std::size_t(sqlite3_column_bytes(m_stmt, column))) : std::string_view();
}

QString Rows::text(int column) const
{
    const std::string_view b = bytes(column);
    return QString::fromUtf8(b.data(), qsizetype(b.size()));
}

double Rows::real(int column) const
{
    if (m_server)
        return m_server->result.value(m_server->row, column).toDouble();
    return sqlite3_column_double(m_stmt, column);
}

qint64 Rows::int64(int column) const
{
    if (m_server)
        return m_server->result.value(m_server->row, column).toLongLong();
    return sqlite3_column_int64(m_stmt, column);
}

QString ScoreScanSql(const QString &columns, const QString &conditions)
{
    return QStringLiteral("SELECT %1 FROM Score WHERE %2").arg(columns, conditions);
}

void setServerScanPageForTesting(int rows)
{
    serverScanPage = rows > 0 ? rows : defaultServerScanPage;
}

void ScanScores(ReadConnection &connection, const QString &columns, const ScanCondition &condition,
                const std::function<void(const Rows &)> &onRow)
{
    // The row key comes last, after the caller's columns. A scan that goes on
    // after its last key must come in key order, whatever index another tool
    // may have added to the file.
    const bool paged = connection.isServer() && condition.rowKeyOrder;
    QString sql = QStringLiteral("SELECT %1, Id FROM Score%2 WHERE Id > ?1 AND (%3)")
                      .arg(columns,
                           condition.rowKeyOrder && !connection.isServer() ? QStringLiteral(" NOT INDEXED") : QString(),
                           condition.sql);
    const int page = serverScanPage;
    if (paged)
        sql += QStringLiteral(" ORDER BY Id LIMIT %1").arg(page);
    Rows rows(connection, sql);
    for (int i = 0; i < condition.binds.size(); ++i)
        rows.bind(i + 2, condition.binds[i]);
    qint64 after = std::numeric_limits<qint64>::min();
    rows.bind(1, after);
    int key = -1;
    for (qint64 read = 0;; ++read) {
        if (!rows.next()) {
            // The server's page was full: the next one starts after its last key.
            if (!paged || read % page != 0 || read == 0)
                break;
            rows.bind(1, after);
            if (!rows.next())
                break;
        }
        if (key < 0)
            key = rows.columnCount() - 1;
        onRow(rows);
        if (paged) {
            after = rows.int64(key);
            continue;
        }
        if (!condition.rowKeyOrder || read % 1024 != 1023 || !dravon::writerWaiting())
            continue;
        // A Save of the program waits: the read lock goes, the scan goes on after this row.
        after = rows.int64(key);
        rows.reset();
        dravon::waitForWriter();
        connection.throwIfCancelled();
        rows.bind(1, after);
    }
}

BackgroundJob::BackgroundJob(const ReadTarget &target, Work work, QObject *parent)
    : QThread(parent), m_target(target), m_work(std::move(work))
{
}

BackgroundJob::~BackgroundJob()
{
    cancel();
    wait();
}

void BackgroundJob::cancel()
{
    m_cancelRequested = true;
    std::lock_guard lock(m_mutex);
    if (m_connection)
        m_connection->cancel();
}

QString BackgroundJob::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

void BackgroundJob::run()
{
    QString error;
    try {
        ReadConnection connection(m_target);
        {
            std::lock_guard lock(m_mutex);
            m_connection = &connection;
        }
        if (m_cancelRequested)
            connection.cancel();
        try {
            m_work(connection);
        } catch (...) {
            std::lock_guard lock(m_mutex);
            m_connection = nullptr;
            throw;
        }
        std::lock_guard lock(m_mutex);
        m_connection = nullptr;
    } catch (const Cancelled &) {
    } catch (const dravon::Error &e) {
        error = e.text();
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    }
    {
        std::lock_guard lock(m_mutex);
        m_error = m_cancelRequested ? QString() : error;
    }
    emit done();
}

}
