#include "data/TableSource.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/SortedPages.h"
#include "data/SqlText.h"

#include <sqlite3.h>

namespace dravon {

namespace {

// A table of up to this many rows is counted as it opens: the engine counts
// it from its pages in well under a millisecond, and no worker is started.
qint64 countAtOpenLimit = TableSource::defaultCountAtOpenLimit;

qint64 maxKeyOf(Connection &connection, const QString &table)
{
    auto *db = static_cast<sqlite3 *>(connection.nativeHandle());
    if (!db)
        throw Error(QStringLiteral("数据库没有连接。"));
    Statement max;
    max.prepare(db, QStringLiteral("SELECT max(rowid) FROM %1").arg(quotedIdentifier(table)));
    return max.step() ? max.int64(0) : 0;
}

}

void TableSource::setCountAtOpenLimitForTesting(qint64 rows)
{
    countAtOpenLimit = rows;
}

qint64 TableSource::countAtOpenRows()
{
    return countAtOpenLimit;
}

TableSource::TableSource(Connection &connection, const QString &table, const QString &condition, QObject *parent)
    : PagedTableSource(connection, table, condition, maxKeyOf(connection, table), parent)
{
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

QString TableSource::filter(const QString &keyCondition) const
{
    QString where = QStringLiteral("WHERE ") + keyCondition;
    if (!m_condition.isEmpty())
        where += QStringLiteral(" AND (%1)").arg(m_condition);
    return where;
}

QVector<qint64> TableSource::readKeysAndValues(Statement &s)
{
    QVector<qint64> keys;
    const bool withValues = s.columnCount() > 1;
    while (s.step()) {
        const qint64 key = s.int64(0);
        keys.append(key);
        if (withValues && !isKept(key))
            keep(key, new Values(readValues(s, 1)));
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

QVector<qint64> TableSource::readRows(qint64 above, qint64 below, int limit, bool descending)
{
    Statement &s = statement(QStringLiteral("SELECT rowid, * FROM %1 %2 ORDER BY rowid%3 LIMIT ?3")
                                 .arg(quotedIdentifier(m_table), filter(QStringLiteral("rowid > ?1 AND rowid < ?2")),
                                      descending ? QStringLiteral(" DESC") : QString()));
    s.bind(1, above);
    s.bind(2, below);
    s.bind(3, limit);
    return readKeysAndValues(s);
}

QVector<qint64> TableSource::readRowsWithKeys(const QVector<qint64> &keys)
{
    // One statement for any batch: the marks not needed are bound to NULL.
    QStringList marks;
    for (int i = 1; i <= aroundBatch; ++i)
        marks << QStringLiteral("?%1").arg(i);
    Statement &s = statement(QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid IN (%2)")
                                 .arg(quotedIdentifier(m_table), marks.join(QLatin1Char(','))));
    for (int i = 0; i < aroundBatch; ++i)
        s.bind(i + 1, i < keys.size() ? QVariant(keys[i]) : QVariant());
    QVector<qint64> found;
    while (s.step()) {
        const qint64 key = s.int64(0);
        keep(key, new Values(readValues(s, 1)));
        found.append(key);
    }
    s.reset();
    return found;
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

std::optional<Values> TableSource::readRow(qint64 key)
{
    Statement &s = statement(QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid = ?1").arg(quotedIdentifier(m_table)));
    s.bind(1, key);
    std::optional<Values> found;
    if (s.step())
        found = readValues(s, 1);
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
        key = rekeyRow(row, now);
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
    return firstPositionOf(candidates);
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
    showOrder(*keys, field, descending);
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
                                  QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?1").arg(column, table), pageSize,
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
    m_sortSql = orderSql;
    return showPagesFirst(*pages, field, descending, pages->count <= pageSize ? nullptr : orderWorker());
}

std::shared_ptr<KeyOrder> TableSource::orderWorker()
{
    return std::make_shared<KeyOrder>(m_connection.databasePath(), m_sortSql, QVector<QVariant>{m_map.maxKey()});
}

}
