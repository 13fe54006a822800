#pragma once
// A sheet's rows read on a thread of their own, ahead of the one who takes
// them: unpacking and parsing the file and checking its rows then share the
// machine's cores. Enough rows wait that a busy machine's scheduling does not
// starve the taker, and few enough that memory stays flat (at most about
// 16 MB of cell text); the rows and the reader's failure come in the file's order.
#include "data/import/TableReader.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace importing {

class RowPrefetch
{
public:
    // Reads on from where the reader stands (its sheet selected). The reader
    // is the prefetch's alone until it is destroyed.
    explicit RowPrefetch(TableReader &reader);
    // Stops the reading (after the batch in hand) and waits for it.
    ~RowPrefetch();
    RowPrefetch(const RowPrefetch &) = delete;
    RowPrefetch &operator=(const RowPrefetch &) = delete;

    // As TableReader::next: the next row, false at the end; throws what the
    // reader threw once the rows read before it are taken.
    bool next(SourceRow &row);
    // How much of the sheet has been read, 0 to 1.
    double progress() const { return m_progress.load(std::memory_order_relaxed); }

private:
    void read();
    bool halfTaken() const;  // under m_mutex

    struct Batch
    {
        std::vector<SourceRow> rows;
        qint64 chars = 0;
    };
    TableReader &m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_ready;   // guarded by m_mutex, as are the five below
    qint64 m_readyRows = 0;
    qint64 m_readyChars = 0;
    bool m_ended = false;
    bool m_stop = false;
    std::exception_ptr m_failure;
    Batch m_taking;              // the caller's
    size_t m_taken = 0;
    std::atomic<double> m_progress{0};
    std::thread m_thread;
};

}
