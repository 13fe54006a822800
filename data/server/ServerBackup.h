#pragma once
// A server database's backup: the server's own dump tool (pg_dump, custom
// format) writes the whole database into one file. The file appears under
// its name only when the dump is complete and the restore tool reads it
// back; a failed dump leaves no file and an existing file under that name as
// it was.
#include "data/server/PgSession.h"

namespace dravon::pg {

// Writes the database at address to targetPath. The password, when the
// address carries one, goes to the tool in its environment, never on its
// command line. Throws dravon::Error with the tool's reason.
void backupServerDatabase(const ServerAddress &address, const QString &targetPath);

// The full path of one of the server's client tools ("pg_dump",
// "pg_restore"): the one on the search path (Debian's wrapper picks the
// newest installed), or the newest under /usr/lib/postgresql. Throws
// dravon::Error when none is installed.
QString serverToolPath(const QString &tool);

}
