#include "gui/TablePrinter.h"

#include "data/Error.h"
#include "data/ShortDate.h"
#include "gui/PrintedCell.h"

#include <QFontMetricsF>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr qint64 progressStep = 128;
// The smallest text a table too wide for a landscape page is printed in.
constexpr qreal smallestTextScale = 0.7;
constexpr qreal tolerance = 0.01;

QFont sized(const QFont &base, QPagedPaintDevice *device, qreal points, bool bold)
{
    QFont f(base, device);
    f.setPointSizeF(points);
    f.setBold(bold);
    // Glyphs that shaping substitutes (a digit after a letter) have no
    // character in the PDF writer's text map and vanish from copied text.
    f.setStyleStrategy(QFont::StyleStrategy(f.styleStrategy() | QFont::PreferNoShaping));
    return f;
}

qreal floorOf(const ColumnMeasure &c, qreal cap)
{
    return qMax(c.title, qMin(c.unbreakable, cap));
}

qreal topOf(const ColumnMeasure &c, qreal cap)
{
    return qMax(floorOf(c, cap), qMin(qMax(c.natural, c.title), cap));
}

bool isNumberOrDate(dravon::FieldType type)
{
    return type == dravon::FieldType::Integer || type == dravon::FieldType::Real || type == dravon::FieldType::Date;
}

}

QString PageNumberText(int page, int pages)
{
    return QStringLiteral("第 %1 页 / 共 %2 页").arg(page).arg(pages);
}

void SetUpPage(QPagedPaintDevice *device, QPageLayout::Orientation orientation)
{
    device->setPageLayout(QPageLayout(QPageSize(QPageSize::A4), orientation, QMarginsF(15, 15, 15, 15),
                                      QPageLayout::Millimeter));
}

exporting::Progress ProgressSpan(const exporting::Progress &whole, double from, double to)
{
    if (!whole)
        return {};
    return [whole, from, to](qint64 done, qint64 total) {
        constexpr qint64 units = 1000000;
        const double part = total > 0 ? double(qBound<qint64>(0, done, total)) / double(total) : 1.0;
        return whole(qint64((from + (to - from) * part) * units), units);
    };
}

PageFrame::PageFrame(QPagedPaintDevice *device, const QFont &font, const PageHeader &header)
    : m_header(header)
{
    m_font = sized(font, device, 10, false);
    m_bold = sized(font, device, 10, true);
    m_schoolFont = sized(font, device, 16, true);
    m_captionFont = sized(font, device, 13, true);
    const QFontMetricsF fm(m_font, device);
    m_lineHeight = fm.height();
    m_padding = std::round(m_lineHeight * 0.3);
    m_page = QRectF(0, 0, device->width(), device->height());
    qreal y = 0;
    if (!header.school.isEmpty())
        y += QFontMetricsF(m_schoolFont, device).height() * 1.3;
    y += QFontMetricsF(m_captionFont, device).height() * 1.25;
    y += m_lineHeight * 1.6;
    const qreal footer = m_lineHeight * 2;
    m_body = QRectF(0, y, m_page.width(), m_page.height() - y - footer);
}

void PageFrame::paint(QPainter &painter, int page, int pages) const
{
    painter.save();
    qreal y = 0;
    if (!m_header.school.isEmpty()) {
        painter.setFont(m_schoolFont);
        const qreal h = QFontMetricsF(m_schoolFont, painter.device()).height();
        painter.drawText(QRectF(0, y, m_page.width(), h), Qt::AlignCenter, m_header.school);
        y += h * 1.3;
    }
    painter.setFont(m_captionFont);
    const qreal h = QFontMetricsF(m_captionFont, painter.device()).height();
    painter.drawText(QRectF(0, y, m_page.width(), h), Qt::AlignCenter, m_header.caption);
    y += h * 1.25;
    painter.setFont(m_font);
    painter.drawText(QRectF(0, y, m_page.width(), m_lineHeight), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("打印日期：%1").arg(dravon::formatShortDate(m_header.printed)));
    painter.drawText(QRectF(0, m_page.height() - m_lineHeight * 1.2, m_page.width(), m_lineHeight), Qt::AlignCenter,
                     PageNumberText(page, pages));
    painter.restore();
}

