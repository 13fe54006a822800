#pragma once
// The matching rule as an SQL function, so that a search over a large table
// runs inside the engine without reading its rows into the program:
//
//   veltrana_match(value, query, type)
//
// is 1 when the value, shown as a grid shows a column of that type (0 text,
// 1 integer, 2 real, 3 date: dravon::FieldType), matches the query by the rule
// of TextMatch.h, else 0. It is registered on the program's own connections
// only (through the engine's handle: Qt SQL offers no user functions), and
// only read statements use it, so other programs writing the file never meet it.
#include <QString>

struct sqlite3;

namespace findtext {

inline constexpr char sqlMatchFunction[] = "veltrana_match";

// Makes the function known to the connection; does nothing when it is.
void registerSqlMatch(sqlite3 *db);

}
