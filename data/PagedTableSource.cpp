#include "data/PagedTableSource.h"

#include "data/Error.h"

#include <QPointer>
#include <QTimer>

namespace dravon {

namespace {

constexpr int walkPageSize = 1024;  // rows read at once by a walk with next()
// A table's rows are read again cheaply by key: few are kept, so that a walk
// reuses the memory of the rows it has passed.
constexpr int tableCacheRows = 2048;

}

PagedTableSource::PagedTableSource(Connection &connection, const QString &table, const QString &condition,
                                   qint64 maxKey, QObject *parent)
    : RowSource(connection, parent), m_table(table), m_condition(condition), m_map(*this, maxKey)
{
    m_values.setMaxCost(tableCacheRows);
    m_map.setEvents({[this](int first, int last) { emit aboutToInsert(first, last); }, [this] { emit inserted(); },
                     [this] { emit aboutToReset(); }, [this] { emit resetDone(); }, [this] { forgetMemo(); }});
}

QString PagedTableSource::localKeyList() const
{
    QStringList keys;
    for (qint64 k : m_map.localKeys())
        keys << QString::number(k);
    return keys.join(QLatin1Char(','));
}

// ---- paging

void PagedTableSource::readFront(int wanted)
{
    forgetMemo();
    if (!m_map.gapOpen())
        return;
    const QVector<qint64> stepped = readRows(m_map.frontLast(), m_map.backFirst(), wanted, false);
    m_map.addFront(stepped, stepped.size() < wanted);
    if (!m_map.gapOpen() && m_counter)
        m_counter->cancel();
}

bool PagedTableSource::fetchMore()
{
    if (!m_map.gapOpen())
        return false;
    const int before = count();
    readFront(pageSize);
    return count() > before;
}

bool PagedTableSource::ensure(int row)
{
    while (row >= count() && m_map.state() == PositionMap::State::Front) {
        const int before = count();
        readFront(pageSize);
        if (count() == before)
            break;
    }
    return row < count();
}

void PagedTableSource::learnAfter(int row)
{
    // Past the last row read from the front come the rows of the gap, not
    // the back. A walk row by row reads on in longer pages: each read is a
    // statement of its own.
    if (m_map.gapOpen() && row >= m_map.frontSize() - 1)
        readFront(walkPageSize);
}

void PagedTableSource::learnBefore(int row)
{
    forgetMemo();
    if (m_map.state() != PositionMap::State::FrontAndBack || row != m_map.frontSize())
        return;
    const QVector<qint64> stepped = readRows(m_map.frontLast(), m_map.backFirst(), pageSize, true);
    m_map.addBack(stepped, stepped.size() < pageSize);
    if (!m_map.gapOpen() && m_counter)
        m_counter->cancel();
}

int PagedTableSource::loadLast()
{
    if (m_map.state() == PositionMap::State::Front) {
        // The last rows, newest key first, in one indexed read; their
        // positions follow the front until the count says how many lie between.
        m_map.openBack();
        learnBefore(m_map.frontSize());
    }
    return count() - 1;
}

void PagedTableSource::fetchAround(int row)
{
    // Values of the neighbouring rows whose keys are known, in one read.
    QVector<qint64> missing;
    const int total = count();
    const int from = qMax(0, row - aroundBatch / 4);
    for (int r = from; r < total && r < from + aroundBatch; ++r) {
        const qint64 key = m_map.keyAt(r);
        if (key >= 0 && !m_values.contains(key))
            missing.append(key);
    }
    if (missing.isEmpty())
        return;
    const QVector<qint64> found = readRowsWithKeys(missing);
    // A row deleted elsewhere shows empty rather than failing.
    if (found.size() < missing.size())
        for (qint64 key : std::as_const(missing))
            if (!found.contains(key))
                m_values.insert(key, new Values(m_fields.size()));
}

Values PagedTableSource::values(int row)
{
    if (remembers(row))
        return remembered();
    if (!m_map.isKnown(row))
        completeOrder();
    const qint64 key = m_map.keyAt(row);
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

qint64 PagedTableSource::rekeyRow(int row, qint64 now)
{
    const qint64 key = m_map.keyAt(row);
    if (now != key) {
        settle(row);
        if (key >= 0)
            m_values.remove(key);
        m_map.replaceKey(row, now);
    }
    return now;
}

bool PagedTableSource::readOne(qint64 key)
{
    forgetMemo();
    std::optional<Values> read = readRow(key);
    const bool found = read.has_value();
    // A row read again replaces what was kept of it; a row gone shows empty.
    if (found)
        keep(key, new Values(std::move(*read)));
    else
        m_values.insert(key, new Values(m_fields.size()));
    return found;
}

// ---- counting and placing

void PagedTableSource::applyFirstCount(qint64 count)
{
    m_map.applyFirstCount(count);
}

void PagedTableSource::applyCount(const RowCounter::Result &result)
{
    m_map.applyCheckpoints(result.checkpoints, result.count);
}

void PagedTableSource::settle(int row)
{
    if (!m_map.isProvisional(row))
        return;
    // By key: the worker's checkpoints are awaited; without them (a small
    // table, or the worker failed) the keys are read here in one pass.
    waitForCount();
    if (m_map.isProvisional(row))
        m_map.placeByKeys();
}

std::optional<int> PagedTableSource::positionOfKey(qint64 key)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const PositionMap::Lookup found = m_map.positionOf(key);
        if (!found.needsCount)
            return found.row;
        if (m_map.isPartial()) {
            // Among the rows of a sort whose keys are still coming.
            completeOrder();
            continue;
        }
        // Between the rows read from the front and the back, or standing by
        // position only: the count (and the keys) first.
        waitForCount();
        if (m_map.gapOpen())
            return std::nullopt;
        m_map.placeByKeys();
    }
    return std::nullopt;
}

