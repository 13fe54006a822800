#pragma once
// Rows computed by the program, ready for a grid: each column has a name, a
// type (numbers export as numbers) and, for numbers, how they are written;
// each row holds the value each cell sorts by and the texts of its text
// cells. Numbers become texts only when a row is shown, exported or printed,
// so a table of many rows is made quickly. Opened as a read-only record set,
// so the grids' export and print commands take the rows as shown, in the
// order shown.
#include "data/RecordSet.h"

#include <QString>
#include <QVariant>
#include <QVector>
#include <memory>

namespace stats {

// How a number column writes its values.
enum class NumberFormat {
    Whole,       // "12"
    OneDecimal,  // "87.5"
    Rate,        // "87.5 %"
    TwoDecimals  // "3.25"
};

struct ResultColumn
{
    QString name;
    dravon::FieldType type = dravon::FieldType::Text;  // Text: a text column; otherwise a number column
    NumberFormat format = NumberFormat::Whole;
};

struct ResultRow
{
    dravon::Values texts;  // a text column's text (null: an empty cell); unused in number columns
    dravon::Values keys;   // what each cell sorts by: a number, a text, or null (empty, always last)
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

    // A cell as it is shown; a row's cells.
    QString cellText(int row, int column) const;
    dravon::Values rowTexts(int row) const;

    // Starts a new row; set its cells with the setters below.
    ResultRow &addRow();
    static void setText(ResultRow &row, int column, const QString &text);
    // A text shown as it is and sorted by another key (an identifier's number).
    static void setTextWithKey(ResultRow &row, int column, const QString &text, const QVariant &key);
    // A number, written as its column says.
    static void setNumber(ResultRow &row, int column, double value);

    // Stable sort by one column: numbers by value, texts in Chinese
    // collation order (pinyin), empty cells last in either direction.
    void sortBy(int column, Qt::SortOrder order);

    // The rows as a read-only record set whose fields are the column names.
    std::unique_ptr<dravon::RecordSet> toRecordSet(dravon::Connection &connection, const QString &description) const;

private:
    QVector<ResultColumn> m_columns;
    QVector<ResultRow> m_rows;
};

// A number as a column of this format writes it.
QString FormatNumber(double value, NumberFormat format);

}
