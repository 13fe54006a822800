#pragma once
// Where a test helper process works, from its command line:
//   file <path>
//   server <host> <port> <database> <user>
// The server's password comes from PGPASSWORD or the password file.
#include "data/Connection.h"

#include <QStringList>

// Points the connection there; false when the words name no place.
inline bool pointAtPlace(dravon::Connection &connection, const QStringList &place)
{
    if (place.size() == 5 && place[0] == QLatin1String("server")) {
        dravon::pg::ServerAddress address;
        address.host = place[1];
        address.port = place[2].toInt();
        address.database = place[3];
        address.user = place[4];
        connection.setServerAddress(address);
        return true;
    }
    if (place.size() == 2 && place[0] == QLatin1String("file")) {
        connection.setConnectionString(QStringLiteral("Data Source=") + place[1]);
        return true;
    }
    return false;
}
