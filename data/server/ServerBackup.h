#pragma once
// A server database's backup: the server's own dump tool (pg_dump, custom
// format) writes the whole database into one file. The file appears under
// its name only when the dump is complete and the restore tool reads it
// back; a failed dump leaves no file and an existing file under that name as
// it was.
#include "data/DatabaseFiles.h"
#include "data/server/PgSession.h"

#include <QDateTime>

namespace dravon::pg {

// Writes the database at address to targetPath. The password, when the
// address carries one, goes to the tool in its environment, never on its
// command line. Throws dravon::Error with the tool's reason.
void backupServerDatabase(const ServerAddress &address, const QString &targetPath);

// The name under which a restore keeps the database it replaces:
// "<database>_before_yyyyMMdd_HHmmss", shortened to the server's 63 bytes.
QString keptDatabaseName(const QString &database, const QDateTime &when);

// Replaces the server database at address with the backup at candidatePath.
// The backup is restored into a new database (in one transaction, stopping at
// the first error) and checked there: it must hold the program's tables of a
// version this program knows (an older one is upgraded there). Then, with the
// program's connection closed (hooks), the databases are switched by name in
// one transaction: the current one is kept under keptDatabaseName(), the new
// one takes its name, so every program connects to the restored rows from
// then on. Programs still connected to the database make the switch refuse
// with a clear message; when the reopen fails the previous database is put
// back. On any failure the new database is dropped and the current one is as
// it was. Returns the kept database's name. The role needs the right to
// create databases (CREATEDB). Without a password in the address, the one
// the program's database logs in with (from the password file) is used for
// the server's other databases as well.
QString restoreServerDatabase(const QString &candidatePath, const ServerAddress &address,
                              const dbfiles::RestoreHooks &hooks, const QDateTime &now = QDateTime::currentDateTime());

// A database an earlier restore kept: its name, when the restore kept it
// (read from the name) and its size on the server.
struct KeptDatabase
{
    QString name;
    QDateTime keptAt;
    qint64 bytes = 0;
};

// The databases that restores of the database at address kept (named by
// keptDatabaseName, with "_2", "_3" ... where a name was taken), newest
// first. Nothing else is listed, never the database itself.
QList<KeptDatabase> keptDatabases(const ServerAddress &address);

// Drops one of keptDatabases(address), named. Refuses, changing nothing, a
// name that is not one of them, and says so clearly when a program is still
// connected to it. Throws dravon::Error.
void dropKeptDatabase(const ServerAddress &address, const QString &name);

// The full path of one of the server's client tools ("pg_dump",
// "pg_restore"): the one on the search path (Debian's wrapper picks the
// newest installed), or the newest under /usr/lib/postgresql. Throws
// dravon::Error when none is installed.
QString serverToolPath(const QString &tool);

}
