#include "data/server/ServerTableSource.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/ShortDate.h"
#include "data/TableSource.h"
#include "data/server/PgSession.h"
#include "data/server/ServerRowCounter.h"

#include <QDate>
#include <limits>

namespace dravon {

namespace {

constexpr int pageSize = 128;
constexpr int walkPageSize = 1024;
constexpr int tableCacheRows = 2048;
constexpr int aroundBatch = 64;

qint64 readMaxKey(Connection &connection, const QString &quotedTable)
{
    const pg::Result r = connection.session().exec(QStringLiteral("SELECT max(\"Id\") FROM %1").arg(quotedTable));
    return r.rows() > 0 && !r.isNull(0, 0) ? r.value(0, 0).toLongLong() : 0;
}

QString keyArray(const QVector<qint64> &keys)
{
    QStringList texts;
    for (qint64 k : keys)
        texts << QString::number(k);
    return QLatin1Char('{') + texts.join(QLatin1Char(',')) + QLatin1Char('}');
}

}

QString serverTableNamed(Connection &connection, const QString &name)
{
    return connection.serverTableNamed(name);
}

ServerTableSource::ServerTableSource(Connection &connection, const QString &table, const QString &condition,
                                     QObject *parent)
    : RowSource(connection, parent),
      m_table(table),
      m_quotedTable(connection.dialect().quoteName(table)),
      m_condition(condition.trimmed().isEmpty() ? QString() : connection.dialect().rewrite(condition)),
      m_programCondition(condition.trimmed()),
      m_map(*this, readMaxKey(connection, m_quotedTable))
{
    m_values.setMaxCost(tableCacheRows);
    m_map.setEvents({[this](int first, int last) { emit aboutToInsert(first, last); }, [this] { emit inserted(); },
                     [this] { emit aboutToReset(); }, [this] { emit resetDone(); }, [this] { forgetMemo(); }});
    // The columns in their order with their types. "Id" is a field only where
    // it is the table's own key (the record tables); on the master tables it
    // stands in for the file's hidden row key and is not shown.
    QStringList names{QStringLiteral("\"Id\"")};
    for (const pg::CatalogColumn &column : connection.serverColumnsOf(table)) {
        if (column.name == QLatin1String("Id") && !column.primaryKey)
            continue;
        m_fields.append({column.name, typeFromDeclaration(column.type)});
        names << connection.dialect().quoteName(column.name);
    }
    m_columns = names.join(QStringLiteral(", "));
    readFront(pageSize);
    // A small table is counted here, in a few milliseconds; a large one by a
    // worker on a connection of its own, once the first rows are painted.
    // Until its count arrives the rows are read on from the front (or back).
    if (m_map.gapOpen() && m_map.frontSize() > 0 && m_map.maxKey() - m_map.keyAt(0) < TableSource::countAtOpenRows()) {
        const pg::Result counted = run(
            QStringLiteral("SELECT count(*) FROM %1 %2").arg(m_quotedTable, where(QStringLiteral("\"Id\" <= $1"))),
            {m_map.maxKey()});
        m_map.applyFirstCount(counted.value(0, 0).toLongLong());
    }
    if (m_map.gapOpen())
        startCounter(std::make_unique<ServerRowCounter>(
            connection.session().address(), QStringLiteral("FROM %1 %2").arg(m_quotedTable, where(QStringLiteral("\"Id\" <= $1"))),
            m_map.maxKey(), counterStride()));
}

std::optional<RowSource::KeyedRows> ServerTableSource::keyedRows() const
{
    // Sorted by a column, the positions no longer follow the keys.
    if (sortOrder().field >= 0)
        return std::nullopt;
    return KeyedRows{m_table, m_programCondition, m_map.maxKey(), m_map.localKeys().values()};
}

pg::Result ServerTableSource::run(const QString &sql, const QVector<QVariant> &params)
{
    return m_connection.session().exec(sql, params);
}

pg::Result ServerTableSource::write(const QString &sql, const QVector<QVariant> &params)
{
    try {
        return run(sql, params);
    } catch (const pg::ServerError &e) {
        if (e.connectionLost() || e.abortedByServer())
            throw;
        throw Refused{e.text()};
    }
}

QString ServerTableSource::where(const QString &keyCondition) const
{
    QString text = QStringLiteral("WHERE ") + keyCondition;
    if (!m_condition.isEmpty())
        text += QStringLiteral(" AND (%1)").arg(m_condition);
    return text;
}

QString ServerTableSource::localKeyList() const
{
    QStringList keys;
    for (qint64 k : m_map.localKeys())
        keys << QString::number(k);
    return keys.join(QLatin1Char(','));
}

QVector<qint64> ServerTableSource::takeRows(const pg::Result &result)
{
    QVector<qint64> keys;
    keys.reserve(result.rows());
    const bool withValues = result.columns() > 1;
    for (int r = 0; r < result.rows(); ++r) {
        const qint64 key = result.value(r, 0).toLongLong();
        keys.append(key);
        if (withValues && !m_values.contains(key)) {
            auto *values = new Values(m_fields.size());
            for (int f = 0; f < m_fields.size(); ++f)
                (*values)[f] = result.value(r, f + 1);
            m_values.insert(key, values);
            ++m_rowsFetched;
        }
    }
    return keys;
}

QVector<qint64> ServerTableSource::keysBetween(qint64 above, qint64 below, int limit, int offset, bool descending)
{
    const pg::Result r = run(QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY \"Id\" %4 LIMIT $3 OFFSET $4")
                                 .arg(limit < 0 ? QStringLiteral("\"Id\"") : m_columns, m_quotedTable,
                                      where(QStringLiteral("\"Id\" > $1 AND \"Id\" < $2")),
                                      descending ? QStringLiteral("DESC") : QString()),
                             {above, below, limit < 0 ? QVariant() : QVariant(limit), offset});
    return takeRows(r);
}

