#include "data/import/CellText.h"

#include "data/ShortDate.h"

#include <QRegularExpression>
#include <cmath>

namespace importing {

QDate excelSerialDate(double serial, bool date1904)
{
    if (!std::isfinite(serial) || serial < 0 || serial >= 2958466)
        return {};
    const qint64 day = qint64(std::floor(serial));
    if (date1904)
        return QDate(1904, 1, 1).addDays(day);
    if (day == 60)
        return {};
    if (day < 60)
        return QDate(1899, 12, 31).addDays(day);
    return QDate(1899, 12, 30).addDays(day);
}

QString numberText(double value)
{
    if (!std::isfinite(value))
        return QString::number(value);
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    QString text = QString::number(value, 'g', 15);
    return text;
}

namespace {

bool isBlank(QChar c)
{
    return c.isSpace() || c.unicode() == 0x3000 || c.unicode() == 0x00A0 || c.unicode() == 0xFEFF;
}

QString trimmedBlanks(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return begin == 0 && end == text.size() ? text : text.mid(begin, end - begin);
}

}

QString normalizedCell(const QString &text)
{
    QString t = trimmedBlanks(text);
    for (qsizetype i = 0; i < t.size(); ++i) {
        const char16_t u = t.at(i).unicode();
        if (u >= 0xFF10 && u <= 0xFF19)
            t[i] = QChar(u - 0xFF10 + u'0');
    }
    return t;
}

QString normalizedNumeric(const QString &text)
{
    QString t = normalizedCell(text);
    for (qsizetype i = 0; i < t.size(); ++i) {
        switch (t.at(i).unicode()) {
        case 0xFF0E:  // ．
        case 0x3002:  // 。
            t[i] = QLatin1Char('.');
            break;
        case 0xFF0D:  // －
            t[i] = QLatin1Char('-');
            break;
        case 0xFF0B:  // ＋
            t[i] = QLatin1Char('+');
            break;
        case 0xFF0F:  // ／
            t[i] = QLatin1Char('/');
            break;
        case 0xFF1A:  // ：
            t[i] = QLatin1Char(':');
            break;
        default:
            break;
        }
    }
    return t;
}

namespace {

// "2024-09-01", "2024/9/1", "2024.9.1": what nearly every cell of a date
// column holds, read without the general pattern; anything else is left to it.
QDate plainDate(QStringView t)
{
    auto digits = [&](qsizetype &i, int most, int *value) {
        const qsizetype start = i;
        *value = 0;
        while (i < t.size() && i - start < most && t[i] >= u'0' && t[i] <= u'9')
            *value = *value * 10 + (t[i++].unicode() - u'0');
        return i > start;
    };
    auto separator = [&](qsizetype &i) {
        if (i < t.size() && (t[i] == u'-' || t[i] == u'/' || t[i] == u'.')) {
            ++i;
            return true;
        }
        return false;
    };
    qsizetype i = 0;
    int year = 0, month = 0, day = 0;
    if (t.size() < 8 || t.size() > 10 || !digits(i, 4, &year) || i != 4 || !separator(i) || !digits(i, 2, &month)
        || !separator(i) || !digits(i, 2, &day) || i != t.size())
        return {};
    return QDate(year, month, day);
}

}

QDate readDate(const QString &text)
{
    if (const QDate plain = plainDate(text); plain.isValid())
        return plain;
    const QString t = normalizedNumeric(text);
    if (t.isEmpty())
        return {};
    static const QRegularExpression ymd(QStringLiteral(
        "^(\\d{4})\\s*[-/.年]\\s*(\\d{1,2})\\s*[-/.月]\\s*(\\d{1,2})\\s*日?(?:[T\\s]+\\d{1,2}:\\d{2}(?::\\d{2}(?:\\.\\d+)?)?)?$"));
    const QRegularExpressionMatch m = ymd.match(t);
    if (m.hasMatch())
        return QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    static const QRegularExpression serial(QStringLiteral("^\\d{1,7}(?:\\.\\d+)?$"));
    if (serial.match(t).hasMatch())
        return excelSerialDate(t.toDouble(), false);
    return dravon::parseShortDate(t);
}

QString isoDateText(const QDate &date)
{
    const int y = date.year(), m = date.month(), d = date.day();
    if (!date.isValid() || y < 1 || y > 9999)
        return date.toString(Qt::ISODate);
    const char16_t text[10] = {char16_t(u'0' + y / 1000),     char16_t(u'0' + y / 100 % 10), char16_t(u'0' + y / 10 % 10),
                               char16_t(u'0' + y % 10),       u'-',
                               char16_t(u'0' + m / 10),       char16_t(u'0' + m % 10),       u'-',
                               char16_t(u'0' + d / 10),       char16_t(u'0' + d % 10)};
    return QString(reinterpret_cast<const QChar *>(text), 10);
}

}
