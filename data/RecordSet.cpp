#include "data/RecordSet.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/ShortDate.h"
#include "data/SqlText.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <sqlite3.h>
#include <cmath>

namespace dravon {

namespace {

constexpr int pageSize = 100;
constexpr int cacheRows = 20000;
constexpr int rowidOnlyThreshold = 2 * pageSize;

FieldType typeFromDeclaration(const QString &declared)
{
    const QString t = declared.toUpper();
    if (t.contains(QLatin1String("DATE")) || t.contains(QLatin1String("TIME")))
        return FieldType::Date;
    if (t.contains(QLatin1String("INT")))
        return FieldType::Integer;
    if (t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("FLOA")) || t.contains(QLatin1String("DOUB"))
        || t.contains(QLatin1String("NUMERIC")) || t.contains(QLatin1String("DECIMAL"))
        || t.contains(QLatin1String("MONEY")) || t.contains(QLatin1String("CURRENCY")))
        return FieldType::Real;
    return FieldType::Text;
}

QString formatNumber(double value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', 15);
}

QString engineError(const QSqlQuery &query)
{
    return engineErrorText(query);
}

[[noreturn]] void fail(const QString &what, const QSqlQuery &query)
{
    const QString text = engineError(query);
    if (text.contains(QLatin1String("locked"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("busy"), Qt::CaseInsensitive))
        throw Error(QStringLiteral("数据库正被其他操作占用(已锁定),请稍后再试。\n%1").arg(text));
    throw Error(QStringLiteral("%1: %2").arg(what, text));
}

QSqlQuery prepared(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        fail(QStringLiteral("数据库无法执行语句 \"%1\"").arg(sql), query);
    return query;
}

void run(QSqlQuery &query, const QString &what)
{
    if (!query.exec())
        fail(what, query);
}

}

RecordSet::RecordSet(Connection &connection, const QString &sql)
    : m_connection(connection), m_sql(sql)
{
    m_cache.setMaxCost(cacheRows);
    m_queryCache.setMaxCost(cacheRows);
    m_translated = translateSql(sql);
    const PlainSelect plain = parsePlainSelect(m_translated);
    bool isTable = false;
    if (plain.matches) {
        QSqlQuery q = prepared(connection.database(),
                               QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name=? COLLATE NOCASE"));
        q.addBindValue(plain.table);
        run(q, QStringLiteral("读取表结构失败"));
        if (q.next()) {
            isTable = true;
            m_table = q.value(0).toString();
        }
    }
    if (isTable)
        openTable(m_table, plain.condition);
    else
        openQuery();
    for (int i = 0; i < m_fields.size(); ++i)
        m_fieldByName.insert(m_fields[i].name.toLower(), i);
    m_recNo = recordCount() > 0 ? 0 : -1;
    if (m_recNo == 0)
        valuesAt(0);
}

RecordSet::~RecordSet() = default;

void RecordSet::openTable(const QString &table, const QString &condition)
{
    m_readOnly = false;
    m_condition = condition;
    const QSqlDatabase db = m_connection.database();
    QSqlQuery info = prepared(db, QStringLiteral("PRAGMA table_info(%1)").arg(quotedIdentifier(table)));
    run(info, QStringLiteral("读取表结构失败"));
    while (info.next())
        m_fields.append({info.value(1).toString(), typeFromDeclaration(info.value(2).toString())});

    // The snapshot: the rows up to the largest rowid now, and how many they
    // are, read in one statement so both see the same table. A plain count
    // lets the engine use its fastest index.
    QSqlQuery snapshot = prepared(db, QStringLiteral("SELECT (SELECT max(rowid) FROM %1), (SELECT count(*) FROM %1%2)")
                                          .arg(quotedIdentifier(table),
                                               condition.isEmpty() ? QString()
                                                                   : QStringLiteral(" WHERE (%1)").arg(condition)));
    run(snapshot, QStringLiteral("无法打开 %1").arg(m_sql));
    if (snapshot.next()) {
        m_maxRowid = snapshot.value(0).toLongLong();
        m_baseRemaining = snapshot.value(1).toInt();
    }
    ensureKnown(0);
}

void RecordSet::openQuery()
{
    m_readOnly = true;
    // The statement is wrapped as a subquery for counting and paging: a closing
    // ";" must go, and a trailing comment must not swallow the ")".
    m_translated = m_translated.trimmed();
    while (m_translated.endsWith(QLatin1Char(';')))
        m_translated = m_translated.chopped(1).trimmed();
    m_translated += QLatin1Char('\n');
    // Column names and declared types from the engine itself, so that a date
    // column shows as a date also in a join.
    auto *handle = static_cast<sqlite3 *>(m_connection.nativeHandle());
    if (!handle)
        throw Error(QStringLiteral("数据库没有连接。"));
    sqlite3_stmt *stmt = nullptr;
    const QByteArray utf8 = m_translated.toUtf8();
    if (sqlite3_prepare_v2(handle, utf8.constData(), int(utf8.size()), &stmt, nullptr) != SQLITE_OK || !stmt) {
        const QString text = QString::fromUtf8(sqlite3_errmsg(handle));
        sqlite3_finalize(stmt);
        throw Error(QStringLiteral("数据库无法执行语句 \"%1\": %2").arg(m_sql, text));
    }
    if (!sqlite3_stmt_readonly(stmt)) {
        sqlite3_finalize(stmt);
        throw Error(QStringLiteral("语句不是查询,不能打开为记录集: %1").arg(m_sql));
    }
    const int columns = sqlite3_column_count(stmt);
    for (int i = 0; i < columns; ++i) {
        const char *decl = sqlite3_column_decltype(stmt, i);
        m_fields.append({QString::fromUtf8(sqlite3_column_name(stmt, i)),
                         typeFromDeclaration(decl ? QString::fromUtf8(decl) : QString())});
    }
    sqlite3_finalize(stmt);

    QSqlQuery count = prepared(m_connection.database(),
                               QStringLiteral("SELECT count(*) FROM (%1)").arg(m_translated));
    run(count, QStringLiteral("无法打开 %1").arg(m_sql));
    m_queryCount = count.next() ? count.value(0).toInt() : 0;
}

QString RecordSet::baseFilter() const
{
    QString filter = QStringLiteral("rowid <= ?");
    if (!m_condition.isEmpty())
        filter += QStringLiteral(" AND (%1)").arg(m_condition);
    return filter;
}

int RecordSet::fieldIndex(const QString &name) const
{
    return m_fieldByName.value(name.toLower(), -1);
}

int RecordSet::underlyingCount() const
{
    return m_readOnly ? m_queryCount : int(m_order.size()) + m_baseRemaining;
}

int RecordSet::recordCount() const
{
    return underlyingCount() + (m_state == DataSetState::Insert ? 1 : 0);
}

int RecordSet::underlyingIndex(int row) const
{
    if (m_state != DataSetState::Insert)
        return row;
    if (row == m_insertPos)
        return -1;
    return row > m_insertPos ? row - 1 : row;
}

bool RecordSet::ensureKnown(int underlying)
{
    while (underlying >= m_order.size() && m_baseRemaining > 0) {
        const int wanted = qMin(m_baseRemaining, qMax(pageSize, int(underlying - m_order.size() + 1)));
        const bool rowidsOnly = wanted > rowidOnlyThreshold;
        QSqlQuery q = prepared(m_connection.database(),
                               QStringLiteral("SELECT rowid%1 FROM %2 WHERE rowid > ? AND %3 ORDER BY rowid LIMIT ?")
                                   .arg(rowidsOnly ? QString() : QStringLiteral(", *"),
                                        quotedIdentifier(m_table), baseFilter()));
        q.addBindValue(m_lastBaseRowid);
        q.addBindValue(m_maxRowid);
        q.addBindValue(wanted);
        run(q, QStringLiteral("读取记录失败"));
        int got = 0;
        while (q.next()) {
            const qint64 rowid = q.value(0).toLongLong();
            m_lastBaseRowid = rowid;
            ++got;
            if (m_localInserted.contains(rowid))
                continue;
            m_order.append(rowid);
            if (!rowidsOnly) {
                auto *values = new Values(m_fields.size());
                for (int i = 0; i < m_fields.size(); ++i)
                    (*values)[i] = q.value(i + 1);
                m_cache.insert(rowid, values);
                ++m_rowsFetched;
            }
        }
        m_baseRemaining -= got;
        if (got < wanted) {
            // Rows were deleted behind this set's back: the count shrinks.
            m_baseRemaining = 0;
            scheduleCountCheck();
        }
    }
    return underlying < m_order.size();
}

qint64 RecordSet::rowidAt(int underlying)
{
    return ensureKnown(underlying) ? m_order.at(underlying) : -1;
}

RecordSet::Values RecordSet::readRow(qint64 rowid)
{
    QSqlQuery q = prepared(m_connection.database(),
                           QStringLiteral("SELECT * FROM %1 WHERE rowid = ?").arg(quotedIdentifier(m_table)));
    q.addBindValue(rowid);
    run(q, QStringLiteral("读取记录失败"));
    Values values(m_fields.size());
    if (q.next()) {
        for (int i = 0; i < m_fields.size(); ++i)
            values[i] = q.value(i);
        ++m_rowsFetched;
    }
    m_cache.insert(rowid, new Values(values));
    return values;
}

void RecordSet::fetchValuesAround(int underlying)
{
    if (m_readOnly) {
        const int start = underlying - underlying % pageSize;
        QSqlQuery q = prepared(m_connection.database(),
                               QStringLiteral("SELECT * FROM (%1) LIMIT ? OFFSET ?").arg(m_translated));
        q.addBindValue(pageSize);
        q.addBindValue(start);
        run(q, QStringLiteral("读取记录失败"));
        int pos = start;
        while (q.next()) {
            auto *values = new Values(m_fields.size());
            for (int i = 0; i < m_fields.size(); ++i)
                (*values)[i] = q.value(i);
            m_queryCache.insert(pos++, values);
            ++m_rowsFetched;
        }
        if (pos <= underlying)
            m_queryCache.insert(underlying, new Values(m_fields.size()));
        return;
    }
    if (!ensureKnown(underlying))
        return;
    const int from = qMax(0, underlying - pageSize / 2);
    const int to = qMin(int(m_order.size()), from + pageSize);
    QVector<qint64> missing;
    for (int i = from; i < to; ++i)
        if (!m_cache.contains(m_order.at(i)))
            missing.append(m_order.at(i));
    if (missing.isEmpty())
        return;
    QStringList marks;
    for (int i = 0; i < missing.size(); ++i)
        marks << QStringLiteral("?");
    QSqlQuery q = prepared(m_connection.database(),
                           QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid IN (%2)")
                               .arg(quotedIdentifier(m_table), marks.join(QLatin1Char(','))));
    for (qint64 id : missing)
        q.addBindValue(id);
    run(q, QStringLiteral("读取记录失败"));
    QSet<qint64> found;
    while (q.next()) {
        const qint64 rowid = q.value(0).toLongLong();
        auto *values = new Values(m_fields.size());
        for (int i = 0; i < m_fields.size(); ++i)
            (*values)[i] = q.value(i + 1);
        m_cache.insert(rowid, values);
        found.insert(rowid);
        ++m_rowsFetched;
    }
    // A row deleted elsewhere shows empty rather than failing.
    for (qint64 id : missing)
        if (!found.contains(id))
            m_cache.insert(id, new Values(m_fields.size()));
}

RecordSet::Values RecordSet::valuesAt(int underlying)
{
    if (m_readOnly) {
        if (underlying < 0 || underlying >= m_queryCount)
            return Values(m_fields.size());
        if (!m_queryCache.contains(underlying))
            fetchValuesAround(underlying);
        if (const Values *v = m_queryCache.object(underlying))
            return *v;
        return Values(m_fields.size());
    }
    const qint64 rowid = rowidAt(underlying);
    if (rowid < 0)
        return Values(m_fields.size());
    if (!m_cache.contains(rowid))
        fetchValuesAround(underlying);
    if (const Values *v = m_cache.object(rowid))
        return *v;
    return readRow(rowid);
}

RecordSet::Values RecordSet::rowValues(int row) const
{
    if (m_state != DataSetState::Browse && row == m_recNo)
        return m_buffer;
    const int u = underlyingIndex(row);
    if (u < 0)
        return m_buffer;
    return const_cast<RecordSet *>(this)->valuesAt(u);
}

QString RecordSet::displayText(const QVariant &value, FieldType type)
{
    if (value.isNull() || !value.isValid())
        return {};
    switch (type) {
    case FieldType::Date: {
        if (value.typeId() != QMetaType::QString)
            return value.toString();
        const QDate date = QDate::fromString(value.toString(), Qt::ISODate);
        return date.isValid() ? formatShortDate(date) : value.toString();
    }
    case FieldType::Real:
    case FieldType::Integer:
        if (value.typeId() == QMetaType::Double)
            return formatNumber(value.toDouble());
        return value.toString();
    case FieldType::Text:
        if (value.typeId() == QMetaType::Double)
            return formatNumber(value.toDouble());
        return value.toString();
    }
    return value.toString();
}

QString RecordSet::text(int row, int column) const
{
    if (row < 0 || row >= recordCount() || column < 0 || column >= m_fields.size())
        return {};
    const QVariant v = rowValues(row).value(column);
    // Text typed into the pending record shows as typed.
    if (m_state != DataSetState::Browse && row == m_recNo && m_changed.value(column))
        return v.toString();
    return displayText(v, m_fields[column].type);
}

QString RecordSet::fieldText(const QString &name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw Error(QStringLiteral("找不到字段 \"%1\"").arg(name));
    return m_recNo < 0 ? QString() : text(m_recNo, i);
}

QVariant RecordSet::fieldValue(const QString &name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw Error(QStringLiteral("找不到字段 \"%1\"").arg(name));
    return m_recNo < 0 ? QVariant() : rowValues(m_recNo).value(i);
}

void RecordSet::setFieldText(const QString &name, const QString &text)
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw Error(QStringLiteral("找不到字段 \"%1\"").arg(name));
    if (m_state == DataSetState::Browse)
        throw Error(QStringLiteral("记录不在编辑或新增状态,不能修改字段 \"%1\"").arg(name));
    m_buffer[i] = text;
    m_changed[i] = true;
    m_modified = true;
    emit dataChanged(index(m_recNo, i), index(m_recNo, i));
    emit fieldChanged(i);
}

bool RecordSet::hasPendingChanges() const
{
    if (m_state == DataSetState::Browse)
        return false;
    if (m_modified)
        return true;
    for (const EditorLink &link : m_links)
        if (link.isModified && link.isModified())
            return true;
    return false;
}

void RecordSet::setCurrent(int row)
{
    const int old = m_recNo;
    m_recNo = row;
    if (row >= 0)
        rowValues(row);
    if (old >= 0 && old < recordCount())
        emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0)
        emit headerDataChanged(Qt::Vertical, row, row);
    emit recordChanged();
}

