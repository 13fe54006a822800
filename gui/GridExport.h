#pragma once
// The grids' context menu: "导出到 Excel…", "导出为 CSV…", "打印…" and
// "导出为 PDF…", acting on all rows of the grid's record set, or on the
// selected rows when several are selected, with the columns and titles the
// grid shows, in its order. Long exports show a progress dialog whose cancel
// button is honoured; a cancelled or failed export leaves no file behind.
#include "data/export/TableExport.h"
#include "gui/TablePrinter.h"
#include "gui/WorkProgress.h"

#include <QPointer>
#include <functional>

class DataGrid;
class QMenu;
class QPoint;
#include <QProgressDialog>
class QWidget;

// What a window adds to its grid's printout and PDF: a caption naming the
// filters behind the rows, and pictures (charts) below the table. A child of
// the grid; without one, the caption is the window's and there are no pictures.
class GridPrintExtras : public QObject
{
    Q_OBJECT
public:
    explicit GridPrintExtras(DataGrid *grid);
    std::function<QString()> caption;
    std::function<QList<PrintFigure>()> figures;
};
// The caption and pictures of a grid's printout.
QString PrintCaption(const DataGrid *grid);
QList<PrintFigure> PrintFigures(const DataGrid *grid);

// The menu a right-click on a grid shows: the four commands, finding and
// importing, "修改记录…" (the current row's history), then the grid's own actions (QWidget::actions(), such as a window's transcript command).
QMenu *BuildGridContextMenu(DataGrid *grid, QWidget *parent);
void ShowGridContextMenu(DataGrid *grid, const QPoint &globalPos);

// What the commands take from a grid.
exporting::ExportTable GridExportTable(const DataGrid *grid);
// The caption of the window the widget sits in.
QString WindowCaption(const QWidget *widget);
// What the Excel export's success message adds about cells cut at the
// limit of a cell: how many, and which (the first ten).
QString CutCellsNotice(const QStringList &cells);
// The header of printed pages: the school's name, the caption, today.
PageHeader PrintHeader(const QString &caption);

void ExportGridToExcel(DataGrid *grid);
void ExportGridToCsv(DataGrid *grid);
void PrintGrid(DataGrid *grid);
void ExportGridToPdf(DataGrid *grid);

// The message after a file was written, offering "打开文件" and
// "打开所在文件夹", which open the file or its folder on the desktop.
void ReportWrittenFile(const QString &text, const QString &title, const QString &path);

// Writes a table as a PDF file with the printed pages' layout.
exporting::Outcome WriteTablePdf(const exporting::ExportTable &table, const PageHeader &header,
                                 const QString &path, const exporting::Progress &progress = {},
                                 const QList<PrintFigure> &figures = {});

// The progress dialog of a long export, shown when the export takes a moment.
class ExportProgress : public WorkProgress
{
public:
    ExportProgress(QWidget *parent, const QString &label);
};
