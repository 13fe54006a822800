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

// The program's thirteen tables, in the order of the schema.
const QStringList &programTableNames();

// The version of the program's tables in the database, 0 when the database
// holds none of them.
int serverSchemaVersion(Session &session);

// What a database holds, read without changing anything: no tables at all,
// the program's tables (of this program's version or an older one), or
// something the program cannot use (another program's tables, some of the
// program's missing, a newer version), with the text that says why.
struct ServerDatabaseState
{
    enum class Kind { Empty, Program, Unusable };
    Kind kind = Kind::Empty;
    int version = 0;
    QString problem;
};
ServerDatabaseState inspectServerDatabase(Session &session);

// Makes the database ready for the program, in one transaction, while other
// programs that connect at the same moment wait: an empty database gets the
// tables and the first account; one of an older version is upgraded.
// Throws SchemaError, changing nothing, when the database holds other
// tables, misses some of the program's, or is of a newer version.
void prepareServerSchema(Session &session);
// The same inside the caller's transaction, which then holds the setup lock
// until it ends.
void prepareServerSchemaWithin(Session &session);

// How the database's tables, columns, constraints, indexes, triggers and
// functions differ from those the program's schema makes, one text per
// difference ("缺少列 Score.Remark", "多出触发器 Score.audit", "索引
// Score_StudentID 不同"); empty when they are the same. The program's schema
// is set up for the comparison in a schema of its own inside a transaction
// that is rolled back, so nothing is changed.
QStringList serverSchemaDifferences(Session &session);

// The names of the tables and columns of the database's schema, as the
// dialect needs them.
QStringList serverNames(Session &session);

}
