#pragma once
// A database file with rows in every table, holding the values a copy between
// engines most easily gets wrong (tabs, newlines, backslashes, empty texts
// and NULLs, numbers to the last digit, dates, gaps in the row numbers; Score
// has 5,997 rows), and what a server database holds as one comparable text.
#include "support/TestServer.h"
#include "support/TestWorkspace.h"

#include <memory>

namespace testsupport {

// A fresh workspace whose database holds the rows.
std::unique_ptr<TestWorkspace> seededFile();
// The database's tables and every row of each, as one text.
QString serverState(const ServerDatabase &db);

}
