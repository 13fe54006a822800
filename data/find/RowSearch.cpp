#include "data/find/RowSearch.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/ReadStatement.h"
#include "data/SqlText.h"
#include "data/find/SqlMatch.h"

#include <QHash>
#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <optional>

namespace findtext {

namespace {

// An identifier column: one of the system's numbers and codes.
bool isIdentifier(const QString &name)
{
    return name.endsWith(QLatin1String("ID"));
}

// A prefix as a key range: every text that begins with a digit string lies
// from it up to it with its last digit raised by one (":" follows "9").
QString prefixEnd(const QString &prefix)
{
    QString end = prefix;
    end.back() = QChar(end.back().unicode() + 1);
    return end;
}

// One read statement on the connection's engine, gone with the step that
// runs it (so no read lock is held between events).
using Sql = dravon::ReadStatement;

// Registers the matching function on the file's connection. The server has
// no such function: there the rows of a text search are read and matched here.
bool matchesInEngine(dravon::Connection &connection, const Query &query)
{
    if (!connection.isServer()) {
        registerSqlMatch(static_cast<sqlite3 *>(connection.nativeHandle()));
        return true;
    }
    return query.isNumber();
}

// Whether a value matches as a grid shows it in a column of that type (the
// rule of the engine's matching function).
bool valueMatches(const Query &query, const QVariant &value, dravon::FieldType type)
{
    if (!value.isValid() || value.isNull())
        return false;
    if (type == dravon::FieldType::Text)
        return query.matches(value.toString());
    return query.matches(dravon::RecordSet::displayText(value, type));
}

// The index whose first column is the column, if any.
QString indexOn(dravon::Connection &connection, const QString &table, const QString &column)
{
    // The server's planner picks indexes by itself: it is not told.
    if (connection.isServer())
        return {};
    Sql list(connection, QStringLiteral("SELECT name FROM pragma_index_list(?1)"));
    list.bind(1, table);
    QStringList names;
    while (list.step())
        names << list.text(0);
    for (const QString &name : std::as_const(names)) {
        Sql info(connection, QStringLiteral("SELECT name FROM pragma_index_info(?1) WHERE seqno = 0"));
        info.bind(1, name);
        if (info.step() && info.text(0) == column)
            return name;
    }
    return {};
}

// Parameters of the statements below.
enum Param { QueryText = 1, PrefixLow = 2, PrefixHigh = 3, KeyFrom = 4, KeyTo = 5, KeyMark = 6 };

// Number ranges that cover more index entries than this are walked instead
// of read from the index: their matches lie close together.
constexpr int probeLimit = 20000;

// The search over a table set inside the engine. A number is a key range of
// its columns on either engine; other text is matched by the engine's
// function on the file and, on the server, here on the searched columns read
// with each window of keys.
struct EnginePlan
{
    dravon::Connection &connection;
    dravon::RecordSet::KeyedRows rows;
    QString table;       // quoted
    QString condition;   // the match, over the searched columns ("1 = 1" when matched here)
    QString extra;       // the set's own condition and the local rows left out
    QString prefix;      // a number's range, else empty
    QString query;
    Query matcher;
    bool inEngine = true;
    QString matchColumns;  // matched here: ", " and the searched columns, read after the key
    QVector<dravon::FieldType> matchTypes;
    QStringList probeColumns;  // number: indexed identifier columns with a short range
    QStringList probeIndexes;
    bool probesCover = false;  // every searched column is probed
    qint64 minKey = 0;

