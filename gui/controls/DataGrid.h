#pragma once
// The data-aware grid: declared columns with centred titles over the record
// set of a data source; the grid's current row is the record set's current
// row. Options: row indicator, resizable columns, lines, whole-row selection,
// no editing in the grid, confirmation before Ctrl+Del, cancel on exit, and
// optionally several selected rows kept highlighted without focus. A click on
// a column title sorts the rows by that column.
#include "gui/controls/DataSource.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QTableView>

struct GridColumn
{
    QString field;
    QString title;
};

// The declared columns of a record set, in order, with their titles, centred.
// Rows, their coming and going and resets pass through from the record set
// unchanged; only the columns are chosen and ordered. A view keeps one such
// model for its life: another record set or other columns are shown through
// a reset of the model (setting a view's model anew costs far more).
class GridColumnsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    GridColumnsModel(dravon::RecordSet *dataSet, const QList<GridColumn> &columns, QObject *parent = nullptr);

    dravon::RecordSet *dataSet() const { return m_dataSet; }
    // Shows another record set (none: no rows) in the given columns.
    void show(dravon::RecordSet *dataSet, const QList<GridColumn> &columns);
    // The record set's field a column shows; -1 when the set has no such field.
    int fieldAt(int column) const { return m_fieldIndex.value(column, -1); }
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

private:
    void attach(dravon::RecordSet *dataSet, const QList<GridColumn> &columns);
    void detach();

    QPointer<dravon::RecordSet> m_dataSet;
    QList<GridColumn> m_columns;
    QVector<int> m_fieldIndex;
    QList<QMetaObject::Connection> m_connections;
};

class DataGrid : public QTableView
{
    Q_OBJECT
public:
    explicit DataGrid(QWidget *parent = nullptr);
    ~DataGrid() override;

    void setDataSource(DataSource *source);
    DataSource *dataSource() const { return m_source; }
    void setColumns(const QList<GridColumn> &columns);
    const QList<GridColumn> &columns() const { return m_columns; }
    // Several rows can be selected (Ctrl-click, Shift-click) and stay
    // highlighted while the grid has no focus.
    void setMultiSelect(bool on);
    // The rows Ctrl+Del would delete: the selected rows, or the current one.
    QList<int> rowsToDelete() const;
    // Ctrl+Del: the grid's own question, then the delete. A read-only query
    // result asks nothing and says that it cannot be changed.
    void deleteWithConfirmation();
    // The grid's menu, as Shift+F10 opens it: beside the current row.
    void showMenuAtCurrentRow();
    // A click on a column title: the rows in that column's order, again:
    // descending. A large set shows its progress and can be cancelled.
    void sortByTitle(int column);
    // A grid that orders its rows itself (computed rows) turns the title
    // clicks and the title's order mark of the record set off.
    void setSortsByTitle(bool on) { m_sortsByTitle = on; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    // Right-click: the export and print menu (built in gui/GridExport).
    void contextMenuEvent(QContextMenuEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    // While rows come and go the view shifts its current row by itself; that
    // is no move of the user's and must not store or drop a pending record.
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;

private:
    void rebind();
    void followRecordSet();
    void showSortOrder();

    QPointer<DataSource> m_source;
    // The record set whose moves and order the grid follows.
    QPointer<dravon::RecordSet> m_followed;
    QList<GridColumn> m_columns;
    bool m_following = false;
    bool m_sortsByTitle = true;
};
