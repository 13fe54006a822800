#pragma once
// Where the database is, as the configuration file keeps it. Section "BDConn"
// holds the file path under "DBConFileName", unchanged; the server way adds
// its own keys beside it: "Engine" ("PostgreSQL"; absent or empty for the
// file), "ServerHost", "ServerPort", "ServerDatabase" and "ServerUser". The
// password is never written there: it goes into libpq's own password file
// (~/.pgpass, or the file PGPASSFILE names), readable by its owner only.
#include "data/server/PgSession.h"

#include <optional>

// The server address stored in the configuration file, without a password;
// no value when the file way is chosen (or no "Engine" key is present).
std::optional<dravon::pg::ServerAddress> ReadServerAddress(const QString &configFileName);
// Chooses the server way: writes its keys, leaves "DBConFileName" as it is.
// Throws std::runtime_error when the file cannot be written.
void WriteServerAddress(const QString &configFileName, const dravon::pg::ServerAddress &address);
// Chooses the file way again; a file that never named a server is not touched.
void ChooseDatabaseFile(const QString &configFileName);

// libpq's password file: its path, and its text with the line for this
// server, database and user put in (or replaced), ":" and "\" escaped.
QString PasswordFilePath();
QString WithPassword(const QString &passwordFileText, const dravon::pg::ServerAddress &address);
// Stores the address's password in the password file, created with mode 0600,
// written through a temporary file and a rename. Throws dravon::Error.
void StorePassword(const dravon::pg::ServerAddress &address);

// Whether the program offers the server way (the build option
// VELTRANA_SERVER, off until every window works on the server). Without it
// the server keys are not read and the setup dialog shows only the file.
bool ServerWayOffered();
void SetServerWayOfferedForTesting(bool offered);
