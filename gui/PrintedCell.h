#pragma once
// The text of one printed table cell: laid out in lines of the cell's width,
// broken at word boundaries (and inside a word only when the word alone is
// wider than the cell), so that nothing is clipped and every line can be
// painted on its own when a tall row continues on the next page.
#include <QFont>
#include <QString>
#include <QVector>
#include <memory>
#include <vector>

class QPainter;
class QPaintDevice;
class QTextLayout;

// Width of the widest part of a text that a line break never splits:
// a run of letters, digits and signs between spaces, or one CJK character
// with the punctuation that follows it. Lines of the text are separated by '\n'.
qreal UnbreakableWidth(const QString &text, const QFont &font, QPaintDevice *device);

// Width of the text's longest line.
qreal NaturalWidth(const QString &text, const QFont &font, QPaintDevice *device);

class CellText
{
public:
    // A text of one line is aligned as oneLine says, a wrapped text as wrapped says.
    CellText(const QString &text, const QFont &font, qreal width, QPaintDevice *device,
             Qt::Alignment oneLine = Qt::AlignHCenter, Qt::Alignment wrapped = Qt::AlignLeft);
    CellText(CellText &&) noexcept;
    CellText &operator=(CellText &&) noexcept;
    ~CellText();

    // Height of all lines (at least one line, also for an empty text).
    qreal height() const { return m_height; }
    int lineCount() const { return int(m_edges.size()) - 1; }
    // The largest offset from the top, not above limit, that cuts between
    // two lines (or below the last line); 0 when the first line does not fit.
    qreal cutAtOrBefore(qreal limit) const;
    // Paints the lines that lie within [from, to) of the text, with the
    // text's offset from placed at origin.
    void draw(QPainter &painter, const QPointF &origin, qreal from, qreal to) const;

private:
    QString m_text;
    QFont m_font;
    qreal m_width = 0;
    qreal m_height = 0;
    Qt::Alignment m_oneLine;
    QVector<qreal> m_edges;  // the top of each line, then the bottom of the last
    std::unique_ptr<QTextLayout> m_layout;  // only for a text of more than one line
};

// The height of a row of cells: its tallest cell, at least minimum.
qreal RowContentHeight(const std::vector<CellText> &cells, qreal minimum);
// The largest offset not above limit at which a page may cut a row of cells
// without cutting a line of any of them; at most from when none fits.
qreal RowCut(const std::vector<CellText> &cells, qreal limit);
