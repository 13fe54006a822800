#include "gui/controls/PlusMinusBranches.h"

#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>
#include <QTreeView>

namespace {

class PlusMinusBranchStyle : public QProxyStyle
{
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element != PE_IndicatorBranch) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const QRect r = option->rect;
        const QPoint c = r.center();
        painter->save();
        QPen dotted(option->palette.color(QPalette::Dark), 1, Qt::DotLine);
        painter->setPen(dotted);
        // The line down the branch, and across to this row's own node.
        if (option->state & State_Item) {
            painter->drawLine(c.x(), r.top(), c.x(), (option->state & State_Sibling) ? r.bottom() : c.y());
            painter->drawLine(c.x(), c.y(), r.right(), c.y());
        } else if (option->state & State_Sibling) {
            painter->drawLine(c.x(), r.top(), c.x(), r.bottom());
        }
        if (option->state & State_Children) {
            const int half = 4;
            const QRect box(c.x() - half, c.y() - half, 2 * half, 2 * half);
            painter->setPen(QPen(option->palette.color(QPalette::Dark), 1));
            painter->setBrush(option->palette.color(QPalette::Base));
            painter->drawRect(box);
            painter->setPen(QPen(option->palette.color(QPalette::Text), 1));
            painter->drawLine(c.x() - half + 2, c.y(), c.x() + half - 2, c.y());
            if (!(option->state & State_Open))
                painter->drawLine(c.x(), c.y() - half + 2, c.x(), c.y() + half - 2);
        }
        painter->restore();
    }
};

}

void ShowPlusMinusExpanders(QTreeView *tree)
{
    auto *style = new PlusMinusBranchStyle;
    style->setParent(tree);
    tree->setStyle(style);
    tree->setRootIsDecorated(true);
}
