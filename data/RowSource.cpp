#include "data/RowSource.h"

#include "data/BusyWait.h"
#include "data/Connection.h"
#include "data/Error.h"
#include "data/SqlText.h"
#include "data/StoredText.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>
#include <sqlite3.h>
#include <algorithm>
#include <limits>

namespace dravon {

namespace {

constexpr int pageSize = 128;
constexpr int walkPageSize = 1024;  // rows read at once by a walk with next()
// A table of up to this many rows is counted as it opens: the engine counts
// it from its pages in well under a millisecond, and no worker is started.
qint64 countAtOpenLimit = TableSource::defaultCountAtOpenLimit;
constexpr int stride = 128;          // rows between the worker's checkpoints
// A table's rows are read again cheaply by key: few are kept, so that a walk
// reuses the memory of the rows it has passed. A query's rows are read again
// only by running it again: more are kept. Row keys are small.
constexpr int tableCacheRows = 2048;
constexpr int queryCacheRows = 20000;
constexpr int keyCacheRows = 20000;

FieldType typeFromDeclaration(const QString &declared)
{
    const QString t = declared.toUpper();
    if (t.contains(QLatin1String("DATE")) || t.contains(QLatin1String("TIME")))
        return FieldType::Date;
    if (t.contains(QLatin1String("INT")))
        return FieldType::Integer;
    if (t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("FLOA")) || t.contains(QLatin1String("DOUB"))
        || t.contains(QLatin1String("NUMERIC")) || t.contains(QLatin1String("DECIMAL"))
        || t.contains(QLatin1String("MONEY")) || t.contains(QLatin1String("CURRENCY")))
        return FieldType::Real;
    return FieldType::Text;
}

}

[[noreturn]] void failEngine(sqlite3 *db, const QString &what)
{
    const QString text = engineErrorText(db);
    const int code = db ? sqlite3_errcode(db) & 0xff : SQLITE_ERROR;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        throw Error(QStringLiteral("数据库正被其他操作占用(已锁定),请稍后再试。\n%1").arg(text));
    throw Error(QStringLiteral("%1: %2").arg(what, text));
}

// ---- Statement

void Statement::prepare(sqlite3 *db, const QString &sql)
{
    if (m_stmt && m_db == db && m_sql == sql)
        return;
    finalize();
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &m_stmt, nullptr) != SQLITE_OK || !m_stmt) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        failEngine(db, QStringLiteral("数据库无法执行语句 \"%1\"").arg(sql));
    }
    m_db = db;
    m_sql = sql;
}

void Statement::bind(int index, const QVariant &value)
{
    int rc = SQLITE_OK;
    if (value.isNull() || !value.isValid()) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else if (const QByteArray *stored = foreignBytes(value)) {
        // Compared, or written back, as the bytes it was read with.
        rc = sqlite3_bind_text(m_stmt, index, stored->constData(), int(stored->size()), SQLITE_TRANSIENT);
    } else {
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Long:
        case QMetaType::Bool:
            rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(m_stmt, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob(m_stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray utf8 = value.toString().toUtf8();
            rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        }
        }
    }
    if (rc != SQLITE_OK)
        failEngine(m_db, QStringLiteral("数据库无法执行语句 \"%1\"").arg(m_sql));
}

void Statement::execWrite()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        return;
    }
    sqlite3_reset(m_stmt);
    const QString text = engineErrorText(m_db);
    const int code = rc & 0xff;
    sqlite3_clear_bindings(m_stmt);
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        throw Error(QStringLiteral("数据库正被其他操作占用(已锁定),请稍后再试。\n%1").arg(text));
    throw TableSource::Refused{text};
}

bool Statement::isReadOnly() const
{
    return sqlite3_stmt_readonly(m_stmt) != 0;
}

QString Statement::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_stmt, column));
}

QString Statement::declaredType(int column) const
{
    const char *decl = sqlite3_column_decltype(m_stmt, column);
    return decl ? QString::fromUtf8(decl) : QString();
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(m_stmt);
    failEngine(m_db, QStringLiteral("读取记录失败"));
}

QVariant Statement::value(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(m_stmt, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, column));
    case SQLITE_TEXT:
        return storedTextValue(reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column)),
                               sqlite3_column_bytes(m_stmt, column));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char *>(sqlite3_column_blob(m_stmt, column)),
                                   sqlite3_column_bytes(m_stmt, column)));
    default:
        return {};
    }
}

qint64 Statement::int64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

void Statement::reset()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
}

void Statement::finalize()
{
    if (m_stmt)
        sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_db = nullptr;
}

// ---- RowCounter

namespace {
std::atomic<bool> holdCheckpoints{false};
}

void RowCounter::holdCheckpointsForTesting(bool hold)
{
    holdCheckpoints = hold;
}

RowCounter::RowCounter(const QString &path, const QString &keySql, qint64 maxKey, const QString &countSql, int stride)
    : m_path(QFileInfo(path).absoluteFilePath()), m_keySql(keySql), m_maxKey(maxKey), m_countSql(countSql), m_stride(stride)
{
}

RowCounter::~RowCounter()
{
    cancel();
    wait();
}

void RowCounter::cancel()
{
    m_cancelled = true;
    std::lock_guard lock(m_mutex);
    if (sqlite3 *db = m_db.load())
        sqlite3_interrupt(db);
}

RowCounter::Result RowCounter::result() const
{
    std::lock_guard lock(m_mutex);
    return m_result;
}