void RecordSet::moveTo(int row)
{
    if (isEmpty())
        return;
    row = qBound(0, row, recordCount() - 1);
    m_eof = m_bof = false;
    if (row == m_recNo)
        return;
    if (m_state != DataSetState::Browse) {
        const bool pendingInsert = m_state == DataSetState::Insert;
        const int insertPos = m_insertPos;
        const int before = recordCount();
        checkBrowseMode();
        if (pendingInsert && recordCount() < before && row > insertPos)
            --row;
    }
    setCurrent(qBound(0, row, recordCount() - 1));
}

void RecordSet::first()
{
    if (isEmpty()) {
        m_eof = m_bof = true;
        return;
    }
    moveTo(0);
    m_bof = true;
}

void RecordSet::last()
{
    if (isEmpty()) {
        m_eof = m_bof = true;
        return;
    }
    moveTo(recordCount() - 1);
    m_eof = true;
}

void RecordSet::next()
{
    if (isEmpty() || m_recNo >= recordCount() - 1) {
        if (m_state != DataSetState::Browse)
            checkBrowseMode();
        m_eof = true;
        return;
    }
    moveTo(m_recNo + 1);
}

void RecordSet::prior()
{
    if (isEmpty() || m_recNo <= 0) {
        if (m_state != DataSetState::Browse)
            checkBrowseMode();
        m_bof = true;
        return;
    }
    moveTo(m_recNo - 1);
}

