#pragma once
// The order of school terms as a teaching office reads them: "第二学期"
// before "第十学期", and "2023-2024学年第二学期" before "2024-2025学年第一学期".
// A term names a year (the first four-digit year in it) and a place in the
// year (第N学期 with Chinese or Arabic numerals, 上/下学期, or a season);
// terms are ordered by year, then place, then text. Terms without a year come
// before those with one; texts with neither order as text.
#include <QString>
#include <QStringList>

namespace dravon {

struct TermKey
{
    int year = -1;      // -1: no year named
    int place = 1 << 30;  // large: no place named
    QString text;
};

TermKey termKey(const QString &term);
// True when a is ordered before b.
bool termLess(const QString &a, const QString &b);
// Sorts terms in place, as termLess orders them.
void sortTerms(QStringList &terms);

}
