#include "data/server/ServerSortBlocks.h"

#include "data/server/ServerKeyOrder.h"

#include <algorithm>
#include <cmath>

namespace dravon {

namespace {

// Table pages the sample reads: a few thousand rows of a large table.
constexpr int samplePages = 128;
int samplePagesForTesting = 0;

// A row of the sample: its value as the server writes it (none for NULL) and its key.
struct Bound
{
    std::optional<QString> value;
    qint64 key = 0;
};

// Conditions on a row's place in the sort's order, their values bound as
// parameters after those of the set.
class Places
{
public:
    Places(const ServerSort &sort, QVector<QVariant> &params) : m_sort(sort), m_params(params) {}

    // The row comes before the bound row in the order (or is that row, with orAt).
    QString before(const Bound &b, bool orAt)
    {
        const QString &c = m_sort.column;
        const QString key = QStringLiteral("\"Id\" %1 %2").arg(orAt ? QStringLiteral("<=") : QStringLiteral("<"), bind(b.key));
        if (!b.value)
            return m_sort.descending ? QStringLiteral("(%1 IS NOT NULL OR %2)").arg(c, key)
                                     : QStringLiteral("(%1 IS NULL AND %2)").arg(c, key);
        const QString v = bind(*b.value);
        return m_sort.descending ? QStringLiteral("coalesce(%1 > %2 OR (%1 = %2 AND %3), false)").arg(c, v, key)
                                 : QStringLiteral("(%1 IS NULL OR %1 < %2 OR (%1 = %2 AND %3))").arg(c, v, key);
    }
    QString atOrAfter(const Bound &b) { return QStringLiteral("NOT ") + before(b, false); }

private:
    QString bind(const QVariant &value)
    {
        m_params << value;
        return QStringLiteral("$%1").arg(m_params.size());
    }

    const ServerSort &m_sort;
    QVector<QVariant> &m_params;
};

QVector<qint64> keysOfArray(const pg::Result &r, int column)
{
    QVector<qint64> keys;
    if (r.isNull(0, column))
        return keys;
    const QString text = r.text(0, column);
    const QStringView inner = QStringView(text).mid(1, text.size() - 2);
    if (inner.isEmpty())
        return keys;
    for (const QStringView part : inner.split(QLatin1Char(',')))
        keys << part.toLongLong();
    return keys;
}

}

void setSortSamplePagesForTesting(int pages)
{
    samplePagesForTesting = pages;
}

SortBlocks readSortBlocks(pg::Session &session, const ServerSort &sort, const QString &keepBefore, qint64 keep, int page)
{
    const bool withKeep = !keepBefore.isEmpty();
    QVector<QVariant> setParams{sort.maxKey};
    if (withKeep)
        setParams << keep;
    const QString where = QStringLiteral("WHERE (%1)").arg(sort.rows);

    // The sample: whole for a small table, else some of its pages, each
    // sampled row standing for about as many rows as one in ratio.
    const int wanted = samplePagesForTesting > 0 ? samplePagesForTesting : samplePages;
    const qint64 pages =
        session.exec(QStringLiteral("SELECT pg_relation_size(to_regclass($1)) / current_setting('block_size')::bigint"),
                     {sort.table})
            .value(0, 0)
            .toLongLong();
    const bool whole = pages <= wanted;
    const double percent = whole ? 100.0 : 100.0 * wanted / double(pages);
    const double ratio = 100.0 / percent;
    const pg::Result sampled = session.exec(
        QStringLiteral("SELECT %1, \"Id\", %2 FROM %3 %4 %5 ORDER BY %6")
            .arg(sort.column, withKeep ? keepBefore : QStringLiteral("false"), sort.table,
                 whole ? QString() : QStringLiteral("TABLESAMPLE SYSTEM (%1)").arg(percent, 0, 'f', 6), where,
                 sort.orderBy(false)),
        setParams);
    QVector<Bound> sample;
    sample.reserve(sampled.rows());
    int keptAt = 0;  // sampled rows before the chosen one
    for (int i = 0; i < sampled.rows(); ++i) {
        Bound b;
        if (!sampled.isNull(i, 0))
            b.value = sampled.text(i, 0);
        b.key = sampled.value(i, 1).toLongLong();
        sample << b;
        if (sampled.value(i, 2).toLongLong() != 0)
            keptAt = i + 1;
    }
    const int m = int(sample.size());
    // Sampled rows a block takes to hold n rows: exact for a whole sample,
    // else twice the estimate, and never fewer than a few pages' worth.
    auto span = [&](int n) { return whole ? n : std::max(3, int(std::ceil(2.0 * n / ratio))); };

    QVector<QVariant> params = setParams;
    Places places(sort, params);
    const int half = page / 2;
    // The first rows: up to a sampled row; the last: from one; around the chosen row: between two.
    const int toFirst = span(page) - 1, fromLast = m - span(page);
    // A sample too small to bound a block leaves it to the caller: the set may be large.
    const QString unbounded = whole ? QStringLiteral("true") : QStringLiteral("false");
    const QString first = toFirst >= m ? unbounded : places.before(sample[toFirst], true);
    const QString last = fromLast < 0 ? unbounded : places.atOrAfter(sample[fromLast]);
    const int fromAround = keptAt - span(half), toAround = keptAt + span(half);
    QString around = QStringLiteral("false");
    if (withKeep && (whole || fromAround >= 0 || toAround < m))
        around = QStringLiteral("(%1) AND (%2)")
                     .arg(fromAround < 0 ? QStringLiteral("true") : places.atOrAfter(sample[fromAround]),
                          toAround >= m ? QStringLiteral("true") : places.before(sample[toAround], true));

    const QString order = sort.orderBy(false);
    const pg::Result r = session.exec(
        QStringLiteral("SELECT count(*), %1, array_agg(\"Id\" ORDER BY %2) FILTER (WHERE %3), "
                       "array_agg(\"Id\" ORDER BY %2) FILTER (WHERE %4), array_agg(\"Id\" ORDER BY %2) FILTER (WHERE %5) "
                       "FROM %6 %7")
            .arg(withKeep ? QStringLiteral("count(*) FILTER (WHERE %1)").arg(keepBefore) : QStringLiteral("-1"), order,
                 first, last, around, sort.table, where),
        params);
    SortBlocks blocks;
    blocks.count = r.value(0, 0).toLongLong();
    blocks.rank = r.value(0, 1).toLongLong();
    // A block holds what it must when it has enough rows or reaches the set's end.
    const QVector<qint64> firstKeys = keysOfArray(r, 2), lastKeys = keysOfArray(r, 3);
    if (firstKeys.size() >= page || firstKeys.size() == blocks.count)
        blocks.first = firstKeys.mid(0, page);
    if (lastKeys.size() >= page || lastKeys.size() == blocks.count)
        blocks.last = lastKeys.mid(std::max<qsizetype>(0, lastKeys.size() - page));
    if (!withKeep)
        return blocks;
    const QVector<qint64> aroundKeys = keysOfArray(r, 4);
    const qsizetype at = aroundKeys.indexOf(keep);
    if (at < 0)
        return blocks;
    // Rows before the chosen one in the block; all of them when the block starts the set.
    if (at >= half || at == blocks.rank)
        blocks.below = aroundKeys.mid(std::max<qsizetype>(0, at - half), std::min<qsizetype>(at, half));
    const qsizetype after = aroundKeys.size() - at - 1;
    if (after >= half || after == blocks.count - blocks.rank - 1)
        blocks.above = aroundKeys.mid(at + 1, half);
    return blocks;
}

}
