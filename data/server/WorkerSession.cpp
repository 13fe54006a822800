#include "data/server/WorkerSession.h"

namespace dravon::pg {

WorkerSession::WorkerSession(const ServerAddress &address, Canceller &canceller, Access access, LockWait lockWait)
    : m_session(address, access, lockWait), m_canceller(canceller)
{
    m_canceller.attach(m_session);
    m_session.stopWhen(m_canceller.request());
}

WorkerSession::~WorkerSession()
{
    m_canceller.detach();
}

QString WorkerSession::snapshotStatement()
{
    // A read on the server holds back no writer.
    return QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
}

void WorkerSession::beginSnapshot()
{
    m_session.exec(snapshotStatement());
}

}
