#pragma once
// A worker thread's own session on the PostgreSQL server, started the same
// way for every worker: connected to the address of the program's
// connection (with the settings every program session has), read-only
// unless the worker writes (a statement that would write is then refused),
// and stoppable from another thread
// through the worker's canceller, also in the middle of a statement. The
// canceller lets go of the session before the connection ends, so that no
// cancel is sent to a connection that is gone.
#include "data/server/PgSession.h"

namespace dravon::pg {

class WorkerSession
{
public:
    // Connects and attaches the canceller; throws ServerError.
    WorkerSession(const ServerAddress &address, Canceller &canceller, Access access = Access::ReadOnly,
                  LockWait lockWait = LockWait::Unlimited);
    ~WorkerSession();
    WorkerSession(const WorkerSession &) = delete;
    WorkerSession &operator=(const WorkerSession &) = delete;

    Session &session() { return m_session; }
    // The statement that opens a transaction whose statements all read one
    // snapshot of the database (for a pipeline); beginSnapshot() runs it.
    static QString snapshotStatement();
    void beginSnapshot();

private:
    Session m_session;
    Canceller &m_canceller;
};

}