    EnginePlan(dravon::Connection &c, dravon::RecordSet *set, const QVector<int> &fields, const Query &q,
               const QString &text)
        : connection(c), rows(*set->keyedRows()), table(dravon::quotedIdentifier(rows.table)), query(text),
          matcher(q), inEngine(matchesInEngine(c, q))
    {
        QStringList terms;
        bool covered = true;
        if (q.isNumber())
            prefix = text;
        for (int f : fields) {
            const dravon::Field &field = set->fields()[f];
            const QString column = dravon::quotedIdentifier(field.name);
            if (q.isNumber()) {
                terms << QStringLiteral("(%1 >= ?2 AND %1 < ?3)").arg(column);
                const QString index = indexOn(connection, rows.table, field.name);
                if (index.isEmpty() || rangeSize(column, index) > probeLimit) {
                    covered = false;
                } else {
                    probeColumns << column;
                    probeIndexes << dravon::quotedIdentifier(index);
                }
            } else if (inEngine) {
                terms << QStringLiteral("%1(%2, ?1, %3)").arg(QLatin1String(sqlMatchFunction), column)
                             .arg(int(field.type));
            } else {
                matchColumns += QStringLiteral(", ") + column;
                matchTypes << field.type;
            }
        }
        condition = !inEngine ? QStringLiteral("1 = 1")
                    : terms.isEmpty() ? QStringLiteral("1 = 0")
                                      : terms.join(QLatin1String(" OR "));
        probesCover = covered && !probeColumns.isEmpty();
        if (!rows.condition.isEmpty())
            extra += QStringLiteral(" AND (%1)").arg(rows.condition);
        if (!rows.localKeys.isEmpty()) {
            QStringList keys;
            for (qint64 k : std::as_const(rows.localKeys))
                keys << QString::number(k);
            extra += QStringLiteral(" AND rowid NOT IN (%1)").arg(keys.join(QLatin1Char(',')));
        }
        Sql first(connection, QStringLiteral("SELECT min(rowid) FROM %1").arg(table));
        minKey = first.step() && !first.isNull(0) ? first.int64(0) : 0;
    }

    int rangeSize(const QString &column, const QString &index) const
    {
        Sql count(connection,
                  QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM %1 INDEXED BY %2 WHERE %3 >= ?2 AND %3 < ?3 "
                                 "LIMIT %4)")
                      .arg(table, dravon::quotedIdentifier(index), column)
                      .arg(probeLimit + 1));
        bindAll(count);
        return count.step() ? int(count.int64(0)) : 0;
    }

    void bindAll(Sql &s) const
    {
        if (inEngine && !matcher.isNumber())
            s.bind(QueryText, query);
        if (!prefix.isEmpty()) {
            s.bind(PrefixLow, prefix);
            s.bind(PrefixHigh, prefixEnd(prefix));
        }
    }

    // Whether the row the statement stands on matches: true when the engine
    // chose it, else its searched columns (read after the key) are matched here.
    bool matches(const Sql &s) const
    {
        if (inEngine)
            return true;
        for (int i = 0; i < matchTypes.size(); ++i)
            if (valueMatches(matcher, s.value(1 + i), matchTypes[i]))
                return true;
        return false;
    }

    // The first (last, when backward) snapshot key in [from, to] that matches.
    std::optional<qint64> firstIn(qint64 from, qint64 to, bool forward) const
    {
        if (from > to)
            return std::nullopt;
        Sql s(connection, QStringLiteral("SELECT rowid%5 FROM %1 WHERE rowid >= ?4 AND rowid <= ?5 AND (%2)%3 "
                                         "ORDER BY rowid %4%6")
                              .arg(table, condition, extra, forward ? QStringLiteral("ASC") : QStringLiteral("DESC"),
                                   matchColumns, inEngine ? QStringLiteral(" LIMIT 1") : QString()));
        bindAll(s);
        s.bind(KeyFrom, from).bind(KeyTo, to);
        while (s.step())
            if (matches(s))
                return s.int64(0);
        return std::nullopt;
    }

