#pragma once
// The row keys of a table set on a PostgreSQL server in the order of a
// column, read by a worker thread on a read-only session of its own. For a
// large set it first sends the pages a window shows at once (the count, the
// first and the last rows, the rows around the current one), then the whole
// order, both from one snapshot, so that they agree row for row. The order
// is the file's: empty values first (last when descending), equal values by
// row key ascending. A cancel stops the running statement on the server.
#include "data/KeyOrder.h"
#include "data/SortedPages.h"
#include "data/server/PgSession.h"

namespace dravon {

// A sort of a table's rows, in the server's SQL.
struct ServerSort
{
    QString table;   // quoted
    QString rows;    // the set's rows: a condition with $1 bound to maxKey
    QString column;  // quoted
    bool descending = false;
    qint64 maxKey = 0;
    // "SELECT "Id" … ORDER BY …": the whole order.
    QString orderSql() const;
    // The ORDER BY terms, or the same order backwards.
    QString orderBy(bool backwards) const;
};

class ServerKeyOrder : public KeyOrder
{
    Q_OBJECT
public:
    // keep: the row key of the chosen row (-1 for none) for the pages; page:
    // the rows of each page; no pages at all when page is 0.
    ServerKeyOrder(const pg::ServerAddress &address, const ServerSort &sort, qint64 keep = -1, int page = 0);
    ~ServerKeyOrder() override;
    void cancel() override;
    // Starts the worker and waits for its pages, calling progress(0, total)
    // now and then; nothing when progress cancelled. Throws dravon::Error
    // when the server refused.
    std::optional<SortedPages::Result> awaitPages(qint64 total, const Progress &progress);

protected:
    void run() override;

private:
    SortedPages::Result readPages(pg::Session &session);

    pg::ServerAddress m_address;
    ServerSort m_sort;
    qint64 m_keep;
    int m_page;
    pg::Canceller m_canceller;
    std::atomic<bool> m_pagesRead{false};
    SortedPages::Result m_pages;  // written before m_pagesRead is set
};

}