void RowCounter::run()
{
    Result result;
    sqlite3 *db = nullptr;
    const QByteArray path = m_path.toUtf8();
    auto engineText = [&] { return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory"); };
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        result.error = engineText();
    } else {
        {
            std::lock_guard lock(m_mutex);
            m_db = db;
        }
        sqlite3_busy_timeout(db, 5000);
        if (!m_keySql.isEmpty() && !m_countSql.isEmpty() && !m_cancelled) {
            // The engine counts a whole table from its pages, many times
            // faster than the walk below: the count is told at once.
            sqlite3_stmt *first = nullptr;
            const QByteArray countSql = m_countSql.toUtf8();
            if (sqlite3_prepare_v2(db, countSql.constData(), int(countSql.size()), &first, nullptr) == SQLITE_OK) {
                sqlite3_bind_int64(first, 1, m_maxKey);
                if (sqlite3_step(first) == SQLITE_ROW)
                    m_firstCount = sqlite3_column_int64(first, 0);
            }
            sqlite3_finalize(first);
            if (m_firstCount >= 0)
                emit firstCounted();
            for (int waited = 0; holdCheckpoints && !m_cancelled && waited < 10000; ++waited)
                QThread::msleep(1);
        }
        sqlite3_stmt *stmt = nullptr;
        const QByteArray sql = (m_keySql.isEmpty() ? m_countSql : m_keySql).toUtf8();
        if (m_cancelled) {
            result.error = QStringLiteral("cancelled");
        } else if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK) {
            result.error = engineText();
        } else if (m_keySql.isEmpty()) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_ROW) {
                result.count = sqlite3_column_int64(stmt, 0);
                result.ok = true;
            } else {
                result.error = engineText();
            }
        } else {
            // From one checkpoint the engine steps over stride rows to the
            // next one by itself; reads are grouped in short transactions, so
            // writers get in between.
            auto seek = [&](qint64 after, int limit, int offset) {
                sqlite3_reset(stmt);
                sqlite3_bind_int64(stmt, 1, after);
                sqlite3_bind_int64(stmt, 2, m_maxKey);
                sqlite3_bind_int(stmt, 3, limit);
                sqlite3_bind_int(stmt, 4, offset);
            };
            result.ok = true;
            int inTransaction = 0;
            seek(std::numeric_limits<qint64>::min(), 1, 0);
            int rc = sqlite3_step(stmt);
            if (rc == SQLITE_ROW) {
                qint64 checkpoint = sqlite3_column_int64(stmt, 0);
                result.checkpoints.append(checkpoint);
                while (!m_cancelled) {
                    if (inTransaction == 0) {
                        sqlite3_reset(stmt);  // no lock held while a writer goes first
                        waitForWriter();
                        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
                    }
                    // A Save of this program waits for no count: the read lock goes at once.
                    if (++inTransaction == 256 || writerWaiting()) {
                        sqlite3_reset(stmt);
                        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
                        inTransaction = 0;
                    }
                    seek(checkpoint - 1, 1, m_stride);
                    rc = sqlite3_step(stmt);
                    if (rc != SQLITE_ROW)
                        break;
                    checkpoint = sqlite3_column_int64(stmt, 0);
                    result.checkpoints.append(checkpoint);
                }
                if (rc == SQLITE_DONE) {
                    // The rows from the last checkpoint on.
                    seek(checkpoint - 1, m_stride, 0);
                    qint64 tail = 0;
                    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
                        ++tail;
                    result.count = qint64(result.checkpoints.size() - 1) * m_stride + tail;
                }
            }
            sqlite3_reset(stmt);
            if (inTransaction > 0)
                sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            if (m_cancelled) {
                result.ok = false;
                result.error = QStringLiteral("cancelled");
            } else if (rc != SQLITE_DONE) {
                result.ok = false;
                result.error = engineText();
            }
        }
        sqlite3_finalize(stmt);
        std::lock_guard lock(m_mutex);
        m_db = nullptr;
        sqlite3_close(db);
    }
    if (!m_db && db && !result.ok && result.error.isEmpty())
        result.error = QStringLiteral("failed");
    {
        std::lock_guard lock(m_mutex);
        m_result = result;
    }
    emit counted();
}

// ---- RowSource

RowSource::RowSource(Connection &connection, QObject *parent) : QObject(parent), m_connection(connection) {}

RowSource::~RowSource()
{
    m_counter.reset();
    qDeleteAll(m_statements);
}

sqlite3 *RowSource::handle()
{
    auto *db = static_cast<sqlite3 *>(m_connection.nativeHandle());
    if (!db)
        throw Error(QStringLiteral("数据库没有连接。"));
    return db;
}

Statement &RowSource::statement(const QString &sql)
{
    Statement *&s = m_statements[sql];
    if (!s)
        s = new Statement;
    s->prepare(handle(), sql);
    scheduleRelease();
    return *s;
}

void RowSource::scheduleRelease()
{
    if (m_releaseScheduled)
        return;
    m_releaseScheduled = true;
    QMetaObject::invokeMethod(this, &RowSource::releaseStatements, Qt::QueuedConnection);
}

void RowSource::releaseStatements()
{
    m_releaseScheduled = false;
    for (Statement *s : std::as_const(m_statements))
        s->finalize();
    statementsReleased();
}

Values RowSource::readValues(const Statement &s, int firstColumn) const
{
    Values values(m_fields.size());
    for (int i = 0; i < m_fields.size(); ++i)
        values[i] = s.value(firstColumn + i);
    return values;
}

void RowSource::startCounter(const QString &keySql, qint64 maxKey, const QString &countSql)
{
    m_counter = std::make_unique<RowCounter>(m_connection.databasePath(), keySql, maxKey, countSql, stride);
    connect(m_counter.get(), &RowCounter::counted, this, &RowSource::takeCount, Qt::QueuedConnection);
    connect(m_counter.get(), &RowCounter::firstCounted, this, &RowSource::takeFirstCount, Qt::QueuedConnection);
    // Counting starts once the first rows have been painted: a timer fires
    // after the events already posted (the window's first paint among them),
    // so the count does not compete with them.
    QTimer::singleShot(1, this, [this] {
        if (m_counter && !countKnown() && !m_counter->isRunning() && !m_counter->isFinished())
            m_counter->start(QThread::LowPriority);
    });
}

void RowSource::takeCount()
{
    if (!m_counter)
        return;
    if (!m_counter->isRunning() && !m_counter->isFinished())
        m_counter->start();
    m_counter->wait();
    const RowCounter::Result result = m_counter->result();
    m_counter.reset();
    if (!result.ok) {
        if (!countKnown() && result.error != QLatin1String("cancelled"))
            emit countFailed(result.error);
        return;
    }
    applyCount(result);
}

