#pragma once
// Undo and redo of a window's batches, and the recycle bin's restore and
// purge. Each is itself one batch of the change log, done as a whole or not
// at all: an undo whose rows were changed since by another batch is refused
// and says which rows and by whom.
#include "data/Error.h"
#include "data/changes/LogEntries.h"

#include <QDate>
#include <QStringList>

namespace dravon {

// Refused as a whole; nothing was changed. The text says why.
class ChangeRefused : public Error
{
public:
    using Error::Error;
};

// The batch Ctrl+Z in the window undoes: its latest batch that changed rows
// and is in effect (an undo is not undone: it is redone).
std::optional<BatchInfo> batchToUndo(Connection &connection, const QString &window);
// The undo Ctrl+Y redoes: the window's latest undo not yet redone, as long as
// no other action of the window came after it.
std::optional<BatchInfo> batchToRedo(Connection &connection, const QString &window);

// "撤销 删除 200 条成绩记录", "重做 删除 200 条成绩记录": what the commands say.
QString undoText(const BatchInfo &batch);
QString redoText(const BatchInfo &undo);

// Reverses the batch as a new batch of the window ("撤销"): every row it
// inserted is deleted, every row it deleted is stored again and every column
// it changed gets its value back. Returns the new batch. Throws ChangeRefused.
qint64 undoBatch(Connection &connection, qint64 batch, const QString &window);
// Reverses an undo ("重做").
qint64 redoBatch(Connection &connection, qint64 undo, const QString &window);

// The recycle bin: rows deleted and not restored, by the ChangeID of their
// delete entry. What the rows name that no longer exists ("成绩记录 12: 学号
// 2007009 不存在"); restoring them anyway is the clerk's choice.
QStringList missingReferences(Connection &connection, const QList<qint64> &deletes);
// Stores the deleted rows again, with their keys, as one batch "还原".
// Refused when a key is taken now. Returns the new batch.
qint64 restoreDeleted(Connection &connection, const QList<qint64> &deletes, const QString &window);
// Deleted rows in the recycle bin deleted before the date.
qint64 countDeletedBefore(Connection &connection, const QDate &before);
// Empties them from the recycle bin for good (their values are dropped from
// the log) as one batch "清空"; returns how many.
qint64 purgeDeleted(Connection &connection, const QDate &before, const QString &window);

}
