#pragma once
// The change log as comparable lines, the same on both engines: each batch
// "B <action>|<window>|<description>|<user>", then its entries "<table> <key>
// <op> <field> <old> <new>" with values quoted as the file stores them (so
// 75.0 and '75' differ). The server keeps the log's values as text; they are
// shown as the column's type would store them in the file.
#include "support/TestWorkspace.h"

#include <QStringList>

namespace testsupport {

// The log's batches after afterBatch with their entries, and every entry of
// another program.
QStringList logLines(const TestWorkspace &ws, qint64 afterBatch = 0);
// SQL for a REAL column's value as the file's quote() shows it (60.0).
QString quotedReal(const TestWorkspace &ws, const QString &column);

}
