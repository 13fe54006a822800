#include "gui/GridExport.h"

#include "gui/Shell_Unit.h"
#include "data/Error.h"
#include "gui/controls/DataGrid.h"
#include "gui/controls/GridFindBar.h"
#include "gui/PdfOutput.h"
#include "gui/RowHistory.h"
#include "gui/SaveFileDialog.h"
#include "gui/import/ImportWizard.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QUrl>
#include <memory>

namespace {

const QString excelText = QStringLiteral("导出到 Excel…");
const QString csvText = QStringLiteral("导出为 CSV…");
const QString printText = QStringLiteral("打印…");
const QString pdfText = QStringLiteral("导出为 PDF…");

// The command's text without the ellipsis, as a dialog title.
QString titleOf(const QString &command)
{
    QString t = command;
    t.remove(QChar(0x2026));
    return t;
}

dravon::RecordSet *recordSetOf(const DataGrid *grid)
{
    return grid && grid->dataSource() ? grid->dataSource()->dataSet() : nullptr;
}

// Writes a table to a file: table, path, caption, progress, and a notice
// that the success message adds.
using FileWriter = std::function<exporting::Outcome(const exporting::ExportTable &, const QString &, const QString &,
                                                    const exporting::Progress &, QString &notice)>;

// Opens a file or folder in the desktop's program for it; says so when none opens it.
void openOnDesktop(const QString &path, const QString &title)
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        ShowMessage(QStringLiteral("无法打开 \"%1\"。").arg(QDir::toNativeSeparators(path)), title,
                    QMessageBox::Warning);
}

// Runs one file export with its dialogs: file name, progress, outcome.
void runFileExport(DataGrid *grid, const QString &command, const QString &extension, const QString &filter,
                   const FileWriter &write)
{
    if (!recordSetOf(grid))
        return;
    const QString title = titleOf(command);
    const QString caption = WindowCaption(grid);
    const QString path = AskSaveFileName(grid, title, caption, extension, filter);
    if (path.isEmpty())
        return;
    const exporting::ExportTable table = GridExportTable(grid);
    const QString shown = QDir::toNativeSeparators(path);
    exporting::Outcome outcome;
    QString notice;
    try {
        ExportProgress progress(grid->window(), QStringLiteral("正在导出 %1 行到 \"%2\"…").arg(table.rowCount()).arg(shown));
        outcome = write(table, path, caption, progress.callback(), notice);
    } catch (const exporting::ExportFailure &e) {
        ShowMessage(e.text(), title, QMessageBox::Critical);
        return;
    } catch (const dravon::Error &e) {
        ShowMessage(exporting::failureText(path, e.text()), title, QMessageBox::Critical);
        return;
    }
    if (outcome == exporting::Outcome::Cancelled)
        ShowMessage(QStringLiteral("导出已取消，没有写入文件 \"%1\"。").arg(shown), title, QMessageBox::Information);
    else
        ReportWrittenFile(QStringLiteral("已将 %1 行导出到文件 \"%2\"。").arg(table.rowCount()).arg(shown) + notice, title,
                          path);
}

}

GridPrintExtras::GridPrintExtras(DataGrid *grid) : QObject(grid)
{
    setObjectName(QStringLiteral("GridPrintExtras"));
}

namespace {
const GridPrintExtras *extrasOf(const DataGrid *grid)
{
    return grid ? grid->findChild<GridPrintExtras *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}
}

QString PrintCaption(const DataGrid *grid)
{
    const GridPrintExtras *extras = extrasOf(grid);
    return extras && extras->caption ? extras->caption() : WindowCaption(grid);
}

QList<PrintFigure> PrintFigures(const DataGrid *grid)
{
    const GridPrintExtras *extras = extrasOf(grid);
    return extras && extras->figures ? extras->figures() : QList<PrintFigure>();
}

