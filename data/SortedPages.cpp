#include "data/SortedPages.h"

#include "data/Statement.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <algorithm>
#include <cstring>
#include <sqlite3.h>
#include <vector>

namespace dravon {

namespace {

// A value as the engine hands it over; text and blobs point into the
// engine's row (or into an Entry's own copy).
struct Value
{
    int type = SQLITE_NULL;
    qint64 i = 0;
    double r = 0;
    const char *p = nullptr;
    int n = 0;
};

int typeClass(int type)
{
    switch (type) {
    case SQLITE_NULL:
        return 0;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return 1;
    case SQLITE_TEXT:
        return 2;
    default:
        return 3;
    }
}

int sign(auto a, auto b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

// As the engine compares an integer with a real: exactly.
int integerWithReal(qint64 i, double r)
{
    const long double x = static_cast<long double>(i);
    return x < r ? -1 : (x > r ? 1 : 0);
}

// The engine's comparison of two stored values under the BINARY collation.
int compareValues(const Value &a, const Value &b)
{
    const int ca = typeClass(a.type);
    const int cb = typeClass(b.type);
    if (ca != cb)
        return sign(ca, cb);
    switch (ca) {
    case 0:
        return 0;
    case 1:
        if (a.type == SQLITE_INTEGER && b.type == SQLITE_INTEGER)
            return sign(a.i, b.i);
        if (a.type == SQLITE_FLOAT && b.type == SQLITE_FLOAT)
            return sign(a.r, b.r);
        return a.type == SQLITE_INTEGER ? integerWithReal(a.i, b.r) : -integerWithReal(b.i, a.r);
    default: {
        const int common = qMin(a.n, b.n);
        const int c = common > 0 ? std::memcmp(a.p, b.p, size_t(common)) : 0;
        return c != 0 ? sign(c, 0) : sign(a.n, b.n);
    }
    }
}

// A row kept in one of the pass's pages, with its own copy of its value.
struct Entry
{
    int type = SQLITE_NULL;
    qint64 i = 0;
    double r = 0;
    QByteArray bytes;
    qint64 key = 0;

    Value value() const { return {type, i, r, bytes.constData(), int(bytes.size())}; }
};

Value columnValue(sqlite3_stmt *stmt, int column)
{
    Value v;
    v.type = sqlite3_column_type(stmt, column);
    switch (v.type) {
    case SQLITE_INTEGER:
        v.i = sqlite3_column_int64(stmt, column);
        break;
    case SQLITE_FLOAT:
        v.r = sqlite3_column_double(stmt, column);
        break;
    case SQLITE_TEXT:
        v.p = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
        v.n = sqlite3_column_bytes(stmt, column);
        break;
    case SQLITE_BLOB:
        v.p = static_cast<const char *>(sqlite3_column_blob(stmt, column));
        v.n = sqlite3_column_bytes(stmt, column);
        break;
    default:
        break;
    }
    return v;
}

Entry entryOf(const Value &v, qint64 key)
{
    Entry e;
    e.type = v.type;
    e.i = v.i;
    e.r = v.r;
    if (v.type == SQLITE_TEXT || v.type == SQLITE_BLOB)
        e.bytes = QByteArray(v.p ? v.p : "", v.n);
    e.key = key;
    return e;
}

// The order of the sort: by value (reversed when descending), then by key.
struct Order
{
    bool descending = false;
    int operator()(const Value &a, qint64 ka, const Value &b, qint64 kb) const
    {
        const int c = compareValues(a, b);
        if (c != 0)
            return descending ? -c : c;
        return sign(ka, kb);
    }
};

// The `size` rows that come first (or last) in the order among those offered.
class Page
{
public:
    Page(const Order &order, int size, bool last) : m_order(order), m_size(size), m_last(last) {}

    void offer(const Value &v, qint64 key)
    {
        if (m_size <= 0)
            return;
        if (int(m_heap.size()) < m_size) {
            m_heap.push_back(entryOf(v, key));
            std::push_heap(m_heap.begin(), m_heap.end(), heapOrder());
            return;
        }
        // The heap's top is the row that would leave first.
        const Entry &top = m_heap.front();
        const int c = m_order(v, key, top.value(), top.key);
        if (m_last ? c <= 0 : c >= 0)
            return;
        std::pop_heap(m_heap.begin(), m_heap.end(), heapOrder());
        m_heap.back() = entryOf(v, key);
        std::push_heap(m_heap.begin(), m_heap.end(), heapOrder());
    }

    // The kept rows' keys in the order.
    QVector<qint64> keys() const
    {
        std::vector<Entry> sorted = m_heap;
        std::sort(sorted.begin(), sorted.end(), [this](const Entry &a, const Entry &b) {
            return m_order(a.value(), a.key, b.value(), b.key) < 0;
        });
        QVector<qint64> keys;
        keys.reserve(qsizetype(sorted.size()));
        for (const Entry &e : sorted)
            keys.append(e.key);
        return keys;
    }

private:
    // First rows: the largest on top; last rows: the smallest on top.
    struct HeapOrder
    {
        Order order;
        bool last;
        bool operator()(const Entry &a, const Entry &b) const
        {
            const int c = order(a.value(), a.key, b.value(), b.key);
            return last ? c > 0 : c < 0;
        }
    };
    HeapOrder heapOrder() const { return {m_order, m_last}; }

    Order m_order;
    int m_size;
    bool m_last;
    std::vector<Entry> m_heap;
};

}

std::optional<SortedPages::Result> SortedPages::read(sqlite3 *db, const QString &sql, const QVector<qint64> &binds,
                                                     bool descending, qint64 keep, const QString &keepSql, int page,
                                                     qint64 total, const Progress &progress)
{
    if (progress && !progress(0, total))
        return std::nullopt;
    const Order order{descending};
    // The chosen row's value first: every row is compared with it.
    std::optional<Entry> kept;
    if (keep >= 0) {
        Statement s;
        s.prepare(db, keepSql);
        s.bind(1, keep);
        if (s.step())
            kept = entryOf(columnValue(s.handle(), 0), keep);
    }
    const int around = page / 2;
    Page first(order, page, false);
    Page last(order, page, true);
    Page before(order, around, true);  // the last rows before the chosen one
    Page after(order, around, false);  // the first rows after it
    const Value keptValue = kept ? kept->value() : Value{};
    bool keptFound = false;
    qint64 count = 0;
    qint64 rank = 0;

    Statement s;
    s.prepare(db, sql);
    for (int i = 0; i < binds.size(); ++i)
        s.bind(i + 1, binds[i]);
    sqlite3_stmt *stmt = s.handle();
    // Progress is told a few times a second: each call may paint its dialog.
    constexpr qint64 lookEvery = 4096;
    constexpr qint64 tellEveryMs = 100;
    QElapsedTimer sinceTold;
    sinceTold.start();
    while (s.step()) {
        const qint64 key = sqlite3_column_int64(stmt, 0);
        const Value v = columnValue(stmt, 1);
        ++count;
        first.offer(v, key);
        last.offer(v, key);
        if (kept) {
            const int c = order(v, key, keptValue, kept->key);
            if (c < 0) {
                ++rank;
                before.offer(v, key);
            } else if (c > 0) {
                after.offer(v, key);
            } else {
                keptFound = true;
            }
        }
        if (progress && count % lookEvery == 0 && sinceTold.elapsed() >= tellEveryMs) {
            if (!progress(count, total))
                return std::nullopt;
            sinceTold.restart();
        }
    }
    s.finalize();

    Result result;
    result.count = count;
    auto add = [&](int at, const QVector<qint64> &keys) {
        if (!keys.isEmpty())
            result.stretches.append({at, keys});
    };
    const QVector<qint64> top = first.keys();
    add(0, top);
    const QVector<qint64> bottom = last.keys();
    add(int(count - bottom.size()), bottom);
    if (keptFound) {
        const QVector<qint64> below = before.keys();
        result.keptPosition = int(rank);
        add(int(rank - below.size()), below + QVector<qint64>{keep} + after.keys());
    }
    return result;
}

}
