#include "data/RecordSet.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/FieldValue.h"
#include "data/QuerySource.h"
#include "data/ShortDate.h"
#include "data/SqlText.h"
#include "data/TableSource.h"
#include "data/changes/ChangeBatch.h"
#include "data/changes/LoggedTables.h"
#include "data/server/PgSession.h"
#include "data/server/ServerQuerySource.h"
#include "data/server/ServerTableSource.h"

#include <QLocale>
#include <QPointer>
#include <QRegularExpression>
#include <cmath>

namespace dravon {

namespace {

const QString changedElsewhere = QStringLiteral(
    "该记录已被其他用户或程序修改或删除,未保存。当前显示的是数据库中的最新内容,您输入的内容仍保留,可再次保存。");
const QString deletedElsewhere = QStringLiteral(
    "该记录已被其他用户或程序删除,您的修改没有保存,记录已退出编辑状态。");
int deletePartRows = RecordSet::defaultDeletePartRows;

const QString positionsChangedElsewhere =
    QStringLiteral("表中的记录已被其他用户或程序修改,记录的位置已变化,未删除。请重新选择要删除的记录。");
const QString deletedOrChangedElsewhere = QStringLiteral(
    "该记录已被其他用户或程序修改或删除,未删除。当前显示的是数据库中的最新内容。");

}

RecordSet::RecordSet(Connection &connection, const QString &sql)
    : m_connection(connection), m_sql(sql)
{
    const QString translated = translateSql(sql);
    const PlainSelect plain = parsePlainSelect(translated);
    QString table;
    if (connection.isServer()) {
        // On a server the rows come through its session, the statement in
        // the server's dialect.
        if (plain.matches)
            table = serverTableNamed(connection, plain.table);
        if (!table.isEmpty()) {
            try {
                m_source = std::make_unique<ServerTableSource>(connection, table, plain.condition);
            } catch (const pg::ServerError &e) {
                // A condition the server refuses (a column it does not know)
                // is told with the statement, as a refused query is.
                if (e.connectionLost() || e.abortedByServer())
                    throw;
                throw Error(QStringLiteral("数据库无法执行语句 \"%1\": %2").arg(sql, e.text()));
            }
        } else
            m_source = std::make_unique<ServerQuerySource>(connection, sql);
        takeFields();
        return;
    }
    if (!connection.nativeHandle())
        throw Error(QStringLiteral("数据库没有连接。"));
    if (plain.matches) {
        Statement find;
        find.prepare(static_cast<sqlite3 *>(connection.nativeHandle()),
                     QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE"));
        find.bind(1, plain.table);
        if (find.step())
            table = find.value(0).toString();
    }
    if (!table.isEmpty()) {
        m_source = std::make_unique<TableSource>(connection, table, plain.condition);
    } else {
        m_source = std::make_unique<QuerySource>(connection, translated);
    }
    takeFields();
}

RecordSet::RecordSet(Connection &connection, std::unique_ptr<RowSource> source, const QString &description)
    : m_connection(connection), m_sql(description), m_source(std::move(source))
{
    takeFields();
}

void RecordSet::takeFields()
{
    m_fields = m_source->fields();
    for (int i = 0; i < m_fields.size(); ++i) {
        m_fieldByName.insert(m_fields[i].name.toLower(), i);
        m_fieldByName.insert(m_fields[i].name, i);
    }
    connectSource();
    m_recNo = m_source->count() > 0 ? 0 : -1;
}

RecordSet::~RecordSet() = default;

void RecordSet::connectSource()
{
    // The source's rows shift the display rows after them, the pending new
    // record included.
    connect(m_source.get(), &RowSource::aboutToInsert, this, [this](int first, int last) {
        const int n = last - first + 1;
        const int at = displayRow(first);
        m_insertedFirst = at;
        ++m_notifying;  // until inserted(): no fetch may start in between
        beginInsertRows({}, at, at + n - 1);
        if (m_state == DataSetState::Insert && m_insertPos >= at)
            m_insertPos += n;
        if (m_recNo >= at)
            m_recNo += n;
    });
    connect(m_source.get(), &RowSource::inserted, this, [this] {
        endInsertRows();
        --m_notifying;
        if (m_recNo >= 0 && m_insertedFirst <= m_recNo)
            emit headerDataChanged(Qt::Vertical, m_recNo, m_recNo);
    });
    connect(m_source.get(), &RowSource::aboutToReset, this, [this] {
        ++m_notifying;
        beginResetModel();
    });
    connect(m_source.get(), &RowSource::resetDone, this, [this] {
        ++m_resets;
        endResetModel();
        --m_notifying;
        if (m_recNo >= recordCount())
            setCurrent(recordCount() - 1);
    });
    connect(m_source.get(), &RowSource::orderCompleted, this, [this] {
        m_orderDeclined = false;
        if (recordCount() > 0)
            emit dataChanged(index(0, 0), index(recordCount() - 1, columnCount() - 1));
    });
    connect(m_source.get(), &RowSource::countFailed, this,
            [this](const QString &text) { qWarning("record set: rows not counted: %s", qPrintable(text)); });
    connect(m_source.get(), &RowSource::readFailed, this, [this](const QString &text) { reportReadFailure(text); });
}

QString RecordSet::tableName() const
{
    return m_source->tableName();
}

int RecordSet::fieldIndex(const QString &name) const
{
    // Names as declared first: no lower-case copy on the common path.
    const auto exact = m_fieldByName.constFind(name);
    if (exact != m_fieldByName.constEnd())
        return *exact;
    return m_fieldByName.value(name.toLower(), -1);
}

int RecordSet::recordCount() const
{
    return m_source->count() + (m_state == DataSetState::Insert ? 1 : 0);
}

bool RecordSet::countKnown() const
{
    return m_source->countKnown();
}

void RecordSet::waitForCount()
{
    m_source->waitForCount();
}

qint64 RecordSet::rowsFetched() const
{
    return m_source->rowsFetched();
}

int RecordSet::underlyingIndex(int row) const
{
    if (m_state != DataSetState::Insert)
        return row;
    if (row == m_insertPos)
        return -1;
    return row > m_insertPos ? row - 1 : row;
}

int RecordSet::displayRow(int underlying) const
{
    if (m_state != DataSetState::Insert || underlying < m_insertPos)
        return underlying;
    return underlying + 1;
}

RecordSet::Values RecordSet::rowValues(int row) const
{
    if (m_state != DataSetState::Browse && row == m_recNo)
        return m_buffer;
    const int u = underlyingIndex(row);
    if (u < 0)
        return m_buffer;
    return m_source->values(u);
}

void RecordSet::setFieldLabel(const QString &field, const QString &text)
{
    const int i = fieldIndex(field);
    if (i < 0)
        throw Error(QStringLiteral("找不到字段 \"%1\"").arg(field));
    QString shown = text;
    shown.remove(QRegularExpression(QStringLiteral("[\\s\\x{3000}]")));
    while (shown.endsWith(QChar(0xFF1A)) || shown.endsWith(QLatin1Char(':')))
        shown.chop(1);
    if (shown.isEmpty())
        m_labels.remove(i);
    else
        m_labels.insert(i, shown);
}

void RecordSet::setFieldType(const QString &field, FieldType type)
{
    const int i = fieldIndex(field);
    if (i < 0)
        throw Error(QStringLiteral("找不到字段 \"%1\"").arg(field));
    m_fields[i].type = type;
    emit dataChanged(index(0, i), index(qMax(0, recordCount() - 1), i));
}

QString RecordSet::fieldLabel(const QString &field) const
{
    const int i = fieldIndex(field);
    return i < 0 ? field : label(i);
}

QString RecordSet::label(int field) const
{
    return m_labels.value(field, m_fields.value(field).name);
}

QString RecordSet::displayText(const QVariant &value, FieldType type)
{
    return dravon::displayText(value, type);
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
    if (row >= 0) {
        try {
            rowValues(row);
        } catch (const Error &) {
            // The row cannot be read (the connection is lost): the record
            // stays where it was, so that the same move can be made again.
            m_recNo = old;
            emit recordChanged();
            throw;
        }
        m_readFailureShown = false;
    }
    if (old >= 0 && old < recordCount() && old != row)
        emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0)
        emit headerDataChanged(Qt::Vertical, row, row);
    emit recordChanged();
}

void RecordSet::setState(DataSetState state)
{
    m_state = state;
    emit stateChanged();
    // The row indicator shows the state.
    if (m_recNo >= 0 && m_recNo < recordCount())
        emit headerDataChanged(Qt::Vertical, m_recNo, m_recNo);
}

void RecordSet::moveTo(int row)
{
    // While rows come and go the views shift their current index by
    // themselves (a selection model does so while the pending record is
    // being dropped); that is no move of the user's, and must neither store
    // nor drop a record. The set says where it stands once the change is done.
    if (isEmpty() || m_notifying)
        return;
    row = qBound(0, row, recordCount() - 1);
    m_eof = m_bof = false;
    if (row == m_recNo)
        return;
    // A row of a sort whose order is still being read: the move waits for
    // it; when the wait is cancelled the current record stays.
    const int target = underlyingIndex(row);
    if (target >= 0 && !m_source->isKnown(target)) {
        m_orderDeclined = false;
        const QPointer<RecordSet> alive(this);
        if (!awaitOrder()) {
            if (alive)
                emit recordChanged();
            return;
        }
    }
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
    // The last rows are read by themselves; the count is not needed.
    m_source->loadLast();
    moveTo(recordCount() - 1);
    m_eof = true;
}

void RecordSet::next()
{
    if (!isEmpty() && m_recNo >= 0) {
        const bool onPending = m_state == DataSetState::Insert && m_recNo == m_insertPos;
        m_source->learnAfter(onPending ? m_insertPos - 1 : underlyingIndex(m_recNo));
    }
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
    if (!isEmpty() && m_recNo > 0) {
        const bool onPending = m_state == DataSetState::Insert && m_recNo == m_insertPos;
        m_source->learnBefore(onPending ? m_insertPos : underlyingIndex(m_recNo));
    }
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
    if (!m_source->isWritable())
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
    m_source->settle(qMax(0, m_recNo));
    const int pos = qMax(0, m_recNo);
    ++m_notifying;
    beginInsertRows({}, pos, pos);
    m_state = DataSetState::Insert;
    m_insertPos = pos;
    m_buffer = Values(m_fields.size());
    m_original.clear();
    m_changed = QVector<bool>(m_fields.size(), false);
    m_modified = false;
    endInsertRows();
    --m_notifying;
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
    m_original = rowValues(m_recNo);
    m_buffer = m_original;
    m_changed = QVector<bool>(m_fields.size(), false);
    m_modified = false;
    setState(DataSetState::Edit);
    emit recordChanged();
}

void RecordSet::cancel()
{
    if (m_state == DataSetState::Browse)
        return;
    if (m_state == DataSetState::Edit) {
        m_buffer.clear();
        m_original.clear();
        m_modified = false;
        setState(DataSetState::Browse);
        emit dataChanged(index(m_recNo, 0), index(m_recNo, columnCount() - 1));
        emit recordChanged();
        return;
    }
    const int pos = m_insertPos;
    ++m_notifying;
    beginRemoveRows({}, pos, pos);
    m_state = DataSetState::Browse;
    m_insertPos = -1;
    m_buffer.clear();
    m_modified = false;
    endRemoveRows();
    --m_notifying;
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
    ConversionFailure failure = ConversionFailure::None;
    const QVariant stored = storedValue(f.type, text, &failure);
    switch (failure) {
    case ConversionFailure::None:
        return stored.isNull() ? QVariant() : stored;
    case ConversionFailure::NotInteger:
        throw Error(QStringLiteral("字段 \"%1\" 不能接受值 \"%2\": 不是有效的整数。").arg(label(field), text));
    case ConversionFailure::NotNumber:
        throw Error(QStringLiteral("字段 \"%1\" 不能接受值 \"%2\": 不是有效的数值。").arg(label(field), text));
    case ConversionFailure::NotDate:
        throw Error(QStringLiteral("字段 \"%1\" 不能接受值 \"%2\": 不是有效的日期(格式 %3)。")
                        .arg(label(field), text, shortDateFormat()));
    }
    return stored;
}

QString RecordSet::refusal(const QString &engineText, const QVector<QVariant> &values) const
{
    const RefusalReason reason = readRefusal(engineText);
    const int i = reason.column.isEmpty() ? -1 : fieldIndex(reason.column);
    if (i >= 0) {
        const QString shown = values.value(i).isNull() ? QStringLiteral("(空)")
                                                        : displayText(values.value(i), m_fields[i].type);
        return QStringLiteral("数据库拒绝保存: 字段 \"%1\" 的值 \"%2\" %3。\n(%4)")
            .arg(label(i), shown, reason.why, engineText);
    }
    return QStringLiteral("数据库拒绝保存记录: %1").arg(engineText);
}

void RecordSet::completeOrderFirst()
{
    // Writes find their rows by key: the whole order of a sort is read
    // first, outside the write's transaction.
    while (m_source->orderPending())
        m_source->awaitOrder({});
}

void RecordSet::post()
{
    if (m_state == DataSetState::Browse)
        return;
    completeOrderFirst();
    runEditorHooks();
    QVector<QVariant> values(m_fields.size());
    for (int i = 0; i < m_fields.size(); ++i)
        values[i] = storageValue(i, m_buffer.value(i));

    // The store and its log entries are one batch of the change log.
    const bool inserting = m_state == DataSetState::Insert;
    ChangeBatch batch(m_connection, {QStringLiteral("保存"), m_origin,
                                     (inserting ? QStringLiteral("新增 ") : QStringLiteral("修改 "))
                                         + recordsText(tableName(), 1)});
    try {
        if (inserting) {
            // The stored row takes the place the pending record had.
            m_source->insertRow(m_insertPos, values);
            try {
                batch.commit();
            } catch (const Error &) {
                // Not stored after all: the pending record stays as it was.
                m_source->forget(m_insertPos);
                throw;
            }
            m_insertPos = -1;
        } else {
            const int u = underlyingIndex(m_recNo);
            try {
                m_source->updateRow(u, m_original, values, m_changed);
            } catch (const RowSource::Conflict &) {
                // Changed or deleted elsewhere: nothing is written. What is
                // stored now shows; the typed values stay to be applied again.
                const Values now = m_source->reread(u, m_original);
                if (now.isEmpty()) {
                    // Deleted elsewhere: there is no row left to store the
                    // values in, so the edit ends here, said once.
                    cancel();
                    invalidateLookups();
                    throw Error(deletedElsewhere);
                }
                m_original = now;
                for (int i = 0; i < m_fields.size(); ++i)
                    if (!m_changed.value(i))
                        m_buffer[i] = m_original.value(i);
                invalidateLookups();
                emit dataChanged(index(m_recNo, 0), index(m_recNo, columnCount() - 1));
                emit recordChanged();
                throw Error(changedElsewhere);
            }
            try {
                batch.commit();
            } catch (const Error &) {
                // The row as it is stored, not as the failed store read it.
                m_source->reread(u, m_original);
                throw;
            }
        }
    } catch (const RowSource::Refused &refused) {
        throw Error(refusal(refused.engineText, values));
    }
    invalidateLookups();
    m_state = DataSetState::Browse;
    m_buffer.clear();
    m_original.clear();
    m_modified = false;
    setState(DataSetState::Browse);
    emit dataChanged(index(m_recNo, 0), index(m_recNo, columnCount() - 1));
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

void RecordSet::setDeletePartRowsForTesting(int rows)
{
    deletePartRows = qMax(1, rows);
}

bool RecordSet::deleteRows(QList<int> rows, const Progress &progress)
{
    requireWritable();
    if (m_state == DataSetState::Insert && rows.size() == 1 && rows.first() == m_insertPos) {
        cancel();
        return true;
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
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int r) { return r < 0 || r >= recordCount(); }),
               rows.end());
    if (rows.isEmpty()) {
        if (isEmpty())
            throw Error(QStringLiteral("Cannot perform this operation on an empty dataset"));
        return true;
    }
    // The rows meant are those the user saw at these positions: when they
    // moved meanwhile (others changed the table), nothing is deleted.
    const int resets = m_resets;
    completeOrderFirst();
    for (int r : std::as_const(rows))
        if (m_resets == resets)
            m_source->settle(r);
    if (m_resets != resets)
        throw Error(positionsChangedElsewhere);
    // Each row is deleted only as it was read (the edited row as it was
    // before editing). The rows are read and deleted a part at a time, so
    // that the values of a whole large table are never held at once and the
    // progress can be shown and cancelled between parts; all parts are one
    // batch, so a cancel, a refusal or a row changed elsewhere deletes none.
    const int many = int(rows.size());
    enum class Outcome { Deleted, Cancelled, Changed, Moved };
    Outcome outcome = Outcome::Deleted;
    QVector<int> positions;
    QVector<Values> read;
    bool eventsRan = false;
    {
        ChangeBatch batch(m_connection, {many > 1 ? QStringLiteral("批量删除") : QStringLiteral("删除"), m_origin,
                                         QStringLiteral("删除 ") + recordsText(tableName(), many)});
        try {
            for (int from = 0; from < many && outcome == Outcome::Deleted; from += deletePartRows) {
                if (progress) {
                    eventsRan = true;
                    if (!progress(from, many)) {
                        outcome = Outcome::Cancelled;
                        break;
                    }
                    // Events ran: the set may have been laid out anew meanwhile.
                    if (m_resets != resets) {
                        outcome = Outcome::Moved;
                        break;
                    }
                }
                positions.clear();
                read.clear();
                for (int i = from; i < many && i < from + deletePartRows; ++i) {
                    const int r = rows[i];
                    positions << r;
                    read << (m_state == DataSetState::Edit && r == m_recNo ? m_original : m_source->values(r));
                }
                try {
                    m_source->deleteRows(positions, read);
                } catch (const RowSource::Conflict &) {
                    outcome = Outcome::Changed;
                }
            }
            if (outcome == Outcome::Deleted)
                batch.commit();
        } catch (const RowSource::Refused &refused) {
            if (eventsRan)
                forgetValuesShown();
            throw Error(QStringLiteral("数据库拒绝删除记录: %1").arg(refused.engineText));
        } catch (...) {
            if (eventsRan)
                forgetValuesShown();
            throw;
        }
    }
    if (outcome != Outcome::Deleted && eventsRan) {
        // Rows read while the parts before were deleted (a paint in between)
        // may be remembered as gone: they are all back.
        forgetValuesShown();
    }
    if (outcome == Outcome::Cancelled)
        return false;
    if (outcome == Outcome::Moved)
        throw Error(positionsChangedElsewhere);
    if (outcome == Outcome::Changed) {
        // The rows of the parts before were deleted as read, so they are
        // unchanged; the part that met the changed row is read again.
        for (int i = 0; i < positions.size(); ++i) {
            const Values now = m_source->reread(positions[i], read[i]);
            if (m_state == DataSetState::Edit && positions[i] == m_recNo) {
                m_original = now;
                for (int f = 0; f < m_fields.size(); ++f)
                    if (!m_changed.value(f))
                        m_buffer[f] = now.value(f);
            }
            emit dataChanged(index(positions[i], 0), index(positions[i], columnCount() - 1));
        }
        invalidateLookups();
        emit recordChanged();
        throw Error(deletedOrChangedElsewhere);
    }
    if (m_state == DataSetState::Edit) {
        m_buffer.clear();
        m_original.clear();
        m_modified = false;
        setState(DataSetState::Browse);
    }
    forgetDeleted(rows);
    invalidateLookups();
    const int current = m_recNo;
    int removedBefore = 0;
    for (int r : std::as_const(rows))
        if (r < current)
            ++removedBefore;
    m_recNo = -1;
    setCurrent(recordCount() == 0 ? -1 : qMin(current - removedBefore, recordCount() - 1));
    return true;
}

