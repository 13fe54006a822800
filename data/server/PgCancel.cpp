#include "data/server/PgCancel.h"

#include "data/server/PgSession.h"

#include <libpq-fe.h>

namespace dravon::pg {

Canceller::Canceller(Session &session) : m_cancel(PQgetCancel(session.handle()))
{
}

Canceller::~Canceller()
{
    if (m_cancel)
        PQfreeCancel(m_cancel);
}

void Canceller::cancel()
{
    char error[256];
    if (m_cancel)
        PQcancel(m_cancel, error, int(sizeof error));
}

}
