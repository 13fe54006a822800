#pragma once
// The program's tables on a PostgreSQL server: set up on the first
// connection to an empty database, checked and brought up to date on every
// other. The version number is the file's (SchemaUpgrade.h), kept in the
// table "SchemaVersion".
#include "data/SchemaUpgrade.h"

#include <QStringList>

namespace dravon::pg {

class Session;

// The schema text (data/server/schema.sql).
QString serverSchemaSql();

// The version of the program's tables in the database, 0 when the database
// holds none of them.
int serverSchemaVersion(Session &session);

// Makes the database ready for the program, in one transaction, while other
// programs that connect at the same moment wait: an empty database gets the
// tables and the first account; one of an older version is upgraded.
// Throws SchemaError, changing nothing, when the database holds other
// tables, misses some of the program's, or is of a newer version.
void prepareServerSchema(Session &session);

// The names of the tables and columns of the database's schema, as the
// dialect needs them.
QStringList serverNames(Session &session);

}
