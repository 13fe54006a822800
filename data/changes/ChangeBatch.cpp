#include "data/changes/ChangeBatch.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/ProgramSettings.h"
#include "data/RowSource.h"
#include "data/changes/LogEntries.h"
#include "data/server/PgSession.h"

#include <QHash>
#include <sqlite3.h>

// The logged-in user (declared in ProgramSettings.h); each batch records it.
QString CurrentUserID;

namespace dravon {

namespace {

// The batch running on each engine handle (the program writes from its user
// interface thread only).
QHash<sqlite3 *, qint64> &runningBatches()
{
    static QHash<sqlite3 *, qint64> batches;
    return batches;
}

// The batch running on each server session.
QHash<pg::Session *, qint64> &runningServerBatches()
{
    static QHash<pg::Session *, qint64> batches;
    return batches;
}

sqlite3 *fileHandle(Connection &connection)
{
    auto *db = static_cast<sqlite3 *>(connection.nativeHandle());
    if (!db)
        throw Error(QStringLiteral("数据库没有连接。"));
    return db;
}

void exec(sqlite3 *db, const char *sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        failEngine(db, QStringLiteral("数据库无法保存修改"));
}

}

ChangeBatch::ChangeBatch(Connection &connection, const BatchTag &tag, qint64 undoOf) : m_connection(connection)
{
    if (connection.isServer()) {
        pg::Session &session = connection.session();
        if (const qint64 outer = runningServerBatches().value(&session)) {
            m_id = outer;
            m_joined = true;
            return;
        }
        m_savepoint = session.inTransaction();
        session.exec(m_savepoint ? QStringLiteral("SAVEPOINT change_batch") : QStringLiteral("BEGIN"));
        try {
            // The server numbers the batch; its triggers find the number in
            // the transaction's own setting, which no other session sees and
            // which ends with the transaction.
            LogDb db(connection);
            m_id = db.value(QStringLiteral("INSERT INTO ChangeBatch (ChangedAt, UserID, Window, Action, Description, UndoOf) "
                                           "VALUES (datetime('now', 'localtime'), ?1, ?2, ?3, ?4, ?5) RETURNING BatchID"),
                            {CurrentUserID.isEmpty() ? QVariant() : QVariant(CurrentUserID),
                             tag.window.isEmpty() ? QVariant() : QVariant(tag.window), tag.action, tag.description,
                             undoOf > 0 ? QVariant(undoOf) : QVariant()})
                       .toLongLong();
            session.exec(QStringLiteral("SELECT set_config('veltrana.batch', $1, true)"), {QString::number(m_id)});
        } catch (...) {
            rollback();
            throw;
        }
        runningServerBatches().insert(&session, m_id);
        m_session = &session;
        return;
    }
    sqlite3 *db = fileHandle(connection);
    if (const qint64 outer = runningBatches().value(db)) {
        m_id = outer;
        m_joined = true;
        return;
    }
    // The whole file is taken at once: once the batch has begun, its commit
    // cannot be refused because a reader is still at work.
    m_savepoint = !sqlite3_get_autocommit(db);
    exec(db, m_savepoint ? "SAVEPOINT change_batch" : "BEGIN EXCLUSIVE");
    try {
        Statement first;
        first.prepare(db, QStringLiteral("SELECT coalesce(max(ChangeID), 0) + 1 FROM ChangeLog"));
        m_firstChange = first.step() ? first.int64(0) : 1;
        Statement batch;
        batch.prepare(db, QStringLiteral("INSERT INTO ChangeBatch (ChangedAt, UserID, Window, Action, Description, "
                                         "FirstChange, UndoOf) VALUES (datetime('now', 'localtime'), ?1, ?2, ?3, ?4, ?5, ?6)"));
        batch.bind(1, CurrentUserID.isEmpty() ? QVariant() : QVariant(CurrentUserID));
        batch.bind(2, tag.window.isEmpty() ? QVariant() : QVariant(tag.window));
        batch.bind(3, tag.action);
        batch.bind(4, tag.description);
        batch.bind(5, m_firstChange);
        batch.bind(6, undoOf > 0 ? QVariant(undoOf) : QVariant());
        batch.step();
        m_id = sqlite3_last_insert_rowid(db);
        Statement current;
        current.prepare(db, QStringLiteral("INSERT INTO ChangeBatchCurrent (BatchID) VALUES (?1)"));
        current.bind(1, m_id);
        current.step();
    } catch (...) {
        rollback();
        throw;
    }
    runningBatches().insert(db, m_id);
}

ChangeBatch::~ChangeBatch()
{
    if (!m_done && !m_joined)
        rollback();
}

qint64 ChangeBatch::running(Connection &connection)
{
    if (connection.isServer())
        return connection.isOpen() ? runningServerBatches().value(&connection.session()) : 0;
    auto *db = static_cast<sqlite3 *>(connection.nativeHandle());
    return db ? runningBatches().value(db) : 0;
}

void ChangeBatch::commit()
{
    if (m_joined || m_done)
        return;
    if (m_connection.isServer()) {
        pg::Session &session = m_connection.session();
        try {
            LogDb db(m_connection);
            if (!m_keepEmpty && !batchHasEntries(db, m_id))
                db.exec(QStringLiteral("DELETE FROM ChangeBatch WHERE BatchID = ?1"), {m_id});
            // Writes after the batch in the same transaction are not the batch's.
            session.exec(QStringLiteral("SELECT set_config('veltrana.batch', '', true)"));
            session.exec(m_savepoint ? QStringLiteral("RELEASE change_batch") : QStringLiteral("COMMIT"));
        } catch (...) {
            rollback();
            throw;
        }
        m_done = true;
        runningServerBatches().remove(&session);
        return;
    }
    sqlite3 *db = fileHandle(m_connection);
    try {
        // The batch's entries are the log's newest: it holds the whole file.
        Statement last;
        last.prepare(db, QStringLiteral("SELECT coalesce(max(ChangeID), 0) FROM ChangeLog"));
        if (!m_keepEmpty && (!last.step() || last.int64(0) < m_firstChange)) {
            Statement drop;
            drop.prepare(db, QStringLiteral("DELETE FROM ChangeBatch WHERE BatchID = ?1"));
            drop.bind(1, m_id);
            drop.step();
        }
        exec(db, "DELETE FROM ChangeBatchCurrent");
        exec(db, m_savepoint ? "RELEASE change_batch" : "COMMIT");
    } catch (...) {
        rollback();
        throw;
    }
    m_done = true;
    runningBatches().remove(db);
}

void ChangeBatch::rollback() noexcept
{
    m_done = true;
    if (m_connection.isServer()) {
        // The batch ends even when the connection it ran on was lost (the
        // server dropped its transaction): a later batch on the session,
        // once connected again, begins its own.
        if (m_session)
            runningServerBatches().remove(m_session);
        if (!m_connection.isOpen())
            return;
        try {
            // Asking for the session tries to connect again, which may fail too.
            pg::Session &session = m_connection.session();
            if (m_savepoint)
                session.execScript(QStringLiteral("ROLLBACK TO change_batch; RELEASE change_batch"));
            else
                session.rollbackQuietly();
        } catch (const Error &) {
            // The connection is gone: the server has dropped the transaction.
        }
        return;
    }
    auto *db = static_cast<sqlite3 *>(m_connection.nativeHandle());
    if (!db)
        return;
    runningBatches().remove(db);
    if (m_savepoint) {
        sqlite3_exec(db, "ROLLBACK TO change_batch", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "RELEASE change_batch", nullptr, nullptr, nullptr);
    } else if (!sqlite3_get_autocommit(db)) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void noteBatch(Connection &connection, const BatchTag &tag)
{
    ChangeBatch note(connection, tag);
    note.keepWhenEmpty();
    note.commit();
}

}