    // The same through the indexes of the probed columns.
    std::optional<qint64> probe(qint64 from, qint64 to, bool forward) const
    {
        std::optional<qint64> best;
        if (from > to)
            return best;
        for (int i = 0; i < probeColumns.size(); ++i) {
            Sql s(connection, QStringLiteral("SELECT %1(rowid) FROM %2 INDEXED BY %3 WHERE %4 >= ?2 AND %4 < ?3 "
                                             "AND rowid >= ?4 AND rowid <= ?5%6")
                                  .arg(forward ? QStringLiteral("min") : QStringLiteral("max"), table,
                                       probeIndexes[i], probeColumns[i], extra));
            bindAll(s);
            s.bind(KeyFrom, from).bind(KeyTo, to);
            if (s.step() && !s.isNull(0)) {
                const qint64 k = s.int64(0);
                if (!best || (forward ? k < *best : k > *best))
                    best = k;
            }
        }
        return best;
    }

    // The local rows (stored through the set) that match.
    QList<qint64> matchingLocalKeys() const
    {
        QList<qint64> found;
        if (rows.localKeys.isEmpty())
            return found;
        QStringList keys;
        for (qint64 k : std::as_const(rows.localKeys))
            keys << QString::number(k);
        QString own = rows.condition.isEmpty() ? QString() : QStringLiteral(" AND (%1)").arg(rows.condition);
        Sql s(connection, QStringLiteral("SELECT rowid%5 FROM %1 WHERE rowid IN (%2) AND (%3)%4")
                              .arg(table, keys.join(QLatin1Char(',')), condition, own, matchColumns));
        bindAll(s);
        while (s.step())
            if (matches(s))
                found << s.int64(0);
        return found;
    }

    // Matching rows in [from, to]: how many, and how many with keys below mark.
    QPair<int, int> countIn(qint64 from, qint64 to, qint64 mark) const
    {
        QString sql;
        if (!inEngine) {
            sql = QStringLiteral("SELECT rowid%4 FROM %1 WHERE rowid >= ?4 AND rowid <= ?5 AND (%2)%3")
                      .arg(table, condition, extra, matchColumns);
        } else if (probesCover) {
            QStringList parts;
            for (int i = 0; i < probeColumns.size(); ++i)
                parts << QStringLiteral("SELECT rowid AS k FROM %1 INDEXED BY %2 WHERE %3 >= ?2 AND %3 < ?3 "
                                        "AND rowid >= ?4 AND rowid <= ?5%4")
                             .arg(table, probeIndexes[i], probeColumns[i], extra);
            sql = QStringLiteral("SELECT count(*), total(k < ?6) FROM (%1)").arg(parts.join(QLatin1String(" UNION ")));
        } else {
            sql = QStringLiteral("SELECT count(*), total(rowid < ?6) FROM %1 WHERE rowid >= ?4 AND rowid <= ?5 AND (%2)%3")
                      .arg(table, condition, extra);
        }
        Sql s(connection, sql);
        bindAll(s);
        s.bind(KeyFrom, from).bind(KeyTo, to).bind(KeyMark, mark);
        QPair<int, int> counted{0, 0};
        if (!inEngine) {
            while (s.step()) {
                if (!matches(s))
                    continue;
                ++counted.first;
                counted.second += s.int64(0) < mark ? 1 : 0;
            }
        } else if (s.step()) {
            counted = {int(s.int64(0)), int(s.int64(1))};
        }
        return counted;
    }
};

// Keys per statement: grown or shrunk so that one statement takes a few
// milliseconds whatever the table's rows cost.
class Window
{
public:
    qint64 size() const { return m_size; }
    void took(qint64 nanoseconds)
    {
        if (nanoseconds < 2'000'000)
            m_size = std::min<qint64>(m_size * 2, qint64(1) << 24);
        else if (nanoseconds > 6'000'000)
            m_size = std::max<qint64>(m_size / 2, 256);
    }

private:
    qint64 m_size = 4096;
};

QVector<int> searchedFields(const dravon::RecordSet *set, const QVector<int> &fields, const Query &query)
{
    QVector<int> used;
    for (int f : fields)
        if (f >= 0 && f < set->fields().size() && searchesColumn(query, set->fields()[f]))
            used << f;
    return used;
}

bool rowMatches(const dravon::RecordSet *set, int row, const QVector<int> &fields, const Query &query)
{
    for (int f : fields)
        if (query.matches(set->text(row, f)))
            return true;
    return false;
}

// Rows of a set that is not a table set: read one by one; the row count may
// still grow while they are read.
bool hasRow(dravon::RecordSet *set, int row)
{
    while (row >= set->recordCount() && set->canFetchMore({}))
        set->fetchMore({});
    return row < set->recordCount();
}

}

