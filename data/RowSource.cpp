#include "data/RowSource.h"

#include "data/Connection.h"
#include "data/Error.h"

#include <QMetaObject>
#include <QTimer>

namespace dravon {

namespace {
constexpr int stride = 128;  // rows between the counting worker's checkpoints
int sortHereRows = RowSource::defaultSortHereLimit;
}

void RowSource::setSortHereLimitForTesting(int rows)
{
    sortHereRows = rows;
}

int RowSource::sortHereLimit()
{
    return sortHereRows;
}

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

int RowSource::counterStride()
{
    return stride;
}

void RowSource::startCounter(const QString &keySql, qint64 maxKey, const QString &countSql)
{
    startCounter(std::make_unique<RowCounter>(m_connection.databasePath(), keySql, maxKey, countSql, stride));
}

void RowSource::startCounter(std::unique_ptr<RowCounter> counter)
{
    m_counter = std::move(counter);
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

std::optional<QVector<qint64>> RowSource::readOrder(sqlite3 *db, const QString &path, const QString &sql,
                                                   const QVector<QVariant> &binds, const Progress &progress)
{
    const qint64 total = countKnown() ? count() : 0;
    if (db && countKnown() && count() <= sortHereRows) {
        Statement s;
        s.prepare(db, sql);
        for (int i = 0; i < binds.size(); ++i)
            s.bind(i + 1, binds[i]);
        QVector<qint64> keys;
        keys.reserve(count());
        while (s.step())
            keys.append(s.int64(0));
        return keys;
    }
    KeyOrder order(path, sql, binds);
    if (order.read(total, progress))
        return order.keys();
    if (order.wasCancelled())
        return std::nullopt;
    throw Error(QStringLiteral("无法排序: %1").arg(order.error()));
}

// ---- writes: a read-only source refuses them

void RowSource::refuseWrite() const
{
    throw Error(QStringLiteral("查询结果是只读的,不能修改。"));
}

void RowSource::insertRow(int, const Values &)
{
    refuseWrite();
}

void RowSource::updateRow(int, const Values &, const Values &, const QVector<bool> &)
{
    refuseWrite();
}

void RowSource::deleteRows(const QVector<int> &, const QVector<Values> &)
{
    refuseWrite();
}

Values RowSource::reread(int row, const Values &)
{
    return values(row);
}

void RowSource::forget(int)
{
    refuseWrite();
}

void RowSource::forgetRows(int first, int last)
{
    for (int row = last; row >= first; --row)
        forget(row);
}

// ---- finding rows by the text they show

std::optional<QVariant> RowSource::lookup(int keyField, const QString &key, int resultField)
{
    for (int row = 0; ensure(row); ++row) {
        const Values v = values(row);
        if (displayText(v.value(keyField), m_fields[keyField].type) == key)
            return v.value(resultField);
    }
    return std::nullopt;
}

std::optional<int> RowSource::find(int field, const QString &text, bool prefix)
{
    for (int row = 0; ensure(row); ++row) {
        const QString shown = displayText(values(row).value(field), m_fields[field].type);
        if (prefix ? shown.startsWith(text) : shown == text)
            return row;
    }
    return std::nullopt;
}

}