void ServerTableSource::readFront(int wanted)
{
    forgetMemo();
    if (!m_map.gapOpen())
        return;
    const pg::Result r = run(QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY \"Id\" LIMIT $3")
                                 .arg(m_columns, m_quotedTable, where(QStringLiteral("\"Id\" > $1 AND \"Id\" < $2"))),
                             {m_map.frontLast(), m_map.backFirst(), wanted});
    const QVector<qint64> stepped = takeRows(r);
    m_map.addFront(stepped, stepped.size() < wanted);
    if (!m_map.gapOpen() && m_counter)
        m_counter->cancel();
}

bool ServerTableSource::fetchMore()
{
    if (!m_map.gapOpen())
        return false;
    const int before = count();
    readFront(pageSize);
    return count() > before;
}

bool ServerTableSource::ensure(int row)
{
    while (row >= count() && m_map.state() == PositionMap::State::Front) {
        const int before = count();
        readFront(pageSize);
        if (count() == before)
            break;
    }
    return row < count();
}

void ServerTableSource::learnAfter(int row)
{
    if (m_map.gapOpen() && row >= m_map.frontSize() - 1)
        readFront(walkPageSize);
}

void ServerTableSource::learnBefore(int row)
{
    forgetMemo();
    if (m_map.state() != PositionMap::State::FrontAndBack || row != m_map.frontSize())
        return;
    const pg::Result r = run(QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY \"Id\" DESC LIMIT $3")
                                 .arg(m_columns, m_quotedTable, where(QStringLiteral("\"Id\" < $1 AND \"Id\" > $2"))),
                             {m_map.backFirst(), m_map.frontLast(), pageSize});
    const QVector<qint64> stepped = takeRows(r);
    m_map.addBack(stepped, stepped.size() < pageSize);
    if (!m_map.gapOpen() && m_counter)
        m_counter->cancel();
}

int ServerTableSource::loadLast()
{
    if (m_map.state() == PositionMap::State::Front) {
        m_map.openBack();
        learnBefore(m_map.frontSize());
    }
    return count() - 1;
}

void ServerTableSource::fetchAround(int row)
{
    // The neighbouring rows whose keys are known, in one read.
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
    const pg::Result r = run(QStringLiteral("SELECT %1 FROM %2 WHERE \"Id\" = ANY($1::bigint[])").arg(m_columns, m_quotedTable),
                             {keyArray(missing)});
    const QVector<qint64> found = takeRows(r);
    // A row deleted elsewhere shows empty rather than failing.
    for (qint64 key : std::as_const(missing))
        if (!found.contains(key))
            m_values.insert(key, new Values(m_fields.size()));
}

Values ServerTableSource::values(int row)
{
    if (remembers(row))
        return remembered();
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

void ServerTableSource::applyFirstCount(qint64 count)
{
    m_map.applyFirstCount(count);
}

void ServerTableSource::applyCount(const RowCounter::Result &result)
{
    m_map.applyCheckpoints(result.checkpoints, result.count);
}

void ServerTableSource::settle(int row)
{
    if (!m_map.isProvisional(row))
        return;
    // By key: the worker's checkpoints are awaited; without them (a small
    // table, or the worker failed) the keys are read here in one pass.
    waitForCount();
    if (m_map.isProvisional(row))
        m_map.placeByKeys();
}

std::optional<int> ServerTableSource::positionOfKey(qint64 key)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const PositionMap::Lookup found = m_map.positionOf(key);
        if (!found.needsCount)
            return found.row;
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

void ServerTableSource::insertRow(int row, const Values &values)
{
    QStringList names, marks;
    QVector<QVariant> bound;
    for (int i = 0; i < m_fields.size(); ++i) {
        if (values[i].isNull())
            continue;
        names << m_connection.dialect().quoteName(m_fields[i].name);
        bound << values[i];
        marks << QStringLiteral("$%1").arg(bound.size());
    }
    const QString sql = names.isEmpty()
        ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES RETURNING \"Id\"").arg(m_quotedTable)
        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) RETURNING \"Id\"")
              .arg(m_quotedTable, names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    const qint64 key = write(sql, bound).value(0, 0).toLongLong();
    m_map.insertKey(row, key);
    readOne(key);
}

