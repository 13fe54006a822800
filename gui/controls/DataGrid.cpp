#include "gui/controls/DataGrid.h"

#include "gui/Shell_Unit.h"
#include "data/Error.h"
#include "gui/GridExport.h"
#include "gui/WorkProgress.h"
#include "gui/controls/GridFindBar.h"
#include "gui/import/ImportWizard.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>

using dravon::DataSetState;

namespace {

// The row indicator column. Its width is measured over the first and last
// hundred rows each time the rows change, though they show only a few
// different marks ("▶", "*", "I", none): each mark is measured once.
class RowIndicatorHeader : public QHeaderView
{
public:
    explicit RowIndicatorHeader(QWidget *parent) : QHeaderView(Qt::Vertical, parent) {}

protected:
    QSize sectionSizeFromContents(int logicalIndex) const override
    {
        QAbstractItemModel *m = model();
        // Only a plain text mark is measured by its text alone.
        if (!m || isSortIndicatorShown())
            return QHeaderView::sectionSizeFromContents(logicalIndex);
        for (const int role : {int(Qt::SizeHintRole), int(Qt::FontRole), int(Qt::DecorationRole)})
            if (m->headerData(logicalIndex, Qt::Vertical, role).isValid())
                return QHeaderView::sectionSizeFromContents(logicalIndex);
        // Measured in the header's font and style as they are now (a change
        // of either can be measured by the view before the header hears of it).
        if (font() != m_font || style() != m_style) {
            m_sizes.clear();
            m_font = font();
            m_style = style();
        }
        const QString mark = m->headerData(logicalIndex, Qt::Vertical, Qt::DisplayRole).toString();
        if (const auto known = m_sizes.constFind(mark); known != m_sizes.cend())
            return *known;
        const QSize size = QHeaderView::sectionSizeFromContents(logicalIndex);
        m_sizes.insert(mark, size);
        return size;
    }

private:
    mutable QHash<QString, QSize> m_sizes;
    mutable QFont m_font;
    mutable QPointer<QStyle> m_style;
};

// The cells as the standard delegate shows them. Fitting the columns to
// their contents lays out the text of each of many cells, though many show
// the same text (a date, a user, a term): a plain text is measured once.
class CellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (const QVariant given = index.data(Qt::SizeHintRole); given.isValid())
            return given.toSize();
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const QWidget *widget = cell.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        // A wrapped text's size depends on its cell's width; an icon or a
        // check box on more than the text.
        constexpr auto other = QStyleOptionViewItem::WrapText | QStyleOptionViewItem::HasDecoration
                               | QStyleOptionViewItem::HasCheckIndicator;
        if (cell.features & other)
            return style->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), widget);
        if (cell.font != m_font || style != m_style || m_sizes[0].size() + m_sizes[1].size() > 4096) {
            m_sizes[0].clear();
            m_sizes[1].clear();
            m_font = cell.font;
            m_style = style;
        }
        // A value shown as an empty text takes a line's height, none takes none.
        QHash<QString, QSize> &sizes = m_sizes[cell.features.testFlag(QStyleOptionViewItem::HasDisplay) ? 1 : 0];
        if (const auto known = sizes.constFind(cell.text); known != sizes.cend())
            return *known;
        const QSize size = style->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), widget);
        sizes.insert(cell.text, size);
        return size;
    }

private:
    mutable QHash<QString, QSize> m_sizes[2];
    mutable QFont m_font;
    mutable QPointer<QStyle> m_style;
};

}

GridColumnsModel::GridColumnsModel(dravon::RecordSet *dataSet, const QList<GridColumn> &columns, QObject *parent)
    : QAbstractTableModel(parent)
{
    attach(dataSet, columns);
}

void GridColumnsModel::show(dravon::RecordSet *dataSet, const QList<GridColumn> &columns)
{
    beginResetModel();
    detach();
    attach(dataSet, columns);
    endResetModel();
}

