#pragma once
// The data-access library: every query and update of the program goes
// through these three operations, each given the SQL text and the connection.
// Errors are raised as dravon::Error with a clear text.
#include "data/Connection.h"
#include "data/Error.h"
#include "data/RecordSet.h"
#include "data/ShortDate.h"
#include "data/SqlText.h"
#include "data/changes/ChangeBatch.h"

#include <memory>

// True when the query yields at least one row.
bool SQLSearch(const QString &sql, dravon::Connection &connection);
// Runs a statement that returns no rows.
void SQLExecute(const QString &sql, dravon::Connection &connection);
// Opens the statement as a record set, positioned on its first row.
std::unique_ptr<dravon::RecordSet> SQLDataSet(const QString &sql, dravon::Connection &connection);
