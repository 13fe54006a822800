#include "app/Looks_Unit.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

QIcon ApplicationIcon()
{
    // A small open book on blue, drawn here so the program carries no image files.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient blue(0, 0, 0, 32);
    blue.setColorAt(0, QColor(60, 110, 170));
    blue.setColorAt(1, QColor(120, 170, 215));
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 5, 5);
    p.setPen(QPen(QColor(30, 60, 110), 1.2));
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(16, 11), QPointF(5, 8), QPointF(5, 23), QPointF(16, 26)}));
    p.drawPolygon(QPolygonF({QPointF(16, 11), QPointF(27, 8), QPointF(27, 23), QPointF(16, 26)}));
    return QIcon(pixmap);
}

void ApplyLooks(QApplication &app)
{
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                                QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback")});
    QFont font(QStringLiteral("宋体"), 10);
    font.setStyleHint(QFont::Serif);
    app.setFont(font);
    app.setApplicationName(QStringLiteral("Veltrana"));
    app.setWindowIcon(ApplicationIcon());
    app.setApplicationDisplayName(QString());
}
