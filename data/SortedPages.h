#pragma once
// What one pass over a set's rows tells of their order by a column, without
// sorting them all: how many there are, the first and the last rows, and
// where one chosen row stands with the rows around it. The order is the
// engine's own for `ORDER BY column [DESC], rowid` under the BINARY
// collation: NULL first, then numbers, texts (by their bytes), blobs; equal
// values by row key, ascending also in a descending order. A pass costs what
// the engine's `ORDER BY … LIMIT` costs; the whole order comes later from a
// worker (KeyOrder.h) and agrees with these pages row for row.
#include "data/KeyOrder.h"

#include <QVector>
#include <optional>

struct sqlite3;

namespace dravon {

class SortedPages
{
public:
    // Rows at positions first, first + 1, ... of the order.
    struct Stretch
    {
        int first = 0;
        QVector<qint64> keys;
    };
    struct Result
    {
        qint64 count = 0;
        // The first rows, the last rows and the rows around the chosen one
        // (the chosen one among them); empty stretches are left out.
        QVector<Stretch> stretches;
        int keptPosition = -1;  // the chosen row's position, -1 when it is not in the set
    };

    // sql yields a row key and the value to sort by for every row of the set,
    // in any order; binds are its integer parameters ?1, ?2, ... keep is the
    // row key of the chosen row (-1 for none) and keepSql reads its value
    // (the key bound as ?1); page is the rows of each page. progress is
    // called now and then (rows read, total); nothing when it cancels.
    // Throws dravon::Error when the engine fails.
    static std::optional<Result> read(sqlite3 *db, const QString &sql, const QVector<qint64> &binds, bool descending,
                                      qint64 keep, const QString &keepSql, int page, qint64 total,
                                      const Progress &progress);
};

}
