#pragma once
// Printing tables on paged devices (printer, print preview, PDF writer): a
// header with the school's name, the caption and the date printed on every
// page, the column titles repeated on every page, columns fitted to the page
// width (landscape when the columns need it), and "第 N 页 / 共 M 页" below.
// A column is never narrower than its title and its values' unbroken parts
// (numbers, dates, codes); long texts wrap, and a row taller than a page
// continues on the next one, so no cell is clipped.
#include "data/export/TableExport.h"
#include "gui/PdfTextMap.h"

#include <QDate>
#include <QFont>
#include <QPageLayout>
#include <QRectF>
#include <QVector>
#include <functional>

class QPagedPaintDevice;
class QPainter;
class CellText;

struct PageHeader
{
    QString school;   // left out when empty
    QString caption;  // the window's caption or the document's title
    QDate printed;
};

// The frame every printed page shares: header above, page number below.
class PageFrame
{
public:
    PageFrame(QPagedPaintDevice *device, const QFont &font, const PageHeader &header);

    const QFont &font() const { return m_font; }
    const QFont &boldFont() const { return m_bold; }
    qreal lineHeight() const { return m_lineHeight; }
    qreal padding() const { return m_padding; }
    // The part of the page between header and footer, in painter coordinates.
    QRectF body() const { return m_body; }
    qreal pageWidth() const { return m_page.width(); }
    void paint(QPainter &painter, int page, int pages) const;
    // The header's texts, for the text map of a PDF file.
    void noteTexts(RareCharacters &rare) const;

private:
    PageHeader m_header;
    QFont m_font;
    QFont m_bold;
    QFont m_schoolFont;
    QFont m_captionFont;
    QRectF m_page;
    QRectF m_body;
    qreal m_lineHeight = 0;
    qreal m_padding = 0;
};

// "第 N 页 / 共 M 页"
QString PageNumberText(int page, int pages);

// A4 with 15 mm margins in the given orientation.
void SetUpPage(QPagedPaintDevice *device, QPageLayout::Orientation orientation);

// A picture printed below a table's rows (a chart), as wide as the page:
// its height is the width times aspect (at most the page's body), and paint
// draws it into the rectangle it is given.
struct PrintFigure
{
    qreal aspect = 0.5;
    std::function<void(QPainter &, const QRectF &)> paint;
};

// A progress callback for one part of a longer job: its own done/total is
// reported as the span [from, to] (parts of 1) of the whole.
exporting::Progress ProgressSpan(const exporting::Progress &whole, double from, double to);

// What a column needs, padding included.
struct ColumnMeasure
{
    qreal title = 0;        // the title, which is never broken
    qreal natural = 0;      // the widest value on one line
    qreal unbreakable = 0;  // the widest part of a value that a line break never splits
};

// Part of the line that one column takes at most.
constexpr qreal widestColumnShare = 0.4;

// The line width the columns want: each its natural width, none more than
// widestColumnShare of lineWidth.
qreal WantedLineWidth(const QVector<ColumnMeasure> &columns, qreal lineWidth);
// The narrowest line that holds every title and every unbroken part (a part
// wider than widestColumnShare of the line is broken anyway).
qreal MinimumLineWidth(const QVector<ColumnMeasure> &columns, qreal lineWidth);
// Column widths across a line: natural widths when they fit, the rest of the
// line shared out; otherwise the widest columns give way to a common width,
// none below its minimum; no column wider than widestColumnShare of the line.
// When even the minimums do not fit, the widest minimums are cut to a common
// width (their texts then break anywhere) and the narrower ones kept.
QVector<qreal> FitColumnWidths(const QVector<ColumnMeasure> &columns, qreal lineWidth);

class TablePrintJob
{
public:
    TablePrintJob(const exporting::ExportTable &table, const PageHeader &header, const QFont &font);
    ~TablePrintJob();

    // Reads every row to measure the columns, then sets page size, margins
    // and orientation: landscape when the columns do not fit across a
    // portrait page; a smaller text when they do not fit across a landscape
    // one. False when cancelled through progress.
    bool setUpPage(QPagedPaintDevice *device, const exporting::Progress &progress = {});
    QPageLayout::Orientation orientation() const { return m_orientation; }
    // Paints every page (measuring first when setUpPage was not called);
    // false when cancelled through progress (the first half of the progress
    // lays the pages out, the second paints them).
    // Throws dravon::Error when rows cannot be read.
    bool print(QPagedPaintDevice *device, const exporting::Progress &progress = {});
    int pageCount() const { return qMax(int(m_pageStarts.size()), m_figurePages); }
    // Pictures printed after the last row, on the same page when they fit.
    void setFigures(const QList<PrintFigure> &figures) { m_figures = figures; }
    // The text size relative to the usual one (below 1 for very wide tables).
    qreal textScale() const { return m_textScale; }
    // Characters of the printed texts that a PDF file's text map needs.
    const RareCharacters &rareCharacters() const { return m_rare; }

private:
    // Where a page starts: a row, and how far into the row's text (a row
    // taller than a page continues on the next one).
    struct PagePlace
    {
        qint64 row = 0;
        qreal offset = 0;
    };

    bool measure(QPagedPaintDevice *device, const exporting::Progress &progress);
    QFont cellFont(const PageFrame &frame, bool titles) const;
    std::vector<CellText> layOutRow(const PageFrame &frame, QPagedPaintDevice *device, qint64 row, bool titles) const;
    void paintSlice(QPainter &painter, const PageFrame &frame, const std::vector<CellText> &cells, bool titles,
                    qreal y, qreal from, qreal to) const;
    // Places the pictures from afterRows (on the last page of rows) on, and paints those of a page.
    void placeFigures(const PageFrame &frame, qreal afterRows);
    void paintFigures(QPainter &painter, int page) const;

    const exporting::ExportTable &m_table;
    PageHeader m_header;
    QFont m_font;
    QPageLayout::Orientation m_orientation = QPageLayout::Portrait;
    QVector<ColumnMeasure> m_measures;
    int m_measuredDpi = 0;
    qreal m_textScale = 1;
    QVector<qreal> m_widths;
    qreal m_left = 0;
    QVector<PagePlace> m_pageStarts;
    RareCharacters m_rare;
    struct PlacedFigure
    {
        int page;
        QRectF rect;
    };
    QList<PrintFigure> m_figures;
    QVector<PlacedFigure> m_placed;
    int m_figurePages = 0;
};