void RowSource::takeFirstCount()
{
    if (m_counter && m_counter->firstCount() >= 0)
        applyFirstCount(m_counter->firstCount());
}

void RowSource::waitForCount()
{
    if (m_counter)
        takeCount();
}

// ---- TableSource

TableSource::TableSource(Connection &connection, const QString &table, const QString &condition, QObject *parent)
    : RowSource(connection, parent), m_table(table), m_condition(condition)
{
    m_values.setMaxCost(tableCacheRows);
    m_segments.setMaxCost(keyCacheRows / stride + 8);
    m_pendingPages.setMaxCost(keyCacheRows / pageSize + 8);
    const QString quoted = quotedIdentifier(table);
    {
        Statement &info = statement(QStringLiteral("PRAGMA table_info(%1)").arg(quoted));
        QStringList keyColumns;
        QStringList keyTypes;
        while (info.step()) {
            m_fields.append({info.value(1).toString(), typeFromDeclaration(info.value(2).toString())});
            if (info.value(5).toInt() > 0) {
                keyColumns << info.value(1).toString();
                keyTypes << info.value(2).toString().trimmed().toUpper();
            }
        }
        info.reset();
        // An INTEGER PRIMARY KEY is the row key itself; any other declared key
        // is what identifies the row across a vacuum.
        const bool integerKey = keyColumns.size() == 1 && keyTypes.first() == QLatin1String("INTEGER");
        if (!integerKey)
            m_declaredKey = keyColumns;
    }
    Statement &max = statement(QStringLiteral("SELECT max(rowid) FROM %1").arg(quoted));
    if (max.step())
        m_maxKey = max.int64(0);
    max.reset();
    m_chunks.append(Chunk{});
    readFront(pageSize);
    // A whole table is counted first from its pages (rows added since the
    // snapshot taken off); a filtered one only by the walk. A small one is
    // counted here and needs no worker: its rows between are read by
    // stepping from the nearer end, and placed by key in one pass when a row
    // is stored or deleted among them.
    const QString firstCount = m_condition.isEmpty()
        ? QStringLiteral("SELECT (SELECT count(*) FROM %1) - (SELECT count(*) FROM %1 WHERE rowid > ?1)").arg(quoted)
        : QString();
    if (m_gapOpen && !firstCount.isEmpty() && !m_chunks[0].keys.isEmpty()
        && m_maxKey - m_chunks[0].keys.first() < countAtOpenLimit) {
        Statement &c = statement(firstCount);
        c.bind(1, m_maxKey);
        const qint64 counted = c.step() ? c.int64(0) : -1;
        c.reset();
        if (counted >= 0)
            applyFirstCount(counted);
    }
    if (m_gapOpen)
        startCounter(QStringLiteral("SELECT rowid FROM %1 %2 ORDER BY rowid LIMIT ?3 OFFSET ?4")
                         .arg(quoted, filter(QStringLiteral("rowid > ?1 AND rowid <= ?2"))),
                     m_maxKey, firstCount);
}

QString TableSource::filter(const QString &keyCondition) const
{
    QString where = QStringLiteral("WHERE ") + keyCondition;
    if (!m_condition.isEmpty())
        where += QStringLiteral(" AND (%1)").arg(m_condition);
    return where;
}

int TableSource::count() const
{
    int n = 0;
    for (const Chunk &c : m_chunks)
        n += c.size();
    return n;
}

int TableSource::chunkAt(int row, int *offset) const
{
    for (int i = 0; i < m_chunks.size(); ++i) {
        const int size = m_chunks[i].size();
        if (row < size) {
            *offset = row;
            return i;
        }
        row -= size;
    }
    return -1;
}

void TableSource::readInto(Statement &s, QVector<qint64> *keys)
{
    while (s.step()) {
        const qint64 key = s.int64(0);
        if (m_localInserted.contains(key))
            continue;
        keys->append(key);
        if (!m_values.contains(key)) {
            m_values.insert(key, new Values(readValues(s, 1)));
            ++m_rowsFetched;
        }
    }
    s.reset();
}

QString TableSource::whereRead(const Values &read, QVector<QVariant> *bound, qint64 key) const
{
    QStringList terms;
    if (m_declaredKey.isEmpty()) {
        terms << QStringLiteral("rowid = ?");
        *bound << key;
    }
    for (int i = 0; i < m_fields.size(); ++i) {
        terms << QStringLiteral("%1 IS ?").arg(quotedIdentifier(m_fields[i].name));
        *bound << read.value(i);
    }
    return terms.join(QStringLiteral(" AND "));
}

void TableSource::readFront(int wanted)
{
    forgetMemo();
    if (!m_gapOpen)
        return;
    Statement &s = statement(QStringLiteral("SELECT rowid, * FROM %1 %2 ORDER BY rowid LIMIT ?3")
                                 .arg(quotedIdentifier(m_table), filter(QStringLiteral("rowid > ?1 AND rowid <= ?2"))));
    s.bind(1, m_frontLast);
    s.bind(2, m_backLoaded ? m_backFirst - 1 : m_maxKey);
    s.bind(3, wanted);
    QVector<qint64> keys;
    int got = 0;
    while (s.step()) {
        const qint64 key = s.int64(0);
        ++got;
        m_frontLast = key;
        if (m_localInserted.contains(key))
            continue;
        keys.append(key);
        if (!m_values.contains(key)) {
            m_values.insert(key, new Values(readValues(s, 1)));
            ++m_rowsFetched;
        }
    }
    s.reset();
    m_frontBase += got;
    if (!keys.isEmpty()) {
        const int at = int(m_chunks[0].keys.size());
        emit aboutToInsert(at, at + int(keys.size()) - 1);
        m_chunks[0].keys += keys;
        emit inserted();
    }
    if (got < wanted) {
        // The front reached the back or the end: every row has its position.
        m_gapOpen = false;
        m_countKnown = true;
        if (m_counter)
            m_counter->cancel();
    }
}

