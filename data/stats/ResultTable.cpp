#include "data/stats/ResultTable.h"

#include "data/MemorySource.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>

namespace stats {

ResultTable::ResultTable(const QVector<ResultColumn> &columns) : m_columns(columns) {}

int ResultTable::columnIndex(const QString &name) const
{
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].name == name)
            return i;
    return -1;
}

ResultRow &ResultTable::addRow()
{
    ResultRow row;
    row.shown.resize(m_columns.size());
    row.keys.resize(m_columns.size());
    m_rows.append(std::move(row));
    return m_rows.last();
}

void ResultTable::setText(ResultRow &row, int column, const QString &text)
{
    row.shown[column] = text.isEmpty() ? QVariant() : QVariant(text);
    row.keys[column] = row.shown[column];
}

void ResultTable::setNumber(ResultRow &row, int column, double value, const QString &text)
{
    row.shown[column] = text;
    row.keys[column] = value;
}

void ResultTable::setCount(ResultRow &row, int column, qint64 value)
{
    setNumber(row, column, double(value), QString::number(value));
}

void ResultTable::setTextWithKey(ResultRow &row, int column, const QString &text, const QVariant &key)
{
    row.shown[column] = text.isEmpty() ? QVariant() : QVariant(text);
    row.keys[column] = key;
}

void ResultTable::sortBy(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= m_columns.size())
        return;
    QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    collator.setNumericMode(true);
    const bool descending = order == Qt::DescendingOrder;
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](const ResultRow &a, const ResultRow &b) {
        const QVariant &x = a.keys[column];
        const QVariant &y = b.keys[column];
        if (x.isNull() || y.isNull())
            return !x.isNull() && y.isNull();
        int c = 0;
        if (x.typeId() == QMetaType::QString || y.typeId() == QMetaType::QString)
            c = collator.compare(x.toString(), y.toString());
        else
            c = x.toDouble() < y.toDouble() ? -1 : (x.toDouble() > y.toDouble() ? 1 : 0);
        return descending ? c > 0 : c < 0;
    });
}

std::unique_ptr<dravon::RecordSet> ResultTable::toRecordSet(dravon::Connection &connection,
                                                            const QString &description) const
{
    QVector<dravon::Field> fields;
    for (const ResultColumn &c : m_columns)
        fields.append({c.name, c.type});
    QVector<dravon::Values> rows;
    rows.reserve(m_rows.size());
    for (const ResultRow &r : m_rows)
        rows.append(r.shown);
    auto source = std::make_unique<dravon::MemorySource>(connection, fields, std::move(rows));
    return std::make_unique<dravon::RecordSet>(connection, std::move(source), description);
}

}
