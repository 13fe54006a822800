#pragma once
// The same statement's rows from a database file and from a server database,
// each row as one comparable text ("a|b|NULL"), so tests can say that both
// engines hold and return the same data. Statements are in the program's own
// SQL and go through each engine's dialect.
#include "data/Dialect.h"
#include "data/server/PgSession.h"

#include <QStringList>

namespace testsupport {

QStringList fileRows(const QString &dbPath, const QString &sql);
QStringList serverRows(dravon::pg::Session &session, const dravon::Dialect &dialect, const QString &sql);

}