void GridColumnsModel::detach()
{
    for (const QMetaObject::Connection &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_dataSet = nullptr;
}

void GridColumnsModel::attach(dravon::RecordSet *dataSet, const QList<GridColumn> &columns)
{
    m_dataSet = dataSet;
    m_columns = columns;
    m_fieldIndex.clear();
    for (const GridColumn &c : columns)
        m_fieldIndex << (dataSet ? dataSet->fieldIndex(c.field) : -1);
    if (!dataSet)
        return;
    // The record set's rows are this model's rows, one for one.
    using M = QAbstractItemModel;
    auto &c = m_connections;
    c << connect(dataSet, &M::rowsAboutToBeInserted, this,
                 [this](const QModelIndex &, int first, int last) { beginInsertRows({}, first, last); });
    c << connect(dataSet, &M::rowsInserted, this, [this] { endInsertRows(); });
    c << connect(dataSet, &M::rowsAboutToBeRemoved, this,
                 [this](const QModelIndex &, int first, int last) { beginRemoveRows({}, first, last); });
    c << connect(dataSet, &M::rowsRemoved, this, [this] { endRemoveRows(); });
    c << connect(dataSet, &M::modelAboutToBeReset, this, [this] { beginResetModel(); });
    c << connect(dataSet, &M::modelReset, this, [this] { endResetModel(); });
    // A changed record is told for all of its columns: every shown column of
    // the rows changes.
    c << connect(dataSet, &M::dataChanged, this, [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
        if (!m_columns.isEmpty() && topLeft.isValid() && bottomRight.isValid())
            emit dataChanged(index(topLeft.row(), 0), index(bottomRight.row(), int(m_columns.size()) - 1));
    });
    // The row indicator.
    c << connect(dataSet, &M::headerDataChanged, this, [this](Qt::Orientation orientation, int first, int last) {
        if (orientation == Qt::Vertical)
            emit headerDataChanged(orientation, first, last);
    });
    // A record set that goes while shown leaves no rows.
    c << connect(dataSet, &QObject::destroyed, this, [this] { show(nullptr, m_columns); });
}

int GridColumnsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_dataSet ? 0 : m_dataSet->rowCount();
}

int GridColumnsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

Qt::ItemFlags GridColumnsModel::flags(const QModelIndex &index) const
{
    return fieldAt(index.column()) >= 0 ? QAbstractTableModel::flags(index) : Qt::NoItemFlags;
}

QVariant GridColumnsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const int field = fieldAt(index.column());
    if (field < 0 || !m_dataSet)
        return {};
    return m_dataSet->data(m_dataSet->index(index.row(), field), role);
}

QVariant GridColumnsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (orientation == Qt::Horizontal) {
        if (role == Qt::DisplayRole && section >= 0 && section < m_columns.size())
            return m_columns[section].title;
        return {};
    }
    return m_dataSet ? m_dataSet->headerData(section, orientation, role) : QVariant();
}

bool GridColumnsModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && m_dataSet && m_dataSet->canFetchMore({});
}

void GridColumnsModel::fetchMore(const QModelIndex &parent)
{
    if (!parent.isValid() && m_dataSet)
        m_dataSet->fetchMore({});
}

DataGrid::DataGrid(QWidget *parent) : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setAlternatingRowColors(false);
    setWordWrap(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &DataGrid::sortByTitle);
    setVerticalHeader(new RowIndicatorHeader(this));
    setItemDelegate(new CellDelegate(this));
    // Rows have one height: the header then copes with millions of them.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setMinimumWidth(18);
    verticalHeader()->setHighlightSections(false);
    verticalHeader()->setSectionsClickable(false);
    horizontalHeader()->setToolTip(QStringLiteral("F5 重新读取  Ctrl+P 打印  Shift+F10 菜单"));
}

DataGrid::~DataGrid()
{
    // A data source or model that is the grid's child goes only after this
    // part of the grid (children are deleted by the widget's destructor), and
    // a data source tells its views as it goes: nothing of it may reach the
    // grid from now on. The model lets go of the record set with the grid.
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    if (m_followed)
        disconnect(m_followed, nullptr, this, nullptr);
    if (auto *own = qobject_cast<GridColumnsModel *>(model()); own && own->parent() == this)
        delete own;
}

void DataGrid::setDataSource(DataSource *source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (source)
        connect(source, &DataSource::dataSetChanged, this, &DataGrid::rebind);
    rebind();
}

void DataGrid::setColumns(const QList<GridColumn> &columns)
{
    m_columns = columns;
    rebind();
}

void DataGrid::setMultiSelect(bool on)
{
    setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
    QPalette p = palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        p.setColor(QPalette::Inactive, role, p.color(QPalette::Active, role));
    setPalette(p);
}