bool TableSource::fetchMore()
{
    if (!m_gapOpen)
        return false;
    const int before = count();
    readFront(pageSize);
    return count() > before;
}

bool TableSource::ensure(int row)
{
    while (row >= count() && m_gapOpen && !m_backLoaded) {
        const int before = count();
        readFront(pageSize);
        if (count() == before)
            break;
    }
    return row < count();
}

void TableSource::learnAfter(int row)
{
    // Past the last row read from the front come the rows of the gap, not
    // the back. A walk row by row reads on in longer pages: each read is a
    // read transaction of its own.
    if (m_gapOpen && row >= m_chunks[0].size() - 1)
        readFront(walkPageSize);
}

void TableSource::learnBefore(int row)
{
    forgetMemo();
    if (!m_gapOpen || !m_backLoaded || row != m_chunks[0].size())
        return;
    Statement &s = statement(QStringLiteral("SELECT rowid, * FROM %1 %2 ORDER BY rowid DESC LIMIT ?3")
                                 .arg(quotedIdentifier(m_table), filter(QStringLiteral("rowid < ?1 AND rowid > ?2"))));
    s.bind(1, m_backFirst);
    s.bind(2, m_frontLast);
    s.bind(3, pageSize);
    QVector<qint64> keys;
    int got = 0;
    while (s.step()) {
        ++got;
        m_backFirst = s.int64(0);
        if (m_localInserted.contains(m_backFirst))
            continue;
        keys.prepend(m_backFirst);
        if (!m_values.contains(m_backFirst)) {
            m_values.insert(m_backFirst, new Values(readValues(s, 1)));
            ++m_rowsFetched;
        }
    }
    s.reset();
    m_backBase += got;
    if (!keys.isEmpty()) {
        const int at = m_chunks[0].size();
        emit aboutToInsert(at, at + int(keys.size()) - 1);
        m_chunks.last().keys = keys + m_chunks.last().keys;
        emit inserted();
    }
    if (got < pageSize) {
        m_gapOpen = false;
        m_countKnown = true;
        if (m_counter)
            m_counter->cancel();
    }
}

int TableSource::loadLast()
{
    if (m_gapOpen && !m_backLoaded) {
        // The last rows, newest key first, in one indexed read; their
        // positions follow the front until the count says how many lie between.
        m_chunks.append(Chunk{});
        m_backLoaded = true;
        m_backFirst = m_maxKey + 1;
        learnBefore(m_chunks[0].size());
    }
    return count() - 1;
}

const QVector<qint64> &TableSource::segment(int index)
{
    if (const QVector<qint64> *cached = m_segments.object(index))
        return *cached;
    forgetMemo();  // a page read again may find rows gone elsewhere
    Statement &s = statement(QStringLiteral("SELECT rowid, * FROM %1 %2 ORDER BY rowid LIMIT ?3")
                                 .arg(quotedIdentifier(m_table), filter(QStringLiteral("rowid > ?1 AND rowid <= ?2"))));
    s.bind(1, m_checkpoints[index] - 1);
    s.bind(2, index + 1 < m_checkpoints.size() ? m_checkpoints[index + 1] - 1 : m_maxKey);
    s.bind(3, stride);
    auto *keys = new QVector<qint64>;
    readInto(s, keys);
    // Rows deleted elsewhere since the count leave their places empty.
    const int expected = qMin(stride, m_snapshotCount - index * stride);
    while (keys->size() < expected)
        keys->append(-1);
    m_segments.insert(index, keys);
    return *m_segments.object(index);
}

qint64 TableSource::keyAt(int row)
{
    int offset = 0;
    const int c = chunkAt(row, &offset);
    if (c < 0)
        return -1;
    const Chunk &chunk = m_chunks[c];
    if (chunk.materialized)
        return chunk.keys[offset];
    if (chunk.pending)
        return pendingKey(offset, chunk.size());
    const int base = chunk.first + offset;
    return segment(base / stride).value(base % stride, -1);
}

void TableSource::fetchAround(int row)
{
    // Values of the neighbouring rows whose keys are known, in one read.
    constexpr int batch = 64;
    QVector<qint64> missing;
    const int total = count();
    const int from = qMax(0, row - batch / 4);
    for (int r = from; r < total && r < from + batch; ++r) {
        const qint64 key = keyAt(r);
        if (key >= 0 && !m_values.contains(key))
            missing.append(key);
    }
    if (missing.isEmpty())
        return;
    QStringList marks;
    for (int i = 1; i <= batch; ++i)
        marks << QStringLiteral("?%1").arg(i);
    Statement &s = statement(QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid IN (%2)")
                                 .arg(quotedIdentifier(m_table), marks.join(QLatin1Char(','))));
    for (int i = 0; i < batch; ++i)
        s.bind(i + 1, i < missing.size() ? QVariant(missing[i]) : QVariant());
    QSet<qint64> found;
    while (s.step()) {
        const qint64 key = s.int64(0);
        m_values.insert(key, new Values(readValues(s, 1)));
        found.insert(key);
        ++m_rowsFetched;
    }
    s.reset();
    // A row deleted elsewhere shows empty rather than failing.
    for (qint64 key : std::as_const(missing))
        if (!found.contains(key))
            m_values.insert(key, new Values(m_fields.size()));
}

Values TableSource::values(int row)
{
    if (remembers(row))
        return remembered();
    const qint64 key = keyAt(row);
    if (key < 0)
        return Values(m_fields.size());
    const Values *v = m_values.object(key);
    if (!v) {
        fetchAround(row);
        v = m_values.object(key);
    }
    if (!v)
        return Values(m_fields.size());
    return remember(row, *v);
}

