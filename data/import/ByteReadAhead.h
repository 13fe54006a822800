#pragma once
// A part's bytes unpacked on a thread of their own, a few chunks ahead of the
// parser that takes them: unpacking and parsing a large worksheet then share
// the machine's cores. At most a few chunks wait, so memory stays flat.
#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace importing {

class ByteReadAhead
{
public:
    // Fills up to size bytes; 0 at the end. Called on the reading thread only.
    using Source = std::function<qint64(char *buffer, qint64 size)>;

    ByteReadAhead(Source source, qint64 chunkBytes, int chunksAhead = 4);
    // Stops the reading (after the chunk in hand) and waits for it.
    ~ByteReadAhead();
    ByteReadAhead(const ByteReadAhead &) = delete;
    ByteReadAhead &operator=(const ByteReadAhead &) = delete;

    // As the source: up to size bytes, 0 at the end; throws what the source
    // threw once the bytes read before it are taken.
    qint64 read(char *buffer, qint64 size);

private:
    void run();

    Source m_source;
    qint64 m_chunkBytes;
    size_t m_chunksAhead;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_ready;  // guarded by m_mutex, as are the three below
    bool m_ended = false;
    bool m_stop = false;
    std::exception_ptr m_failure;
    QByteArray m_taking;             // the caller's
    qint64 m_taken = 0;
    std::thread m_thread;
};

}
