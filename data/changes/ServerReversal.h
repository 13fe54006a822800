#pragma once
// The change log's reversals on a server as a few statements per table and
// operation rather than a round trip for each row: the later-change check of
// an undo, the reversal of a batch's entries, the recycle bin's taken keys
// and its restore. The statements work on the log rows where they lie
// (INSERT ... SELECT from the log, UPDATE ... FROM, DELETE ... USING), picked
// by their change numbers.
#include "data/changes/LogEntries.h"

#include <QList>

namespace dravon {

namespace pg { class Session; }

// A row an undo would change, under one key it had, with the batch's latest
// entry for it.
struct ReversedRow
{
    QString table;
    QVariant key;
    qint64 lastChange = 0;
};

// A later change to one of those rows by another batch or another program.
struct LaterChange
{
    int row = 0;  // its index in the rows asked about
    QVariant user;
    QVariant time;
    bool otherProgram = false;
};

// The rows changed since their last entry by anything but the batch, each
// with its latest such change, in the order of the rows.
QList<LaterChange> laterChangesOnServer(pg::Session &session, const QList<ReversedRow> &rows, qint64 batch);

// Sets the entries back, latest first, as statements per table, operation
// and column, each checked to touch exactly the rows it logged. Returns
// false, with nothing changed, where that cannot be done so: a row with
// several entries or a changed key (the order of the entries matters), or a
// row that is not as the batch left it. The caller then reverses the entries
// one by one, which names the row that stops it.
bool reverseOnServer(pg::Session &session, const QList<LogEntry> &entries);

// The delete entries of the change numbers still in the recycle bin, in the
// order given; those no longer there are left out.
QList<LogEntry> deletedEntriesOnServer(pg::Session &session, const QList<qint64> &ids);
// The positions of the delete entries whose key another row holds now.
QList<int> takenKeysOnServer(pg::Session &session, const QList<LogEntry> &deletes);
// Stores the deleted rows again in the order given; false, with nothing
// changed, where that cannot be done so (see reverseOnServer).
bool restoreOnServer(pg::Session &session, const QList<LogEntry> &deletes);

// A value a deleted row holds that names a row of another table which does
// not exist now.
struct MissingReference
{
    int entry = 0;  // the delete's position among those asked about
    QString master; // the table the value names
    QString value;
};
// The missing references of the deleted rows, by the rows' order and then
// the columns' order in their table; one statement per referring column.
QList<MissingReference> missingReferencesOnServer(pg::Session &session, const QList<LogEntry> &deletes);

// Marks the entries undone by the batch; one statement.
void markUndoneOnServer(pg::Session &session, const QList<LogEntry> &entries, qint64 by);

}
