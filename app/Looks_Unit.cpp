#include "app/Looks_Unit.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QTranslator>

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

bool LoadQtTranslations(QApplication &app)
{
    static QPointer<QTranslator> installed;
    if (installed)
        return true;
    auto *translator = new QTranslator(&app);
    // Chinese whatever the system's locale: every text of the program is.
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        qWarning("Qt's Chinese translations (qtbase_zh_CN.qm) were not found; Qt's own texts stay English.");
        return false;
    }
    app.installTranslator(translator);
    installed = translator;
    return true;
}

void ApplyLooks(QApplication &app)
{
    LoadQtTranslations(app);
    // HanaMin A and B draw the rare characters of names (CJK Extension B and
    // beyond) that the other fonts lack; Qt falls back along this list.
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                                QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback"),
                                QStringLiteral("HanaMinA"), QStringLiteral("HanaMinB")});
    QFont font(QStringLiteral("宋体"), 10);
    font.setStyleHint(QFont::Serif);
    app.setFont(font);
    app.setApplicationName(QStringLiteral("Veltrana"));
    app.setWindowIcon(ApplicationIcon());
    app.setApplicationDisplayName(QString());
}