QVector<QStringList> matchingRows(dravon::RecordSet *set, const QVector<int> &fields, const QString &query,
                                  int limit)
{
    QVector<QStringList> found;
    const QString text = query.trimmed();
    const Query q(text);
    if (!set || fields.isEmpty() || q.isEmpty() || limit <= 0)
        return found;
    const QVector<int> used = searchedFields(set, fields, q);
    if (used.isEmpty())
        return found;
    if (const std::optional<dravon::RecordSet::KeyedRows> rows = set->keyedRows()) {
        dravon::Connection &connection = set->connection();
        const bool inEngine = matchesInEngine(connection, q);
        QStringList shown;
        for (int f : fields)
            shown << dravon::quotedIdentifier(set->fields()[f].name);
        QStringList terms;
        for (int f : used) {
            const dravon::Field &field = set->fields()[f];
            const QString column = dravon::quotedIdentifier(field.name);
            terms << (q.isNumber() ? QStringLiteral("(%1 >= ?2 AND %1 < ?3)").arg(column)
                                   : QStringLiteral("%1(%2, ?1, %3)")
                                         .arg(QLatin1String(sqlMatchFunction), column)
                                         .arg(int(field.type)));
        }
        QString where = QStringLiteral("rowid <= ?4");
        if (inEngine)
            where += QStringLiteral(" AND (%1)").arg(terms.join(QLatin1String(" OR ")));
        if (!rows->condition.isEmpty())
            where += QStringLiteral(" AND (%1)").arg(rows->condition);
        qint64 top = rows->maxKey;
        for (qint64 k : rows->localKeys)
            top = std::max(top, k);
        // Matched here (text on the server): the rows are read in pages of
        // keys until enough matched.
        constexpr int page = 1024;
        const QString sql = inEngine ? QStringLiteral("SELECT rowid, %1 FROM %2 WHERE %3 ORDER BY rowid LIMIT %4")
                                           .arg(shown.join(QLatin1String(", ")),
                                                dravon::quotedIdentifier(rows->table), where)
                                           .arg(limit)
                                     : QStringLiteral("SELECT rowid, %1 FROM %2 WHERE rowid > ?5 AND %3 ORDER BY rowid "
                                                      "LIMIT %4")
                                           .arg(shown.join(QLatin1String(", ")),
                                                dravon::quotedIdentifier(rows->table), where)
                                           .arg(page);
        for (qint64 after = std::numeric_limits<qint64>::min(); found.size() < limit;) {
            Sql s(connection, sql);
            if (inEngine)
                s.bind(QueryText, text);
            if (q.isNumber())
                s.bind(PrefixLow, text).bind(PrefixHigh, prefixEnd(text));
            s.bind(KeyFrom, top).bind(KeyTo, after);
            int read = 0;
            while (s.step() && found.size() < limit) {
                ++read;
                after = s.int64(0);
                bool match = inEngine;
                for (int i = 0; i < fields.size() && !match; ++i)
                    match = used.contains(fields[i])
                            && valueMatches(q, s.value(1 + i), set->fields()[fields[i]].type);
                if (!match)
                    continue;
                QStringList values;
                for (int i = 0; i < fields.size(); ++i) {
                    const dravon::FieldType type = set->fields()[fields[i]].type;
                    QVariant v;
                    if (!s.isNull(1 + i))
                        v = type == dravon::FieldType::Text ? QVariant(s.text(1 + i)) : s.value(1 + i);
                    values << dravon::RecordSet::displayText(v, type);
                }
                found << values;
            }
            if (inEngine || read < page)
                break;
        }
        return found;
    }
    for (int row = 0; hasRow(set, row) && found.size() < limit; ++row) {
        if (!rowMatches(set, row, used, q))
            continue;
        QStringList values;
        for (int f : fields)
            values << set->text(row, f);
        found << values;
    }
    return found;
}

