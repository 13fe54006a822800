#pragma once
// Brings a database file made by an earlier version of the program up to the
// current table shapes when it is opened.
#include <QString>

namespace dravon {

// The table shapes this program writes, kept in the file's PRAGMA user_version.
// 1: each record table has an `Id INTEGER PRIMARY KEY` (a row key that VACUUM
//    keeps).
constexpr int currentSchemaVersion = 1;

// Upgrades the open database `db` (an sqlite3*) at `path` when its version is
// older: first a consistent copy beside the file
// ("<file>.before-upgrade-<yyyyMMdd-HHmmss>"), then every change in one
// transaction that also records the new version. Throws dravon::Error with a
// clear text when the file is newer than this program or the upgrade fails;
// a failed upgrade leaves the file as it was.
void upgradeSchema(void *db, const QString &path);

}