int TableSource::positionAtOrAbove(qint64 key)
{
    // The worker's position of the first row whose key is at least key.
    const auto after = std::upper_bound(m_checkpoints.cbegin(), m_checkpoints.cend(), key);
    const int index = int(after - m_checkpoints.cbegin()) - 1;
    if (index < 0)
        return 0;
    const QVector<qint64> &keys = segment(index);
    for (int i = 0; i < keys.size(); ++i)
        if (keys[i] >= key)
            return index * stride + i;
    return qMin((index + 1) * stride, m_snapshotCount);
}

qint64 TableSource::pendingKey(int offset, int size)
{
    // Until the rows are placed by key, a page of the range is found by
    // stepping from the nearest page already read, or from the nearer end of
    // the range: a walk or a scroll reads on from the page before it.
    const int page = offset / pageSize;
    if (const QVector<qint64> *cached = m_pendingPages.object(page))
        return cached->value(offset % pageSize, -1);
    forgetMemo();
    const int from = page * pageSize;
    const int rows = qMin(pageSize, size - from);  // of this page
    const qint64 upperBound = m_backLoaded ? m_backFirst : m_maxKey + 1;
    auto wholePage = [&](int p) -> const QVector<qint64> * {
        const QVector<qint64> *keys = m_pendingPages.object(p);
        return keys && !keys->isEmpty() && !keys->contains(-1) ? keys : nullptr;
    };
    constexpr int anchorReach = 64;  // pages looked at on either side
    qint64 below = m_frontLast;
    int skipBelow = from;
    for (int p = page - 1; p >= 0 && p >= page - anchorReach; --p)
        if (const QVector<qint64> *keys = wholePage(p)) {
            below = keys->last();
            skipBelow = from - (p + 1) * pageSize;
            break;
        }
    qint64 above = upperBound;
    int skipAbove = size - from - rows;
    for (int p = page + 1; p * pageSize < size && p <= page + anchorReach; ++p)
        if (const QVector<qint64> *keys = wholePage(p)) {
            above = keys->first();
            skipAbove = p * pageSize - from - rows;
            break;
        }
    const bool fromAbove = skipAbove < skipBelow;
    // Reading on from the page just before: a walk, so several pages at once
    // (each read is a read transaction of its own).
    const int pages = !fromAbove && skipBelow == 0 && page > 0 ? walkPageSize / pageSize : 1;
    const int wanted = qMin(pages * pageSize, size - from);
    Statement &s = statement(QStringLiteral("SELECT rowid, * FROM %1 %2 ORDER BY rowid %3 LIMIT ?3 OFFSET ?4")
                                 .arg(quotedIdentifier(m_table), filter(QStringLiteral("rowid > ?1 AND rowid < ?2")),
                                      fromAbove ? QStringLiteral("DESC") : QString()));
    s.bind(1, fromAbove ? m_frontLast : below);
    s.bind(2, fromAbove ? above : upperBound);
    s.bind(3, wanted);
    s.bind(4, fromAbove ? skipAbove : skipBelow);
    QVector<qint64> read;
    readInto(s, &read);
    // Rows deleted elsewhere since the count leave their places empty (on
    // the side away from where the page was read).
    while (read.size() < wanted)
        read.append(-1);
    if (fromAbove)
        std::reverse(read.begin(), read.end());
    for (int p = 0; p * pageSize < wanted; ++p)
        m_pendingPages.insert(page + p, new QVector<qint64>(read.mid(p * pageSize, qMin(pageSize, wanted - p * pageSize))));
    return read.value(offset % pageSize, -1);
}

void TableSource::setCountAtOpenLimitForTesting(qint64 rows)
{
    countAtOpenLimit = rows;
}

void TableSource::applyFirstCount(qint64 count)
{
    // Rows stored or deleted here meanwhile could be counted or not: the
    // checkpoints, which place rows by key, decide then.
    if (!m_gapOpen || m_changedLocally)
        return;
    const qint64 gap = count - m_frontBase - (m_backLoaded ? m_backBase : 0);
    if (gap < 0 || gap > std::numeric_limits<int>::max() / 2)
        return;
    forgetMemo();
    m_gapOpen = false;
    m_countKnown = true;
    m_provisional = true;
    m_pendingPages.clear();
    if (gap == 0)
        return;
    Chunk range;
    range.materialized = false;
    range.pending = true;
    range.end = int(gap);
    const int at = m_chunks[0].size();
    emit aboutToInsert(at, at + int(gap) - 1);
    m_chunks.insert(1, range);
    emit inserted();
}

void TableSource::settle(int row)
{
    int offset = 0;
    const int c = chunkAt(row, &offset);
    if (c >= 0 && m_chunks[c].pending)
        settlePending();
}

void TableSource::settlePending()
{
    if (!m_provisional)
        return;
    waitForCount();
    if (!m_provisional)
        return;
    // No worker (a small table) or it failed: the range's keys are read here, in one pass.
    int index = -1;
    for (int i = 0; i < m_chunks.size(); ++i)
        if (m_chunks[i].pending)
            index = i;
    Chunk keys;
    if (index >= 0) {
        Statement &s = statement(QStringLiteral("SELECT rowid FROM %1 %2 ORDER BY rowid")
                                     .arg(quotedIdentifier(m_table), filter(QStringLiteral("rowid > ?1 AND rowid < ?2"))));
        s.bind(1, m_frontLast);
        s.bind(2, m_backLoaded ? m_backFirst : m_maxKey + 1);
        while (s.step())
            if (!m_localInserted.contains(s.int64(0)))
                keys.keys.append(s.int64(0));
        s.reset();
    }
    replacePending(index < 0 ? QVector<Chunk>{} : QVector<Chunk>{keys});
}

void TableSource::replacePending(const QVector<Chunk> &middle)
{
    forgetMemo();
    m_provisional = false;
    m_pendingPages.clear();
    int index = -1;
    for (int i = 0; i < m_chunks.size(); ++i)
        if (m_chunks[i].pending)
            index = i;
    const int before = index >= 0 ? m_chunks[index].size() : 0;
    int rows = 0;
    for (const Chunk &c : middle)
        rows += c.size();
    // The same number of rows in the same places: nothing moves on screen.
    const bool moved = rows != before;
    if (moved)
        emit aboutToReset();
    if (index >= 0)
        m_chunks.remove(index);
    else
        index = 1;
    for (int i = 0; i < middle.size(); ++i)
        if (middle[i].size() > 0)
            m_chunks.insert(index++, middle[i]);
    if (moved)
        emit resetDone();
}

