#pragma once
// The query page of the record windows: an item, a condition and a value
// above a grid of the rows found. The statement comes from the find-statement
// builder; the result replaces the grid's rows only when it opened.
#include "data/QueryStatement.h"
#include "gui/controls/DataGrid.h"

#include <QWidget>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TfrmBase;

class FindPage : public QWidget
{
    Q_OBJECT
public:
    FindPage(TfrmBase *window, const QString &resultSourceName, const QList<dravon::QueryItem> &items,
             const QList<GridColumn> &columns, QWidget *parent);

    QLabel *lblItems = nullptr;
    QComboBox *cmbxItems = nullptr;       // closed, nothing chosen at first
    QLabel *lblCondition = nullptr;
    QComboBox *cmbxCondition = nullptr;   // closed: ">", "<", "=", "Like"
    QLabel *lblValues = nullptr;
    QComboBox *cmbxValues = nullptr;      // accepts typed text; list filled by the window, if at all
    QPushButton *btnFind = nullptr;
    // The statement whose rows the grid shows, read-only.
    QLabel *lblStatement = nullptr;
    QLineEdit *edtStatement = nullptr;
    DataGrid *DBGrid2 = nullptr;

    DataSource *resultSource() const { return m_result; }
    const QList<dravon::QueryItem> &items() const { return m_items; }

    // The statement the current choices give (empty when no item is chosen).
    QString statement() const;
    // The query: builds the statement and opens it into the result source.
    // No item chosen: nothing happens. A statement the database refuses
    // throws; the grid then keeps its previous rows.
    void btnFindClick();
    // Opens a statement built elsewhere (another window asking for these
    // rows) into the result grid, and shows it; throws as btnFindClick does.
    void runStatement(const QString &sql);
    // Column widths of the result grid, kept across results.
    void setColumnWidths(const QList<int> &widths);
    // Replaces the value list; the text in the box stays.
    void setValueList(const QStringList &entries);

    // Runs (guarded) each time an item is picked in cmbxItems.
    std::function<void()> itemPicked;

private:
    void applyColumnWidths();

    TfrmBase *m_window = nullptr;
    QList<int> m_widths;
    DataSource *m_result = nullptr;
    QList<dravon::QueryItem> m_items;
};
