#pragma once
// Rows computed by the program, ready for a grid: each column has a name, a
// type (numbers export as numbers) and, per row, the text shown and the value
// it sorts by. Opened as a read-only record set, so the grids' export and
// print commands take the rows as shown, in the order shown.
#include "data/RecordSet.h"

#include <QString>
#include <QVariant>
#include <QVector>
#include <memory>

namespace stats {

struct ResultColumn
{
    QString name;
    dravon::FieldType type = dravon::FieldType::Text;
};

struct ResultRow
{
    dravon::Values shown;  // QString per column, or a null value for an empty cell
    dravon::Values keys;   // what each column sorts by: a number, a text, or null (always last)
    int tag = -1;          // the caller's own number for the row (which item it shows)
};

class ResultTable
{
public:
    ResultTable() = default;
    explicit ResultTable(const QVector<ResultColumn> &columns);

    const QVector<ResultColumn> &columns() const { return m_columns; }
    int columnIndex(const QString &name) const;
    int rowCount() const { return int(m_rows.size()); }
    const ResultRow &row(int r) const { return m_rows[r]; }
    QVector<ResultRow> &rows() { return m_rows; }
    const QVector<ResultRow> &rows() const { return m_rows; }

    // Starts a new row; set its cells with the setters below.
    ResultRow &addRow();
    static void setText(ResultRow &row, int column, const QString &text);
    // A number shown as `text`, sorted by its value.
    static void setNumber(ResultRow &row, int column, double value, const QString &text);
    // A number shown as a whole number.
    static void setCount(ResultRow &row, int column, qint64 value);
    // A text shown as it is and sorted by another key (an identifier's number).
    static void setTextWithKey(ResultRow &row, int column, const QString &text, const QVariant &key);

    // Stable sort by one column: numbers by value, texts in Chinese
    // collation order (pinyin), empty cells last in either direction.
    void sortBy(int column, Qt::SortOrder order);

    // The rows as a read-only record set whose fields are the column names.
    std::unique_ptr<dravon::RecordSet> toRecordSet(dravon::Connection &connection, const QString &description) const;

private:
    QVector<ResultColumn> m_columns;
    QVector<ResultRow> m_rows;
};

}
