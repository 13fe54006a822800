#pragma once
// The first pages of a server sort in one pass over the set. A sample of a
// few of the table's pages, sorted, tells roughly where the first rows,
// the last rows and the rows around the chosen one lie in the order; one
// statement then counts the set, finds the chosen row's position and sorts
// only the rows of those three blocks. Whether each block holds all the
// rows it must is checked against the exact counts; a block that falls
// short is left unknown, for the caller to read by itself.
#include "data/server/PgSession.h"

#include <QString>
#include <QVector>
#include <optional>

namespace dravon {

struct ServerSort;

struct SortBlocks
{
    qint64 count = 0;
    qint64 rank = -1;  // the rows before the chosen one; -1 without one
    // The rows of each page in order; nothing when the block fell short.
    std::optional<QVector<qint64>> first, last, below, above;
};

// keepBefore: the condition that a row comes before the chosen one (keep,
// bound as $2), empty without a chosen row in the set. page: the rows of
// the first and the last page; half of it on each side of the chosen row.
SortBlocks readSortBlocks(pg::Session &session, const ServerSort &sort, const QString &keepBefore, qint64 keep,
                          int page);

// Tests: the table pages the sample reads (0: as the program chooses).
void setSortSamplePagesForTesting(int pages);

}
