#pragma once
// Reading PDF files back as a person and another program see them: the text
// layer through pdftotext, the pages rendered through pdftoppm, and printed
// tables as cells (the rulings from the rendered page, the words from the
// text layer's bounding boxes).
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>

namespace testsupport {

// Runs a program to its end and returns its standard output (a warning when it fails).
QByteArray runProgram(const QString &program, const QStringList &arguments);

// The text layer of a PDF file, as pdftotext gives it (UTF-8).
QString pdfText(const QString &path);
// The text of each page (pdftotext's pages, split at the form feeds).
QStringList pdfPages(const QString &path);
// The text with every white space removed.
QString squeezed(QString text);
// The file's information dictionary as pdfinfo gives it ("Creator", "Title", ...).
QString pdfInfo(const QString &path, const QString &key);
// The number of pages.
int pdfPageCount(const QString &path);
// Page number (from 1) rendered in grey at dpi.
QImage renderPdfPage(const QString &path, int page, int dpi);

struct PdfWord
{
    QString text;
    QRectF box;  // in points, from the page's top left
};
// The words of each page with their boxes, from pdftotext -bbox-layout.
QList<QList<PdfWord>> pdfWords(const QString &path);

// A table printed on one page: its rulings (in points) and the text of each
// cell as lines; words that no single cell holds (they cross a ruling, or
// lie below the table) are listed as strays.
struct PrintedTablePage
{
    QList<qreal> columns;  // x of each vertical ruling
    QList<qreal> rows;     // y of each horizontal ruling
    QList<QList<QStringList>> cells;  // [row][column] -> lines
    QStringList strays;    // words inside the table's box but in no single cell
};
// Every page of the file.
QList<PrintedTablePage> readPrintedTables(const QString &path);

}
