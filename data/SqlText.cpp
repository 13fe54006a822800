#include "data/SqlText.h"

#include "data/Error.h"
#include "data/ShortDate.h"

#include <QRegularExpression>

namespace dravon {

QString QuotedStr(const QString &value)
{
    QString text = value;
    text.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

QString quotedIdentifier(const QString &name)
{
    QString text = name;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString translateSql(const QString &sql)
{
    QString out;
    out.reserve(sql.size() + 16);
    const int n = sql.size();
    int i = 0;
    while (i < n) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('[') || c == QLatin1Char('`')) {
            // Copy a quoted text or name whole; a doubled closing quote stays inside.
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            int j = i + 1;
            while (j < n) {
                if (sql.at(j) == close) {
                    if (close != QLatin1Char(']') && j + 1 < n && sql.at(j + 1) == close) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            out += sql.mid(i, qMin(j + 1, n) - i);
            i = j + 1;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql.at(i + 1) == QLatin1Char('-')) {
            const int j = sql.indexOf(QLatin1Char('\n'), i);
            const int end = j < 0 ? n : j;
            out += sql.mid(i, end - i);
            i = end;
        } else if (c == QLatin1Char('#')) {
            const int j = sql.indexOf(QLatin1Char('#'), i + 1);
            if (j < 0)
                throw Error(QStringLiteral("日期常量缺少结束的 \"#\": %1").arg(sql.mid(i)));
            const QString literal = sql.mid(i + 1, j - i - 1);
            const QDate date = parseShortDate(literal);
            if (!date.isValid())
                throw Error(QStringLiteral("无法识别的日期: #%1# (日期格式应为 %2)").arg(literal, shortDateFormat()));
            out += QLatin1Char('\'') + date.toString(Qt::ISODate) + QLatin1Char('\'');
            i = j + 1;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

PlainSelect parsePlainSelect(const QString &sql)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*select\\s+\\*\\s+from\\s+(\\[[^\\]]+\\]|\"[^\"]+\"|[A-Za-z_][A-Za-z0-9_]*)"
                       "(?:\\s+where\\s+(.*?))?\\s*;?\\s*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    PlainSelect result;
    const QRegularExpressionMatch m = form.match(sql);
    if (!m.hasMatch())
        return result;
    QString table = m.captured(1);
    if (table.startsWith(QLatin1Char('[')) || table.startsWith(QLatin1Char('"')))
        table = table.mid(1, table.size() - 2);
    result.matches = true;
    result.table = table;
    result.condition = m.captured(2).trimmed();
    // A condition that joins further clauses (ORDER BY, GROUP BY, LIMIT...) is
    // not a plain filter; such a statement is read-only.
    static const QRegularExpression clauses(QStringLiteral("\\b(order|group|limit|union|having)\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (!result.condition.isEmpty() && clauses.match(result.condition).hasMatch()) {
        // Only a conservative check: words inside quotes also count, which at worst
        // makes the record set read-only.
        result.matches = false;
    }
    return result;
}

}
