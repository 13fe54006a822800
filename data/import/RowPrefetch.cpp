#include "data/import/RowPrefetch.h"

namespace importing {

namespace {

constexpr size_t rowsPerBatch = 256;
constexpr size_t batchesAhead = 8;

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

void RowPrefetch::read()
{
    Batch batch;
    std::exception_ptr failure;
    bool more = true;
    while (more) {
        batch.reserve(rowsPerBatch);
        try {
            SourceRow row;
            while (batch.size() < rowsPerBatch && (more = m_reader.next(row)))
                batch.push_back(std::move(row));
        } catch (...) {
            failure = std::current_exception();
            more = false;
        }
        m_progress.store(m_reader.progress(), std::memory_order_relaxed);
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || m_ready.size() < batchesAhead; });
        if (m_stop)
            return;
        if (!batch.empty())
            m_ready.push_back(std::move(batch));
        batch = Batch();
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
    if (m_taken == m_taking.size()) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty() || m_ended; });
        if (m_ready.empty()) {
            if (m_failure)
                std::rethrow_exception(std::exchange(m_failure, nullptr));
            return false;
        }
        m_taking = std::move(m_ready.front());
        m_ready.pop_front();
        m_taken = 0;
        lock.unlock();
        m_changed.notify_all();
    }
    row = std::move(m_taking[m_taken++]);
    return true;
}

}