bool ServerTableSource::readOne(qint64 key)
{
    forgetMemo();
    const pg::Result r = run(QStringLiteral("SELECT %1 FROM %2 WHERE \"Id\" = $1").arg(m_columns, m_quotedTable), {key});
    auto *values = new Values(m_fields.size());
    if (r.rows() > 0) {
        for (int f = 0; f < m_fields.size(); ++f)
            (*values)[f] = r.value(0, f + 1);
        ++m_rowsFetched;
    }
    // A row read again replaces what was kept of it; a row gone shows empty.
    m_values.insert(key, values);
    return r.rows() > 0;
}

namespace {

// "… AND "c" IS NOT DISTINCT FROM $n" for each column as read, after the key.
QString unchangedSince(const Dialect &dialect, const QVector<Field> &fields, const Values &read,
                       QVector<QVariant> *bound, qint64 key)
{
    *bound << key;
    QStringList terms{QStringLiteral("\"Id\" = $%1").arg(bound->size())};
    for (int i = 0; i < fields.size(); ++i) {
        *bound << read.value(i);
        terms << QStringLiteral("%1 IS NOT DISTINCT FROM $%2").arg(dialect.quoteName(fields[i].name)).arg(bound->size());
    }
    return terms.join(QStringLiteral(" AND "));
}

}

void ServerTableSource::updateRow(int row, const Values &read, const Values &values, const QVector<bool> &changed)
{
    const qint64 key = m_map.keyAt(row);
    QStringList sets;
    QVector<QVariant> bound;
    for (int i = 0; i < m_fields.size(); ++i) {
        if (!changed.value(i))
            continue;
        bound << values[i];
        sets << QStringLiteral("%1 = $%2").arg(m_connection.dialect().quoteName(m_fields[i].name)).arg(bound.size());
    }
    if (sets.isEmpty())
        return;
    if (key < 0)
        throw Conflict{};
    const QString condition = unchangedSince(m_connection.dialect(), m_fields, read, &bound, key);
    const pg::Result r = write(QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(m_quotedTable, sets.join(QStringLiteral(", ")), condition),
                               bound);
    if (r.affected() == 0)
        throw Conflict{};
    readOne(key);
}

void ServerTableSource::deleteRows(const QVector<int> &rows, const QVector<Values> &read)
{
    pg::Session &session = m_connection.session();
    auto work = [&] {
        for (int i = 0; i < rows.size(); ++i) {
            const qint64 key = m_map.keyAt(rows[i]);
            if (key < 0)
                throw Conflict{};
            QVector<QVariant> bound;
            const QString condition = unchangedSince(m_connection.dialect(), m_fields, read.value(i), &bound, key);
            if (write(QStringLiteral("DELETE FROM %1 WHERE %2").arg(m_quotedTable, condition), bound).affected() == 0)
                throw Conflict{};
        }
    };
    // All or none: inside the caller's transaction (a batch), whose rollback
    // undoes the rows deleted before a conflict, or in one of its own.
    if (session.inTransaction())
        work();
    else
        session.transaction(work);
}

void ServerTableSource::forget(int row)
{
    forgetMemo();
    const qint64 key = m_map.removeAt(row);
    if (key >= 0)
        m_values.remove(key);
}

Values ServerTableSource::reread(int row, const Values &)
{
    forgetMemo();
    const qint64 key = m_map.keyAt(row);
    if (key < 0 || !readOne(key))
        return Values();
    return *m_values.object(key);
}

// ---- finding rows

std::optional<QVariant> ServerTableSource::comparable(int field, const QString &text) const
{
    bool ok = true;
    switch (m_fields[field].type) {
    case FieldType::Integer: {
        const qlonglong v = text.trimmed().toLongLong(&ok);
        return ok ? std::optional<QVariant>(QVariant(v)) : std::nullopt;
    }
    case FieldType::Real: {
        const double v = text.trimmed().toDouble(&ok);
        return ok ? std::optional<QVariant>(QVariant(v)) : std::nullopt;
    }
    case FieldType::Date: {
        const QDate d = QDate::fromString(text, Qt::ISODate);
        return d.isValid() ? std::optional<QVariant>(QVariant(text)) : std::nullopt;
    }
    case FieldType::Text:
        break;
    }
    return QVariant(text);
}

