#include "data/TableSource.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/SortedPages.h"
#include "data/SqlText.h"

#include <QPointer>
#include <QTimer>

#include <sqlite3.h>

namespace dravon {

namespace {

constexpr int pageSize = 128;
constexpr int walkPageSize = 1024;  // rows read at once by a walk with next()
// A table's rows are read again cheaply by key: few are kept, so that a walk
// reuses the memory of the rows it has passed.
constexpr int tableCacheRows = 2048;
// A table of up to this many rows is counted as it opens: the engine counts
// it from its pages in well under a millisecond, and no worker is started.
qint64 countAtOpenLimit = TableSource::defaultCountAtOpenLimit;

}

void TableSource::setCountAtOpenLimitForTesting(qint64 rows)
{
    countAtOpenLimit = rows;
}

TableSource::TableSource(Connection &connection, const QString &table, const QString &condition, QObject *parent)
    : RowSource(connection, parent), m_table(table), m_condition(condition), m_map(*this, readMaxKey())
{
    m_values.setMaxCost(tableCacheRows);
    m_map.setEvents({[this](int first, int last) { emit aboutToInsert(first, last); }, [this] { emit inserted(); },
                     [this] { emit aboutToReset(); }, [this] { emit resetDone(); }, [this] { forgetMemo(); }});
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
    readFront(pageSize);
    // A whole table is counted first from its pages (rows added since the
    // snapshot taken off); a filtered one only by the walk. A small one is
    // counted here and needs no worker: its rows between are read by
    // stepping from the nearer end, and placed by key in one pass when a row
    // is stored or deleted among them.
    const QString firstCount = m_condition.isEmpty()
        ? QStringLiteral("SELECT (SELECT count(*) FROM %1) - (SELECT count(*) FROM %1 WHERE rowid > ?1)").arg(quoted)
        : QString();
    if (m_map.gapOpen() && !firstCount.isEmpty() && m_map.frontSize() > 0
        && m_map.maxKey() - m_map.keyAt(0) < countAtOpenLimit) {
        Statement &c = statement(firstCount);
        c.bind(1, m_map.maxKey());
        const qint64 counted = c.step() ? c.int64(0) : -1;
        c.reset();
        if (counted >= 0)
            applyFirstCount(counted);
    }
    if (m_map.gapOpen())
        startCounting();
}

void TableSource::startCounting()
{
    const QString quoted = quotedIdentifier(m_table);
    const QString firstCount = m_condition.isEmpty()
        ? QStringLiteral("SELECT (SELECT count(*) FROM %1) - (SELECT count(*) FROM %1 WHERE rowid > ?1)").arg(quoted)
        : QString();
    startCounter(QStringLiteral("SELECT rowid FROM %1 %2 ORDER BY rowid LIMIT ?3 OFFSET ?4")
                     .arg(quoted, filter(QStringLiteral("rowid > ?1 AND rowid <= ?2"))),
                 m_map.maxKey(), firstCount);
}

qint64 TableSource::readMaxKey()
{
    Statement &max = statement(QStringLiteral("SELECT max(rowid) FROM %1").arg(quotedIdentifier(m_table)));
    const qint64 key = max.step() ? max.int64(0) : 0;
    max.reset();
    return key;
}

QString TableSource::filter(const QString &keyCondition) const
{
    QString where = QStringLiteral("WHERE ") + keyCondition;
    if (!m_condition.isEmpty())
        where += QStringLiteral(" AND (%1)").arg(m_condition);
    return where;
}

QString TableSource::localKeyList() const
{
    QStringList keys;
    for (qint64 k : m_map.localKeys())
        keys << QString::number(k);
    return keys.join(QLatin1Char(','));
}

QVector<qint64> TableSource::readKeysAndValues(Statement &s)
{
    QVector<qint64> keys;
    const bool withValues = s.columnCount() > 1;
    while (s.step()) {
        const qint64 key = s.int64(0);
        keys.append(key);
        if (withValues && !m_values.contains(key)) {
            m_values.insert(key, new Values(readValues(s, 1)));
            ++m_rowsFetched;
        }
    }
    s.reset();
    return keys;
}

QVector<qint64> TableSource::keysBetween(qint64 above, qint64 below, int limit, int offset, bool descending)
{
    // A page is read with its values (the rows are about to be shown); all
    // keys of a range only as keys.
    Statement &s = statement(QStringLiteral("SELECT rowid%1 FROM %2 %3 ORDER BY rowid %4 LIMIT ?3 OFFSET ?4")
                                 .arg(limit < 0 ? QString() : QStringLiteral(", *"), quotedIdentifier(m_table),
                                      filter(QStringLiteral("rowid > ?1 AND rowid < ?2")),
                                      descending ? QStringLiteral("DESC") : QString()));
    s.bind(1, above);
    s.bind(2, below);
    s.bind(3, limit);
    s.bind(4, offset);
    return readKeysAndValues(s);
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
    if (!m_map.gapOpen())
        return;
    Statement &s = statement(QStringLiteral("SELECT rowid, * FROM %1 %2 ORDER BY rowid LIMIT ?3")
                                 .arg(quotedIdentifier(m_table), filter(QStringLiteral("rowid > ?1 AND rowid < ?2"))));
    s.bind(1, m_map.frontLast());
    s.bind(2, m_map.backFirst());
    s.bind(3, wanted);
    const QVector<qint64> stepped = readKeysAndValues(s);
    m_map.addFront(stepped, stepped.size() < wanted);
    if (!m_map.gapOpen() && m_counter)
        m_counter->cancel();
}

bool TableSource::fetchMore()
{
    if (!m_map.gapOpen())
        return false;
    const int before = count();
    readFront(pageSize);
    return count() > before;
}

bool TableSource::ensure(int row)
{
    while (row >= count() && m_map.state() == PositionMap::State::Front) {
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
    if (m_map.gapOpen() && row >= m_map.frontSize() - 1)
        readFront(walkPageSize);
}

void TableSource::learnBefore(int row)
{
    forgetMemo();
    if (m_map.state() != PositionMap::State::FrontAndBack || row != m_map.frontSize())
        return;
    Statement &s = statement(QStringLiteral("SELECT rowid, * FROM %1 %2 ORDER BY rowid DESC LIMIT ?3")
                                 .arg(quotedIdentifier(m_table), filter(QStringLiteral("rowid < ?1 AND rowid > ?2"))));
    s.bind(1, m_map.backFirst());
    s.bind(2, m_map.frontLast());
    s.bind(3, pageSize);
    const QVector<qint64> stepped = readKeysAndValues(s);
    m_map.addBack(stepped, stepped.size() < pageSize);
    if (!m_map.gapOpen() && m_counter)
        m_counter->cancel();
}

int TableSource::loadLast()
{
    if (m_map.state() == PositionMap::State::Front) {
        // The last rows, newest key first, in one indexed read; their
        // positions follow the front until the count says how many lie between.
        m_map.openBack();
        learnBefore(m_map.frontSize());
    }
    return count() - 1;
}

void TableSource::fetchAround(int row)
{
    // Values of the neighbouring rows whose keys are known, in one read.
    constexpr int batch = 64;
    QVector<qint64> missing;
    const int total = count();
    const int from = qMax(0, row - batch / 4);
    for (int r = from; r < total && r < from + batch; ++r) {
        const qint64 key = m_map.keyAt(r);
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

void TableSource::applyFirstCount(qint64 count)
{
    m_map.applyFirstCount(count);
}

void TableSource::applyCount(const RowCounter::Result &result)
{
    m_map.applyCheckpoints(result.checkpoints, result.count);
}

void TableSource::settle(int row)
{
    if (!m_map.isProvisional(row))
        return;
    // By key: the worker's checkpoints are awaited; without them (a small
    // table, or the worker failed) the keys are read here in one pass.
    waitForCount();
    m_map.placeByKeys();
}

std::optional<int> TableSource::positionOfKey(qint64 key)
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

// ---- writes

void TableSource::insertRow(int row, const Values &values)
{
    completeOrder();
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
    m_map.insertKey(row, key);
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
    completeOrder();
    const qint64 key = m_map.keyAt(row);
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
    completeOrder();
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
            const qint64 key = m_map.keyAt(rows[i]);
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

void TableSource::forget(int row)
{
    completeOrder();
    forgetMemo();
    const qint64 key = m_map.removeAt(row);
    if (key >= 0)
        m_values.remove(key);
}

void TableSource::forgetRows(int first, int last)
{
    forgetMemo();
    const PositionMap::Removed removed = m_map.removeRange(first, last);
    // Rows whose keys were not read may still be kept: none is kept then.
    if (removed.unlisted)
        m_values.clear();
    else
        for (qint64 key : removed.keys)
            m_values.remove(key);
}

void TableSource::forgetValues()
{
    forgetMemo();
    m_values.clear();
}

Values TableSource::reread(int row, const Values &read)
{
    completeOrder();
    forgetMemo();
    qint64 key = m_map.keyAt(row);
    if (!m_declaredKey.isEmpty()) {
        // By the declared key: a vacuum may have given the row another row key.
        QStringList terms;
        QVector<QVariant> bound;
        for (const QString &column : std::as_const(m_declaredKey)) {
            int field = -1;
            for (int f = 0; f < m_fields.size() && field < 0; ++f)
                if (m_fields[f].name.compare(column, Qt::CaseInsensitive) == 0)
                    field = f;
            terms << QStringLiteral("%1 IS ?").arg(quotedIdentifier(column));
            bound << read.value(field);
        }
        Statement &s = statement(QStringLiteral("SELECT rowid FROM %1 WHERE %2")
                                     .arg(quotedIdentifier(m_table), terms.join(QStringLiteral(" AND "))));
        for (int b = 0; b < bound.size(); ++b)
            s.bind(b + 1, bound[b]);
        const qint64 now = s.step() ? s.int64(0) : -1;
        s.reset();
        if (now != key) {
            settle(row);
            if (key >= 0)
                m_values.remove(key);
            m_map.replaceKey(row, now);
            key = now;
        }
    }
    if (key < 0 || !readOne(key))
        return Values();
    return *m_values.object(key);
}

// ---- finding rows

std::optional<QVariant> TableSource::lookup(int keyField, const QString &key, int resultField)
{
    const QString local = localKeyList();
    const QString extra = local.isEmpty() ? QString() : QStringLiteral(" OR rowid IN (%1)").arg(local);
    Statement &s = statement(QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY rowid LIMIT 1")
                                 .arg(quotedIdentifier(m_fields[resultField].name), quotedIdentifier(m_table),
                                      filter(QStringLiteral("%1 = ?1 AND (rowid <= ?2%2)")
                                                 .arg(quotedIdentifier(m_fields[keyField].name), extra))));
    s.bind(1, key);
    s.bind(2, m_map.maxKey());
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
    s.bind(2, m_map.maxKey());
    if (prefix)
        s.bind(3, upper);
    if (s.step())
        candidates << s.int64(0);
    s.reset();
    const QString local = localKeyList();
    if (!local.isEmpty()) {
        Statement &inLocal = statement(
            QStringLiteral("SELECT rowid FROM %1 WHERE %2 AND rowid IN (%3)").arg(quotedIdentifier(m_table), match, local));
        inLocal.bind(1, text);
        if (prefix)
            inLocal.bind(3, upper);
        while (inLocal.step())
            candidates << inLocal.int64(0);
        inLocal.reset();
    }
    std::optional<int> best;
    for (qint64 candidate : std::as_const(candidates)) {
        const std::optional<int> at = positionOfKey(candidate);
        if (at && (!best || *at < *best))
            best = at;
    }
    return best;
}

qint64 TableSource::keyOfRow(int row)
{
    if (row < 0 || row >= count())
        return -1;
    if (!m_map.isKnown(row))
        completeOrder();
    return m_map.keyAt(row);
}

std::optional<RowSource::KeyedRows> TableSource::keyedRows() const
{
    // Sorted by a column, the positions no longer follow the keys.
    if (sortOrder().field >= 0)
        return std::nullopt;
    return KeyedRows{m_table, m_condition, m_map.maxKey(), m_map.localKeys().values()};
}

// ---- sorting

std::optional<int> TableSource::sortBy(int field, bool descending, int keep, const Progress &progress)
{
    const qint64 keepKey = keep >= 0 && keep < count() ? keyOfRow(keep) : -1;
    const QString local = localKeyList();
    QString rows = QStringLiteral("rowid <= ?1");
    if (!m_condition.isEmpty())
        rows = QStringLiteral("(%1 AND (%2))").arg(rows, m_condition);
    if (!local.isEmpty())
        rows += QStringLiteral(" OR rowid IN (%1)").arg(local);
    const QString sql = QStringLiteral("SELECT rowid FROM %1 WHERE %2 ORDER BY %3%4, rowid")
                            .arg(quotedIdentifier(m_table), rows, quotedIdentifier(m_fields[field].name),
                                 descending ? QStringLiteral(" DESC") : QString());
    const bool small = countKnown() && count() <= sortHereLimit();
    if (!small && sortsByBytes(field))
        return sortInPages(field, descending, keepKey, rows, sql, progress);
    const std::optional<QVector<qint64>> keys =
        readOrder(handle(), m_connection.databasePath(), sql, {m_map.maxKey()}, progress);
    if (!keys)
        return std::nullopt;
    // Every key is known now: the count needs no worker any more.
    if (m_counter)
        m_counter->cancel();
    m_sortWorker.reset();
    m_map.setOrder(*keys);
    setSortOrder(field, descending);
    return keepKey >= 0 ? positionOfKey(keepKey).value_or(-1) : -1;
}

bool TableSource::sortsByBytes(int field)
{
    // The pages of one pass compare values as the engine's BINARY collation
    // does; a column declared with another collation is sorted whole.
    const char *collation = nullptr;
    const QByteArray table = m_table.toUtf8();
    const QByteArray column = m_fields[field].name.toUtf8();
    if (sqlite3_table_column_metadata(handle(), "main", table.constData(), column.constData(), nullptr, &collation,
                                      nullptr, nullptr, nullptr)
        != SQLITE_OK)
        return false;
    return collation && qstricmp(collation, "BINARY") == 0;
}

std::optional<int> TableSource::sortInPages(int field, bool descending, qint64 keepKey, const QString &rows,
                                            const QString &orderSql, const Progress &progress)
{
    const QString table = quotedIdentifier(m_table);
    const QString column = quotedIdentifier(m_fields[field].name);
    constexpr int sortedPage = 128;
    // The pass counts the rows itself: the counting worker would only
    // compete with it for the processor.
    const bool wasCounting = m_counter && !countKnown();
    if (wasCounting) {
        m_counter->cancel();
        m_counter.reset();
    }
    std::optional<SortedPages::Result> pages;
    try {
        pages = SortedPages::read(handle(), QStringLiteral("SELECT rowid, %1 FROM %2 WHERE %3").arg(column, table, rows),
                                  {m_map.maxKey()}, descending, keepKey,
                                  QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?1").arg(column, table), sortedPage,
                                  countKnown() ? count() : 0, progress);
    } catch (const Error &) {
        if (wasCounting)
            startCounting();
        throw;
    }
    if (!pages) {
        if (wasCounting)
            startCounting();
        return std::nullopt;
    }
    if (m_counter)
        m_counter->cancel();
    m_sortWorker.reset();
    setSortOrder(field, descending);
    if (pages->count <= sortedPage) {
        // The first page holds every row: nothing more to read.
        m_map.setOrder(pages->stretches.isEmpty() ? QVector<qint64>() : pages->stretches.first().keys);
        return pages->keptPosition;
    }
    QVector<PositionMap::Stretch> known;
    for (const SortedPages::Stretch &s : pages->stretches)
        known.append({s.first, s.keys});
    m_map.setPartialOrder(int(pages->count), known);
    // The whole order is read once the first pages have been painted (a
    // timer fires after the events already posted).
    m_sortSql = orderSql;
    m_sortWorker = std::make_shared<KeyOrder>(m_connection.databasePath(), m_sortSql,
                                              QVector<QVariant>{m_map.maxKey()});
    connect(m_sortWorker.get(), &QThread::finished, this, &TableSource::takeOrder, Qt::QueuedConnection);
    QTimer::singleShot(1, this, [this] {
        if (m_sortWorker)
            m_sortWorker->begin();
    });
    return pages->keptPosition;
}

void TableSource::takeOrder()
{
    if (!m_sortWorker || !m_sortWorker->succeeded() || !m_map.isPartial())
        return;
    const QVector<qint64> keys = m_sortWorker->keys();
    m_sortWorker.reset();
    forgetMemo();
    if (m_map.completeOrder(keys))
        emit orderCompleted();
}

bool TableSource::awaitOrder(const Progress &progress)
{
    if (!m_map.isPartial())
        return true;
    if (!m_sortWorker) {
        // Cancelled before: read again.
        m_sortWorker = std::make_shared<KeyOrder>(m_connection.databasePath(), m_sortSql,
                                                  QVector<QVariant>{m_map.maxKey()});
        connect(m_sortWorker.get(), &QThread::finished, this, &TableSource::takeOrder, Qt::QueuedConnection);
    }
    // The wait runs events (its progress): the set may be closed meanwhile.
    const std::shared_ptr<KeyOrder> worker = m_sortWorker;
    const QPointer<TableSource> alive(this);
    const bool done = worker->await(count(), progress);
    if (!alive || worker != m_sortWorker)
        return false;
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

void TableSource::completeOrder()
{
    while (m_map.isPartial())
        awaitOrder({});
}

}