void RecordSet::requireWritable() const
{
    if (m_readOnly)
        throw Error(QStringLiteral("查询结果是只读的,不能修改: %1").arg(m_sql));
}

void RecordSet::runEditorHooks()
{
    const auto links = m_links;
    for (const EditorLink &link : links)
        if (link.updateRecord)
            link.updateRecord();
}

void RecordSet::checkBrowseMode()
{
    if (m_state == DataSetState::Browse)
        return;
    runEditorHooks();
    if (m_modified)
        post();
    else
        cancel();
}

void RecordSet::insert()
{
    requireWritable();
    checkBrowseMode();
    const int pos = qMax(0, m_recNo);
    beginInsertRows({}, pos, pos);
    m_state = DataSetState::Insert;
    m_insertPos = pos;
    m_buffer = Values(m_fields.size());
    m_changed = QVector<bool>(m_fields.size(), false);
    m_modified = false;
    endInsertRows();
    m_eof = m_bof = false;
    emit stateChanged();
    setCurrent(pos);
}

void RecordSet::edit()
{
    if (m_state != DataSetState::Browse)
        return;
    requireWritable();
    if (isEmpty()) {
        insert();
        return;
    }
    m_buffer = rowValues(m_recNo);
    m_changed = QVector<bool>(m_fields.size(), false);
    m_modified = false;
    m_state = DataSetState::Edit;
    emit stateChanged();
    emit recordChanged();
}

