#include "app/Looks_Unit.h"

#include <QApplication>
#include <QFont>

void ApplyLooks(QApplication &app)
{
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                                QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback")});
    QFont font(QStringLiteral("宋体"), 10);
    font.setStyleHint(QFont::Serif);
    app.setFont(font);
    app.setApplicationName(QStringLiteral("Veltrana"));
    app.setApplicationDisplayName(QString());
}