void PageFrame::noteTexts(RareCharacters &rare) const
{
    rare.note(m_header.school);
    rare.note(m_header.caption);
}

qreal WantedLineWidth(const QVector<ColumnMeasure> &columns, qreal lineWidth)
{
    const qreal cap = widestColumnShare * lineWidth;
    qreal total = 0;
    for (const ColumnMeasure &c : columns)
        total += topOf(c, cap);
    return total;
}

qreal MinimumLineWidth(const QVector<ColumnMeasure> &columns, qreal lineWidth)
{
    const qreal cap = widestColumnShare * lineWidth;
    qreal total = 0;
    for (const ColumnMeasure &c : columns)
        total += floorOf(c, cap);
    return total;
}

QVector<qreal> FitColumnWidths(const QVector<ColumnMeasure> &columns, qreal lineWidth)
{
    const qsizetype n = columns.size();
    const qreal cap = widestColumnShare * lineWidth;
    QVector<qreal> floors(n);
    QVector<qreal> tops(n);
    for (qsizetype i = 0; i < n; ++i) {
        floors[i] = floorOf(columns[i], cap);
        tops[i] = topOf(columns[i], cap);
    }
    const qreal floorSum = std::accumulate(floors.cbegin(), floors.cend(), qreal(0));
    const qreal topSum = std::accumulate(tops.cbegin(), tops.cend(), qreal(0));
    if (n == 0)
        return {};
    // The widest of the given widths are cut down to a common level so that
    // they fill the line; the others keep theirs.
    auto levelled = [&](const QVector<qreal> &lower, const QVector<qreal> &upper) {
        auto widthsAt = [&](qreal level) {
            QVector<qreal> widths(n);
            for (qsizetype i = 0; i < n; ++i)
                widths[i] = qMax(lower[i], qMin(upper[i], level));
            return widths;
        };
        qreal low = 0;
        qreal high = *std::max_element(upper.cbegin(), upper.cend());
        for (int i = 0; i < 60; ++i) {
            const qreal mid = (low + high) / 2;
            const QVector<qreal> w = widthsAt(mid);
            if (std::accumulate(w.cbegin(), w.cend(), qreal(0)) > lineWidth)
                high = mid;
            else
                low = mid;
        }
        return widthsAt(low);
    };
    if (floorSum > lineWidth + tolerance)
        return levelled(QVector<qreal>(n, 0), floors);  // nothing fits: the widest are broken
    if (topSum <= lineWidth + tolerance) {
        // Everything fits: the rest of the line goes to the columns below
        // the cap, in proportion to their widths.
        QVector<qreal> widths = tops;
        for (int round = 0; round < n; ++round) {
            const qreal spare = lineWidth - std::accumulate(widths.cbegin(), widths.cend(), qreal(0));
            qreal growing = 0;
            for (const qreal w : widths)
                if (w < cap - tolerance)
                    growing += w;
            if (spare <= tolerance || growing <= 0)
                break;
            for (qreal &w : widths)
                if (w < cap - tolerance)
                    w = qMin(cap, w + spare * w / growing);
        }
        return widths;
    }
    // The widest columns give way down to a common level, none below its floor.
    return levelled(floors, tops);
}

TablePrintJob::TablePrintJob(const exporting::ExportTable &table, const PageHeader &header, const QFont &font)
    : m_table(table), m_header(header), m_font(font)
{
}

TablePrintJob::~TablePrintJob() = default;

bool TablePrintJob::measure(QPagedPaintDevice *device, const exporting::Progress &progress)
{
    const PageFrame frame(device, m_font, m_header);
    frame.noteTexts(m_rare);
    const QFont &cell = frame.font();
    const int columns = m_table.columnCount();
    m_measures = QVector<ColumnMeasure>(columns);
    for (int c = 0; c < columns; ++c) {
        m_measures[c].title = NaturalWidth(m_table.title(c), frame.boldFont(), device);
        m_rare.note(m_table.title(c));
    }
    QVector<bool> whole(columns);
    for (int c = 0; c < columns; ++c)
        whole[c] = isNumberOrDate(m_table.type(c));
    const qint64 rows = m_table.rowCount();
    for (qint64 r = 0; r < rows; ++r) {
        if (progress && r % progressStep == 0 && !progress(r, rows))
            return false;
        for (int c = 0; c < columns; ++c) {
            const QString text = m_table.text(r, c);
            if (text.isEmpty())
                continue;
            m_rare.note(text);
            ColumnMeasure &m = m_measures[c];
            const qreal natural = NaturalWidth(text, cell, device);
            m.natural = qMax(m.natural, natural);
            // Only a text wider than the widest unbroken part so far can widen it.
            if (natural > m.unbreakable)
                m.unbreakable = qMax(m.unbreakable, whole[c] ? natural : UnbreakableWidth(text, cell, device));
        }
    }
    m_measuredDpi = device->logicalDpiX();
    return !progress || progress(rows, rows);
}

