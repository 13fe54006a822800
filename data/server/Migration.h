#pragma once
// 数据迁移: copies the program's tables from a database file into an empty
// database on a PostgreSQL server. The file is read in one read transaction
// (one committed state, also while another program writes to it) and never
// changed; the server's tables are set up (when the database has none), filled
// with COPY and their row counts checked against the file's, all in one
// transaction: a failure, a cancel or a lost connection leaves the server
// database as it was.
#include "data/server/PgSession.h"

#include <QList>
#include <QString>
#include <functional>

namespace dravon::pg {

struct MigratedTable
{
    QString table;
    qint64 fileRows = 0;
    qint64 serverRows = 0;
};

struct MigrationProgress
{
    QString table;  // the table being copied
    qint64 rowsDone = 0;
    qint64 rowsTotal = 0;
};

// Called between chunks of rows, on the thread that migrates; false cancels.
using MigrationProgressFn = std::function<bool(const MigrationProgress &)>;

// The migration was cancelled; nothing was changed.
class MigrationCancelled : public Error
{
public:
    using Error::Error;
};

// Copies every row of the thirteen tables of the database file at filePath
// into the server database at address. The server database must hold no
// tables, or the program's tables with no rows but the first account (as the
// first connection sets them up); that account is replaced by the file's
// accounts. Master rows keep their order (the file's row numbers become the
// server's row keys), record rows their Id. Returns each table's row count
// in the file and on the server (equal). Throws MigrationCancelled, or
// dravon::Error with a clear reason; either way the server database is as
// it was.
QList<MigratedTable> migrateFileToServer(const QString &filePath, const ServerAddress &address,
                                         const MigrationProgressFn &progress = {});

// A value in COPY's text format: "\N" for NULL, backslash, tab, newline and
// carriage return escaped.
void appendCopyText(QByteArray &line, const char *text, int size);

}
