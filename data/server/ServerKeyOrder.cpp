#include "data/server/ServerKeyOrder.h"

#include "data/server/ServerSortBlocks.h"
#include "data/server/WorkerSession.h"

#include <QThread>
#include <algorithm>

namespace dravon {

namespace {

// Keys fetched at once from the whole order's cursor.
constexpr int fetchRows = 50000;

QVector<qint64> keysOf(const pg::Result &result, bool backwards)
{
    QVector<qint64> keys;
    keys.reserve(result.rows());
    for (int r = 0; r < result.rows(); ++r)
        keys.append(result.value(r, 0).toLongLong());
    if (backwards)
        std::reverse(keys.begin(), keys.end());
    return keys;
}

}

QString ServerSort::orderBy(bool backwards) const
{
    // Empty values first, as the file sorts them; equal values by key.
    const bool down = descending != backwards;
    return QStringLiteral("%1 %2, \"Id\"%3")
        .arg(column, down ? QStringLiteral("DESC NULLS LAST") : QStringLiteral("ASC NULLS FIRST"),
             backwards ? QStringLiteral(" DESC") : QString());
}

QString ServerSort::orderSql() const
{
    return QStringLiteral("SELECT \"Id\" FROM %1 WHERE (%2) ORDER BY %3").arg(table, rows, orderBy(false));
}

ServerKeyOrder::ServerKeyOrder(const pg::ServerAddress &address, const ServerSort &sort, qint64 keep, int page)
    : m_address(address), m_sort(sort), m_keep(keep), m_page(page)
{
}

ServerKeyOrder::~ServerKeyOrder()
{
    cancel();
    wait();
}

void ServerKeyOrder::cancel()
{
    KeyOrder::cancel();
    m_canceller.cancel();
}

std::optional<SortedPages::Result> ServerKeyOrder::awaitPages(qint64 total, const Progress &progress)
{
    if (progress && !progress(0, total))
        return std::nullopt;
    begin();
    while (!m_pagesRead && !wait(30)) {
        if (progress && !progress(0, total)) {
            cancel();
            wait();
            return std::nullopt;
        }
    }
    if (m_pagesRead)
        return m_pages;
    if (wasCancelled())
        return std::nullopt;
    throw Error(QStringLiteral("无法排序: %1").arg(error()));
}

SortedPages::Result ServerKeyOrder::readPages(pg::Session &session)
{
    const QString from = QStringLiteral("FROM %1 WHERE (%2)").arg(m_sort.table, m_sort.rows);
    auto page = [&](const QString &condition, bool backwards, int rows, const QVector<QVariant> &params) {
        return keysOf(session.exec(QStringLiteral("SELECT \"Id\" %1%2 ORDER BY %3 LIMIT %4")
                                       .arg(from, condition, m_sort.orderBy(backwards))
                                       .arg(rows),
                                   params),
                      backwards);
    };
    SortedPages::Result result;
    auto add = [&](int at, const QVector<qint64> &keys) {
        if (!keys.isEmpty())
            result.stretches.append({at, keys});
    };
    // Whether the chosen row is in the set, and whether its value is empty.
    std::optional<bool> keptEmpty;
    if (m_keep >= 0) {
        const pg::Result kept = session.exec(
            QStringLiteral("SELECT %1 IS NULL %2 AND \"Id\" = $2").arg(m_sort.column, from), {m_sort.maxKey, m_keep});
        if (kept.rows() > 0)
            keptEmpty = kept.value(0, 0).toLongLong() != 0;
    }
    // The rows before the chosen one in the order, never unknown (NULL).
    QString before;
    if (keptEmpty) {
        const QString value = QStringLiteral("(SELECT k.%1 FROM %2 k WHERE k.\"Id\" = $2)").arg(m_sort.column, m_sort.table);
        const QString &c = m_sort.column;
        if (*keptEmpty)
            before = m_sort.descending ? QStringLiteral("%1 IS NOT NULL OR \"Id\" < $2").arg(c)
                                       : QStringLiteral("%1 IS NULL AND \"Id\" < $2").arg(c);
        else
            before = m_sort.descending
                ? QStringLiteral("%1 > %2 OR (%1 = %2 AND \"Id\" < $2)").arg(c, value)
                : QStringLiteral("%1 IS NULL OR %1 < %2 OR (%1 = %2 AND \"Id\" < $2)").arg(c, value);
        before = QStringLiteral("coalesce(%1, false)").arg(before);
    }
    // One pass over the set for the count, the chosen row's place and the
    // pages; a page it could not be sure of is read by itself.
    const SortBlocks blocks = readSortBlocks(session, m_sort, before, m_keep, m_page);
    result.count = blocks.count;
    add(0, blocks.first ? *blocks.first : page({}, false, m_page, {m_sort.maxKey}));
    const QVector<qint64> last = blocks.last ? *blocks.last : page({}, true, m_page, {m_sort.maxKey});
    add(int(result.count - last.size()), last);
    if (!keptEmpty)
        return result;
    const QVector<QVariant> both{m_sort.maxKey, m_keep};
    const qint64 rank = blocks.rank;
    const int around = m_page / 2;
    const QVector<qint64> below =
        blocks.below ? *blocks.below : page(QStringLiteral(" AND %1").arg(before), true, around, both);
    const QVector<qint64> above =
        blocks.above ? *blocks.above : page(QStringLiteral(" AND NOT %1 AND \"Id\" <> $2").arg(before), false, around, both);
    add(int(rank - below.size()), below + QVector<qint64>{m_keep} + above);
    result.keptPosition = int(rank);
    return result;
}

void ServerKeyOrder::run()
{
    QString failure;
    try {
        pg::WorkerSession worker(m_address, m_canceller);
        pg::Session &session = worker.session();
        if (!isCancelled()) {
            // The pages and the whole order from one snapshot.
            worker.beginSnapshot();
            if (m_page > 0) {
                m_pages = readPages(session);
                m_pagesRead = true;
            }
            holdWhileTesting();
            if (!isCancelled()) {
                session.exec(QStringLiteral("DECLARE order_keys NO SCROLL CURSOR FOR ") + m_sort.orderSql(), {m_sort.maxKey});
                for (;;) {
                    const pg::Result keys = session.exec(QStringLiteral("FETCH %1 FROM order_keys").arg(fetchRows));
                    for (int r = 0; r < keys.rows(); ++r)
                        addKey(keys.value(r, 0).toLongLong());
                    if (keys.rows() < fetchRows || isCancelled())
                        break;
                }
            }
            session.exec(QStringLiteral("COMMIT"));
        }
    } catch (const Error &e) {
        failure = e.text();
    }
    setError(isCancelled() ? QStringLiteral("cancelled") : failure);
}

}