void DataGrid::rebind()
{
    dravon::RecordSet *rs = m_source ? m_source->dataSet() : nullptr;
    // The grid's one model shows the record set and columns of the moment.
    if (auto *shown = qobject_cast<GridColumnsModel *>(model()); shown && shown->parent() == this)
        shown->show(rs, m_columns);
    else
        setModel(new GridColumnsModel(rs, m_columns, this));
    const bool another = rs != m_followed;
    if (another && m_followed)
        disconnect(m_followed, nullptr, this, nullptr);
    m_followed = rs;
    if (rs && another) {
        connect(rs, &dravon::RecordSet::recordChanged, this, &DataGrid::followRecordSet);
        connect(rs, &dravon::RecordSet::orderChanged, this, &DataGrid::showSortOrder);
        // The current record where it now stands, once the rows are laid out
        // anew (before that the view knows only the rows it had).
        connect(rs, &dravon::RecordSet::orderChanged, this, [this] {
            executeDelayedItemsLayout();
            if (currentIndex().isValid())
                scrollTo(currentIndex());
        });
        // The rest of a large sort's order is awaited with the sort's progress.
        QPointer<DataGrid> grid(this);
        rs->setLongWait([grid, rs](const std::function<void(const dravon::Progress &)> &work) {
            if (!grid) {
                work({});
                return;
            }
            QString title;
            for (const GridColumn &c : std::as_const(grid->m_columns))
                if (rs->fieldIndex(c.field) == rs->sortField())
                    title = c.title;
            Guarded([&] {
                WorkProgress progress(grid->window(), QStringLiteral("SortProgress"), QStringLiteral("排序"),
                                      QStringLiteral("正在按 \"%1\" 排序…").arg(title));
                work(progress.callback());
            });
        });
    }
    followRecordSet();
    showSortOrder();
}

void DataGrid::sortByTitle(int column)
{
    if (!m_sortsByTitle)
        return;
    auto *columns = qobject_cast<GridColumnsModel *>(model());
    dravon::RecordSet *rs = m_source ? m_source->dataSet() : nullptr;
    const int field = columns ? columns->fieldAt(column) : -1;
    if (rs && field >= 0) {
        const bool descending = rs->sortField() == field && !rs->sortDescending();
        const QString title = m_columns.value(column).title;
        Guarded([&] {
            WorkProgress progress(window(), QStringLiteral("SortProgress"), QStringLiteral("排序"),
                                  QStringLiteral("正在按 \"%1\" 排序…").arg(title));
            rs->sortBy(field, descending, progress.callback());
        });
    }
    // A refused or cancelled sort leaves the title as it was.
    showSortOrder();
}

void DataGrid::showSortOrder()
{
    if (!m_sortsByTitle)
        return;
    auto *columns = qobject_cast<GridColumnsModel *>(model());
    dravon::RecordSet *rs = m_source ? m_source->dataSet() : nullptr;
    int shown = -1;
    if (rs && columns && rs->sortField() >= 0)
        for (int c = 0; c < columns->columnCount() && shown < 0; ++c)
            if (columns->fieldAt(c) == rs->sortField())
                shown = c;
    horizontalHeader()->setSortIndicator(shown, rs && rs->sortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void DataGrid::followRecordSet()
{
    dravon::RecordSet *rs = m_source ? m_source->dataSet() : nullptr;
    if (!rs || !model())
        return;
    const int row = rs->recNo();
    if (row < 0 || row >= model()->rowCount()) {
        return;
    }
    const QModelIndex current = currentIndex();
    if (current.isValid() && current.row() == row)
        return;
    m_following = true;
    const QModelIndex target = model()->index(row, qMax(0, current.column()));
    selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_following = false;
}

void DataGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    if (m_following || !current.isValid())
        return;
    dravon::RecordSet *rs = m_source ? m_source->dataSet() : nullptr;
    if (!rs || current.row() == rs->recNo())
        return;
    m_following = true;
    Guarded([&] { rs->moveTo(current.row()); });
    m_following = false;
    // A refused implicit store keeps the record set where it was.
    if (rs->recNo() != currentIndex().row())
        QMetaObject::invokeMethod(this, &DataGrid::followRecordSet, Qt::QueuedConnection);
}

void DataGrid::rowsInserted(const QModelIndex &parent, int start, int end)
{
    const QScopedValueRollback<bool> following(m_following, true);
    QTableView::rowsInserted(parent, start, end);
}

void DataGrid::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    const QScopedValueRollback<bool> following(m_following, true);
    QTableView::rowsAboutToBeRemoved(parent, start, end);
}

