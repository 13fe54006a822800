#pragma once
// What every layer of the program may ask about its settings and its user:
// the configuration file's name, the database path stored in it, and the
// logged-in user number.
#include <QString>

// The user number of the logged-in user exactly as typed at login; empty until then.
extern QString CurrentUserID;

// Full path of "ConfigDB.ini" in the executable's folder, built anew at every call.
QString GetConfigFileName();
// The database path stored in the configuration file (section "BDConn", key
// "DBConFileName"), or empty text when it cannot be read.
QString ReadDBFileName(const QString &configFileName);
