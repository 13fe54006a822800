#include "data/ShortDate.h"

#include <QLocale>

namespace dravon {

namespace {
QString &testFormat()
{
    static QString format;
    return format;
}
}

QString shortDateFormat()
{
    if (!testFormat().isEmpty())
        return testFormat();
    const QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C)
        return QStringLiteral("yyyy/M/d");
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

void setShortDateFormatForTesting(const QString &format)
{
    testFormat() = format;
}

QString formatShortDate(const QDate &date)
{
    return date.isValid() ? date.toString(shortDateFormat()) : QString();
}

QDate parseShortDate(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return {};
    QDate date = QDate::fromString(t, shortDateFormat());
    if (!date.isValid())
        date = QDate::fromString(t, Qt::ISODate);
    return date;
}

}
