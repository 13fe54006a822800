#pragma once
// Printing tables on paged devices (printer, print preview, PDF writer): a
// header with the school's name, the caption and the date printed on every
// page, the column titles repeated on every page, columns fitted to the page
// width (landscape when the columns need it), and "第 N 页 / 共 M 页" below.
#include "data/export/TableExport.h"

#include <QDate>
#include <QFont>
#include <QPageLayout>
#include <QRectF>
#include <QVector>
#include <functional>

class QPagedPaintDevice;
class QPainter;

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

class TablePrintJob
{
public:
    TablePrintJob(const exporting::ExportTable &table, const PageHeader &header, const QFont &font);

    // Page size, margins and orientation: landscape when the columns'
    // natural widths do not fit across a portrait page.
    void setUpPage(QPagedPaintDevice *device);
    QPageLayout::Orientation orientation() const { return m_orientation; }
    // Paints every page; false when cancelled through progress (the first
    // half of the progress lays the pages out, the second paints them).
    // Throws dravon::Error when rows cannot be read.
    bool print(QPagedPaintDevice *device, const exporting::Progress &progress = {});
    int pageCount() const { return qMax(int(m_pageStarts.size()), m_figurePages); }
    // Pictures printed after the last row, on the same page when they fit.
    void setFigures(const QList<PrintFigure> &figures) { m_figures = figures; }

private:
    QVector<qreal> naturalWidths(QPagedPaintDevice *device) const;
    qreal rowHeight(const PageFrame &frame, qint64 row, bool titles) const;
    void paintRow(QPainter &painter, const PageFrame &frame, qreal y, qreal height, qint64 row, bool titles) const;
    // Places the pictures from afterRows (on the last page of rows) on, and paints those of a page.
    void placeFigures(const PageFrame &frame, qreal afterRows);
    void paintFigures(QPainter &painter, int page) const;

    const exporting::ExportTable &m_table;
    PageHeader m_header;
    QFont m_font;
    QPageLayout::Orientation m_orientation = QPageLayout::Portrait;
    QVector<qreal> m_widths;
    QVector<qint64> m_pageStarts;
    struct PlacedFigure
    {
        int page;
        QRectF rect;
    };
    QList<PrintFigure> m_figures;
    QVector<PlacedFigure> m_placed;
    int m_figurePages = 0;
};

// The PDF writer names, for a glyph that a CJK font shares between a radical
// and its ideograph (页 and ⻚), the radical in the file's text map, so text
// copied or searched in the file comes out wrong. This rewrites those entries
// of a written PDF file in place to the ideographs. False when the file cannot
// be read or written.
bool RepairPdfTextMap(const QString &path);