void RecordSet::forgetValuesShown()
{
    m_source->forgetValues();
    invalidateLookups();
    if (recordCount() > 0)
        emit dataChanged(index(0, 0), index(recordCount() - 1, columnCount() - 1));
}

void RecordSet::forgetDeleted(const QList<int> &rows)
{
    // Runs of neighbouring rows (ascending), told to the views last run
    // first so that the positions of the runs before stay as they were.
    QVector<std::pair<int, int>> runs;
    for (int r : rows) {
        if (!runs.isEmpty() && runs.last().second + 1 == r)
            runs.last().second = r;
        else
            runs.append({r, r});
    }
    // A view spends time in proportion to all its rows on each removal (a
    // grid's row header walks every row), so many runs are told at once as
    // a new set of rows; the current row is set again afterwards either way.
    ++m_notifying;
    const bool atOnce = runs.size() > maxRunsToldApart;
    if (atOnce)
        beginResetModel();
    for (auto run = runs.crbegin(); run != runs.crend(); ++run) {
        if (!atOnce)
            beginRemoveRows({}, run->first, run->second);
        m_source->forgetRows(run->first, run->second);
        if (!atOnce)
            endRemoveRows();
    }
    if (atOnce)
        endResetModel();
    --m_notifying;
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
    if (const std::optional<QVariant> found = m_source->lookup(k, key, r))
        result = displayText(*found, m_fields[r].type);
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
    const std::optional<int> row = m_source->find(k, text, prefix);
    return row ? displayRow(*row) : -1;
}