void RecordSet::cancel()
{
    if (m_state == DataSetState::Browse)
        return;
    if (m_state == DataSetState::Edit) {
        m_state = DataSetState::Browse;
        m_buffer.clear();
        m_modified = false;
        emit dataChanged(index(m_recNo, 0), index(m_recNo, columnCount() - 1));
        emit stateChanged();
        emit recordChanged();
        return;
    }
    const int pos = m_insertPos;
    beginRemoveRows({}, pos, pos);
    m_state = DataSetState::Browse;
    m_insertPos = -1;
    m_buffer.clear();
    m_modified = false;
    endRemoveRows();
    emit stateChanged();
    m_recNo = -1;
    setCurrent(recordCount() == 0 ? -1 : qMin(pos, recordCount() - 1));
}

QVariant RecordSet::storageValue(int field, const QVariant &value) const
{
    if (!m_changed.value(field))
        return value;
    const Field &f = m_fields[field];
    const QString text = value.toString();
    if (f.type == FieldType::Text)
        return text.isEmpty() ? QVariant() : QVariant(text);
    const QString t = text.trimmed();
    if (t.isEmpty())
        return {};
    bool ok = false;
    switch (f.type) {
    case FieldType::Integer: {
        const qlonglong n = t.toLongLong(&ok);
        if (ok)
            return n;
        throw Error(QStringLiteral("字段 \"%1\" 不能接受值 \"%2\": 不是有效的整数。").arg(f.name, text));
    }
    case FieldType::Real: {
        const double d = QLocale::c().toDouble(t, &ok);
        if (ok && std::isfinite(d))
            return d;
        throw Error(QStringLiteral("字段 \"%1\" 不能接受值 \"%2\": 不是有效的数值。").arg(f.name, text));
    }
    case FieldType::Date: {
        const QDate date = parseShortDate(t);
        if (date.isValid())
            return date.toString(Qt::ISODate);
        throw Error(QStringLiteral("字段 \"%1\" 不能接受值 \"%2\": 不是有效的日期(格式 %3)。")
                        .arg(f.name, text, shortDateFormat()));
    }
    case FieldType::Text:
        break;
    }
    return text;
}

