#include "data/stats/ResultTable.h"

#include "data/stats/MarkFigures.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <cmath>
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
    row.texts.resize(m_columns.size());
    row.keys.resize(m_columns.size());
    m_rows.append(std::move(row));
    return m_rows.last();
}

void ResultTable::setText(ResultRow &row, int column, const QString &text)
{
    row.texts[column] = text.isEmpty() ? QVariant() : QVariant(text);
    row.keys[column] = row.texts[column];
}

void ResultTable::setTextWithKey(ResultRow &row, int column, const QString &text, const QVariant &key)
{
    row.texts[column] = text.isEmpty() ? QVariant() : QVariant(text);
    row.keys[column] = key;
}

void ResultTable::setNumber(ResultRow &row, int column, double value)
{
    row.keys[column] = value;
}

QString FormatNumber(double value, NumberFormat format)
{
    switch (format) {
    case NumberFormat::Whole:
        return QString::number(qint64(std::llround(value)));
    case NumberFormat::OneDecimal:
        return OneDecimal(value);
    case NumberFormat::Rate:
        return RateText(value);
    case NumberFormat::TwoDecimals:
        return TwoDecimals(value);
    }
    return {};
}

QString ResultTable::cellText(int row, int column) const
{
    const ResultRow &r = m_rows[row];
    const ResultColumn &c = m_columns[column];
    if (c.type == dravon::FieldType::Text)
        return r.texts[column].toString();
    const QVariant &key = r.keys[column];
    return key.isNull() ? QString() : FormatNumber(key.toDouble(), c.format);
}

dravon::Values ResultTable::rowTexts(int row) const
{
    dravon::Values values(m_columns.size());
    for (int c = 0; c < m_columns.size(); ++c) {
        const QString text = cellText(row, c);
        if (!text.isEmpty())
            values[c] = text;
    }
    return values;
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

namespace {

// The rows of a table, their numbers written when a row is asked for. A grid
// asks for each cell of a row in turn: the row last written is kept.
class ResultSource : public dravon::RowSource
{
public:
    ResultSource(dravon::Connection &connection, const ResultTable &table)
        : RowSource(connection), m_table(table)
    {
        for (const ResultColumn &c : table.columns())
            m_fields.append({c.name, c.type});
        m_rowsFetched = table.rowCount();
    }
    int count() const override { return m_table.rowCount(); }
    bool countKnown() const override { return true; }
    bool ensure(int row) override { return row >= 0 && row < count(); }
    bool fetchMore() override { return false; }
    int loadLast() override { return count() - 1; }
    dravon::Values values(int row) override
    {
        if (row < 0 || row >= count())
            return dravon::Values(m_fields.size());
        if (remembers(row))
            return remembered();
        return remember(row, m_table.rowTexts(row));
    }

protected:
    void applyCount(const dravon::RowCounter::Result &) override {}

private:
    const ResultTable m_table;  // shares the rows with the caller's table
};

}

std::unique_ptr<dravon::RecordSet> ResultTable::toRecordSet(dravon::Connection &connection,
                                                            const QString &description) const
{
    return std::make_unique<dravon::RecordSet>(connection, std::make_unique<ResultSource>(connection, *this),
                                               description);
}

}
