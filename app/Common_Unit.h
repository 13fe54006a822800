#pragma once
// What the whole program shares: the configuration file's name, the database
// path stored in it, the connection string, and the logged-in user number.
// The file name, the database path and the user number live in the data
// layer (data/ProgramSettings.h), so that every window reaches them.
#include "data/ProgramSettings.h"

#include <QString>

// The connection string for a database path, the path placed unquoted.
QString BuildConnectionString(const QString &databasePath);
