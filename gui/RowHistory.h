#pragma once
// "修改记录…" of a record grid's context menu: the history of the grid's
// current row from the database's change log, each change with its time,
// user, action, the field as the window labels it, and old and new value.
#include <QDialog>

class DataGrid;
class QLabel;
class QPushButton;
class QTableWidget;
namespace dravon { class RecordSet; }

// True when the grid's current row is a stored row of a logged table.
bool RowHistoryAvailable(const DataGrid *grid);
// Shows the history of the grid's current row (a modal dialog).
void ShowRowHistory(DataGrid *grid);

class RowHistoryDialog : public QDialog
{
    Q_OBJECT
public:
    // Reads the history of the record set's current row.
    RowHistoryDialog(dravon::RecordSet *rows, QWidget *parent = nullptr);

    QLabel *lblRow = nullptr;
    QTableWidget *grdHistory = nullptr;
    QPushButton *btnClose = nullptr;
};
