#include "data/stats/ResultTable.h"

#include "data/MemorySource.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <optional>
#include <vector>

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
    // Each row's key made once: collation keys compare as bytes, far faster
    // than collating the texts at every comparison.
    struct Key
    {
        int row;
        bool null;
        bool text;
        double number;
        std::optional<QCollatorSortKey> collated;
    };
    std::vector<Key> keys;
    keys.reserve(std::size_t(m_rows.size()));
    for (int r = 0; r < m_rows.size(); ++r) {
        const QVariant &v = m_rows[r].keys[column];
        Key k{r, v.isNull(), v.typeId() == QMetaType::QString, 0, std::nullopt};
        if (!k.null && k.text)
            k.collated = collator.sortKey(v.toString());
        else if (!k.null)
            k.number = v.toDouble();
        keys.push_back(std::move(k));
    }
    const bool descending = order == Qt::DescendingOrder;
    std::stable_sort(keys.begin(), keys.end(), [&](const Key &a, const Key &b) {
        if (a.null || b.null)
            return !a.null && b.null;
        int c = 0;
        if (a.text && b.text)
            c = a.collated->compare(*b.collated);
        else if (a.text != b.text)
            c = a.text ? 1 : -1;  // numbers before texts
        else
            c = a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
        return descending ? c > 0 : c < 0;
    });
    QVector<ResultRow> sorted;
    sorted.reserve(m_rows.size());
    for (const Key &k : keys)
        sorted.append(std::move(m_rows[k.row]));
    m_rows = std::move(sorted);
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
