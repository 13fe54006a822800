#include "gui/PdfOutput.h"

#include "data/Error.h"
#include "gui/Shell_Unit.h"

#include <QAction>
#include <QFile>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QToolBar>

QString PdfCreator()
{
    return QStringLiteral("Veltrana");
}

void FinishPdfFile(const QString &written, const QString &shownPath, const PaintedText &painted)
{
    if (!RepairPdfTextMap(written, painted.font, painted.rare))
        throw exporting::ExportFailure(exporting::failureText(shownPath, QStringLiteral("无法完成文件")));
    // The writer reports no failed write: a complete file ends with its trailer.
    QFile file(written);
    bool complete = false;
    if (file.open(QIODevice::ReadOnly) && file.size() > 0) {
        file.seek(qMax<qint64>(0, file.size() - 64));
        complete = file.readAll().contains("%%EOF");
    }
    if (!complete)
        throw exporting::ExportFailure(
            exporting::failureText(shownPath, QStringLiteral("文件没有写完整(磁盘可能已满)")));
}

exporting::Outcome WritePdfFile(const QString &path, const QString &title, const PdfPainter &paint)
{
    exporting::StagedFile staged(path);
    PaintedText painted;
    {
        QPdfWriter writer(staged.path());
        writer.setResolution(300);
        writer.setTitle(title);
        writer.setCreator(PdfCreator());
        try {
            if (!paint(writer, painted))
                return exporting::Outcome::Cancelled;
        } catch (const dravon::Error &e) {
            throw exporting::ExportFailure(exporting::failureText(path, e.text()));
        }
    }
    FinishPdfFile(staged.path(), path, painted);
    staged.commit();
    return exporting::Outcome::Written;
}

void ShowPrintPreview(QWidget *parent, QPrinter &printer, const QString &objectName, const QString &title,
                      const PrintPainter &paint, const std::function<void()> &exportPdf)
{
    printer.setCreator(PdfCreator());
    QPrintPreviewDialog preview(&printer, parent);
    preview.setObjectName(objectName);
    preview.setWindowTitle(title);
    PaintedText painted;
    QString printedFile;
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview, [&](QPrinter *target) {
        // The preview paints with no file named; "打印到文件(PDF)" names the file.
        if (target->outputFormat() == QPrinter::PdfFormat && !target->outputFileName().isEmpty())
            printedFile = target->outputFileName();
        Guarded([&] { paint(target, painted); });
    });
    if (exportPdf) {
        if (auto *toolBar = preview.findChild<QToolBar *>()) {
            toolBar->addSeparator();
            QAction *action = toolBar->addAction(QStringLiteral("导出为 PDF…"));
            action->setObjectName(QStringLiteral("actExportPdf"));
            QObject::connect(action, &QAction::triggered, &preview, [exportPdf] { Guarded(exportPdf); });
        }
    }
    ExecDialog(&preview);
    // The printer has closed the file it wrote.
    if (printedFile.isEmpty() || !QFile::exists(printedFile))
        return;
    try {
        FinishPdfFile(printedFile, printedFile, painted);
    } catch (const exporting::ExportFailure &e) {
        ShowMessage(e.text(), title, QMessageBox::Critical);
    }
}