QString RecordSet::refusal(const QString &engineText, const QVector<QVariant> &values) const
{
    static const QRegularExpression column(QStringLiteral("failed: (?:[^.\\s,]+\\.)?([^\\s,]+)"));
    const QRegularExpressionMatch m = column.match(engineText);
    if (m.hasMatch()) {
        const int i = fieldIndex(m.captured(1));
        if (i >= 0) {
            QString why = QStringLiteral("不符合该字段的要求");
            if (engineText.contains(QLatin1String("UNIQUE")))
                why = QStringLiteral("与已有记录重复");
            else if (engineText.contains(QLatin1String("NOT NULL")))
                why = QStringLiteral("不能为空");
            else if (engineText.contains(QLatin1String("CHECK")))
                why = QStringLiteral("类型或格式不符合该字段");
            const QString shown = values.value(i).isNull() ? QStringLiteral("(空)")
                                                            : displayText(values.value(i), m_fields[i].type);
            return QStringLiteral("数据库拒绝保存: 字段 \"%1\" 的值 \"%2\" %3。\n(%4)")
                .arg(m_fields[i].name, shown, why, engineText);
        }
    }
    return QStringLiteral("数据库拒绝保存记录: %1").arg(engineText);
}

void RecordSet::post()
{
    if (m_state == DataSetState::Browse)
        return;
    runEditorHooks();
    QVector<QVariant> values(m_fields.size());
    for (int i = 0; i < m_fields.size(); ++i)
        values[i] = storageValue(i, m_buffer.value(i));

    const QSqlDatabase db = m_connection.database();
    const QString table = quotedIdentifier(m_table);
    if (m_state == DataSetState::Insert) {
        QStringList names, marks;
        QVector<QVariant> bound;
        for (int i = 0; i < m_fields.size(); ++i) {
            if (values[i].isNull())
                continue;
            names << quotedIdentifier(m_fields[i].name);
            marks << QStringLiteral("?");
            bound << values[i];
        }
        const QString sql = names.isEmpty()
                                ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
                                : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                      .arg(table, names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
        QSqlQuery q = prepared(db, sql);
        for (const QVariant &v : bound)
            q.addBindValue(v);
        if (!q.exec())
            throw Error(refusal(engineError(q), values));
        const qint64 rowid = q.lastInsertId().toLongLong();
        m_order.insert(m_insertPos, rowid);
        m_localInserted.insert(rowid);
        readRow(rowid);
        m_insertPos = -1;
    } else {
        QStringList sets;
        QVector<QVariant> bound;
        for (int i = 0; i < m_fields.size(); ++i) {
            if (!m_changed.value(i))
                continue;
            sets << QStringLiteral("%1 = ?").arg(quotedIdentifier(m_fields[i].name));
            bound << values[i];
        }
        const qint64 rowid = rowidAt(m_recNo);
        if (!sets.isEmpty()) {
            QSqlQuery q = prepared(db, QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                                           .arg(table, sets.join(QStringLiteral(", "))));
            for (const QVariant &v : bound)
                q.addBindValue(v);
            q.addBindValue(rowid);
            if (!q.exec())
                throw Error(refusal(engineError(q), values));
            if (q.numRowsAffected() == 0)
                throw Error(QStringLiteral("当前记录已不在表 %1 中,无法保存修改。").arg(m_table));
        }
        readRow(rowid);
    }
    invalidateLookups();
    m_state = DataSetState::Browse;
    m_buffer.clear();
    m_modified = false;
    emit dataChanged(index(m_recNo, 0), index(m_recNo, columnCount() - 1));
    emit stateChanged();
    emit recordChanged();
}

void RecordSet::remove()
{
    if (m_state == DataSetState::Insert) {
        cancel();
        return;
    }
    if (isEmpty())
        throw Error(QStringLiteral("Cannot perform this operation on an empty dataset"));
    requireWritable();
    deleteRows({m_recNo});
}

void RecordSet::deleteRows(QList<int> rows)
{
    requireWritable();
    if (m_state == DataSetState::Insert && rows.size() == 1 && rows.first() == m_insertPos) {
        cancel();
        return;
    }
    if (m_state == DataSetState::Insert) {
        // Other rows are meant: the pending record is stored or dropped first.
        const int pos = m_insertPos;
        const int before = recordCount();
        checkBrowseMode();
        if (recordCount() < before) {
            QList<int> shifted;
            for (int r : rows)
                if (r != pos)
                    shifted << (r > pos ? r - 1 : r);
            rows = shifted;
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.isEmpty())
        return;
    if (isEmpty())
        throw Error(QStringLiteral("Cannot perform this operation on an empty dataset"));
    QVector<qint64> ids;
    for (int r : rows) {
        if (r < 0 || r >= recordCount())
            continue;
        ids << rowidAt(r);
    }
    QSqlDatabase db = m_connection.database();
    const bool many = ids.size() > 1;
    if (many && !db.transaction())
        throw Error(QStringLiteral("无法开始事务: %1").arg(db.lastError().text()));
    for (qint64 id : ids) {
        QSqlQuery q = prepared(db, QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(quotedIdentifier(m_table)));
        q.addBindValue(id);
        if (!q.exec()) {
            const QString text = engineError(q);
            if (many)
                db.rollback();
            throw Error(QStringLiteral("数据库拒绝删除记录: %1").arg(text));
        }
    }
    if (many && !db.commit()) {
        const QString text = db.lastError().text();
        db.rollback();
        throw Error(QStringLiteral("数据库拒绝删除记录: %1").arg(text));
    }
    if (m_state == DataSetState::Edit) {
        m_state = DataSetState::Browse;
        m_buffer.clear();
        m_modified = false;
        emit stateChanged();
    }
    for (int i = rows.size() - 1; i >= 0; --i) {
        const int r = rows[i];
        if (r < 0 || r >= m_order.size())
            continue;
        beginRemoveRows({}, r, r);
        m_cache.remove(m_order.at(r));
        m_localInserted.remove(m_order.at(r));
        m_order.removeAt(r);
        endRemoveRows();
    }
    invalidateLookups();
    const int current = m_recNo;
    int removedBefore = 0;
    for (int r : rows)
        if (r < current)
            ++removedBefore;
    m_recNo = -1;
    setCurrent(recordCount() == 0 ? -1 : qMin(current - removedBefore, recordCount() - 1));
}

std::optional<QString> RecordSet::lookup(const QString &keyField, const QString &key, const QString &resultField) const
{
    const int k = fieldIndex(keyField);
    const int r = fieldIndex(resultField);
    if (k < 0 || r < 0)
        throw Error(QStringLiteral("找不到字段 \"%1\"").arg(k < 0 ? keyField : resultField));
    const QString cacheKey = keyField + QChar(0) + resultField + QChar(0) + key;
    const auto cached = m_lookupCache.constFind(cacheKey);
    if (cached != m_lookupCache.constEnd())
        return *cached;
    std::optional<QString> result;
    if (m_readOnly) {
        for (int row = 0; row < m_queryCount; ++row) {
            const Values v = const_cast<RecordSet *>(this)->valuesAt(row);
            if (displayText(v.value(k), m_fields[k].type) == key) {
                result = displayText(v.value(r), m_fields[r].type);
                break;
            }
        }
    } else {
        QString extra;
        if (!m_localInserted.isEmpty()) {
            QStringList ids;
            for (qint64 id : m_localInserted)
                ids << QString::number(id);
            extra = QStringLiteral(" OR rowid IN (%1)").arg(ids.join(QLatin1Char(',')));
        }
        QString filter = QStringLiteral("%1 = ? AND (rowid <= ?%2)").arg(quotedIdentifier(m_fields[k].name), extra);
        if (!m_condition.isEmpty())
            filter += QStringLiteral(" AND (%1)").arg(m_condition);
        QSqlQuery q = prepared(m_connection.database(),
                               QStringLiteral("SELECT %1 FROM %2 WHERE %3 ORDER BY rowid LIMIT 1")
                                   .arg(quotedIdentifier(m_fields[r].name), quotedIdentifier(m_table), filter));
        q.addBindValue(key);
        q.addBindValue(m_maxRowid);
        run(q, QStringLiteral("查找记录失败"));
        if (q.next())
            result = displayText(q.value(0), m_fields[r].type);
    }
    m_lookupCache.insert(cacheKey, result);
    return result;
}

int RecordSet::findRow(const QString &field, const QString &text, bool prefix) const
{
    const int k = fieldIndex(field);
    if (k < 0)
        throw Error(QStringLiteral("找不到字段 \"%1\"").arg(field));
    if (text.isEmpty())
        return -1;
    auto *self = const_cast<RecordSet *>(this);
    if (m_readOnly) {
        for (int row = 0; row < m_queryCount; ++row) {
            const QString shown = displayText(self->valuesAt(row).value(k), m_fields[k].type);
            if (prefix ? shown.startsWith(text) : shown == text)
                return row;
        }
        return -1;
    }
    const QString column = quotedIdentifier(m_fields[k].name);
    const QString table = quotedIdentifier(m_table);
    // Every text that begins with text sorts from text up to text followed by the last code point.
    const char32_t top = 0x10FFFF;
    const QString match = prefix ? QStringLiteral("%1 >= ? AND %1 < ?").arg(column) : QStringLiteral("%1 = ?").arg(column);
    auto bindMatch = [&](QSqlQuery &q) {
        q.addBindValue(text);
        if (prefix)
            q.addBindValue(text + QString::fromUcs4(&top, 1));
    };
    QString local;
    if (!m_localInserted.isEmpty()) {
        QStringList ids;
        for (qint64 id : m_localInserted)
            ids << QString::number(id);
        local = ids.join(QLatin1Char(','));
    }
    const QString notLocal = local.isEmpty() ? QString() : QStringLiteral(" AND rowid NOT IN (%1)").arg(local);
    const QSqlDatabase db = m_connection.database();
    int found = -1;
    auto consider = [&](int underlying) {
        if (underlying >= 0 && (found < 0 || underlying < found))
            found = underlying;
    };
    // The first matching row of the table as it was opened.
    QSqlQuery base = prepared(db, QStringLiteral("SELECT min(rowid) FROM %1 WHERE %2 AND %3%4")
                                      .arg(table, match, baseFilter(), notLocal));
    bindMatch(base);
    base.addBindValue(m_maxRowid);
    run(base, QStringLiteral("查找记录失败"));
    if (base.next() && !base.value(0).isNull()) {
        const qint64 rowid = base.value(0).toLongLong();
        if (rowid <= m_lastBaseRowid) {
            consider(int(m_order.indexOf(rowid)));
        } else {
            // Not read yet: it comes after the known rows, behind the base rows between.
            QSqlQuery before = prepared(db, QStringLiteral("SELECT count(*) FROM %1 WHERE rowid > ? AND rowid < ? AND %2%3")
                                                .arg(table, baseFilter(), notLocal));
            before.addBindValue(m_lastBaseRowid);
            before.addBindValue(rowid);
            before.addBindValue(m_maxRowid);
            run(before, QStringLiteral("查找记录失败"));
            if (before.next())
                consider(int(m_order.size()) + before.value(0).toInt());
        }
    }
    // Rows added through this set stand where they were added.
    if (!local.isEmpty()) {
        QSqlQuery added = prepared(db, QStringLiteral("SELECT rowid FROM %1 WHERE %2 AND rowid IN (%3)").arg(table, match, local));
        bindMatch(added);
        run(added, QStringLiteral("查找记录失败"));
        while (added.next())
            consider(int(m_order.indexOf(added.value(0).toLongLong())));
    }
    if (found >= 0 && m_state == DataSetState::Insert && found >= m_insertPos)
        ++found;
    return found;
}

bool RecordSet::locate(const QString &keyField, const QString &key)
{
    const int k = fieldIndex(keyField);
    if (k < 0)
        throw Error(QStringLiteral("找不到字段 \"%1\"").arg(keyField));
    checkBrowseMode();
    if (m_readOnly) {
        for (int row = 0; row < m_queryCount; ++row)
            if (displayText(valuesAt(row).value(k), m_fields[k].type) == key) {
                moveTo(row);
                return true;
            }
        return false;
    }
    // The database finds the rows with that key; the first of them in this
    // set's order is the one meant.
    QSqlQuery q = prepared(m_connection.database(),
                           QStringLiteral("SELECT rowid FROM %1 WHERE %2 = ?")
                               .arg(quotedIdentifier(m_table), quotedIdentifier(m_fields[k].name)));
    q.addBindValue(key);
    run(q, QStringLiteral("查找记录失败"));
    QSet<qint64> matches;
    while (q.next())
        matches.insert(q.value(0).toLongLong());
    if (matches.isEmpty())
        return false;
    for (int i = 0;; ++i) {
        if (!ensureKnown(i))
            return false;
        if (matches.contains(m_order.at(i))) {
            moveTo(i);
            return true;
        }
    }
}

int RecordSet::addEditorLink(const EditorLink &link)
{
    const int id = m_nextLinkId++;
    m_links.insert(id, link);
    return id;
}

void RecordSet::removeEditorLink(int id)
{
    m_links.remove(id);
}

void RecordSet::scheduleCountCheck()
{
    if (m_countCheckScheduled)
        return;
    m_countCheckScheduled = true;
    QTimer::singleShot(0, this, &RecordSet::checkCount);
}

void RecordSet::checkCount()
{
    // The count already shrank inside a fetch; tell the views now that no
    // model call is running.
    m_countCheckScheduled = false;
    beginResetModel();
    endResetModel();
    if (m_recNo >= recordCount())
        setCurrent(recordCount() - 1);
}

void RecordSet::reportReadFailure(const QString &text) const
{
    if (m_readFailurePending)
        return;
    m_readFailurePending = true;
    auto *self = const_cast<RecordSet *>(this);
    QMetaObject::invokeMethod(
        self,
        [self, text] {
            self->m_readFailurePending = false;
            emit self->readFailed(text);
        },
        Qt::QueuedConnection);
}

int RecordSet::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : recordCount();
}

int RecordSet::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_fields.size());
}

QVariant RecordSet::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole))
        return {};
    try {
        return text(index.row(), index.column());
    } catch (const Error &e) {
        // A view cannot take an exception; the row shows empty and the
        // failure is reported after the paint.
        reportReadFailure(e.text());
        return {};
    }
}

QVariant RecordSet::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_fields.size() ? QVariant(m_fields[section].name) : QVariant();
    if (section != m_recNo)
        return QString();
    switch (m_state) {
    case DataSetState::Insert:
        return QStringLiteral("*");
    case DataSetState::Edit:
        return QStringLiteral("I");
    case DataSetState::Browse:
        break;
    }
    return QStringLiteral("\u25B6");
}

}