void TableSource::applyCount(const RowCounter::Result &result)
{
    forgetMemo();
    if (!m_gapOpen && !m_provisional)
        return;
    m_checkpoints = result.checkpoints;
    m_snapshotCount = int(result.count);
    m_segments.clear();
    // The rows between the front and the back, by their keys, so that rows
    // this set stored or deleted meanwhile do not shift them.
    const int first = m_checkpoints.isEmpty() ? 0 : positionAtOrAbove(m_frontLast == std::numeric_limits<qint64>::min() ? m_frontLast : m_frontLast + 1);
    const int end = !m_backLoaded || m_checkpoints.isEmpty() ? m_snapshotCount : positionAtOrAbove(m_backFirst);
    m_gapOpen = false;
    m_countKnown = true;
    // Whole pages are read by checkpoints; a part page at either side is kept
    // by its keys, so that no page is shared with rows kept by key.
    QVector<Chunk> middle;
    auto piece = [&](int from, int to) {
        Chunk c;
        const QVector<qint64> &keys = segment(from / stride);
        for (int b = from; b < to; ++b)
            c.keys.append(keys.value(b % stride, -1));
        middle << c;
    };
    if (end > first) {
        const int headEnd = qMin(end, (first + stride - 1) / stride * stride);
        if (headEnd > first)
            piece(first, headEnd);
        const int tailStart = qMax(headEnd, end / stride * stride);
        if (tailStart > headEnd) {
            Chunk range;
            range.materialized = false;
            range.first = headEnd;
            range.end = tailStart;
            middle << range;
        }
        if (end > tailStart)
            piece(tailStart, end);
    }
    if (m_provisional) {
        // The rows shown since the first count take their places by key.
        replacePending(middle);
        return;
    }
    if (middle.isEmpty())
        return;
    int rows = 0;
    for (const Chunk &c : std::as_const(middle))
        rows += c.size();
    const int at = m_chunks[0].size();
    emit aboutToInsert(at, at + rows - 1);
    for (int i = 0; i < middle.size(); ++i)
        m_chunks.insert(1 + i, middle[i]);
    emit inserted();
}

int TableSource::splitAt(int row, int *offset)
{
    int c = chunkAt(row, offset);
    if (c >= 0 && m_chunks[c].pending) {
        // A row of the range is to be stored or dropped: by key, so the checkpoints are awaited.
        settlePending();
        c = chunkAt(row, offset);
    }
    if (c < 0 || m_chunks[c].materialized)
        return c;
    const Chunk range = m_chunks[c];
    const int base = range.first + *offset;
    const int from = qMax(range.first, base - base % stride);
    const int to = qMin(range.end, base - base % stride + stride);
    const QVector<qint64> &seg = segment(base / stride);
    Chunk piece;
    for (int b = from; b < to; ++b)
        piece.keys.append(seg.value(b % stride, -1));
    QVector<Chunk> parts;
    if (from > range.first) {
        Chunk before = range;
        before.end = from;
        parts << before;
    }
    parts << piece;
    if (to < range.end) {
        Chunk after = range;
        after.first = to;
        parts << after;
    }
    m_chunks.remove(c);
    for (int i = 0; i < parts.size(); ++i)
        m_chunks.insert(c + i, parts[i]);
    const int at = c + (from > range.first ? 1 : 0);
    *offset = base - from;
    return at;
}

void TableSource::placeStored(int row, qint64 key)
{
    forgetMemo();
    m_changedLocally = true;
    m_localInserted.insert(key);
    if (row >= count()) {
        if (!m_chunks.last().materialized)
            m_chunks.append(Chunk{});
        m_chunks.last().keys.append(key);
        return;
    }
    int offset = 0;
    const int c = splitAt(row, &offset);
    m_chunks[c].keys.insert(offset, key);
}

void TableSource::forget(int row)
{
    forgetMemo();
    m_changedLocally = true;
    int offset = 0;
    const int c = splitAt(row, &offset);
    if (c < 0)
        return;
    const qint64 key = m_chunks[c].keys.at(offset);
    m_chunks[c].keys.remove(offset);
    m_values.remove(key);
    m_localInserted.remove(key);
}