void ReportWrittenFile(const QString &text, const QString &title, const QString &path)
{
    // Open stands for "打开文件", Apply for "打开所在文件夹".
    const MessageRequest request{text, title, QMessageBox::Information,
                                 QMessageBox::Ok | QMessageBox::Open | QMessageBox::Apply, QMessageBox::Ok,
                                 {{QMessageBox::Open, QStringLiteral("打开文件")},
                                  {QMessageBox::Apply, QStringLiteral("打开所在文件夹")}}};
    const QMessageBox::StandardButton answer = ShowMessage(request);
    if (answer == QMessageBox::Open)
        openOnDesktop(path, title);
    else if (answer == QMessageBox::Apply)
        openOnDesktop(QFileInfo(path).absolutePath(), title);
}

QMenu *BuildGridContextMenu(DataGrid *grid, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("GridPopupMenu"));
    const bool hasRows = recordSetOf(grid) != nullptr;
    auto add = [&](const char *name, const QString &text, void (*command)(DataGrid *)) {
        QAction *a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setEnabled(hasRows);
        QPointer<DataGrid> target(grid);
        QObject::connect(a, &QAction::triggered, grid, [target, command] {
            if (target)
                Guarded([&] { command(target); });
        });
    };
    add("actExportExcel", excelText, &ExportGridToExcel);
    add("actExportCsv", csvText, &ExportGridToCsv);
    add("actPrint", printText, &PrintGrid);
    // The grid's own keys, shown beside the command (the grid handles them).
    menu->actions().constLast()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    menu->actions().constLast()->setShortcutContext(Qt::WidgetShortcut);
    add("actExportPdf", pdfText, &ExportGridToPdf);
    menu->addSeparator();
    add("actFind", QStringLiteral("查找…"), [](DataGrid *g) { GridFindBar::of(g)->open(); });
    menu->actions().last()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    menu->actions().last()->setShortcutVisibleInContextMenu(true);
    add("actImportFile", QStringLiteral("从文件导入…"), &OpenImportWizardForGrid);
    menu->actions().last()->setEnabled(GridAcceptsImport(grid));
    // The current row's history, from the change log.
    menu->addSeparator();
    add("actRowHistory", QStringLiteral("修改记录…"), &ShowRowHistory);
    menu->actions().constLast()->setEnabled(RowHistoryAvailable(grid));
    const QList<QAction *> own = grid->actions();
    if (!own.isEmpty()) {
        menu->addSeparator();
        menu->addActions(own);
    }
    return menu;
}

void ShowGridContextMenu(DataGrid *grid, const QPoint &globalPos)
{
    std::unique_ptr<QMenu> menu(BuildGridContextMenu(grid, grid));
    menu->exec(globalPos);
}

exporting::ExportTable GridExportTable(const DataGrid *grid)
{
    dravon::RecordSet *rs = recordSetOf(grid);
    QVector<int> fields;
    QStringList titles;
    const QList<GridColumn> &columns = grid->columns();
    const QHeaderView *header = grid->horizontalHeader();
    for (int v = 0; v < header->count(); ++v) {
        const int logical = header->logicalIndex(v);
        if (logical < 0 || logical >= columns.size() || header->isSectionHidden(logical))
            continue;
        fields << (rs ? rs->fieldIndex(columns[logical].field) : -1);
        titles << columns[logical].title;
    }
    QList<int> rows;
    if (grid->selectionModel()) {
        const QModelIndexList selected = grid->selectionModel()->selectedRows();
        if (selected.size() > 1) {
            for (const QModelIndex &i : selected)
                rows << i.row();
            std::sort(rows.begin(), rows.end());
        }
    }
    return exporting::ExportTable(rs, fields, titles, rows);
}

QString WindowCaption(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget())
        if (!w->windowTitle().isEmpty())
            return w->windowTitle();
    return QApplication::applicationDisplayName();
}

QString CutCellsNotice(const QStringList &cells)
{
    if (cells.isEmpty())
        return {};
    constexpr int named = 10;
    QString list = cells.mid(0, named).join(QStringLiteral("、"));
    if (cells.size() > named)
        list += QStringLiteral(" 等");
    return QStringLiteral("\n%1 个单元格的文字超过 Excel 每格 %2 个字符的上限，已截断并以“%3”结尾：%4。")
        .arg(cells.size())
        .arg(exporting::xlsxCellTextLimit)
        .arg(exporting::xlsxCutMark(), list);
}

