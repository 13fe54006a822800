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

// Tables counted while the window opens: a count on the server scans the
// rows in another process, and a lookup's list of 30,000 students took
// 10-17 ms of a window's opening on a busy machine; larger tables are
// counted by the worker once the rows are painted.
constexpr qint64 serverCountAtOpenRows = 10000;

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
    : PagedTableSource(connection, table, condition.trimmed(),
                       readMaxKey(connection, connection.dialect().quoteName(table)), parent),
      m_quotedTable(connection.dialect().quoteName(table)),
      m_serverCondition(condition.trimmed().isEmpty() ? QString() : connection.rewrite(condition))
{
    // The columns in their order with their types. "Id" is a field only where
    // it is the table's own key (the record tables); on the master tables it
    // stands in for the file's hidden row key and is not shown.
    QStringList names{QStringLiteral("\"Id\"")};
    for (const pg::CatalogColumn &column : connection.serverColumnsOf(table)) {
        if (column.name == QLatin1String("Id") && !column.primaryKey)
            continue;
        if (column.primaryKey && column.name != QLatin1String("Id"))
            m_declaredKey.append(int(m_fields.size()));
        m_fields.append({column.name, typeFromDeclaration(column.type)});
        m_fieldTypes.append(column.type);
        names << connection.dialect().quoteName(column.name);
    }
    m_columns = names.join(QStringLiteral(", "));
    readFront(pageSize);
    // A small table is counted here, in a few milliseconds; a large one by a
    // worker on a connection of its own, once the first rows are painted.
    // Until its count arrives the rows are read on from the front (or back).
    if (m_map.gapOpen() && m_map.frontSize() > 0
        && m_map.maxKey() - m_map.keyAt(0) < qMin(TableSource::countAtOpenRows(), serverCountAtOpenRows)) {
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
    if (!m_serverCondition.isEmpty())
        text += QStringLiteral(" AND (%1)").arg(m_serverCondition);
    return text;
}

QVector<qint64> ServerTableSource::takeRows(const pg::Result &result, bool replace)
{
    QVector<qint64> keys;
    keys.reserve(result.rows());
    const bool withValues = result.columns() > 1;
    for (int r = 0; r < result.rows(); ++r) {
        const qint64 key = result.value(r, 0).toLongLong();
        keys.append(key);
        if (withValues && (replace || !isKept(key))) {
            auto *values = new Values(m_fields.size());
            for (int f = 0; f < m_fields.size(); ++f)
                (*values)[f] = result.value(r, f + 1);
            keep(key, values);
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
    return takeRows(r, false);
}

QVector<qint64> ServerTableSource::readRows(qint64 above, qint64 below, int limit, bool descending)
{
    return takeRows(run(QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY \"Id\"%4 LIMIT $3")
                            .arg(m_columns, m_quotedTable, where(QStringLiteral("\"Id\" > $1 AND \"Id\" < $2")),
                                 descending ? QStringLiteral(" DESC") : QString()),
                        {above, below, limit}),
                    false);
}

QVector<qint64> ServerTableSource::readRowsWithKeys(const QVector<qint64> &keys)
{
    return takeRows(run(QStringLiteral("SELECT %1 FROM %2 WHERE \"Id\" = ANY($1::bigint[])").arg(m_columns, m_quotedTable),
                        {keyArray(keys)}),
                    true);
}

std::optional<Values> ServerTableSource::readRow(qint64 key)
{
    const pg::Result r = run(QStringLiteral("SELECT %1 FROM %2 WHERE \"Id\" = $1").arg(m_columns, m_quotedTable), {key});
    if (r.rows() == 0)
        return std::nullopt;
    Values values(m_fields.size());
    for (int f = 0; f < m_fields.size(); ++f)
        values[f] = r.value(0, f + 1);
    return values;
}

// ---- writes

void ServerTableSource::insertRow(int row, const Values &values)
{
    completeOrder();
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
    completeOrder();
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
    completeOrder();
    QVector<QVariant> keys;
    for (int row : rows) {
        const qint64 key = m_map.keyAt(row);
        if (key < 0)
            throw Conflict{};
        keys << key;
    }
    pg::Session &session = m_connection.session();
    auto work = [&] {
        if (rows.size() == 1) {
            QVector<QVariant> bound;
            const QString condition = unchangedSince(m_connection.dialect(), m_fields, read.value(0), &bound, keys[0].toLongLong());
            if (write(QStringLiteral("DELETE FROM %1 WHERE %2").arg(m_quotedTable, condition), bound).affected() == 0)
                throw Conflict{};
            return;
        }
        // Several rows by one statement: each field's values as read go in
        // one array, and a row is deleted only where every field is as read.
        // The statement's trigger then logs all the rows at once.
        QVector<QVariant> bound{pg::arrayText(keys)};
        QStringList arrays{QStringLiteral("$1::bigint[]")}, names{QStringLiteral("k")};
        QStringList terms{QStringLiteral("t.\"Id\" = v.k")};
        for (int f = 0; f < m_fields.size(); ++f) {
            QVector<QVariant> column;
            column.reserve(rows.size());
            for (int i = 0; i < rows.size(); ++i)
                column << read.value(i).value(f);
            bound << pg::arrayText(column);
            arrays << QStringLiteral("$%1::%2[]").arg(bound.size()).arg(m_fieldTypes[f]);
            names << QStringLiteral("f%1").arg(f);
            terms << QStringLiteral("t.%1 IS NOT DISTINCT FROM v.f%2").arg(m_connection.dialect().quoteName(m_fields[f].name)).arg(f);
        }
        const pg::Result r = write(QStringLiteral("DELETE FROM %1 AS t USING unnest(%2) AS v(%3) WHERE %4")
                                       .arg(m_quotedTable, arrays.join(QStringLiteral(", ")), names.join(QStringLiteral(", ")),
                                            terms.join(QStringLiteral(" AND "))),
                                   bound);
        if (r.affected() != rows.size())
            throw Conflict{};
    };
    // All or none: inside the caller's transaction (a batch), whose rollback
    // undoes the rows deleted before a conflict, or in one of its own.
    if (session.inTransaction())
        work();
    else
        session.transaction(work);
}

Values ServerTableSource::reread(int row, const Values &read)
{
    completeOrder();
    forgetMemo();
    qint64 key = m_map.keyAt(row);
    if (!m_declaredKey.isEmpty()) {
        // By the declared key, as on the file: a row deleted and written again
        // under the same row key (by another tool) is another row, never this one.
        QStringList terms;
        QVector<QVariant> params;
        for (int field : std::as_const(m_declaredKey)) {
            params << read.value(field);
            terms << QStringLiteral("%1 = $%2").arg(m_connection.dialect().quoteName(m_fields[field].name)).arg(params.size());
        }
        const pg::Result found =
            run(QStringLiteral("SELECT \"Id\" FROM %1 WHERE %2").arg(m_quotedTable, terms.join(QStringLiteral(" AND "))), params);
        key = rekeyRow(row, found.rows() > 0 ? found.value(0, 0).toLongLong() : -1);
    }
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
    return firstPositionOf(candidates);
}

// ---- sorting

std::optional<int> ServerTableSource::sortBy(int field, bool descending, int keep, const Progress &progress)
{
    const qint64 keepKey = keep >= 0 && keep < count() ? keyOfRow(keep) : -1;
    const QString local = localKeyList();
    QString rows = QStringLiteral("\"Id\" <= $1");
    if (!m_serverCondition.isEmpty())
        rows = QStringLiteral("(%1 AND (%2))").arg(rows, m_serverCondition);
    if (!local.isEmpty())
        rows += QStringLiteral(" OR \"Id\" IN (%1)").arg(local);
    const ServerSort sort{m_quotedTable, rows, m_connection.dialect().quoteName(m_fields[field].name), descending,
                          m_map.maxKey()};
    if (countKnown() && count() <= sortHereLimit()) {
        const pg::Result r = run(sort.orderSql(), {m_map.maxKey()});
        QVector<qint64> keys;
        keys.reserve(r.rows());
        for (int i = 0; i < r.rows(); ++i)
            keys << r.value(i, 0).toLongLong();
        showOrder(keys, field, descending);
        return keepKey >= 0 ? positionOfKey(keepKey).value_or(-1) : -1;
    }
    auto worker = std::make_shared<ServerKeyOrder>(m_connection.session().address(), sort, keepKey, pageSize);
    const std::optional<SortedPages::Result> pages = worker->awaitPages(countKnown() ? count() : 0, progress);
    if (!pages)
        return std::nullopt;
    m_sort = sort;
    return showPagesFirst(*pages, field, descending, pages->count <= pageSize ? nullptr : worker);
}

std::shared_ptr<KeyOrder> ServerTableSource::orderWorker()
{
    return std::make_shared<ServerKeyOrder>(m_connection.session().address(), m_sort);
}

}