void TableSource::insertRow(int row, const Values &values, const QVector<bool> &given)
{
    Q_UNUSED(given);
    QStringList names, marks;
    QVector<QVariant> bound;
    for (int i = 0; i < m_fields.size(); ++i) {
        if (values[i].isNull())
            continue;
        names << quotedIdentifier(m_fields[i].name);
        marks << QStringLiteral("?");
        bound << values[i];
    }
    const QString table = quotedIdentifier(m_table);
    const QString sql = names.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
                                        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                              .arg(table, names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    Statement &s = statement(sql);
    for (int i = 0; i < bound.size(); ++i)
        s.bind(i + 1, bound[i]);
    s.execWrite();
    const qint64 key = sqlite3_last_insert_rowid(handle());
    placeStored(row, key);
    readOne(key);
}

bool TableSource::readOne(qint64 key)
{
    forgetMemo();
    Statement &s = statement(QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid = ?1").arg(quotedIdentifier(m_table)));
    s.bind(1, key);
    const bool found = s.step();
    if (found) {
        m_values.insert(key, new Values(readValues(s, 1)));
        ++m_rowsFetched;
    } else {
        m_values.insert(key, new Values(m_fields.size()));
    }
    s.reset();
    return found;
}

void TableSource::updateRow(int row, const Values &read, const Values &values, const QVector<bool> &changed)
{
    const qint64 key = keyAt(row);
    QStringList sets;
    QVector<QVariant> bound;
    for (int i = 0; i < m_fields.size(); ++i) {
        if (!changed.value(i))
            continue;
        sets << QStringLiteral("%1 = ?").arg(quotedIdentifier(m_fields[i].name));
        bound << values[i];
    }
    if (sets.isEmpty())
        return;
    if (key < 0)
        throw Conflict{};
    const QString where = whereRead(read, &bound, key);
    Statement &s = statement(QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                                 .arg(quotedIdentifier(m_table), sets.join(QStringLiteral(", ")), where));
    for (int i = 0; i < bound.size(); ++i)
        s.bind(i + 1, bound[i]);
    s.execWrite();
    if (sqlite3_changes(handle()) == 0)
        throw Conflict{};
    readOne(key);
}

void TableSource::deleteRows(const QVector<int> &rows, const QVector<Values> &read)
{
    sqlite3 *db = handle();
    const bool many = rows.size() > 1;
    auto exec = [&](const char *sql) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            failEngine(db, QStringLiteral("数据库拒绝删除记录"));
    };
    if (many)
        exec("SAVEPOINT recordset_delete");
    try {
        for (int i = 0; i < rows.size(); ++i) {
            const qint64 key = keyAt(rows[i]);
            if (key < 0)
                throw Conflict{};
            QVector<QVariant> bound;
            const QString where = whereRead(read.value(i), &bound, key);
            Statement &s = statement(QStringLiteral("DELETE FROM %1 WHERE %2").arg(quotedIdentifier(m_table), where));
            for (int b = 0; b < bound.size(); ++b)
                s.bind(b + 1, bound[b]);
            s.execWrite();
            if (sqlite3_changes(db) == 0)
                throw Conflict{};
        }
    } catch (...) {
        if (many) {
            sqlite3_exec(db, "ROLLBACK TO recordset_delete", nullptr, nullptr, nullptr);
            sqlite3_exec(db, "RELEASE recordset_delete", nullptr, nullptr, nullptr);
        }
        throw;
    }
    if (many && sqlite3_exec(db, "RELEASE recordset_delete", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const QString text = engineErrorText(db);
        sqlite3_exec(db, "ROLLBACK TO recordset_delete", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "RELEASE recordset_delete", nullptr, nullptr, nullptr);
        throw Refused{text};
    }
}

Values TableSource::reread(int row, const Values &read)
{
    forgetMemo();
    qint64 key = keyAt(row);
    if (!m_declaredKey.isEmpty()) {
        // By the declared key: a vacuum may have given the row another row key.
        QStringList terms;
        QVector<QVariant> bound;
        for (const QString &column : std::as_const(m_declaredKey)) {
            const int i = [&] {
                for (int f = 0; f < m_fields.size(); ++f)
                    if (m_fields[f].name.compare(column, Qt::CaseInsensitive) == 0)
                        return f;
                return -1;
            }();
            terms << QStringLiteral("%1 IS ?").arg(quotedIdentifier(column));
            bound << read.value(i);
        }
        Statement &s = statement(QStringLiteral("SELECT rowid FROM %1 WHERE %2")
                                     .arg(quotedIdentifier(m_table), terms.join(QStringLiteral(" AND "))));
        for (int b = 0; b < bound.size(); ++b)
            s.bind(b + 1, bound[b]);
        const qint64 now = s.step() ? s.int64(0) : -1;
        s.reset();
        if (now != key) {
            int offset = 0;
            const int c = splitAt(row, &offset);
            if (c >= 0) {
                if (key >= 0)
                    m_values.remove(key);
                m_chunks[c].keys[offset] = now;
                m_changedLocally = true;
                if (now >= 0)
                    m_localInserted.insert(now);  // no longer where the key order put it
            }
            key = now;
        }
    }
    if (key < 0 || !readOne(key))
        return Values();
    return *m_values.object(key);
}

std::optional<QVariant> TableSource::lookup(int keyField, const QString &key, int resultField)
{
    QString extra;
    if (!m_localInserted.isEmpty()) {
        QStringList keys;
        for (qint64 k : std::as_const(m_localInserted))
            keys << QString::number(k);
        extra = QStringLiteral(" OR rowid IN (%1)").arg(keys.join(QLatin1Char(',')));
    }
    Statement &s = statement(QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY rowid LIMIT 1")
                                 .arg(quotedIdentifier(m_fields[resultField].name), quotedIdentifier(m_table),
                                      filter(QStringLiteral("%1 = ?1 AND (rowid <= ?2%2)")
                                                 .arg(quotedIdentifier(m_fields[keyField].name), extra))));
    s.bind(1, key);
    s.bind(2, m_maxKey);
    std::optional<QVariant> result;
    if (s.step())
        result = s.value(0);
    s.reset();
    return result;
}

std::optional<int> TableSource::find(int field, const QString &text, bool prefix)
{
    // The database finds the matching rows (by the column's index); the
    // first of them in this set's order is the one meant. Every text that
    // begins with text sorts from text up to text followed by the last code
    // point.
    const QString column = quotedIdentifier(m_fields[field].name);
    const QString match = prefix ? QStringLiteral("%1 >= ?1 AND %1 < ?3").arg(column) : QStringLiteral("%1 = ?1").arg(column);
    const char32_t top = 0x10FFFF;
    const QString upper = text + QString::fromUcs4(&top, 1);
    QVector<qint64> candidates;
    Statement &s = statement(QStringLiteral("SELECT rowid FROM %1 %2 ORDER BY rowid LIMIT 1")
                                 .arg(quotedIdentifier(m_table), filter(match + QStringLiteral(" AND rowid <= ?2"))));
    s.bind(1, text);
    s.bind(2, m_maxKey);
    if (prefix)
        s.bind(3, upper);
    if (s.step())
        candidates << s.int64(0);
    s.reset();
    if (!m_localInserted.isEmpty()) {
        QStringList keys;
        for (qint64 k : std::as_const(m_localInserted))
            keys << QString::number(k);
        Statement &local = statement(QStringLiteral("SELECT rowid FROM %1 WHERE %2 AND rowid IN (%3)")
                                         .arg(quotedIdentifier(m_table), match, keys.join(QLatin1Char(','))));
        local.bind(1, text);
        if (prefix)
            local.bind(3, upper);
        while (local.step())
            candidates << local.int64(0);
        local.reset();
    }
    std::optional<int> best;
    for (qint64 candidate : std::as_const(candidates)) {
        const std::optional<int> at = positionOfKey(candidate);
        if (at && (!best || *at < *best))
            best = at;
    }
    return best;
}

std::optional<int> TableSource::positionOfKey(qint64 key)
{
    int start = 0;
    for (const Chunk &c : std::as_const(m_chunks)) {
        if (c.materialized) {
            const int i = int(c.keys.indexOf(key));
            if (i >= 0)
                return start + i;
        }
        start += c.size();
    }
    if (m_localInserted.contains(key) || key > m_maxKey)
        return std::nullopt;
    if (m_provisional) {
        settlePending();
        return positionOfKey(key);
    }
    if (m_gapOpen) {
        // Between the rows read from the front and the back: its position
        // needs the count.
        waitForCount();
        if (m_gapOpen)
            return std::nullopt;
        // The count rearranges the rows: look again among those now read.
        return positionOfKey(key);
    }
    if (m_checkpoints.isEmpty())
        return std::nullopt;
    const auto after = std::upper_bound(m_checkpoints.cbegin(), m_checkpoints.cend(), key);
    if (after == m_checkpoints.cbegin())
        return std::nullopt;
    const int index = int(after - m_checkpoints.cbegin()) - 1;
    const int inSegment = int(segment(index).indexOf(key));
    if (inSegment < 0)
        return std::nullopt;
    const int base = index * stride + inSegment;
    start = 0;
    for (const Chunk &c : std::as_const(m_chunks)) {
        if (!c.materialized && base >= c.first && base < c.end)
            return start + base - c.first;
        start += c.size();
    }
    return std::nullopt;
}

// ---- QuerySource

QuerySource::QuerySource(Connection &connection, const QString &sql, QObject *parent)
    : RowSource(connection, parent)
{
    m_rows.setMaxCost(queryCacheRows);
    // A closing ";" must go for the statement to be wrapped for counting, and
    // a trailing comment must not swallow the ")".
    m_sql = sql.trimmed();
    while (m_sql.endsWith(QLatin1Char(';')))
        m_sql = m_sql.chopped(1).trimmed();
    m_sql += QLatin1Char('\n');
    Statement &s = statement(m_sql);
    if (!s.isReadOnly())
        throw Error(QStringLiteral("语句不是查询,不能打开为记录集: %1").arg(sql));
    // Column names and declared types from the engine itself, so that a date
    // column shows as a date also in a join.
    for (int i = 0; i < s.columnCount(); ++i)
        m_fields.append({s.columnName(i), typeFromDeclaration(s.declaredType(i))});
    readPage(0, pageSize);
    if (!m_countKnown)
        startCounter({}, 0, QStringLiteral("SELECT count(*) FROM (%1)").arg(m_sql));
}

void QuerySource::statementsReleased()
{
    m_cursorPos = -1;
}

void QuerySource::readPage(int start, int rows)
{
    forgetMemo();  // a statement run again may give other rows
    Statement &s = statement(m_sql);
    if (m_cursorPos < 0 || m_cursorPos > start) {
        s.reset();
        m_cursorPos = 0;
    }
    // Rows before the page are stepped over without being read.
    while (m_cursorPos < start) {
        if (!s.step()) {
            s.reset();
            m_cursorPos = 0;
            grow(start, true);
            return;
        }
        ++m_cursorPos;
    }
    int end = start;
    bool atEnd = false;
    while (end < start + rows) {
        if (!s.step()) {
            atEnd = true;
            break;
        }
        m_rows.insert(end, new Values(readValues(s, 0)));
        ++m_rowsFetched;
        ++end;
        ++m_cursorPos;
    }
    if (atEnd) {
        // At its end the statement is reset, so it holds no read lock.
        s.reset();
        m_cursorPos = 0;
    }
    grow(end, atEnd);
}

void QuerySource::grow(int newCount, bool final)
{
    if (final && !m_countKnown && m_counter)
        m_counter->cancel();
    if (final && newCount < m_count && !m_countKnown) {
        forgetMemo();
        emit aboutToReset();
        m_count = newCount;
        m_countKnown = true;
        emit resetDone();
        return;
    }
    if (final)
        m_countKnown = true;
    if (newCount > m_count) {
        emit aboutToInsert(m_count, newCount - 1);
        m_count = newCount;
        emit inserted();
    }
}

bool QuerySource::ensure(int row)
{
    while (row >= m_count && !m_countKnown) {
        const int before = m_count;
        readPage(m_count, pageSize);
        if (m_count == before)
            break;
    }
    return row < m_count;
}

bool QuerySource::fetchMore()
{
    if (m_countKnown)
        return false;
    const int before = m_count;
    readPage(m_count, pageSize);
    return m_count > before;
}

int QuerySource::loadLast()
{
    if (!m_countKnown) {
        // The statement's own end: stepped to without reading the rows.
        Statement &s = statement(m_sql);
        if (m_cursorPos < 0 || m_cursorPos > m_count) {
            s.reset();
            m_cursorPos = 0;
        }
        while (s.step())
            ++m_cursorPos;
        const int total = int(m_cursorPos);
        s.reset();
        m_cursorPos = 0;
        grow(total, true);
    }
    return m_count - 1;
}

Values QuerySource::values(int row)
{
    if (row < 0 || row >= m_count)
        return Values(m_fields.size());
    if (remembers(row))
        return remembered();
    const Values *v = m_rows.object(row);
    if (!v) {
        readPage(row - row % pageSize, pageSize);
        v = m_rows.object(row);
    }
    if (!v)
        return Values(m_fields.size());
    return remember(row, *v);
}

void QuerySource::applyCount(const RowCounter::Result &result)
{
    if (m_countKnown)
        return;
    grow(qMax(m_count, int(result.count)), true);
}

}
