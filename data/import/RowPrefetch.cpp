#include "data/import/RowPrefetch.h"

namespace importing {

namespace {

constexpr size_t rowsPerBatch = 1024;
constexpr qint64 charsPerBatch = 1 << 20;
// Once this many rows or this much text is ready, the reader waits until
// half of it is taken.
constexpr qint64 rowsAhead = 32 * 1024;
constexpr qint64 charsAhead = 8 << 20;

}

RowPrefetch::RowPrefetch(TableReader &reader) : m_reader(reader), m_progress(reader.progress())
{
    m_thread = std::thread([this] { read(); });
}

RowPrefetch::~RowPrefetch()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

bool RowPrefetch::halfTaken() const
{
    return m_readyRows <= rowsAhead / 2 && m_readyChars <= charsAhead / 2;
}

void RowPrefetch::read()
{
    std::exception_ptr failure;
    bool more = true;
    while (more) {
        Batch batch;
        batch.rows.reserve(rowsPerBatch);
        try {
            SourceRow row;
            while (batch.rows.size() < rowsPerBatch && batch.chars < charsPerBatch && (more = m_reader.next(row))) {
                for (const QString &cell : std::as_const(row.cells))
                    batch.chars += cell.size();
                batch.rows.push_back(std::move(row));
            }
        } catch (...) {
            failure = std::current_exception();
            more = false;
        }
        m_progress.store(m_reader.progress(), std::memory_order_relaxed);
        std::unique_lock lock(m_mutex);
        if (m_readyRows >= rowsAhead || m_readyChars >= charsAhead)
            m_changed.wait(lock, [this] { return m_stop || halfTaken(); });
        if (m_stop)
            return;
        if (!batch.rows.empty()) {
            m_readyRows += qint64(batch.rows.size());
            m_readyChars += batch.chars;
            m_ready.push_back(std::move(batch));
        }
        if (!more) {
            m_ended = true;
            m_failure = failure;
        }
        lock.unlock();
        m_changed.notify_all();
    }
}

bool RowPrefetch::next(SourceRow &row)
{
    if (m_taken == m_taking.rows.size()) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty() || m_ended; });
        if (m_ready.empty()) {
            if (m_failure)
                std::rethrow_exception(std::exchange(m_failure, nullptr));
            return false;
        }
        const bool wasWaiting = !halfTaken();
        m_taking = std::move(m_ready.front());
        m_ready.pop_front();
        m_readyRows -= qint64(m_taking.rows.size());
        m_readyChars -= m_taking.chars;
        m_taken = 0;
        const bool wake = wasWaiting && halfTaken();
        lock.unlock();
        if (wake)
            m_changed.notify_all();
    }
    row = std::move(m_taking.rows[m_taken++]);
    return true;
}

}
