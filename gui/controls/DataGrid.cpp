#include "gui/controls/DataGrid.h"

#include "gui/Shell_Unit.h"
#include "data/Error.h"
#include "gui/GridExport.h"
#include "gui/WorkProgress.h"
#include "gui/controls/GridFindBar.h"
#include "gui/import/ImportWizard.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScopedValueRollback>

using dravon::DataSetState;

GridColumnsModel::GridColumnsModel(dravon::RecordSet *dataSet, const QList<GridColumn> &columns, QObject *parent)
    : QIdentityProxyModel(parent), m_columns(columns)
{
    for (const GridColumn &c : columns)
        m_fieldIndex << (dataSet ? dataSet->fieldIndex(c.field) : -1);
    setSourceModel(dataSet);
    if (!dataSet)
        return;
    // A changed record is told for all of its columns: every shown column of
    // the rows changes (the identity mapping would name source columns).
    disconnect(dataSet, &QAbstractItemModel::dataChanged, this, nullptr);
    connect(dataSet, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
        if (!m_columns.isEmpty())
            emit dataChanged(index(topLeft.row(), 0), index(bottomRight.row(), int(m_columns.size()) - 1));
    });
    // The base already lets go of a destroyed set; the views hear of it.
    connect(dataSet, &QObject::destroyed, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

dravon::RecordSet *GridColumnsModel::dataSet() const
{
    return qobject_cast<dravon::RecordSet *>(sourceModel());
}

int GridColumnsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QModelIndex GridColumnsModel::index(int row, int column, const QModelIndex &parent) const
{
    return hasIndex(row, column, parent) ? createIndex(row, column) : QModelIndex();
}

QModelIndex GridColumnsModel::sibling(int row, int column, const QModelIndex &) const
{
    return index(row, column);
}

QModelIndex GridColumnsModel::mapToSource(const QModelIndex &proxyIndex) const
{
    const int field = proxyIndex.isValid() ? fieldAt(proxyIndex.column()) : -1;
    return field >= 0 && sourceModel() ? sourceModel()->index(proxyIndex.row(), field) : QModelIndex();
}

QModelIndex GridColumnsModel::mapFromSource(const QModelIndex &sourceIndex) const
{
    const int column = sourceIndex.isValid() ? int(m_fieldIndex.indexOf(sourceIndex.column())) : -1;
    return column >= 0 ? createIndex(sourceIndex.row(), column) : QModelIndex();
}

QVariant GridColumnsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    return QIdentityProxyModel::data(index, role);
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
    return sourceModel() ? sourceModel()->headerData(section, orientation, role) : QVariant();
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
    // Rows have one height: the header then copes with millions of them.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setMinimumWidth(18);
    verticalHeader()->setHighlightSections(false);
    verticalHeader()->setSectionsClickable(false);
    horizontalHeader()->setToolTip(QStringLiteral("F5 重新读取  Ctrl+P 打印  Shift+F10 菜单"));
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
    QAbstractItemModel *old = model();
    dravon::RecordSet *rs = m_source ? m_source->dataSet() : nullptr;
    setModel(new GridColumnsModel(rs, m_columns, this));
    if (old && old->parent() == this)
        old->deleteLater();
    if (rs) {
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