QList<int> DataGrid::rowsToDelete() const
{
    QList<int> rows;
    // Read from the selection's ranges: asking row by row whether a row is
    // selected walks every range each time, slow after many ctrl-clicks. A
    // range of some columns only counts where the whole row is selected.
    if (QItemSelectionModel *selection = selectionModel()) {
        const int columns = model() ? model()->columnCount() : 0;
        for (const QItemSelectionRange &range : selection->selection()) {
            const bool wholeRows = range.left() == 0 && range.right() == columns - 1;
            for (int r = range.top(); r <= range.bottom(); ++r)
                if (wholeRows || selection->isRowSelected(r))
                    rows << r;
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.isEmpty()) {
        if (dravon::RecordSet *rs = m_source ? m_source->dataSet() : nullptr; rs && rs->recNo() >= 0)
            rows << rs->recNo();
    }
    return rows;
}

void DataGrid::deleteWithConfirmation()
{
    dravon::RecordSet *rs = m_source ? m_source->dataSet() : nullptr;
    if (!rs || rs->isEmpty())
        return;
    // A query result cannot be written: nothing is offered, the user is told why.
    if (rs->isReadOnly()) {
        TellUser(this, QStringLiteral("查询结果是只读的，不能在这里删除记录。"));
        return;
    }
    const QList<int> rows = rowsToDelete();
    const bool many = rows.size() > 1;
    const QString question = many ? QStringLiteral("Delete all selected records?") : QStringLiteral("Delete record?");
    // Enter alone deletes nothing: 取消 is the default.
    if (ShowMessage(question, QStringLiteral("确认"), QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel,
                    QMessageBox::Cancel)
        != QMessageBox::Ok)
        return;
    const int before = rs->recordCount();
    Guarded([&] {
        if (many) {
            // Many rows take a while: progress, with a cancel that deletes none.
            WorkProgress progress(window(), QStringLiteral("DeleteProgress"), QStringLiteral("删除"),
                                  QStringLiteral("正在删除 %1 条记录…").arg(rows.size()));
            rs->deleteRows(rows, progress.callback());
        } else if (rows.size() == 1 && rows.first() != rs->recNo() && rs->state() == DataSetState::Browse) {
            rs->deleteRows(rows);
        } else {
            rs->remove();
        }
    });
    // The selected rows are gone: the current row alone is selected, so that
    // what shows highlighted is what the next Ctrl+Del deletes. A refused
    // or cancelled delete keeps the selection.
    if (rs->recordCount() < before && rs->recNo() >= 0 && rs->recNo() < model()->rowCount()
        && currentIndex().row() == rs->recNo())
        selectionModel()->select(currentIndex(), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void DataGrid::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier) {
        deleteWithConfirmation();
        return;
    }
    // Ctrl+F opens the find bar under the grid; F3 / Shift+F3 find the next / previous match.
    if (event->key() == Qt::Key_F && event->modifiers() == Qt::ControlModifier) {
        GridFindBar::of(this)->open();
        return;
    }
    if (event->key() == Qt::Key_F3 && (event->modifiers() & ~Qt::ShiftModifier) == Qt::NoModifier) {
        GridFindBar::of(this)->findNext(event->modifiers() == Qt::NoModifier);
        return;
    }
    // Rows copied from a spreadsheet: the import wizard, from its mapping page.
    if (event->matches(QKeySequence::Paste) && PasteIntoGrid(this))
        return;
    // F5 re-reads the rows, Ctrl+P prints them, Shift+F10 opens the grid's menu.
    const QKeyCombination pressed = event->keyCombination();
    if (pressed == QKeyCombination(Qt::Key_F5)) {
        if (m_source)
            Guarded([&] { m_source->reread(); });
        return;
    }
    if (pressed == QKeyCombination(Qt::ControlModifier, Qt::Key_P)) {
        Guarded([&] { PrintGrid(this); });
        return;
    }
    if (pressed == QKeyCombination(Qt::ShiftModifier, Qt::Key_F10)) {
        showMenuAtCurrentRow();
        return;
    }
    // Ctrl+Home and Ctrl+End go to the record set's true first and last rows,
    // which it reads by themselves, also before it knows how many rows lie
    // between (the view alone only knows the rows read so far).
    const bool ctrl = event->modifiers() == Qt::ControlModifier;
    dravon::RecordSet *rs = m_source ? m_source->dataSet() : nullptr;
    if (rs && ctrl && (event->key() == Qt::Key_End || event->key() == Qt::Key_Home)) {
        Guarded([&] {
            if (event->key() == Qt::Key_End)
                rs->last();
            else
                rs->first();
        });
        followRecordSet();
        scrollTo(currentIndex());
        return;
    }
    QTableView::keyPressEvent(event);
}

void DataGrid::focusOutEvent(QFocusEvent *event)
{
    QTableView::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason)
        return;
    // Leaving the grid drops a new record nobody has touched.
    dravon::RecordSet *rs = m_source ? m_source->dataSet() : nullptr;
    if (rs && rs->state() == DataSetState::Insert && !rs->hasPendingChanges())
        Guarded([&] { rs->cancel(); });
}

void DataGrid::showMenuAtCurrentRow()
{
    const QRect cell = visualRect(currentIndex());
    const QPoint at = cell.isValid() && viewport()->rect().intersects(cell) ? cell.center() : QPoint(8, 8);
    ShowGridContextMenu(this, viewport()->mapToGlobal(at));
}

void DataGrid::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
    ShowGridContextMenu(this, event->globalPos());
}
