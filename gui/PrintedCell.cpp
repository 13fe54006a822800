#include "gui/PrintedCell.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

namespace {

// Characters a line may break before and after (CJK ideographs, kana,
// Hangul, full-width letters and digits).
bool standsAlone(char32_t c)
{
    switch (QChar::script(c)) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Hangul:
    case QChar::Script_Bopomofo:
        return true;
    default:
        return (c >= 0xFF10 && c <= 0xFF19) || (c >= 0xFF21 && c <= 0xFF3A) || (c >= 0xFF41 && c <= 0xFF5A);
    }
}

// Punctuation outside ASCII ("，", "。", "）", "…") stays with what precedes it.
bool staysWithPrevious(char32_t c)
{
    return c >= 0x2000 && QChar::isPunct(c);
}

QString withLineSeparators(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return text;
}

}

qreal UnbreakableWidth(const QString &text, const QFont &font, QPaintDevice *device)
{
    const QFontMetricsF fm(font, device);
    qreal widest = 0;
    qsizetype start = -1;
    bool ideograph = false;  // the open unit starts with a character that stands alone
    auto close = [&](qsizetype end) {
        if (start >= 0)
            widest = qMax(widest, fm.horizontalAdvance(text.mid(start, end - start)));
        start = -1;
    };
    for (qsizetype i = 0; i < text.size();) {
        char32_t c = text.at(i).unicode();
        qsizetype length = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            length = 2;
        }
        if (QChar::isSpace(c)) {
            close(i);
        } else if (staysWithPrevious(c)) {
            if (start < 0) {
                start = i;
                ideograph = false;
            }
        } else if (standsAlone(c)) {
            close(i);
            start = i;
            ideograph = true;
        } else if (start < 0 || ideograph) {
            close(i);
            start = i;
            ideograph = false;
        }
        i += length;
    }
    close(text.size());
    return widest;
}

qreal NaturalWidth(const QString &text, const QFont &font, QPaintDevice *device)
{
    const QFontMetricsF fm(font, device);
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return fm.horizontalAdvance(text);
    qreal widest = 0;
    for (const QString &line : withLineSeparators(text).split(QChar::LineSeparator))
        widest = qMax(widest, fm.horizontalAdvance(line));
    return widest;
}

CellText::CellText(const QString &text, const QFont &font, qreal width, QPaintDevice *device, Qt::Alignment oneLine,
                   Qt::Alignment wrapped)
    : m_text(text), m_font(font), m_width(width), m_oneLine(oneLine)
{
    const QFontMetricsF fm(font, device);
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')) && fm.horizontalAdvance(text) <= width) {
        m_height = fm.height();
        m_edges = {0, m_height};
        return;
    }
    m_layout = std::make_unique<QTextLayout>(withLineSeparators(text), font, device);
    QTextOption option(wrapped);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_layout->setTextOption(option);
    m_layout->beginLayout();
    qreal y = 0;
    for (QTextLine line = m_layout->createLine(); line.isValid(); line = m_layout->createLine()) {
        line.setLineWidth(qMax<qreal>(1, width));
        line.setPosition(QPointF(0, y));
        m_edges << y;
        y += line.height();
    }
    m_layout->endLayout();
    if (m_edges.isEmpty()) {
        m_edges << 0;
        y = fm.height();
    }
    m_edges << y;
    m_height = y;
}

CellText::CellText(CellText &&) noexcept = default;
CellText &CellText::operator=(CellText &&) noexcept = default;
CellText::~CellText() = default;

qreal CellText::cutAtOrBefore(qreal limit) const
{
    constexpr qreal tolerance = 0.01;
    qreal cut = 0;
    for (const qreal edge : m_edges) {
        if (edge > limit + tolerance)
            break;
        cut = edge;
    }
    return cut;
}

void CellText::draw(QPainter &painter, const QPointF &origin, qreal from, qreal to) const
{
    constexpr qreal tolerance = 0.01;
    if (m_text.isEmpty())
        return;
    painter.setFont(m_font);
    if (!m_layout) {
        if (from <= tolerance && to + tolerance >= m_height)
            painter.drawText(QRectF(origin.x(), origin.y(), m_width, m_height), int(m_oneLine | Qt::AlignTop), m_text);
        return;
    }
    for (int i = 0; i < m_layout->lineCount(); ++i) {
        if (m_edges[i] + tolerance >= from && m_edges[i + 1] <= to + tolerance)
            m_layout->lineAt(i).draw(&painter, origin - QPointF(0, from));
    }
}

qreal RowContentHeight(const std::vector<CellText> &cells, qreal minimum)
{
    qreal h = minimum;
    for (const CellText &cell : cells)
        h = qMax(h, cell.height());
    return h;
}

qreal RowCut(const std::vector<CellText> &cells, qreal limit)
{
    constexpr qreal tolerance = 0.01;
    qreal cut = limit;
    for (bool moved = true; moved;) {
        moved = false;
        for (const CellText &cell : cells) {
            if (cut >= cell.height() - tolerance)
                continue;
            const qreal c = cell.cutAtOrBefore(cut);
            if (c < cut - tolerance) {
                cut = c;
                moved = true;
            }
        }
    }
    return cut;
}