bool RecordSet::locate(const QString &keyField, const QString &key)
{
    const int k = fieldIndex(keyField);
    if (k < 0)
        throw Error(QStringLiteral("找不到字段 \"%1\"").arg(keyField));
    checkBrowseMode();
    const std::optional<int> row = m_source->find(k, key, false);
    if (!row)
        return false;
    moveTo(*row);
    return true;
}

bool RecordSet::sortBy(int field, bool descending, const Progress &progress)
{
    if (m_state != DataSetState::Browse || field < 0 || field >= m_fields.size())
        return false;
    const std::optional<int> kept = m_source->sortBy(field, descending, m_recNo, progress);
    if (!kept)
        return false;
    m_orderDeclined = false;
    m_recNo = -1;
    m_eof = m_bof = false;
    setCurrent(*kept >= 0 ? *kept : (recordCount() > 0 ? 0 : -1));
    emit orderChanged();
    return true;
}

qint64 RecordSet::keyOfRow(int row) const
{
    if (row < 0 || row >= recordCount())
        return -1;
    const int u = underlyingIndex(row);
    return u < 0 ? -1 : m_source->keyOfRow(u);
}

int RecordSet::rowOfKey(qint64 key) const
{
    const std::optional<int> row = m_source->rowOfKey(key);
    return row ? displayRow(*row) : -1;
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

void RecordSet::reportReadFailure(const QString &text) const
{
    if (m_readFailurePending || m_readFailureShown)
        return;
    m_readFailurePending = true;
    auto *self = const_cast<RecordSet *>(this);
    QMetaObject::invokeMethod(
        self,
        [self, text] {
            self->m_readFailurePending = false;
            self->m_readFailureShown = true;
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

bool RecordSet::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_notifying && !m_source->countKnown();
}

void RecordSet::fetchMore(const QModelIndex &parent)
{
    // Not while the views hear of rows just added: the rows come one page at a time.
    if (parent.isValid() || m_notifying)
        return;
    try {
        m_source->fetchMore();
        m_readFailureShown = false;
    } catch (const Error &e) {
        reportReadFailure(e.text());
    }
}

bool RecordSet::awaitOrder()
{
    if (!m_source->orderPending())
        return true;
    // One wait at a time: a view's request that comes up while the
    // progress of another wait paints is that wait's.
    if (m_awaitingOrder)
        return false;
    m_awaitingOrder = true;
    // The wait runs events (its progress): the window may be closed meanwhile.
    const QPointer<RecordSet> alive(this);
    bool done = false;
    auto work = [this, alive, &done](const Progress &progress) {
        if (alive)
            done = m_source->awaitOrder(progress);
    };
    try {
        if (m_longWait)
            m_longWait(work);
        else
            work({});
    } catch (...) {
        if (alive)
            m_awaitingOrder = false;
        throw;
    }
    if (!alive)
        return false;
    m_awaitingOrder = false;
    // Cancelled: the rows known stay shown, the others empty until asked for.
    m_orderDeclined = !done;
    return done;
}

void RecordSet::requestOrder() const
{
    if (m_orderRequested || m_orderDeclined)
        return;
    m_orderRequested = true;
    QMetaObject::invokeMethod(
        const_cast<RecordSet *>(this),
        [this] {
            m_orderRequested = false;
            if (m_orderDeclined || m_awaitingOrder)
                return;
            try {
                const_cast<RecordSet *>(this)->awaitOrder();
            } catch (const Error &e) {
                reportReadFailure(e.text());
            }
        },
        Qt::QueuedConnection);
}

QVariant RecordSet::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole))
        return {};
    // A view never waits inside a paint: a row whose place in a sort is not
    // known yet shows empty, and the wait for it follows the paint.
    const int u = underlyingIndex(index.row());
    if (u >= 0 && !m_source->isKnown(u)) {
        requestOrder();
        return {};
    }
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
