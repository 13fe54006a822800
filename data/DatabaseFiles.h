#pragma once
// Whole-file backup and restore of the database. Both copy the file while
// holding its read lock (so the copy is one committed state; a database with
// a write-ahead log goes through the engine's online backup), write a
// temporary file in the target's folder, check it and rename it into place,
// so a failure or a killed process never leaves a half-written file under the
// target's name. Errors are raised as dravon::Error with a clear reason.
#include <QDateTime>
#include <QString>
#include <functional>

namespace dbfiles {

// Copies the database at sourcePath (which may be open and being written by
// other connections) to targetPath, replacing an existing target. The copy is
// in rollback-journal mode whatever mode the database is in.
void backupDatabase(const QString &sourcePath, const QString &targetPath);

// Empty text when the file (a backup, read as it is without writing anything
// beside it) looks like a database of this program: it opens
// as a database, passes the engine's full integrity check (unless only the
// tables are to be checked) and holds the thirteen tables with their columns.
// Otherwise the reason.
enum class PageCheck { Full, TablesOnly };
QString programDatabaseProblem(const QString &path, PageCheck pages = PageCheck::Full);

// What a restore does around the file replacement: close the program's
// connection before, open it again after. Either may be empty.
struct RestoreHooks
{
    std::function<void()> closeConnection;
    std::function<void()> reopenConnection;
};

// The name under which a restore keeps the database it replaces:
// "<database>.before-restore-yyyyMMdd-HHmmss".
QString keptFileName(const QString &databasePath, const QDateTime &when);

// Replaces the database at databasePath with a copy of candidatePath after
// checking, in that copy, that it is a sound database of this program: every
// page and index, and exactly the program's tables, columns, indexes and
// triggers (of any schema version it knows; an older one is upgraded in the
// copy). The copy is placed in rollback-journal mode with the mode, owner and
// group of the file it replaces, while that file is locked against every
// other connection. A database path that is a symbolic link keeps pointing to
// the restored file. The replaced file stays beside it under keptFileName();
// its path is returned (empty when there was no file to replace). When the
// reopen fails, the previous file is put back and the error says so.
QString restoreDatabase(const QString &candidatePath, const QString &databasePath, const RestoreHooks &hooks,
                        const QDateTime &now = QDateTime::currentDateTime());

} // namespace dbfiles
