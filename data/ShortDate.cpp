#include "data/ShortDate.h"

#include <QHash>
#include <QLocale>

namespace dravon {

namespace {
QString &testFormat()
{
    static QString format;
    return format;
}

QString localeFormat()
{
    const QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C)
        return QStringLiteral("yyyy/M/d");
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

}

QString shortDateFormat()
{
    if (!testFormat().isEmpty())
        return testFormat();
    // The system locale is read once: asking it costs more than showing a date.
    static const QString format = localeFormat();
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

QString showIsoDate(const QString &iso)
{
    // A grid shows the same few thousand dates over and over: each is
    // formatted once per thread and format.
    thread_local QHash<QString, QString> shown;
    thread_local QString shownFormat;
    const QString format = shortDateFormat();
    if (format != shownFormat || shown.size() >= 8192) {
        shown.clear();
        shownFormat = format;
    }
    const auto found = shown.constFind(iso);
    if (found != shown.constEnd())
        return *found;
    const QDate date = QDate::fromString(iso, Qt::ISODate);
    const QString text = date.isValid() ? date.toString(format) : iso;
    shown.insert(iso, text);
    return text;
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
