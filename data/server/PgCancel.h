#pragma once
// Stopping the statement a session is running, from another thread: the
// statement then fails with the server's "canceling statement" error.
typedef struct pg_cancel PGcancel;

namespace dravon::pg {

class Session;

class Canceller
{
public:
    // Made on the session's own thread, while no statement runs.
    explicit Canceller(Session &session);
    ~Canceller();
    Canceller(const Canceller &) = delete;
    Canceller &operator=(const Canceller &) = delete;

    // From any thread; nothing happens when no statement runs.
    void cancel();

private:
    PGcancel *m_cancel = nullptr;
};

}
