#pragma once
// Finding rows of a record set by typed text, in short steps, so that a
// search over millions of rows never holds the window for long and the next
// keystroke can drop it. The rule is that of TextMatch.h, applied to the
// given columns as a grid shows them:
// - a number (digits only) is looked for in the identifier columns (names
//   ending in "ID"), by prefix;
// - a query with letters in the text columns (words and codes; pinyin);
// - any other query (Chinese text, signs) in every column.
// A table set is searched by the engine: a number through the columns'
// indexes, other text by the matching SQL function over windows of row keys.
// Any other set is walked row by row.
#include "data/RecordSet.h"
#include "data/find/TextMatch.h"

#include <QElapsedTimer>
#include <QVector>
#include <memory>

namespace dravon { class Connection; }

namespace findtext {

// Whether a column takes part in a search for this query.
bool searchesColumn(const Query &query, const dravon::Field &field);

class RowSearch
{
public:
    enum class Status { Running, Found, NotFound };

    // Looks for the first matching row from row `from` on (or back, when not
    // forward), past the end round to the other end, ending before `from`
    // again. fields: indexes of the columns to search.
    RowSearch(dravon::Connection &connection, dravon::RecordSet *set, const QVector<int> &fields,
              const QString &query, int from, bool forward);
    ~RowSearch();

    // Searches for about budgetMs (at least one step); throws dravon::Error
    // when the database fails.
    Status run(int budgetMs);
    Status status() const { return m_status; }
    int foundRow() const { return m_found; }

private:
    class Walk;
    class EngineWalk;
    class RowWalk;
    std::unique_ptr<Walk> m_walk;
    Status m_status = Status::Running;
    int m_found = -1;
};

// The rows of a set whose given columns match (by the rule above), at most
// limit, in the set's order: for each, the texts of those columns as shown.
// A table set is searched by the engine.
QVector<QStringList> matchingRows(dravon::RecordSet *set, const QVector<int> &fields, const QString &query,
                                  int limit);

// How many rows match, and how many of them come before a given row; in
// steps like the search.
class MatchCount
{
public:
    MatchCount(dravon::Connection &connection, dravon::RecordSet *set, const QVector<int> &fields,
               const QString &query, int row);
    ~MatchCount();
    // True when counted (run again while false).
    bool run(int budgetMs);
    bool done() const;
    int total() const;
    int before() const;  // matching rows before the given row

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}
