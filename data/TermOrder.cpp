#include "data/TermOrder.h"

#include <QRegularExpression>
#include <algorithm>
#include <tuple>

namespace dravon {

namespace {

// The value of a Chinese numeral of up to two places ("十一", "二十", "两"),
// or -1 when the text is none.
int chineseNumber(const QString &text)
{
    static const QString digits = QStringLiteral("零一二三四五六七八九");
    auto digit = [](QChar c) -> int {
        if (c == QChar(0x4E24))  // 两
            return 2;
        if (c == QChar(0x3007))  // 〇
            return 0;
        return int(digits.indexOf(c));
    };
    if (text.isEmpty())
        return -1;
    const int ten = int(text.indexOf(QChar(0x5341)));  // 十
    if (ten < 0)
        return text.size() == 1 ? digit(text[0]) : -1;
    if (ten > 1 || text.size() > ten + 2)
        return -1;
    const int tens = ten == 0 ? 1 : digit(text[0]);
    const int ones = text.size() == ten + 2 ? digit(text[ten + 1]) : 0;
    if (tens < 0 || ones < 0)
        return -1;
    return tens * 10 + ones;
}

int placeOf(const QString &term)
{
    static const QRegularExpression ordinal(QStringLiteral("第\\s*([0-9０-９]+|[零〇一二两三四五六七八九十]+)\\s*学?期"));
    const QRegularExpressionMatch m = ordinal.match(term);
    if (m.hasMatch()) {
        const QString n = m.captured(1);
        bool ok = false;
        QString ascii;
        for (QChar c : n)
            ascii += (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19) ? QChar(c.unicode() - 0xFF10 + '0') : c;
        const int arabic = ascii.toInt(&ok);
        if (ok)
            return arabic;
        const int chinese = chineseNumber(n);
        if (chinese >= 0)
            return chinese;
    }
    if (term.contains(QStringLiteral("上学期")))
        return 1;
    if (term.contains(QStringLiteral("下学期")))
        return 2;
    static const QString seasons = QStringLiteral("春夏秋冬");
    static const QRegularExpression season(QStringLiteral("([春夏秋冬])季?(?:学期)?"));
    const QRegularExpressionMatch s = season.match(term);
    if (s.hasMatch())
        return int(seasons.indexOf(s.captured(1)[0])) + 1;
    return 1 << 30;
}

}

TermKey termKey(const QString &term)
{
    TermKey key;
    key.text = term;
    static const QRegularExpression year(QStringLiteral("(?<![0-9])((?:19|20)[0-9]{2})(?![0-9])"));
    const QRegularExpressionMatch y = year.match(term);
    if (y.hasMatch())
        key.year = y.captured(1).toInt();
    key.place = placeOf(term);
    return key;
}

bool termLess(const QString &a, const QString &b)
{
    const TermKey ka = termKey(a);
    const TermKey kb = termKey(b);
    return std::tie(ka.year, ka.place, ka.text) < std::tie(kb.year, kb.place, kb.text);
}

void sortTerms(QStringList &terms)
{
    QList<TermKey> keys;
    keys.reserve(terms.size());
    for (const QString &t : std::as_const(terms))
        keys << termKey(t);
    std::stable_sort(keys.begin(), keys.end(), [](const TermKey &a, const TermKey &b) {
        return std::tie(a.year, a.place, a.text) < std::tie(b.year, b.place, b.text);
    });
    terms.clear();
    for (const TermKey &k : std::as_const(keys))
        terms << k.text;
}

}