bool TablePrintJob::setUpPage(QPagedPaintDevice *device, const exporting::Progress &progress)
{
    SetUpPage(device, QPageLayout::Portrait);
    if (!measure(device, progress))
        return false;
    const PageFrame frame(device, m_font, m_header);
    const qreal pad = 2 * frame.padding() + 1;
    QVector<ColumnMeasure> padded = m_measures;
    for (ColumnMeasure &m : padded) {
        m.title += pad;
        m.natural += pad;
        m.unbreakable += pad;
    }
    m_orientation = WantedLineWidth(padded, device->width()) > device->width() ? QPageLayout::Landscape
                                                                                : QPageLayout::Portrait;
    SetUpPage(device, m_orientation);
    // The same font on a wider line: the measures in device units stay.
    const qreal line = device->width();
    const qreal minimum = MinimumLineWidth(padded, line);
    m_textScale = minimum > line ? qMax(smallestTextScale, (line - pad * padded.size()) / (minimum - pad * padded.size()))
                                 : 1.0;
    return true;
}

QFont TablePrintJob::cellFont(const PageFrame &frame, bool titles) const
{
    QFont f = titles ? frame.boldFont() : frame.font();
    if (m_textScale < 1)
        f.setPointSizeF(f.pointSizeF() * m_textScale);
    return f;
}

std::vector<CellText> TablePrintJob::layOutRow(const PageFrame &frame, QPagedPaintDevice *device, qint64 row,
                                               bool titles) const
{
    const QFont font = cellFont(frame, titles);
    std::vector<CellText> cells;
    cells.reserve(size_t(m_widths.size()));
    for (int c = 0; c < m_widths.size(); ++c)
        cells.emplace_back(titles ? m_table.title(c) : m_table.text(row, c), font, m_widths[c] - 2 * frame.padding(),
                           device, Qt::AlignHCenter, titles ? Qt::AlignHCenter : Qt::AlignLeft);
    return cells;
}

void TablePrintJob::paintSlice(QPainter &painter, const PageFrame &frame, const std::vector<CellText> &cells,
                               bool titles, qreal y, qreal from, qreal to) const
{
    const qreal pad = frame.padding();
    const qreal height = to - from + 2 * pad;
    qreal x = m_left;
    for (int c = 0; c < m_widths.size(); ++c) {
        const QRectF cell(x, y, m_widths[c], height);
        if (titles)
            painter.fillRect(cell, QColor(225, 225, 225));
        painter.drawRect(cell);
        cells[size_t(c)].draw(painter, QPointF(x + pad, y + pad), from, to);
        x += m_widths[c];
    }
}

