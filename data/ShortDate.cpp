#include "data/ShortDate.h"

#include <QHash>
#include <QLocale>
#include <QRegularExpression>

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
    const QDate date = QDate::fromString(t, shortDateFormat());
    return date.isValid() ? date : parseNumericDate(t, shortDateFormat());
}

QDate parseNumericDate(const QString &text, const QString &format)
{
    // Three numbers with one separator between them; the year has four digits.
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,4})([-/.])(\\d{1,2})\\2(\\d{1,4})$"));
    const QRegularExpressionMatch m = pattern.match(text.trimmed());
    if (!m.hasMatch())
        return {};
    const QString first = m.captured(1), middle = m.captured(3), last = m.captured(4);
    if (first.size() == 4)
        return last.size() <= 2 ? QDate(first.toInt(), middle.toInt(), last.toInt()) : QDate();
    if (last.size() != 4 || first.size() > 2)
        return {};
    // Day and month stand in the order of the short format.
    const qsizetype day = format.indexOf(QLatin1Char('d')), month = format.indexOf(QLatin1Char('M'));
    const qsizetype year = format.indexOf(QLatin1Char('y'));
    if (day < 0 || month < 0 || (year >= 0 && year < day && year < month))
        return {};
    return day < month ? QDate(last.toInt(), middle.toInt(), first.toInt())
                       : QDate(last.toInt(), first.toInt(), middle.toInt());
}

}
