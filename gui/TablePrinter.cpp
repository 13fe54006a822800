#include "gui/TablePrinter.h"

#include "data/Error.h"
#include "data/ShortDate.h"

#include <QFile>
#include <QFontMetricsF>
#include <QHash>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <cmath>
#include <tuple>

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
    // Glyphs that shaping substitutes (a digit after a letter) have no
    // character in the PDF writer's text map and vanish from copied text.
    f.setStyleStrategy(QFont::StyleStrategy(f.styleStrategy() | QFont::PreferNoShaping));
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
    placeFigures(frame, frame.body().top() + titleHeight + used);

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
        paintRow(painter, frame, y, titleHeight, -1, true);
        y += titleHeight;
        const qint64 end = p + 1 < m_pageStarts.size() ? m_pageStarts[p + 1] : rows;
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

namespace {

// CJK Radicals Supplement characters that the CJK fonts draw with the glyph of
// an ideograph, and that ideograph. The Kangxi radicals map by their
// compatibility decomposition.
const QHash<char16_t, char16_t> &radicalIdeographs()
{
    static const QHash<char16_t, char16_t> map = [] {
        const std::pair<char16_t, char16_t> pairs[] = {
            {0x2E82, 0x4E5B}, {0x2E83, 0x4E5A}, {0x2E85, 0x4EBB}, {0x2E89, 0x5202}, {0x2E8E, 0x5140}, {0x2E8F, 0x5C23},
            {0x2E90, 0x5C22}, {0x2E92, 0x5DF3}, {0x2E93, 0x5E7A}, {0x2E94, 0x5F51}, {0x2E95, 0x5F50}, {0x2E96, 0x5FC4},
            {0x2E98, 0x624C}, {0x2E99, 0x6535}, {0x2E9B, 0x65E1}, {0x2E9E, 0x6B7A}, {0x2E9F, 0x6BCD}, {0x2EA0, 0x6C11},
            {0x2EA1, 0x6C35}, {0x2EA3, 0x706C}, {0x2EA4, 0x722B}, {0x2EA6, 0x4E2C}, {0x2EA8, 0x72AD}, {0x2EAB, 0x7F52},
            {0x2EAD, 0x793B}, {0x2EAF, 0x7CF9}, {0x2EB0, 0x7E9F}, {0x2EB1, 0x7F53}, {0x2EB2, 0x7F52}, {0x2EB9, 0x8002},
            {0x2EBA, 0x8080}, {0x2EBE, 0x8279}, {0x2EC1, 0x864E}, {0x2EC2, 0x8864}, {0x2EC3, 0x8980}, {0x2EC4, 0x897F},
            {0x2EC5, 0x89C1}, {0x2EC6, 0x89D2}, {0x2EC8, 0x8BA0}, {0x2EC9, 0x8D1D}, {0x2ECB, 0x8F66}, {0x2ECC, 0x8FB6},
            {0x2ECD, 0x8FB6}, {0x2ED0, 0x9485}, {0x2ED1, 0x9577}, {0x2ED2, 0x9578}, {0x2ED3, 0x957F}, {0x2ED4, 0x95E8},
            {0x2ED6, 0x961D}, {0x2ED8, 0x9752}, {0x2ED9, 0x97E6}, {0x2EDA, 0x9875}, {0x2EDB, 0x98CE}, {0x2EDC, 0x98DE},
            {0x2EDD, 0x98DF}, {0x2EDF, 0x98E0}, {0x2EE0, 0x9963}, {0x2EE2, 0x9A6C}, {0x2EE3, 0x9AA8}, {0x2EE4, 0x9B3C},
            {0x2EE5, 0x9C7C}, {0x2EE6, 0x9E1F}, {0x2EE7, 0x5364}, {0x2EE8, 0x9EA6}, {0x2EE9, 0x9EC4}, {0x2EEA, 0x9EFE},
            {0x2EEB, 0x6589}, {0x2EEC, 0x9F50}, {0x2EED, 0x6B6F}, {0x2EEE, 0x9F7F}, {0x2EEF, 0x7ADC}, {0x2EF0, 0x9F99},
            {0x2EF1, 0x9F9C}, {0x2EF2, 0x4E80}, {0x2EF3, 0x9F9F},
        };
        QHash<char16_t, char16_t> m;
        for (const auto &[radical, ideograph] : pairs)
            m.insert(radical, ideograph);
        return m;
    }();
    return map;
}

char16_t ideographFor(char16_t u)
{
    if (u >= 0x2F00 && u <= 0x2FD5) {
        if (u == 0x2F3E)  // 户: the simplified form the fonts draw
            return 0x6237;
        const QString n = QString(QChar(u)).normalized(QString::NormalizationForm_KC);
        return n.size() == 1 ? n.at(0).unicode() : u;
    }
    return radicalIdeographs().value(u, u);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Rewrites the Unicode values (not the glyph codes) of one bfrange or bfchar
// section: per line, the tokens after the first two (bfrange) or the first (bfchar).
bool repairSection(QByteArray &data, qsizetype from, qsizetype to, int codesPerLine)
{
    bool changed = false;
    int token = 0;
    for (qsizetype i = from; i < to; ++i) {
        if (data[i] == '\n') {
            token = 0;
            continue;
        }
        if (data[i] != '<')
            continue;
        const qsizetype end = data.indexOf('>', i);
        if (end < 0 || end > to)
            break;
        if (token++ >= codesPerLine && end - i == 5) {
            int value = 0;
            for (qsizetype k = i + 1; k < end && value >= 0; ++k)
                value = hexValue(data[k]) < 0 ? -1 : value * 16 + hexValue(data[k]);
            if (value >= 0x2E80 && value <= 0x2FDF) {
                const char16_t mapped = ideographFor(char16_t(value));
                if (mapped != value) {
                    const QByteArray hex = QByteArray::number(mapped, 16).toUpper().rightJustified(4, '0');
                    data.replace(i + 1, 4, hex);
                    changed = true;
                }
            }
        }
        i = end;
    }
    return changed;
}

}

bool RepairPdfTextMap(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray data = file.readAll();
    const QByteArray original = data;
    for (const auto &[begin, end, codes] : {std::tuple<QByteArray, QByteArray, int>{"beginbfrange", "endbfrange", 2},
                                            std::tuple<QByteArray, QByteArray, int>{"beginbfchar", "endbfchar", 1}}) {
        qsizetype at = 0;
        while ((at = data.indexOf(begin, at)) >= 0) {
            const qsizetype stop = data.indexOf(end, at);
            if (stop < 0)
                break;
            repairSection(data, at + begin.size(), stop, codes);
            at = stop;
        }
    }
    if (data == original)
        return true;
    // Same length: only changed bytes are written, offsets stay valid.
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data[i] == original[i])
            continue;
        qsizetype j = i;
        while (j < data.size() && data[j] != original[j])
            ++j;
        if (!file.seek(i) || file.write(data.constData() + i, j - i) != j - i)
            return false;
        i = j;
    }
    return file.flush();
}