bool searchesColumn(const Query &query, const dravon::Field &field)
{
    if (query.isEmpty())
        return false;
    if (query.isNumber())
        return isIdentifier(field.name);
    if (query.hasLetters())
        return field.type == dravon::FieldType::Text;
    return true;
}

class RowSearch::Walk
{
public:
    virtual ~Walk() = default;
    // Runs steps until found, finished or the budget is spent.
    virtual Status run(const QElapsedTimer &clock, qint64 budgetNs, int *found) = 0;
};

class RowSearch::EngineWalk : public RowSearch::Walk
{
public:
    EngineWalk(dravon::Connection &connection, dravon::RecordSet *set, const QVector<int> &fields,
               const Query &query, const QString &text, int from, bool forward)
        : m_set(set), m_plan(connection, set, fields, query, text), m_from(from), m_forward(forward),
          m_rows(set->recordCount())
    {
        // The snapshot row nearest to where the search starts.
        qint64 start = -1;
        const QSet<qint64> local(m_plan.rows.localKeys.cbegin(), m_plan.rows.localKeys.cend());
        for (int r = from; r >= 0 && r < m_rows; r += forward ? 1 : -1) {
            const qint64 k = set->keyOfRow(r);
            if (k >= 0 && !local.contains(k)) {
                start = k;
                break;
            }
        }
        const qint64 top = m_plan.rows.maxKey;
        const qint64 bottom = m_plan.minKey;
        if (forward) {
            if (start < 0)
                start = top + 1;
            m_segments = {{start, top}, {bottom, start - 1}};
        } else {
            if (start < 0)
                start = bottom - 1;
            m_segments = {{bottom, start}, {start + 1, top}};
        }
        for (qint64 k : m_plan.matchingLocalKeys()) {
            const int row = set->rowOfKey(k);
            if (row >= 0)
                m_localRows << row;
        }
        if (m_plan.probesCover) {
            // Every searched column has a short range in an index: the
            // indexes answer at once.
            for (const auto &[lo, hi] : std::as_const(m_segments)) {
                if (const std::optional<qint64> k = m_plan.probe(lo, hi, forward)) {
                    m_hit = k;
                    break;
                }
            }
            m_segment = int(m_segments.size());
        }
        m_next = m_segments.isEmpty() ? 0 : (forward ? m_segments[0].first : m_segments[0].second);
    }

    Status run(const QElapsedTimer &clock, qint64 budgetNs, int *found) override
    {
        do {
            // The row of a key is known once a large table's positions are:
            // until then the search waits without holding the window.
            if ((m_hit || m_segment >= m_segments.size()) && !m_set->positionsKnown())
                return Status::Running;
            if (m_hit || m_segment >= m_segments.size())
                return finish(found);
            const auto [lo, hi] = m_segments[m_segment];
            qint64 from, to;
            if (m_forward) {
                from = std::max(m_next, lo);
                to = std::min(hi, from + m_window.size() - 1);
            } else {
                to = std::min(m_next, hi);
                from = std::max(lo, to - m_window.size() + 1);
            }
            if (from > to) {
                nextSegment();
                continue;
            }
            const qint64 started = clock.nsecsElapsed();
            m_hit = m_plan.firstIn(from, to, m_forward);
            m_window.took(clock.nsecsElapsed() - started);
            if (m_hit)
                return m_set->positionsKnown() ? finish(found) : Status::Running;
            if (m_forward ? to >= hi : from <= lo)
                nextSegment();
            else
                m_next = m_forward ? to + 1 : from - 1;
        } while (clock.nsecsElapsed() < budgetNs);
        return Status::Running;
    }

private:
    void nextSegment()
    {
        ++m_segment;
        if (m_segment < m_segments.size())
            m_next = m_forward ? m_segments[m_segment].first : m_segments[m_segment].second;
    }