std::optional<int> PagedTableSource::firstPositionOf(const QVector<qint64> &keys)
{
    std::optional<int> best;
    for (qint64 key : keys) {
        const std::optional<int> at = positionOfKey(key);
        if (at && (!best || *at < *best))
            best = at;
    }
    return best;
}

qint64 PagedTableSource::keyOfRow(int row)
{
    if (row < 0 || row >= count())
        return -1;
    if (!m_map.isKnown(row))
        completeOrder();
    return m_map.keyAt(row);
}

std::optional<RowSource::KeyedRows> PagedTableSource::keyedRows() const
{
    // Sorted by a column, the positions no longer follow the keys.
    if (sortOrder().field >= 0)
        return std::nullopt;
    return KeyedRows{m_table, m_condition, m_map.maxKey(), m_map.localKeys().values()};
}

// ---- rows deleted here

void PagedTableSource::forget(int row)
{
    completeOrder();
    forgetMemo();
    const qint64 key = m_map.removeAt(row);
    if (key >= 0)
        m_values.remove(key);
}

void PagedTableSource::forgetRows(int first, int last)
{
    completeOrder();
    forgetMemo();
    const PositionMap::Removed removed = m_map.removeRange(first, last);
    // Rows whose keys were not read may still be kept: none is kept then.
    if (removed.unlisted)
        m_values.clear();
    else
        for (qint64 key : removed.keys)
            m_values.remove(key);
}

void PagedTableSource::forgetValues()
{
    forgetMemo();
    m_values.clear();
}

// ---- sorting

void PagedTableSource::showOrder(const QVector<qint64> &keys, int field, bool descending)
{
    // Every key is known now: the count needs no worker any more.
    if (m_counter)
        m_counter->cancel();
    m_sortWorker.reset();
    m_map.setOrder(keys);
    setSortOrder(field, descending);
}

int PagedTableSource::showPagesFirst(const SortedPages::Result &pages, int field, bool descending,
                                     const std::shared_ptr<KeyOrder> &worker)
{
    setSortOrder(field, descending);
    if (pages.count <= pageSize) {
        // The first page holds every row: nothing more to read.
        showOrder(pages.stretches.isEmpty() ? QVector<qint64>() : pages.stretches.first().keys, field, descending);
        return pages.keptPosition;
    }
    if (m_counter)
        m_counter->cancel();
    QVector<PositionMap::Stretch> known;
    for (const SortedPages::Stretch &s : pages.stretches)
        known.append({s.first, s.keys});
    m_map.setPartialOrder(int(pages.count), known);
    // The whole order is read once the first pages have been painted (a
    // timer fires after the events already posted); a worker that began
    // with the pages may have finished already.
    m_sortWorker = worker;
    connect(m_sortWorker.get(), &QThread::finished, this, &PagedTableSource::takeOrder, Qt::QueuedConnection);
    QTimer::singleShot(1, this, [this] {
        if (m_sortWorker && m_sortWorker->isFinished())
            takeOrder();
        else if (m_sortWorker)
            m_sortWorker->begin();
    });
    return pages.keptPosition;
}

void PagedTableSource::takeOrder()
{
    if (!m_sortWorker || !m_sortWorker->succeeded() || !m_map.isPartial())
        return;
    const QVector<qint64> keys = m_sortWorker->keys();
    m_sortWorker.reset();
    forgetMemo();
    if (m_map.completeOrder(keys))
        emit orderCompleted();
}

bool PagedTableSource::awaitOrder(const Progress &progress)
{
    if (!m_map.isPartial())
        return true;
    if (!m_sortWorker) {
        // Cancelled before: read again.
        m_sortWorker = orderWorker();
        connect(m_sortWorker.get(), &QThread::finished, this, &PagedTableSource::takeOrder, Qt::QueuedConnection);
    }
    // The wait runs events (its progress): the set may be closed meanwhile.
    const std::shared_ptr<KeyOrder> worker = m_sortWorker;
    const QPointer<PagedTableSource> alive(this);
    const bool done = worker->await(count(), progress);
    if (!alive)
        return false;
    // The worker's end may have been taken in by the events of the wait.
    if (worker != m_sortWorker)
        return !m_map.isPartial();
    if (!done) {
        if (worker->wasCancelled()) {
            // The rows known stay as they are; the others are read when asked again.
            m_sortWorker.reset();
            return false;
        }
        const QString error = worker->error();
        m_sortWorker.reset();
        throw Error(QStringLiteral("无法排序: %1").arg(error));
    }
    takeOrder();
    return true;
}

void PagedTableSource::completeOrder()
{
    while (m_map.isPartial())
        awaitOrder({});
}

}
