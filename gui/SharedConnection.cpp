#include "gui/SharedConnection.h"

#include "data/Error.h"

namespace {
dravon::Connection *registered = nullptr;
}

void SetSharedConnection(dravon::Connection *connection)
{
    registered = connection;
}

dravon::Connection &SharedConnection()
{
    if (!registered)
        throw dravon::Error(QStringLiteral("数据库没有连接。"));
    return *registered;
}