    // The nearest of the walk's find and the matching local rows, counted
    // from where the search started, in its direction.
    Status finish(int *found)
    {
        const int n = std::max(1, m_set->recordCount());
        auto distance = [&](int row) { return m_forward ? (row - m_from + n) % n : (m_from - row + n) % n; };
        int best = -1;
        if (m_hit)
            best = m_set->rowOfKey(*m_hit);
        for (int row : std::as_const(m_localRows))
            if (best < 0 || distance(row) < distance(best))
                best = row;
        *found = best;
        return best >= 0 ? Status::Found : Status::NotFound;
    }

    dravon::RecordSet *m_set;
    EnginePlan m_plan;
    int m_from;
    bool m_forward;
    int m_rows;
    QList<QPair<qint64, qint64>> m_segments;  // key ranges in search order
    int m_segment = 0;
    qint64 m_next = 0;
    Window m_window;
    std::optional<qint64> m_hit;
    QList<int> m_localRows;
};

class RowSearch::RowWalk : public RowSearch::Walk
{
public:
    RowWalk(dravon::RecordSet *set, const QVector<int> &fields, const Query &query, int from, bool forward)
        : m_set(set), m_fields(fields), m_query(query), m_from(from), m_forward(forward), m_row(from)
    {
    }

    // Forward: from the start row to the last, then from the first up to
    // the start row; backward the other way round.
    Status run(const QElapsedTimer &clock, qint64 budgetNs, int *found) override
    {
        for (int i = 0;; ++i) {
            if (i % 32 == 31 && clock.nsecsElapsed() >= budgetNs)
                return Status::Running;
            if (!m_wrapped) {
                if (m_forward ? !hasRow(m_set, m_row) : m_row < 0) {
                    m_wrapped = true;
                    if (!m_forward)
                        while (m_set->canFetchMore({}))
                            m_set->fetchMore({});
                    m_row = m_forward ? 0 : m_set->recordCount() - 1;
                    continue;
                }
            } else if (m_forward ? m_row >= m_from : m_row <= m_from) {
                return Status::NotFound;
            }
            if (rowMatches(m_set, m_row, m_fields, m_query)) {
                *found = m_row;
                return Status::Found;
            }
            m_row += m_forward ? 1 : -1;
        }
    }

private:
    dravon::RecordSet *m_set;
    QVector<int> m_fields;
    Query m_query;
    int m_from;
    bool m_forward;
    int m_row;
    bool m_wrapped = false;
};

RowSearch::RowSearch(dravon::Connection &connection, dravon::RecordSet *set, const QVector<int> &fields,
                     const QString &query, int from, bool forward)
{
    const QString text = query.trimmed();
    const Query q(text);
    const QVector<int> used = set ? searchedFields(set, fields, q) : QVector<int>();
    if (!set || used.isEmpty() || set->isEmpty()) {
        m_status = Status::NotFound;
        return;
    }
    from = std::clamp(from, 0, set->recordCount() - 1);
    if (set->keyedRows() && set->state() == dravon::DataSetState::Browse)
        m_walk = std::make_unique<EngineWalk>(connection, set, used, q, text, from, forward);
    else
        m_walk = std::make_unique<RowWalk>(set, used, q, from, forward);
}

RowSearch::~RowSearch() = default;

RowSearch::Status RowSearch::run(int budgetMs)
{
    if (m_status != Status::Running || !m_walk)
        return m_status;
    QElapsedTimer clock;
    clock.start();
    m_status = m_walk->run(clock, qint64(budgetMs) * 1'000'000, &m_found);
    if (m_status != Status::Running)
        m_walk.reset();
    return m_status;
}

