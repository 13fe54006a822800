#pragma once
// Brings a database file made by an earlier version of the program up to the
// current table shapes when it is opened.
#include "data/Error.h"

#include <QString>

namespace dravon {

// The table shapes this program writes, kept in the file's PRAGMA user_version.
// 1: each record table has an `Id INTEGER PRIMARY KEY` (a row key that VACUUM
//    keeps).
// 2: the change log: its tables, indexes and the tables' logging triggers.
// 3: the change log's table checks its operation letter without an IN list,
//    and its triggers read the running batch once (the same entries, logged
//    at a fraction of the cost).
// 4: the log's insert and delete triggers keep a byte string stored in any
//    column in a tagged form, so another program's write of one succeeds.
// 5: the change log on a server database (data/server/schema.sql); a file's
//    tables are unchanged, only its number moves on.
constexpr int currentSchemaVersion = 5;

// The SQL that builds the delivered database (data/schema.sql, built into the
// library), and the part of it that version 2 adds.
QString deliveredSchemaSql();
QString changeLogSchemaSql();

// The file's table shapes cannot be used or brought up to date; the text
// says why and that the file was left as it was.
class SchemaError : public Error
{
public:
    using Error::Error;
};

// Whether an upgrade keeps the file as it was beside it.
enum class UpgradeCopy { KeepBeside, None };

// Upgrades the open database `db` (an sqlite3*) at `path` when its version is
// older: first a consistent copy beside the file, which is kept as
// "<file>.before-upgrade-<yyyyMMdd-HHmmss>" once the upgrade succeeded (unless
// `keep` is None: a file that is itself a copy), then every change in one
// transaction that also records the new version. Views and triggers of the
// file are kept as they are. Throws dravon::Error with a clear text (a
// SchemaError) when the file is newer than this program or the upgrade fails;
// a failed upgrade leaves the file as it was and no copy.
void upgradeSchema(void *db, const QString &path, UpgradeCopy keep = UpgradeCopy::KeepBeside);

}
