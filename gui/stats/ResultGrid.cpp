#include "gui/stats/ResultGrid.h"

#include "gui/SharedConnection.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>

namespace {

// Numbers to the right, as figures are read; the window's colours.
class ResultDelegate : public QStyledItemDelegate
{
public:
    explicit ResultDelegate(ResultGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const stats::ResultTable &table = m_grid->table();
        const int column = index.column();
        if (column < 0 || column >= table.columns().size())
            return;
        if (table.columns()[column].type != dravon::FieldType::Text)
            option->displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
        if (!m_grid->cellLook)
            return;
        const int tag = m_grid->tagOfRow(index.row());
        if (tag < 0)
            return;
        const QVariant text = m_grid->cellLook(tag, column, Qt::ForegroundRole);
        if (text.canConvert<QColor>()) {
            option->palette.setColor(QPalette::Text, text.value<QColor>());
            option->palette.setColor(QPalette::HighlightedText, text.value<QColor>().lighter(160));
        }
        const QVariant back = m_grid->cellLook(tag, column, Qt::BackgroundRole);
        if (back.canConvert<QColor>())
            option->backgroundBrush = back.value<QColor>();
        const QVariant font = m_grid->cellLook(tag, column, Qt::FontRole);
        if (font.canConvert<QFont>())
            option->font = font.value<QFont>();
    }

private:
    ResultGrid *m_grid;
};

}

ResultGrid::ResultGrid(const QString &sourceName, QWidget *parent) : DataGrid(parent)
{
    m_source = new DataSource(sourceName, this);
    setDataSource(m_source);
    setMultiSelect(true);
    setItemDelegate(new ResultDelegate(this));
    // The rows are sorted by the table itself (numbers as numbers, names by
    // their collation), each sort giving a new set.
    setSortsByTitle(false);
    horizontalHeader()->setSortIndicatorShown(false);
    horizontalHeader()->setSectionsClickable(true);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        const Qt::SortOrder order = section == m_sortColumn && m_sortOrder == Qt::AscendingOrder
                                        ? Qt::DescendingOrder
                                        : Qt::AscendingOrder;
        sortByColumn(section, order);
    });
    connect(m_source, &DataSource::dataSetChanged, this, [this] {
        if (dravon::RecordSet *rs = m_source->dataSet())
            connect(rs, &dravon::RecordSet::recordChanged, this, [this] {
                const int tag = currentTag();
                if (!m_showing && tag != m_lastTag) {
                    m_lastTag = tag;
                    emit currentTagChanged(tag);
                }
            });
    });
}

void ResultGrid::setTable(const stats::ResultTable &table, const QString &description)
{
    const int keep = currentTag();
    // Same columns: the chosen order and the column widths stay.
    bool sameColumns = m_hasTable && m_table.columns().size() == table.columns().size();
    for (int c = 0; sameColumns && c < table.columns().size(); ++c)
        sameColumns = m_table.columns()[c].name == table.columns()[c].name;
    m_table = table;
    m_hasTable = true;
    m_description = description;
    if (!sameColumns) {
        m_sortColumn = -1;
        QList<GridColumn> columns;
        for (const stats::ResultColumn &c : table.columns())
            columns.append({c.name, c.name});
        setColumns(columns);
        horizontalHeader()->setSortIndicatorShown(false);
    } else if (m_sortColumn >= 0) {
        m_table.sortBy(m_sortColumn, m_sortOrder);
    }
    show(keep);
    if (!sameColumns)
        resizeColumnsToContents();
}

void ResultGrid::clearTable()
{
    m_table = stats::ResultTable();
    m_hasTable = false;
    m_sortColumn = -1;
    setColumns({});
    m_source->setDataSet(nullptr);
    m_lastTag = -1;
    emit tableShown();
    emit currentTagChanged(-1);
}

void ResultGrid::sortByColumn(int column, Qt::SortOrder order)
{
    if (!m_hasTable || column < 0 || column >= m_table.columns().size())
        return;
    const int keep = currentTag();
    m_sortColumn = column;
    m_sortOrder = order;
    m_table.sortBy(column, order);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(column, order);
    show(keep);
}

void ResultGrid::show(int keepTag)
{
    // The current row is told once, when the rows are in place.
    const QScopedValueRollback<bool> showing(m_showing, true);
    QList<int> widths;
    for (int c = 0; c < horizontalHeader()->count(); ++c)
        widths << columnWidth(c);
    m_source->setDataSet(m_table.toRecordSet(SharedConnection(), m_description));
    for (int c = 0; c < widths.size() && c < horizontalHeader()->count(); ++c)
        setColumnWidth(c, widths[c]);
    int row = 0;
    for (int r = 0; r < m_table.rowCount(); ++r)
        if (m_table.row(r).tag == keepTag) {
            row = r;
            break;
        }
    if (dravon::RecordSet *rs = m_source->dataSet(); rs && row < rs->recordCount()) {
        rs->moveTo(row);
        if (model())
            scrollTo(model()->index(row, 0));
    }
    m_lastTag = currentTag();
    m_showing = false;
    emit tableShown();
    emit currentTagChanged(m_lastTag);
}

int ResultGrid::tagOfRow(int row) const
{
    return row >= 0 && row < m_table.rowCount() ? m_table.row(row).tag : -1;
}

int ResultGrid::currentTag() const
{
    const dravon::RecordSet *rs = m_source ? m_source->dataSet() : nullptr;
    return rs ? tagOfRow(rs->recNo()) : -1;
}

QList<int> ResultGrid::selectedTags() const
{
    QList<int> rows;
    if (selectionModel())
        for (const QModelIndex &i : selectionModel()->selectedRows())
            rows << i.row();
    std::sort(rows.begin(), rows.end());
    QList<int> tags;
    if (rows.size() > 1) {
        for (const int r : rows)
            tags << tagOfRow(r);
    } else if (currentTag() >= 0) {
        tags << currentTag();
    }
    return tags;
}