class MatchCount::Impl
{
public:
    Impl(dravon::Connection &connection, dravon::RecordSet *set, const QVector<int> &fields, const QString &query,
         int row)
        : m_set(set), m_query(query.trimmed()), m_row(row)
    {
        m_fields = set ? searchedFields(set, fields, m_query) : QVector<int>();
        if (!set || m_fields.isEmpty() || set->isEmpty()) {
            m_done = true;
            return;
        }
        if (set->keyedRows() && set->state() == dravon::DataSetState::Browse) {
            m_plan = std::make_unique<EnginePlan>(connection, set, m_fields, m_query, query.trimmed());
            m_mark = set->keyOfRow(row);
            m_next = m_plan->minKey;
            for (qint64 k : m_plan->matchingLocalKeys()) {
                const int at = set->rowOfKey(k);
                if (at < 0)
                    continue;
                ++m_total;
                m_before += at < row ? 1 : 0;
            }
            // A row stored through the set sits where it was added: the
            // snapshot rows before it are those with smaller keys before it.
            if (m_mark >= 0 && m_plan->rows.localKeys.contains(m_mark)) {
                m_mark = -1;
                for (int r = row - 1; r >= 0 && m_mark < 0; --r) {
                    const qint64 k = set->keyOfRow(r);
                    if (k >= 0 && !m_plan->rows.localKeys.contains(k))
                        m_mark = k + 1;
                }
                if (m_mark < 0)
                    m_mark = m_plan->minKey;
            }
        }
    }

    bool run(int budgetMs)
    {
        QElapsedTimer clock;
        clock.start();
        const qint64 budget = qint64(budgetMs) * 1'000'000;
        while (!m_done && clock.nsecsElapsed() < budget) {
            if (m_plan)
                engineStep(clock);
            else
                rowStep();
        }
        return m_done;
    }

    void engineStep(const QElapsedTimer &clock)
    {
        const qint64 top = m_plan->rows.maxKey;
        if (m_next > top) {
            m_done = true;
            return;
        }
        // A number whose ranges are short is counted by the indexes at once.
        const qint64 to = m_plan->probesCover ? top : std::min(top, m_next + m_window.size() - 1);
        const qint64 started = clock.nsecsElapsed();
        const QPair<int, int> counted =
            m_plan->countIn(m_next, to, m_mark < 0 ? std::numeric_limits<qint64>::max() : m_mark);
        m_total += counted.first;
        m_before += counted.second;
        m_window.took(clock.nsecsElapsed() - started);
        m_next = to + 1;
        if (m_next > top)
            m_done = true;
    }

    void rowStep()
    {
        for (int i = 0; i < 64; ++i) {
            if (!hasRow(m_set, m_walked)) {
                m_done = true;
                return;
            }
            if (rowMatches(m_set, m_walked, m_fields, m_query)) {
                ++m_total;
                m_before += m_walked < m_row ? 1 : 0;
            }
            ++m_walked;
        }
    }

    dravon::RecordSet *m_set;
    Query m_query;
    QVector<int> m_fields;
    int m_row;
    std::unique_ptr<EnginePlan> m_plan;
    qint64 m_mark = -1;
    qint64 m_next = 0;
    Window m_window;
    int m_walked = 0;
    int m_total = 0;
    int m_before = 0;
    bool m_done = false;
};

MatchCount::MatchCount(dravon::Connection &connection, dravon::RecordSet *set, const QVector<int> &fields,
                       const QString &query, int row)
    : m_impl(std::make_unique<Impl>(connection, set, fields, query, row))
{
}

MatchCount::~MatchCount() = default;

bool MatchCount::run(int budgetMs)
{
    return m_impl->run(budgetMs);
}

bool MatchCount::done() const
{
    return m_impl->m_done;
}

int MatchCount::total() const
{
    return m_impl->m_total;
}

int MatchCount::before() const
{
    return m_impl->m_before;
}

}