std::optional<QVariant> ServerTableSource::lookup(int keyField, const QString &key, int resultField)
{
    const std::optional<QVariant> value = comparable(keyField, key);
    if (!value)
        return std::nullopt;
    const QString local = localKeyList();
    const QString extra = local.isEmpty() ? QString() : QStringLiteral(" OR \"Id\" IN (%1)").arg(local);
    const Dialect &dialect = m_connection.dialect();
    const pg::Result r =
        run(QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY \"Id\" LIMIT 1")
                .arg(dialect.quoteName(m_fields[resultField].name), m_quotedTable,
                     where(QStringLiteral("%1 = $1 AND (\"Id\" <= $2%2)").arg(dialect.quoteName(m_fields[keyField].name), extra))),
            {*value, m_map.maxKey()});
    if (r.rows() == 0)
        return std::nullopt;
    return r.value(0, 0);
}

std::optional<int> ServerTableSource::find(int field, const QString &text, bool prefix)
{
    // A prefix of a number or a date is a matter of how it shows: the rows
    // are compared as they show.
    if (prefix && m_fields[field].type != FieldType::Text)
        return RowSource::find(field, text, prefix);
    const std::optional<QVariant> value = comparable(field, text);
    if (!value)
        return std::nullopt;
    // Texts compare byte for byte ("C"): every text that begins with text
    // sorts from text up to text followed by the last code point.
    const QString column = m_connection.dialect().quoteName(m_fields[field].name);
    auto match = [&](int first) {
        return prefix ? QStringLiteral("%1 >= $%2 AND %1 < $%3").arg(column).arg(first).arg(first + 1)
                      : QStringLiteral("%1 = $%2").arg(column).arg(first);
    };
    const char32_t top = 0x10FFFF;
    QVector<QVariant> values{*value};
    if (prefix)
        values << text + QString::fromUcs4(&top, 1);
    QVector<qint64> candidates;
    const pg::Result first = run(QStringLiteral("SELECT \"Id\" FROM %1 %2 ORDER BY \"Id\" LIMIT 1")
                                     .arg(m_quotedTable, where(QStringLiteral("\"Id\" <= $1 AND ") + match(2))),
                                 QVector<QVariant>{m_map.maxKey()} + values);
    if (first.rows() > 0)
        candidates << first.value(0, 0).toLongLong();
    const QString local = localKeyList();
    if (!local.isEmpty()) {
        const pg::Result here =
            run(QStringLiteral("SELECT \"Id\" FROM %1 WHERE %2 AND \"Id\" IN (%3)").arg(m_quotedTable, match(1), local),
                values);
        for (int r = 0; r < here.rows(); ++r)
            candidates << here.value(r, 0).toLongLong();
    }
    std::optional<int> best;
    for (qint64 candidate : std::as_const(candidates)) {
        const std::optional<int> at = positionOfKey(candidate);
        if (at && (!best || *at < *best))
            best = at;
    }
    return best;
}

// ---- sorting

std::optional<int> ServerTableSource::sortBy(int field, bool descending, int keep, const Progress &)
{
    const qint64 keepKey = keep >= 0 && keep < count() ? m_map.keyAt(keep) : -1;
    const QString local = localKeyList();
    QString rows = QStringLiteral("\"Id\" <= $1");
    if (!m_condition.isEmpty())
        rows = QStringLiteral("(%1 AND (%2))").arg(rows, m_condition);
    if (!local.isEmpty())
        rows += QStringLiteral(" OR \"Id\" IN (%1)").arg(local);
    // Empty values first, as the file sorts them.
    const pg::Result r = run(QStringLiteral("SELECT \"Id\" FROM %1 WHERE %2 ORDER BY %3 %4, \"Id\"")
                                 .arg(m_quotedTable, rows, m_connection.dialect().quoteName(m_fields[field].name),
                                      descending ? QStringLiteral("DESC NULLS LAST") : QStringLiteral("ASC NULLS FIRST")),
                             {m_map.maxKey()});
    QVector<qint64> keys;
    keys.reserve(r.rows());
    for (int i = 0; i < r.rows(); ++i)
        keys << r.value(i, 0).toLongLong();
    m_map.setOrder(keys);
    setSortOrder(field, descending);
    return keepKey >= 0 ? positionOfKey(keepKey).value_or(-1) : -1;
}

}
