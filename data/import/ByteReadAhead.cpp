#include "data/import/ByteReadAhead.h"

#include <cstring>

namespace importing {

ByteReadAhead::ByteReadAhead(Source source, qint64 chunkBytes, int chunksAhead)
    : m_source(std::move(source)), m_chunkBytes(chunkBytes), m_chunksAhead(size_t(qMax(1, chunksAhead)))
{
    m_thread = std::thread([this] { run(); });
}

ByteReadAhead::~ByteReadAhead()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ByteReadAhead::run()
{
    for (;;) {
        QByteArray chunk(m_chunkBytes, Qt::Uninitialized);
        std::exception_ptr failure;
        qint64 n = 0;
        try {
            n = m_source(chunk.data(), chunk.size());
        } catch (...) {
            failure = std::current_exception();
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || m_ready.size() < m_chunksAhead; });
        if (m_stop)
            return;
        if (failure || n <= 0) {
            m_failure = failure;
            m_ended = true;
            lock.unlock();
            m_changed.notify_all();
            return;
        }
        chunk.truncate(n);
        m_ready.push_back(std::move(chunk));
        lock.unlock();
        m_changed.notify_all();
    }
}

qint64 ByteReadAhead::read(char *buffer, qint64 size)
{
    if (m_taken == m_taking.size()) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty() || m_ended; });
        if (m_ready.empty()) {
            if (m_failure)
                std::rethrow_exception(std::exchange(m_failure, nullptr));
            return 0;
        }
        m_taking = std::move(m_ready.front());
        m_ready.pop_front();
        m_taken = 0;
        lock.unlock();
        m_changed.notify_all();
    }
    const qint64 n = qMin(size, m_taking.size() - m_taken);
    std::memcpy(buffer, m_taking.constData() + m_taken, size_t(n));
    m_taken += n;
    return n;
}

}
