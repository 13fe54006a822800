#pragma once
// What the whole program shares: the configuration file's name, the database
// path stored in it, the connection string, and the logged-in user number.
// The first three live in the data layer so that every window reaches them.
#include "data/ProgramSettings.h"

#include <QString>

// The connection string for a database path, the path placed unquoted.
QString BuildConnectionString(const QString &databasePath);