PageHeader PrintHeader(const QString &caption)
{
    return {exporting::schoolName(), caption, QDate::currentDate()};
}

void ExportGridToExcel(DataGrid *grid)
{
    runFileExport(grid, excelText, QStringLiteral("xlsx"), QStringLiteral("Excel 工作簿 (*.xlsx)"),
                  [](const exporting::ExportTable &table, const QString &path, const QString &caption,
                     const exporting::Progress &progress, QString &notice) {
                      QStringList cut;
                      const exporting::Outcome outcome =
                          exporting::writeXlsx(table, path, caption, progress, exporting::xlsxRowsPerSheet, &cut);
                      notice = CutCellsNotice(cut);
                      return outcome;
                  });
}

void ExportGridToCsv(DataGrid *grid)
{
    runFileExport(grid, csvText, QStringLiteral("csv"), QStringLiteral("CSV 文件 (*.csv)"),
                  [](const exporting::ExportTable &table, const QString &path, const QString &,
                     const exporting::Progress &progress, QString &) { return exporting::writeCsv(table, path, progress); });
}

void ExportGridToPdf(DataGrid *grid)
{
    runFileExport(grid, pdfText, QStringLiteral("pdf"), QStringLiteral("PDF 文件 (*.pdf)"),
                  [grid](const exporting::ExportTable &table, const QString &path, const QString &,
                         const exporting::Progress &progress, QString &) {
                      return WriteTablePdf(table, PrintHeader(PrintCaption(grid)), path, progress,
                                           PrintFigures(grid));
                  });
}

void PrintGrid(DataGrid *grid)
{
    if (!recordSetOf(grid))
        return;
    const exporting::ExportTable table = GridExportTable(grid);
    const QString caption = WindowCaption(grid);
    TablePrintJob job(table, PrintHeader(PrintCaption(grid)), QApplication::font());
    job.setFigures(PrintFigures(grid));
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(caption);
    {
        // Every row is read once to measure the columns; cancelling shows no preview.
        ExportProgress progress(grid->window(), QStringLiteral("正在准备打印 %1 行…").arg(table.rowCount()));
        if (!job.setUpPage(&printer, progress.callback()))
            return;
    }
    QPointer<DataGrid> target(grid);
    ShowPrintPreview(
        grid->window(), printer, QStringLiteral("PrintPreview"), titleOf(printText),
        [&](QPrinter *device, PaintedText &painted) {
            // A long list takes a while to lay out; cancelling leaves the pages done so far.
            ExportProgress progress(grid->window(), QStringLiteral("正在准备打印 %1 行…").arg(table.rowCount()));
            painted.font = QApplication::font();
            job.print(device, progress.callback());
            painted.rare = job.rareCharacters();
        },
        [target] {
            if (target)
                ExportGridToPdf(target);
        });
}

exporting::Outcome WriteTablePdf(const exporting::ExportTable &table, const PageHeader &header, const QString &path,
                                 const exporting::Progress &progress, const QList<PrintFigure> &figures)
{
    TablePrintJob job(table, header, QApplication::font());
    job.setFigures(figures);
    return WritePdfFile(path, header.caption, [&](QPdfWriter &writer, PaintedText &painted) {
        painted.font = QApplication::font();
        // A third of the progress measures the columns, the rest lays out and paints.
        if (!job.setUpPage(&writer, ProgressSpan(progress, 0, 1.0 / 3))
            || !job.print(&writer, ProgressSpan(progress, 1.0 / 3, 1)))
            return false;
        painted.rare = job.rareCharacters();
        return true;
    });
}

ExportProgress::ExportProgress(QWidget *parent, const QString &label)
    : WorkProgress(parent, QStringLiteral("ExportProgress"), QStringLiteral("导出"), label)
{
}
