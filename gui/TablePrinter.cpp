#include "gui/TablePrinter.h"

#include "data/Error.h"
#include "data/ShortDate.h"

#include <QFontMetricsF>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <cmath>

namespace {

constexpr int textFlags = Qt::AlignCenter | Qt::TextWrapAnywhere;
// Rows read to find a column's natural width.
constexpr qint64 widthSampleRows = 200;
constexpr qint64 progressStep = 128;

QFont sized(const QFont &base, QPagedPaintDevice *device, qreal points, bool bold)
{
    QFont f(base, device);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// The font already carries its device's resolution.
qreal textHeight(const QFont &font, const QString &text, qreal width, qreal line)
{
    const QFontMetricsF fm(font);
    if (!text.contains(QLatin1Char('\n')) && fm.horizontalAdvance(text) <= width)
        return line;
    return qMax(line, fm.boundingRect(QRectF(0, 0, qMax<qreal>(1, width), 1e9), textFlags, text).height());
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

TablePrintJob::TablePrintJob(const exporting::ExportTable &table, const PageHeader &header, const QFont &font)
    : m_table(table), m_header(header), m_font(font)
{
}

QVector<qreal> TablePrintJob::naturalWidths(QPagedPaintDevice *device) const
{
    const PageFrame frame(device, m_font, m_header);
    const QFontMetricsF fm(frame.font(), device);
    const QFontMetricsF bold(frame.boldFont(), device);
    QVector<qreal> widths(m_table.columnCount());
    const qint64 sample = qMin(m_table.rowCount(), widthSampleRows);
    for (int c = 0; c < widths.size(); ++c) {
        qreal w = bold.horizontalAdvance(m_table.title(c));
        for (qint64 r = 0; r < sample; ++r) {
            const QString text = m_table.text(r, c);
            for (const QString &line : text.split(QLatin1Char('\n')))
                w = qMax(w, fm.horizontalAdvance(line));
        }
        widths[c] = w + 2 * frame.padding() + 1;
    }
    return widths;
}

void TablePrintJob::setUpPage(QPagedPaintDevice *device)
{
    SetUpPage(device, QPageLayout::Portrait);
    qreal total = 0;
    for (const qreal w : naturalWidths(device))
        total += w;
    m_orientation = total > device->width() ? QPageLayout::Landscape : QPageLayout::Portrait;
    SetUpPage(device, m_orientation);
}

qreal TablePrintJob::rowHeight(const PageFrame &frame, qint64 row, bool titles) const
{
    qreal h = frame.lineHeight();
    for (int c = 0; c < m_widths.size(); ++c) {
        const QString text = titles ? m_table.title(c) : m_table.text(row, c);
        if (!text.isEmpty())
            h = qMax(h, textHeight(titles ? frame.boldFont() : frame.font(), text,
                                   m_widths[c] - 2 * frame.padding(), frame.lineHeight()));
    }
    return qMin(h + 2 * frame.padding(), frame.body().height() / 2);
}

void TablePrintJob::paintRow(QPainter &painter, const PageFrame &frame, qreal y, qreal height, qint64 row,
                             bool titles) const
{
    painter.setFont(titles ? frame.boldFont() : frame.font());
    qreal x = 0;
    for (int c = 0; c < m_widths.size(); ++c) {
        const QRectF cell(x, y, m_widths[c], height);
        if (titles)
            painter.fillRect(cell, QColor(225, 225, 225));
        painter.drawRect(cell);
        const QString text = titles ? m_table.title(c) : m_table.text(row, c);
        if (!text.isEmpty()) {
            painter.save();
            painter.setClipRect(cell);
            painter.drawText(cell.adjusted(frame.padding(), frame.padding(), -frame.padding(), -frame.padding()),
                             textFlags, text);
            painter.restore();
        }
        x += m_widths[c];
    }
}

bool TablePrintJob::print(QPagedPaintDevice *device, const exporting::Progress &progress)
{
    const PageFrame frame(device, m_font, m_header);
    // Columns fitted to the page width, in proportion to their natural widths.
    const QVector<qreal> natural = naturalWidths(device);
    qreal total = 0;
    for (const qreal w : natural)
        total += w;
    m_widths.clear();
    for (const qreal w : natural)
        m_widths << (total > 0 ? w * frame.pageWidth() / total : 0);

    // Layout: where each page starts, so every page knows the page count.
    const qint64 rows = m_table.rowCount();
    const qint64 steps = 2 * rows;
    const qreal titleHeight = rowHeight(frame, -1, true);
    const qreal room = frame.body().height() - titleHeight;
    m_pageStarts = {0};
    qreal used = 0;
    for (qint64 r = 0; r < rows; ++r) {
        if (progress && r % progressStep == 0 && !progress(r, steps))
            return false;
        const qreal h = rowHeight(frame, r, false);
        if (used > 0 && used + h > room) {
            m_pageStarts << r;
            used = 0;
        }
        used += h;
    }

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
        qreal y = frame.body().top();
        paintRow(painter, frame, y, titleHeight, -1, true);
        y += titleHeight;
        const qint64 end = p + 1 < pages ? m_pageStarts[p + 1] : rows;
        for (qint64 r = m_pageStarts[p]; r < end; ++r) {
            if (progress && r % progressStep == 0 && !progress(rows + r, steps)) {
                painter.end();
                return false;
            }
            const qreal h = rowHeight(frame, r, false);
            paintRow(painter, frame, y, h, r, false);
            y += h;
        }
    }
    if (!painter.end())
        throw dravon::Error(QStringLiteral("无法完成打印"));
    return !progress || progress(steps, steps);
}
