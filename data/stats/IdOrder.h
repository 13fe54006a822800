#pragma once
// The order of identifiers in the statistics' lists: digit strings by their
// number (2007002 before 2007010, 9999 before 10000), then other texts as
// text, and an empty identifier (rows that name none) last.
#include <QString>

namespace stats {

inline bool idLess(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return !a.isEmpty() && b.isEmpty();
    auto digits = [](const QString &s) {
        for (const QChar c : s)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        return true;
    };
    const bool da = digits(a), db = digits(b);
    if (da != db)
        return da;
    if (da) {
        auto significant = [](const QString &s) {
            qsizetype i = 0;
            while (i + 1 < s.size() && s[i] == QLatin1Char('0'))
                ++i;
            return QStringView(s).mid(i);
        };
        const QStringView x = significant(a), y = significant(b);
        if (x.size() != y.size())
            return x.size() < y.size();
        if (x != y)
            return x < y;
    }
    return a < b;
}

}
