#pragma once
// A grid over rows the program computed (statistics, rankings, summaries):
// the grid and its export and print menu as every other window has them,
// numbers right-aligned, a click on a column title sorts by that column
// (again: the other way), and a window may colour cells.
#include "data/stats/ResultTable.h"
#include "gui/controls/DataGrid.h"

#include <functional>

class ResultGrid : public DataGrid
{
    Q_OBJECT
public:
    // sourceName: the objectName of the grid's data source.
    ResultGrid(const QString &sourceName, QWidget *parent);

    // Shows the rows (columns and titles as the table names them), sorted as
    // the user last chose; the current row stays on the same item (tag) when it is still there.
    void setTable(const stats::ResultTable &table, const QString &description);
    // No rows (and no columns).
    void clearTable();
    const stats::ResultTable &table() const { return m_table; }
    bool hasTable() const { return m_hasTable; }

    // The tag of a grid row (ResultRow::tag), -1 for none; the current row's.
    int tagOfRow(int row) const;
    int currentTag() const;
    // The tags of the selected rows in grid order (the current one when one or none is selected).
    QList<int> selectedTags() const;
    // Sorts by a column of the table, as a click on its title does.
    void sortByColumn(int column, Qt::SortOrder order);
    int sortColumn() const { return m_sortColumn; }

    // The colour of a cell's text and background (Qt::ForegroundRole,
    // Qt::BackgroundRole) for the row's tag and the table's column; an
    // invalid value keeps the grid's own.
    std::function<QVariant(int tag, int column, int role)> cellLook;

signals:
    // The rows were replaced or sorted.
    void tableShown();
    // The current row changed to another item.
    void currentTagChanged(int tag);

private:
    void show(int keepTag);

    DataSource *m_source = nullptr;
    stats::ResultTable m_table;
    bool m_hasTable = false;
    QString m_description;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    int m_lastTag = -1;
    bool m_showing = false;
};
