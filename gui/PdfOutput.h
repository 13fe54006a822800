#pragma once
// Every PDF the program makes — a grid's or a transcript's "导出为 PDF…",
// and "打印到文件(PDF)" chosen in the print dialog — is finished the same
// way: it names "Veltrana" as its creator, its text map is repaired (see
// PdfTextMap.h), and it is checked to be complete.
#include "data/export/TableExport.h"
#include "gui/PdfTextMap.h"

#include <QFont>
#include <functional>

class QPdfWriter;
class QPrinter;
class QWidget;

// The creator every PDF file names.
QString PdfCreator();

// What the pages were painted with, for the text map: the base font and the
// rare characters of the texts.
struct PaintedText
{
    QFont font;
    RareCharacters rare;
};

// Paints a document's pages on a PDF writer; false when cancelled.
using PdfPainter = std::function<bool(QPdfWriter &writer, PaintedText &painted)>;

// Writes a PDF file under a staging name beside path, finishes it and moves
// it into place; a cancelled or failed write leaves no file. Throws
// exporting::ExportFailure naming path and the reason.
exporting::Outcome WritePdfFile(const QString &path, const QString &title, const PdfPainter &paint);

// Finishes a PDF file its writer has closed. Throws exporting::ExportFailure
// naming shownPath when the file cannot be completed.
void FinishPdfFile(const QString &written, const QString &shownPath, const PaintedText &painted);

// Paints a document's pages on a printer (the preview's or the real one).
using PrintPainter = std::function<void(QPrinter *printer, PaintedText &painted)>;

// The print preview of a document, modal. exportPdf, when given, becomes
// the preview's "导出为 PDF…" command. Printed to a PDF file through the
// print dialog, the file is finished like an exported one; a failure is
// reported through the message box.
void ShowPrintPreview(QWidget *parent, QPrinter &printer, const QString &objectName, const QString &title,
                      const PrintPainter &paint, const std::function<void()> &exportPdf = {});
