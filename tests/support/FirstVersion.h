#pragma once
// A database file of the program's first version, for the tests of its
// upgrade: statements that turn a current database into one (record tables
// without their row key), and rows for them.

namespace testsupport {

// Run on a database made from the current schema: no change log, the record
// tables as the first version created them, and user_version 0.
extern const char *const firstVersionRecordTables;
// Rows in an order that differs from their values, with gaps left by deletes.
extern const char *const firstVersionRows;

}