bool TablePrintJob::print(QPagedPaintDevice *device, const exporting::Progress &progress)
{
    if (m_measuredDpi <= 0 && !measure(device, {}))
        return false;
    const PageFrame frame(device, m_font, m_header);
    const qreal pad = frame.padding();
    const qreal line = QFontMetricsF(cellFont(frame, false), device).height();
    // Measures taken on another device or for a smaller text, with a little room for rounding.
    const qreal ratio = qreal(device->logicalDpiX()) / m_measuredDpi * m_textScale;
    const qreal slack = qFuzzyCompare(ratio, 1.0) ? 1.0 : 1.01;
    QVector<ColumnMeasure> columns = m_measures;
    for (ColumnMeasure &m : columns) {
        m.title = m.title * ratio * slack + 2 * pad + 1;
        m.natural = m.natural * ratio * slack + 2 * pad + 1;
        m.unbreakable = m.unbreakable * ratio * slack + 2 * pad + 1;
    }
    m_widths = FitColumnWidths(columns, frame.pageWidth());
    m_left = qMax<qreal>(0, (frame.pageWidth() - std::accumulate(m_widths.cbegin(), m_widths.cend(), qreal(0))) / 2);

    // Layout: where each page starts, so every page knows the page count.
    const qint64 rows = m_table.rowCount();
    const qint64 steps = 2 * rows;
    const std::vector<CellText> titleCells = layOutRow(frame, device, -1, true);
    const qreal titleContent = RowContentHeight(titleCells, line);
    const qreal room = frame.body().height() - titleContent - 2 * pad;
    m_pageStarts = {PagePlace{}};
    qreal used = 0;
    auto newPage = [&](qint64 row, qreal offset) {
        m_pageStarts << PagePlace{row, offset};
        used = 0;
    };
    for (qint64 r = 0; r < rows; ++r) {
        if (progress && r % progressStep == 0 && !progress(r, steps))
            return false;
        const std::vector<CellText> cells = layOutRow(frame, device, r, false);
        const qreal content = RowContentHeight(cells, line);
        qreal from = 0;
        while (true) {
            const qreal space = room - used - 2 * pad;
            if (content - from <= space + tolerance) {
                used += content - from + 2 * pad;
                break;
            }
            // A row that fits on a page of its own starts one.
            if (used > 0 && content - from <= room - 2 * pad + tolerance) {
                newPage(r, from);
                continue;
            }
            qreal cut = RowCut(cells, from + space);
            if (cut <= from + tolerance) {
                if (used > 0) {
                    newPage(r, from);
                    continue;
                }
                cut = from + space;  // one line taller than a page: it is cut
            }
            from = cut;
            newPage(r, from);
        }
    }
    placeFigures(frame, frame.body().top() + titleContent + 2 * pad + used);

    QPainter painter;
    if (!painter.begin(device))
        throw dravon::Error(QStringLiteral("无法开始打印"));
    QPen pen(Qt::black);
    pen.setWidthF(qMax<qreal>(1, device->logicalDpiX() / 200.0));
    painter.setPen(pen);
    const int pages = pageCount();
    for (int p = 0; p < pages; ++p) {
        if (p > 0)
            device->newPage();
        frame.paint(painter, p + 1, pages);
        paintFigures(painter, p);
        if (p >= m_pageStarts.size())
            continue;
        qreal y = frame.body().top();
        paintSlice(painter, frame, titleCells, true, y, 0, titleContent);
        y += titleContent + 2 * pad;
        const PagePlace start = m_pageStarts[p];
        const PagePlace end = p + 1 < m_pageStarts.size() ? m_pageStarts[p + 1] : PagePlace{rows, 0};
        for (qint64 r = start.row; r < end.row || (r == end.row && end.offset > 0); ++r) {
            if (progress && r % progressStep == 0 && !progress(rows + r, steps)) {
                painter.end();
                return false;
            }
            const std::vector<CellText> cells = layOutRow(frame, device, r, false);
            const qreal from = r == start.row ? start.offset : 0;
            const qreal to = r == end.row ? end.offset : RowContentHeight(cells, line);
            paintSlice(painter, frame, cells, false, y, from, to);
            y += to - from + 2 * pad;
        }
    }
    if (!painter.end())
        throw dravon::Error(QStringLiteral("无法完成打印"));
    return !progress || progress(steps, steps);
}

void TablePrintJob::placeFigures(const PageFrame &frame, qreal afterRows)
{
    m_placed.clear();
    m_figurePages = 0;
    const QRectF body = frame.body();
    const qreal gap = frame.lineHeight();
    int page = int(m_pageStarts.size()) - 1;
    qreal y = afterRows + gap;
    for (const PrintFigure &figure : std::as_const(m_figures)) {
        const qreal height = qMin(body.width() * figure.aspect, body.height());
        if (y + height > body.bottom()) {
            ++page;
            y = body.top();
        }
        m_placed.append({page, QRectF(body.left(), y, body.width(), height)});
        y += height + gap;
        m_figurePages = page + 1;
    }
}

void TablePrintJob::paintFigures(QPainter &painter, int page) const
{
    for (int i = 0; i < m_placed.size(); ++i) {
        if (m_placed[i].page != page || !m_figures[i].paint)
            continue;
        painter.save();
        m_figures[i].paint(painter, m_placed[i].rect);
        painter.restore();
    }
}
